#include "decoder_types.h"

#include <cfenv>

namespace tav {

bool set_numeric_mode() { return std::fesetround(FE_TOWARDZERO) == 0 && numeric_mode_is_set(); }

bool numeric_mode_is_set() { return std::fegetround() == FE_TOWARDZERO; }

}  // namespace tav
