// How much memory the machine can give a process: physical memory plus swap.
#pragma once

#include <cstdint>

namespace tav {

// Bytes of RAM and swap together, or 0 when the system does not say.
uint64_t machine_memory_bytes();

}  // namespace tav
