#ifndef VINTREL_TESTS_SUPPORT_ALLOC_FAILURE_H_
#define VINTREL_TESTS_SUPPORT_ALLOC_FAILURE_H_

#include <cstdint>

#include "base/alloc_hooks.h"

// Injects heap exhaustion into the code under test by swapping the AllocHooks table for the
// lifetime of an AllocFailureScope. While a scope is active every call through allocHook (and
// reallocHook) is counted and may be made to fail by returning null; every call through freeHook
// is counted and passed on. The table that was in place is restored by the destructor, or
// earlier by Restore().
//
// Global operator new passes through the table too, so GoogleTest's own allocations (building a
// failure message, for instance) are counted and can fail while a failure rule is armed: keep
// the armed window around the one call under test, and make assertions after Restore() or after
// the scope ends. The counters stay readable after Restore().
//
//   AllocFailureScope failure;
//   failure.FailNth(2);                    // the second allocation from now fails
//   const bool ok = buffer.reserve(100);   // the code under test
//   failure.Restore();
//   EXPECT_FALSE(ok);
//   EXPECT_EQ(failure.failed(), 1u);
//
// Sweeping an operation over each of its allocations in turn:
//
//   for (uint32_t n = 1;; ++n) {
//     AllocFailureScope failure;
//     failure.FailNth(n);
//     const bool ok = run_operation();
//     failure.Restore();
//     if (failure.failed() == 0) break;      // n is past the operation's last allocation
//     EXPECT_FALSE(ok) << "allocation " << n;
//   }
//
// Scopes nest: an inner scope forwards every call it lets through to the outer one (whose rule
// and counters then apply too) and restores the outer one's hooks when it ends. Nested scopes
// must end in reverse order of their start, as automatic objects do. Not thread-safe; the tests
// run on one thread.
class AllocFailureScope {
 public:
  AllocFailureScope() : outer_(active_) {
    // Calling through the saved table must never reach a first-use routine, which would write
    // the defaults over this scope's hooks. A free of null installs them harmlessly first.
    AllocHooks.freeHook(nullptr);
    saved_ = AllocHooks;
    active_ = this;
    AllocHooks.freeHook = &Free;
    AllocHooks.allocHook = &Alloc;
    AllocHooks.reallocHook = &Realloc;
  }

  ~AllocFailureScope() { Restore(); }

  AllocFailureScope(const AllocFailureScope&) = delete;
  AllocFailureScope& operator=(const AllocFailureScope&) = delete;

  // Failure rules; each replaces the previous one. Allocations are counted from 1 at the moment
  // the rule is armed.
  void FailNone() { Arm(Rule::kNone, 0); }
  void FailAll() { Arm(Rule::kAll, 0); }
  // Only the nth allocation from now fails (n = 1: the next one).
  void FailNth(uint32_t n) { Arm(Rule::kNth, n); }
  // The nth allocation from now and every one after it fail.
  void FailFromNth(uint32_t n) { Arm(Rule::kFromNth, n); }
  // Every allocation of size bytes or more fails.
  void FailAtOrAbove(uint32_t size) { Arm(Rule::kAtOrAbove, size); }

  // Puts back the table that was in place when the scope began; later calls do nothing.
  void Restore() {
    if (!active()) return;
    AllocHooks = saved_;
    active_ = outer_;
    restored_ = true;
  }

  bool active() const { return !restored_; }

  // Counts since the scope began (not reset by arming a rule).
  uint32_t allocations() const { return allocations_; }  // allocHook and reallocHook calls
  uint32_t failed() const { return failed_; }            // of those, made to fail
  uint32_t frees() const { return frees_; }              // freeHook calls with a non-null block
  uint64_t bytesRequested() const { return bytesRequested_; }  // sizes of successful calls
  // Allocations that succeeded minus non-null frees: the blocks still held by the code under
  // test, if it freed only blocks it took inside the scope.
  int64_t outstanding() const {
    return static_cast<int64_t>(allocations_ - failed_) - static_cast<int64_t>(frees_);
  }

 private:
  enum class Rule { kNone, kAll, kNth, kFromNth, kAtOrAbove };

  void Arm(Rule rule, uint32_t argument) {
    rule_ = rule;
    argument_ = argument;
    sinceArmed_ = 0;
  }

  bool ShouldFail(uint32_t size) {
    ++allocations_;
    ++sinceArmed_;
    bool fail = false;
    switch (rule_) {
      case Rule::kNone:
        break;
      case Rule::kAll:
        fail = true;
        break;
      case Rule::kNth:
        fail = sinceArmed_ == argument_;
        break;
      case Rule::kFromNth:
        fail = sinceArmed_ >= argument_;
        break;
      case Rule::kAtOrAbove:
        fail = size >= argument_;
        break;
    }
    if (fail) {
      ++failed_;
    } else {
      bytesRequested_ += size;
    }
    return fail;
  }

  // The hooks are plain functions, so they find the innermost scope through active_; each scope
  // then forwards to the one it nests in, and the outermost to the table it found.
  void* ForwardAlloc(uint32_t size) {
    if (ShouldFail(size)) return nullptr;
    return outer_ != nullptr ? outer_->ForwardAlloc(size) : saved_.allocHook(size);
  }

  void* ForwardRealloc(void* block, uint32_t size) {
    if (ShouldFail(size)) return nullptr;
    return outer_ != nullptr ? outer_->ForwardRealloc(block, size)
                             : saved_.reallocHook(block, size);
  }

  void ForwardFree(void* block) {
    if (block != nullptr) ++frees_;
    if (outer_ != nullptr) {
      outer_->ForwardFree(block);
    } else {
      saved_.freeHook(block);
    }
  }

  static void Free(void* block) { active_->ForwardFree(block); }
  static void* Alloc(uint32_t size) { return active_->ForwardAlloc(size); }
  static void* Realloc(void* block, uint32_t size) { return active_->ForwardRealloc(block, size); }

  static inline AllocFailureScope* active_ = nullptr;

  AllocHookTable saved_;
  AllocFailureScope* outer_;
  bool restored_ = false;
  Rule rule_ = Rule::kNone;
  uint32_t argument_ = 0;
  uint32_t sinceArmed_ = 0;
  uint32_t allocations_ = 0;
  uint32_t failed_ = 0;
  uint32_t frees_ = 0;
  uint64_t bytesRequested_ = 0;
};

#endif  // VINTREL_TESTS_SUPPORT_ALLOC_FAILURE_H_
