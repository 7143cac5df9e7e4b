#include "driver/pack_file_index.h"

#include "driver/pack_file_entry.h"

namespace {

constexpr uint32_t kFirstCapacity = 64;

// The finaliser of MurmurHash3: every bit of x reaches every bit of the result. The ids are
// CRC-64 values, which are linear in the name's bits; mixing keeps names that differ in a few
// characters from landing in neighbouring slots.
uint64_t mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

uint32_t tag_of(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }

}  // namespace

uint64_t pack_file_key_hash(uint64_t nameId, uint64_t extId, uint64_t packageId) {
  return mix(nameId ^ mix(extId ^ mix(packageId)));
}

bool PackFileIndex::Add(const PackFileEntry* entry) {
  // The order is what decides between two matches; it must never wrap.
  if (added_ == UINT32_MAX) return false;
  if (Lookup(entry->nameId, entry->extId, entry->packageId) == nullptr) {
    // Growing at half full keeps every probe sequence short and always ending at a free slot.
    if (used_ >= slots_.count() / 2 && !Grow()) return false;
    const uint64_t hash = pack_file_key_hash(entry->nameId, entry->extId, entry->packageId);
    Slot slot;
    slot.entry = entry;
    slot.order = added_;
    slot.tag = tag_of(hash);
    Place(slots_, slot, hash);
    ++used_;
  }
  ++added_;
  return true;
}

const PackFileEntry* PackFileIndex::Find(uint64_t nameId, uint64_t extId,
                                         uint64_t packageId) const {
  const Slot* anyPackage = Lookup(nameId, extId, 0);
  const Slot* thisPackage = packageId != 0 ? Lookup(nameId, extId, packageId) : nullptr;
  if (thisPackage != nullptr && (anyPackage == nullptr || thisPackage->order < anyPackage->order)) {
    return thisPackage->entry;
  }
  return anyPackage != nullptr ? anyPackage->entry : nullptr;
}

void PackFileIndex::Clear() {
  slots_.release();
  used_ = 0;
  added_ = 0;
}

const PackFileIndex::Slot* PackFileIndex::Lookup(uint64_t nameId, uint64_t extId,
                                                 uint64_t packageId) const {
  const uint32_t capacity = slots_.count();
  if (capacity == 0) return nullptr;
  const uint64_t hash = pack_file_key_hash(nameId, extId, packageId);
  const uint32_t tag = tag_of(hash);
  const uint32_t mask = capacity - 1;
  for (uint32_t i = static_cast<uint32_t>(hash) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == nullptr) return nullptr;
    if (slot.tag == tag && slot.entry->nameId == nameId && slot.entry->extId == extId &&
        slot.entry->packageId == packageId) {
      return &slot;
    }
  }
}

bool PackFileIndex::Grow() {
  const uint32_t capacity = slots_.count();
  if (capacity > UINT32_MAX / 2) return false;
  TCountedArray<Slot> grown;
  if (!grown.allocate(capacity == 0 ? kFirstCapacity : capacity * 2)) return false;
  for (uint32_t i = 0; i < capacity; ++i) {
    const Slot& slot = slots_[i];
    if (slot.entry == nullptr) continue;
    Place(grown, slot,
          pack_file_key_hash(slot.entry->nameId, slot.entry->extId, slot.entry->packageId));
  }
  slots_.swap(grown);
  return true;
}

void PackFileIndex::Place(TCountedArray<Slot>& slots, const Slot& slot, uint64_t hash) {
  const uint32_t mask = slots.count() - 1;
  uint32_t i = static_cast<uint32_t>(hash) & mask;
  while (slots[i].entry != nullptr) i = (i + 1) & mask;
  slots[i] = slot;
}
