#ifndef VINTREL_JSON_OWNER_LOCK_H_
#define VINTREL_JSON_OWNER_LOCK_H_

#include <atomic>
#include <cstdint>

// A recursive spin lock keyed on the thread id. Three 32-bit words, all zero when free; the
// constructor is constexpr, so a static OwnerLock is usable before any dynamic initialisation.
//
// Enter blocks until the calling thread owns the lock; a thread that already owns it enters again
// at once, and every Enter needs its own Leave. Only one waiting thread at a time waits for the
// lock's count (the contender); it spins 10001 times, then sleeps 1 ms before each further retry.
// Leave by a thread that does not own the lock changes nothing.
class OwnerLock {
 public:
  constexpr OwnerLock() : owner_(0), count_(0), contender_(0) {}
  OwnerLock(const OwnerLock&) = delete;
  OwnerLock& operator=(const OwnerLock&) = delete;

  void Enter();
  void Leave();

  // Snapshots for tests: the owner's thread id (0 when free) and its recursion count.
  uint32_t Owner() const { return owner_.load(); }
  uint32_t Count() const { return count_.load(); }

 private:
  std::atomic<uint32_t> owner_;      // thread id of the holder, 0 when none
  std::atomic<uint32_t> count_;      // recursion count; a waiter takes the lock by moving it 0 -> 1
  std::atomic<uint32_t> contender_;  // the one thread waiting on count, 0 when none
};

// Holds an OwnerLock for the lifetime of the object.
class OwnerLockHolder {
 public:
  explicit OwnerLockHolder(OwnerLock& lock) : lock_(lock) { lock_.Enter(); }
  ~OwnerLockHolder() { lock_.Leave(); }
  OwnerLockHolder(const OwnerLockHolder&) = delete;
  OwnerLockHolder& operator=(const OwnerLockHolder&) = delete;

 private:
  OwnerLock& lock_;
};

#endif  // VINTREL_JSON_OWNER_LOCK_H_
