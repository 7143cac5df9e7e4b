#include "json/owner_lock.h"

#include "base/platform.h"

namespace {

// Retries of the count that spin without pausing before the waiter starts sleeping.
constexpr uint32_t kSpinRetries = 10000;

// The caller's thread id. The POSIX backend asks the kernel on every call, and the pools and
// the key table lock once per value, member and key; a thread's id does not change while it runs,
// so each thread asks once.
uint32_t CurrentThreadId() {
  thread_local uint32_t id = 0;
  if (id == 0) id = sys_current_thread_id();
  return id;
}

}  // namespace

// The pools and the key table take their lock once per value, member and key, so the path of a
// lone thread costs two locked instructions on entry and none on leaving. No guard word is needed
// to keep owner and count consistent: only the thread that holds the count changes either, and
// Leave clears the owner before it gives the count up, so a new holder's owner can never be
// overwritten by the old holder's clearing.
void OwnerLock::Enter() {
  const uint32_t self = CurrentThreadId();
  // Only this thread ever stores its own id here, so seeing it means this thread holds the lock.
  if (owner_.load(std::memory_order_relaxed) == self) {
    count_.store(count_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return;
  }

  // Only one thread at a time competes for the count; the others queue on the contender word.
  uint32_t expected = 0;
  while (!contender_.compare_exchange_weak(expected, self, std::memory_order_acquire)) {
    expected = 0;
  }
  uint32_t retries = 0;
  expected = 0;
  while (!count_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
    expected = 0;
    if (retries > kSpinRetries) sys_sleep(1);
    ++retries;
  }
  contender_.store(0, std::memory_order_release);
  owner_.store(self, std::memory_order_relaxed);
}

void OwnerLock::Leave() {
  const uint32_t self = CurrentThreadId();
  if (owner_.load(std::memory_order_relaxed) != self) return;
  const uint32_t count = count_.load(std::memory_order_relaxed);
  if (count > 1) {
    count_.store(count - 1, std::memory_order_relaxed);
    return;
  }
  owner_.store(0, std::memory_order_relaxed);
  // Release: whatever the holder wrote is seen by the next thread that takes the count.
  count_.store(0, std::memory_order_release);
}
