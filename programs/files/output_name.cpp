#include "output_name.h"

namespace tav {

std::string make_output_name(const std::string& compressed_name) {
  const size_t sep = compressed_name.find_last_of("/\\:");
  std::string base = sep == std::string::npos ? compressed_name : compressed_name.substr(sep + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  return base + ".unp";
}

}  // namespace tav
