#include "json/fixed_pool.h"

#include <cstring>

#include "base/alloc_hooks.h"

namespace {

// Links live in the first word of a free slot or a block; memcpy keeps the accesses defined
// whatever object last occupied the slot.
void* ReadLink(const void* at) {
  void* next;
  std::memcpy(&next, at, sizeof(next));
  return next;
}

void WriteLink(void* at, void* next) { std::memcpy(at, &next, sizeof(next)); }

}  // namespace

static_assert(FixedPool::kBlockHeaderSize >= sizeof(void*), "a block starts with its link word");

bool FixedPool::AddBlock() {
  if (slotsPerBlock_ == 0 || !IsValidSlotSize(slotSize_)) return false;
  if (slotsPerBlock_ > (UINT32_MAX - kBlockHeaderSize) / slotSize_) return false;
  const uint32_t size = kBlockHeaderSize + slotSize_ * slotsPerBlock_;
  char* block = static_cast<char*>(AllocHooks.allocHook(size));
  if (block == nullptr) return false;
  WriteLink(block, blocks_);
  blocks_ = block;
  ++blockCount_;

  char* slot = block + kBlockHeaderSize;
  for (uint32_t i = 0; i + 1 < slotsPerBlock_; ++i, slot += slotSize_) {
    WriteLink(slot, slot + slotSize_);
  }
  WriteLink(slot, free_);  // the free list is empty here, so this is null
  free_ = block + kBlockHeaderSize;
  freeCount_ += slotsPerBlock_;
  return true;
}

void* FixedPool::TakeSlot() {
  if (IsClosed()) return nullptr;
  OwnerLockHolder hold(lock_);
  // Checked again under the lock: ClosePool may have run since the test above.
  if (IsClosed()) return nullptr;
  if (free_ == nullptr && !AddBlock()) return nullptr;
  void* slot = free_;
  free_ = ReadLink(slot);
  --freeCount_;
  ++inUse_;
  return slot;
}

void FixedPool::GiveSlot(void* slot) {
  if (slot == nullptr || IsClosed()) return;
  OwnerLockHolder hold(lock_);
  if (IsClosed()) return;
  WriteLink(slot, free_);
  free_ = slot;
  ++freeCount_;
  --inUse_;
}

void FixedPool::ClosePool() {
  closed_.store(true);
  OwnerLockHolder hold(lock_);
  if (inUse_ != 0) return;
  void* block = blocks_;
  while (block != nullptr) {
    void* next = ReadLink(block);
    AllocHooks.freeHook(block);
    block = next;
  }
  blocks_ = nullptr;
  free_ = nullptr;
  blockCount_ = 0;
  freeCount_ = 0;
}
