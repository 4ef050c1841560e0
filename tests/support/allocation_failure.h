// Allocation failure on cue, for the promise "a failed operation leaves things as they were".
// Test programs that link the test support get a replacement operator new that counts down the
// allocations of the thread that armed it; the allocation that reaches zero fails (operator new
// throws std::bad_alloc, the nothrow forms return nullptr). Unarmed, it allocates as usual.
#pragma once

#include <functional>

namespace pagorin::testing {

// While it lives, the `nth` allocation of this thread from now (1: the next one) fails; the
// ones after it succeed again.
class FailingAllocation {
 public:
  explicit FailingAllocation(long nth) noexcept;
  ~FailingAllocation();
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;

  // True once the failure was dealt.
  bool Dealt() const noexcept;
};

// Runs `operation` with its first allocation failing, then its second, and so on, until a run
// in which no allocation failed. `prepare` comes before each run and `check` after it, both
// unarmed; `check` learns what the operation returned and whether a failure was dealt. Returns
// the number of runs with a failure.
int ForEachAllocationFailure(const std::function<void()>& prepare,
                             const std::function<bool()>& operation,
                             const std::function<void(bool succeeded, bool failed)>& check);

}  // namespace pagorin::testing
