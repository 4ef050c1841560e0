#include "support/allocation_failure.h"

#include <cstdlib>
#include <new>

namespace pagorin::testing {
namespace {

// Allocations left before the failing one on this thread; 0: unarmed.
thread_local long countdown = 0;
thread_local bool dealt = false;

bool FailsNow() noexcept {
  if (countdown == 0) return false;
  if (--countdown != 0) return false;
  dealt = true;
  return true;
}

void* Allocate(std::size_t size) noexcept {
  if (FailsNow()) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  if (FailsNow()) return nullptr;
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + align - 1) / align * align;
  return std::aligned_alloc(align, rounded != 0 ? rounded : align);
}

}  // namespace

FailingAllocation::FailingAllocation(long nth) noexcept {
  dealt = false;
  countdown = nth;
}

FailingAllocation::~FailingAllocation() {
  countdown = 0;
}

bool FailingAllocation::Dealt() const noexcept {
  return dealt;
}

int ForEachAllocationFailure(const std::function<void()>& prepare,
                             const std::function<bool()>& operation,
                             const std::function<void(bool succeeded, bool failed)>& check) {
  for (long nth = 1;; ++nth) {
    prepare();
    bool succeeded;
    bool failed;
    {
      FailingAllocation failure(nth);
      succeeded = operation();
      failed = failure.Dealt();
    }
    check(succeeded, failed);
    if (!failed) return static_cast<int>(nth - 1);
  }
}

}  // namespace pagorin::testing

// The replaceable global allocation functions, all of them, so that every new and delete of
// the program meets in malloc and free.
void* operator new(std::size_t size) {
  if (void* p = pagorin::testing::Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = pagorin::testing::Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return pagorin::testing::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return pagorin::testing::Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* p = pagorin::testing::AllocateAligned(size, alignment)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  if (void* p = pagorin::testing::AllocateAligned(size, alignment)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return pagorin::testing::AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return pagorin::testing::AllocateAligned(size, alignment);
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
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
