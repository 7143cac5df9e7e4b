#ifndef VINTREL_JSON_FIXED_POOL_H_
#define VINTREL_JSON_FIXED_POOL_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "json/owner_lock.h"

// Hands out slots of one fixed size, carved from heap blocks of a fixed number of slots that are
// obtained through AllocHooks. A block is a link word (padded to kBlockHeaderSize) followed by its
// slots; a free slot's first pointer-sized word links to the next free slot. A new block's slots
// join the free list in address order, and given-back slots are reused last in, first out.
// Blocks are given back to the heap only by ClosePool.
//
// The constructor is constexpr, so a static pool is usable before any dynamic initialisation.
// All operations lock the pool's OwnerLock. The slot size must be a multiple of the slot type's
// alignment and at least the size of a pointer (see IsValidSlotSize); slots are aligned to
// kBlockHeaderSize at most.
class FixedPool {
 public:
  // 8 bytes: what every target's heap guarantees (32-bit Windows gives no more), and enough for
  // the doubles and 64-bit integers of JSON values.
  static constexpr uint32_t kBlockHeaderSize = 8;

  constexpr FixedPool(uint32_t slotSize, uint32_t slotsPerBlock)
      : free_(nullptr),
        closed_(false),
        blocks_(nullptr),
        slotSize_(slotSize),
        slotsPerBlock_(slotsPerBlock),
        blockCount_(0),
        freeCount_(0),
        inUse_(0) {}
  FixedPool(const FixedPool&) = delete;
  FixedPool& operator=(const FixedPool&) = delete;

  static constexpr bool IsValidSlotSize(size_t size) {
    return size >= sizeof(void*) && size % alignof(void*) == 0;
  }

  // Returns an uninitialised slot, or null when the pool is closed or the heap cannot supply a
  // new block.
  void* TakeSlot();
  // Puts a slot from TakeSlot back on the free list; nothing for null or a closed pool.
  void GiveSlot(void* slot);
  // Marks the pool closed (from then on TakeSlot yields null and GiveSlot does nothing) and gives
  // its blocks back to the heap - but only when no slot is in use. Slots still held then (by
  // values that outlive the pool's dismantling at exit) keep their blocks, which stay reachable
  // from the pool, so that late releases never touch freed memory.
  void ClosePool();

  // Snapshots for tests and checks.
  bool IsClosed() const { return closed_.load(std::memory_order_relaxed); }
  uint32_t BlockCount() const { return blockCount_; }
  uint32_t FreeCount() const { return freeCount_; }
  uint32_t InUseCount() const { return inUse_; }

 private:
  bool AddBlock();

  void* free_;
  std::atomic<bool> closed_;
  void* blocks_;
  OwnerLock lock_;
  const uint32_t slotSize_;
  const uint32_t slotsPerBlock_;
  uint32_t blockCount_;
  uint32_t freeCount_;
  uint32_t inUse_;
};

#endif  // VINTREL_JSON_FIXED_POOL_H_
