// Allocator for the large tables of the sorts and the inverse.
//
// Those tables are read at random positions, so with ordinary 4 KiB pages
// nearly every access also misses the address-translation cache.  Blocks of
// 2 MiB and more are mapped separately and marked for transparent huge pages,
// which cuts those misses by a factor of 512.  Smaller blocks come from the
// ordinary allocator.  Memory is only counted against the process when
// touched.
//
// Elements are default-initialised: vector<int, HugePageAllocator<int>>(n)
// holds indeterminate values, so filling a large table costs one pass, not two.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

namespace tav::tools {

inline constexpr std::size_t HUGE_PAGE_THRESHOLD = std::size_t(2) << 20;

template <class T>
struct HugePageAllocator {
  using value_type = T;

  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}

  T* allocate(std::size_t count) {
    if (count > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = count * sizeof(T);
    if (bytes < HUGE_PAGE_THRESHOLD) return static_cast<T*>(::operator new(bytes));
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    ::madvise(p, bytes, MADV_HUGEPAGE);  // advice only; ordinary pages still work
    return static_cast<T*>(p);
  }

  void deallocate(T* p, std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    if (bytes < HUGE_PAGE_THRESHOLD)
      ::operator delete(p);
    else
      ::munmap(p, bytes);
  }

  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(static_cast<Args&&>(args)...);
  }

  template <class U>
  bool operator==(const HugePageAllocator<U>&) const { return true; }
};

// A vector for tables of one entry per text byte.
template <class T>
using BigVector = std::vector<T, HugePageAllocator<T>>;

}  // namespace tav::tools
