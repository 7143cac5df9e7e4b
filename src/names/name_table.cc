#include "names/name_table.h"

#include <cstring>

#include "base/alloc_hooks.h"
#include "driver/name_hash.h"

namespace {

constexpr uint32_t kFirstSlots = 16;
// Slots are at most 12 bytes times this, so that their block's size fits in 32 bits.
constexpr uint32_t kMostSlots = 1u << 28;

// Three quarters full at most: a probe then ends after a few slots.
bool too_full(uint32_t count, uint32_t slots) {
  return static_cast<uint64_t>(count) * 4 > static_cast<uint64_t>(slots) * 3;
}

// The ids are CRCs, whose bits are already spread; the multiplication mixes the high half into
// the low bits that pick a slot.
uint32_t first_slot(uint64_t id, uint32_t mask) {
  return static_cast<uint32_t>((id * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

}  // namespace

NameTable::~NameTable() {
  AllocHooks.freeHook(slots_);
  AllocHooks.freeHook(text_);
}

uint32_t NameTable::Probe(uint64_t id) const {
  const uint32_t mask = slotCount_ - 1;
  const uint32_t low = static_cast<uint32_t>(id);
  const uint32_t high = static_cast<uint32_t>(id >> 32);
  for (uint32_t i = first_slot(id, mask);; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.offset == 0 || (slot.idLow == low && slot.idHigh == high)) return i;
  }
}

bool NameTable::GrowSlots(uint32_t wanted) {
  uint32_t slots = slotCount_ != 0 ? slotCount_ : kFirstSlots;
  while (too_full(wanted, slots)) {
    if (slots >= kMostSlots) return false;
    slots *= 2;
  }
  if (slots == slotCount_) return true;
  Slot* fresh =
      static_cast<Slot*>(AllocHooks.allocHook(slots * static_cast<uint32_t>(sizeof(Slot))));
  if (fresh == nullptr) return false;
  std::memset(static_cast<void*>(fresh), 0, slots * sizeof(Slot));
  Slot* old = slots_;
  const uint32_t oldCount = slotCount_;
  slots_ = fresh;
  slotCount_ = slots;
  for (uint32_t i = 0; i < oldCount; ++i) {
    if (old[i].offset == 0) continue;
    const uint64_t id = static_cast<uint64_t>(old[i].idHigh) << 32 | old[i].idLow;
    slots_[Probe(id)] = old[i];
  }
  AllocHooks.freeHook(old);
  return true;
}

bool NameTable::GrowText(uint64_t wanted) {
  if (wanted <= textCapacity_) return true;
  if (wanted > UINT32_MAX) return false;
  // Doubling, so that texts added one by one move a logarithmic number of times.
  uint64_t capacity = textCapacity_ < 4096 ? 4096 : 2ull * textCapacity_;
  if (capacity < wanted) capacity = wanted;
  if (capacity > UINT32_MAX) capacity = UINT32_MAX;
  char* block = static_cast<char*>(AllocHooks.reallocHook(text_, static_cast<uint32_t>(capacity)));
  if (block == nullptr) return false;
  if (text_ == nullptr) {
    block[0] = '\0';
    textLength_ = 1;
  }
  text_ = block;
  textCapacity_ = static_cast<uint32_t>(capacity);
  return true;
}

bool NameTable::Reserve(uint32_t count, uint64_t bytes) {
  if (count > UINT32_MAX - count_) return false;
  const uint64_t used = textLength_ != 0 ? textLength_ : 1;
  return GrowSlots(count_ + count) && GrowText(used + bytes);
}

bool NameTable::Add(const char* text, uint32_t length, bool* added) {
  if (added != nullptr) *added = false;
  if (length == 0) return true;
  const uint64_t used = textLength_ != 0 ? textLength_ : 1;
  if (!GrowText(used + length + 1)) return false;
  // The text takes its place at the end of the block before it is known to be new: name_hash
  // needs its NUL, and a text already known simply leaves the place to the next one.
  char* placed = text_ + textLength_;
  std::memcpy(placed, text, length);
  placed[length] = '\0';
  const uint64_t id = name_hash(placed);
  if (slotCount_ != 0 && slots_[Probe(id)].offset != 0) return true;
  if (too_full(count_ + 1, slotCount_) && !GrowSlots(count_ + 1)) return false;
  Slot& slot = slots_[Probe(id)];
  slot.idLow = static_cast<uint32_t>(id);
  slot.idHigh = static_cast<uint32_t>(id >> 32);
  slot.offset = textLength_;
  textLength_ += length + 1;
  ++count_;
  if (added != nullptr) *added = true;
  return true;
}

void NameTable::Trim() {
  if (text_ == nullptr || textLength_ == textCapacity_) return;
  char* block = static_cast<char*>(AllocHooks.reallocHook(text_, textLength_));
  // A block that cannot shrink is kept as it is.
  if (block == nullptr) return;
  text_ = block;
  textCapacity_ = textLength_;
}

void NameTable::Clear() {
  if (count_ == 0) return;
  std::memset(static_cast<void*>(slots_), 0, slotCount_ * sizeof(Slot));
  count_ = 0;
  textLength_ = 1;  // the NUL at offset 0 that no slot names stays
}

const char* NameTable::Find(uint64_t id) const {
  if (count_ == 0) return nullptr;
  const Slot& slot = slots_[Probe(id)];
  return slot.offset != 0 ? text_ + slot.offset : nullptr;
}

uint64_t NameTable::held_bytes() const {
  return static_cast<uint64_t>(slotCount_) * sizeof(Slot) + textCapacity_;
}

const char* NameTable::text(uint32_t slot) const {
  return slots_[slot].offset != 0 ? text_ + slots_[slot].offset : nullptr;
}

uint64_t NameTable::id(uint32_t slot) const {
  return static_cast<uint64_t>(slots_[slot].idHigh) << 32 | slots_[slot].idLow;
}
