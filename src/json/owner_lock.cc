#include "json/owner_lock.h"

#include "base/platform.h"

namespace {

// Retries of the count that spin without pausing before the waiter starts sleeping.
constexpr uint32_t kSpinRetries = 10000;

// Spins until word changes from 0 to value.
void SpinUntilTaken(std::atomic<uint32_t>& word, uint32_t value) {
  uint32_t expected = 0;
  while (!word.compare_exchange_weak(expected, value)) expected = 0;
}

// The caller's thread id. The POSIX backend asks the kernel on every call, and the pools and
// the key table lock once per value, member and key; a thread's id does not change while it runs,
// so each thread asks once.
uint32_t CurrentThreadId() {
  thread_local uint32_t id = 0;
  if (id == 0) id = sys_current_thread_id();
  return id;
}

}  // namespace

void OwnerLock::TakeGuard() { SpinUntilTaken(guard_, 1); }

void OwnerLock::Enter() {
  const uint32_t self = CurrentThreadId();
  TakeGuard();
  if (owner_.load() == self) {
    count_.fetch_add(1);
    guard_.exchange(0);
    return;
  }
  guard_.exchange(0);

  // Only one thread at a time competes for the count; the others queue on the contender word.
  SpinUntilTaken(contender_, self);
  uint32_t retries = 0;
  uint32_t expected = 0;
  while (!count_.compare_exchange_strong(expected, 1)) {
    expected = 0;
    if (retries > kSpinRetries) sys_sleep(1);
    ++retries;
  }
  contender_.exchange(0);

  // The previous owner may still be inside Leave, between dropping the count and clearing owner.
  TakeGuard();
  owner_.store(self);
  guard_.exchange(0);
}

void OwnerLock::Leave() {
  const uint32_t self = CurrentThreadId();
  TakeGuard();
  if (owner_.load() == self) {
    if (count_.fetch_sub(1) == 1) owner_.store(0);
  }
  guard_.exchange(0);
}
