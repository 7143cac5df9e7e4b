#include "driver/pack_file_index.h"

#include "driver/pack_file_entry.h"

namespace {

constexpr uint32_t kFirstCapacity = 64;
// One 32-bit filter word for every two slots, 16 bits a slot: with at most three quarters of the
// slots in use, fewer than one in twenty look-ups of a name and extension that no record has
// pass the filter.
constexpr uint32_t kSlotsPerFilterWord = 2;

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

// Linear probing stays short up to three quarters full, and always ends at a free slot.
bool fits(uint64_t used, uint64_t capacity) { return used * 4 <= capacity * 3; }

}  // namespace

uint64_t pack_file_key_hash(uint64_t nameId, uint64_t extId, uint64_t packageId) {
  return mix(nameId ^ mix(extId ^ mix(packageId)));
}

bool PackFileIndex::Reserve(uint32_t count) {
  const uint64_t wanted = uint64_t{used_} + count;
  uint64_t capacity = slots_.count() != 0 ? slots_.count() : kFirstCapacity;
  while (!fits(wanted, capacity)) capacity *= 2;
  if (capacity == slots_.count()) return true;
  return capacity <= UINT32_MAX && Resize(static_cast<uint32_t>(capacity));
}

bool PackFileIndex::Add(const PackFileEntry* entry) {
  // The order is what decides between two matches; it must never wrap.
  if (added_ == UINT32_MAX) return false;
  const uint64_t hash = pack_file_key_hash(entry->nameId, entry->extId, entry->packageId);
  if (Lookup(hash, entry->nameId, entry->extId, entry->packageId) == nullptr) {
    const uint32_t capacity = slots_.count();
    if (!fits(uint64_t{used_} + 1, capacity)) {
      if (capacity > UINT32_MAX / 2) return false;
      if (!Resize(capacity == 0 ? kFirstCapacity : capacity * 2)) return false;
    }
    Place(entry, added_);
    ++used_;
  }
  ++added_;
  return true;
}

const PackFileEntry* PackFileIndex::Find(uint64_t nameId, uint64_t extId,
                                         uint64_t packageId) const {
  // Most entries of a game are replaced by nothing: the filter answers for them without a probe
  // of the table, which is larger than a cache once there are thousands of records.
  const uint64_t anyHash = pack_file_key_hash(nameId, extId, 0);
  if (!MayHold(anyHash)) return nullptr;
  const Slot* anyPackage = Lookup(anyHash, nameId, extId, 0);
  const Slot* thisPackage = packageId != 0 ? Lookup(pack_file_key_hash(nameId, extId, packageId),
                                                    nameId, extId, packageId)
                                           : nullptr;
  if (thisPackage != nullptr && (anyPackage == nullptr || thisPackage->order < anyPackage->order)) {
    return thisPackage->entry;
  }
  return anyPackage != nullptr ? anyPackage->entry : nullptr;
}

void PackFileIndex::Clear() {
  slots_.release();
  filter_.release();
  used_ = 0;
  added_ = 0;
}

const PackFileIndex::Slot* PackFileIndex::Lookup(uint64_t hash, uint64_t nameId, uint64_t extId,
                                                 uint64_t packageId) const {
  const uint32_t capacity = slots_.count();
  if (capacity == 0) return nullptr;
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

bool PackFileIndex::Resize(uint32_t capacity) {
  TCountedArray<Slot> slots;
  TCountedArray<uint32_t> filter;
  if (!slots.allocate(capacity) || !filter.allocate(capacity / kSlotsPerFilterWord)) {
    return false;
  }
  slots.swap(slots_);
  filter.swap(filter_);
  for (uint32_t i = 0; i < slots.count(); ++i) {
    if (slots[i].entry != nullptr) Place(slots[i].entry, slots[i].order);
  }
  return true;
}

void PackFileIndex::Place(const PackFileEntry* entry, uint32_t order) {
  const uint64_t hash = pack_file_key_hash(entry->nameId, entry->extId, entry->packageId);
  const uint32_t mask = slots_.count() - 1;
  uint32_t i = static_cast<uint32_t>(hash) & mask;
  while (slots_[i].entry != nullptr) i = (i + 1) & mask;
  slots_[i].entry = entry;
  slots_[i].order = order;
  slots_[i].tag = tag_of(hash);
  // Records for one package and for every package mark the same bit: Find asks the filter
  // before it knows which of the two it will look for.
  const uint32_t bit = FilterBit(pack_file_key_hash(entry->nameId, entry->extId, 0));
  filter_[bit / 32] |= uint32_t{1} << (bit % 32);
}

bool PackFileIndex::MayHold(uint64_t anyHash) const {
  if (filter_.count() == 0) return false;
  const uint32_t bit = FilterBit(anyHash);
  return (filter_[bit / 32] >> (bit % 32) & 1) != 0;
}

uint32_t PackFileIndex::FilterBit(uint64_t anyHash) const {
  // The high half, which the table's slot index (taken from the low bits) does not use.
  return static_cast<uint32_t>(tag_of(anyHash) & (uint64_t{filter_.count()} * 32 - 1));
}
