#include "system_memory.h"

#if defined(__linux__)
#include <sys/sysinfo.h>
#endif

namespace tav {

uint64_t machine_memory_bytes() {
#if defined(__linux__)
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  return (uint64_t{info.totalram} + info.totalswap) * info.mem_unit;
#else
  return 0;
#endif
}

}  // namespace tav
