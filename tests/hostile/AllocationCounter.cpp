// Replaces the global operator new and delete of the test program with ones that note the largest
// request. They allocate with malloc, so the sanitizers still see every block.
#include "hostile/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace qv::test {
namespace {
std::atomic<std::size_t> largest{0};

void* Allocate(std::size_t n) {
  std::size_t seen = largest.load(std::memory_order_relaxed);
  while (n > seen && !largest.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
  }
  return std::malloc(n == 0 ? 1 : n);
}
}  // namespace

void ResetLargestAllocation() noexcept {
  largest.store(0);
}
std::size_t LargestAllocation() noexcept {
  return largest.load();
}

}  // namespace qv::test

void* operator new(std::size_t n) {
  if (void* p = qv::test::Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = qv::test::Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return qv::test::Allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return qv::test::Allocate(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
