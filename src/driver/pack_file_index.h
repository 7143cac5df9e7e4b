#ifndef VINTREL_DRIVER_PACK_FILE_INDEX_H_
#define VINTREL_DRIVER_PACK_FILE_INDEX_H_

#include <cstdint>

#include "base/byte_buffer.h"

struct PackFileEntry;

// Answers "which configured file replaces this entry" without walking the configuration: an
// open-addressing hash table from a record's three ids (nameId, extId, packageId) to the first
// record, in configuration order, that carries exactly those ids. An entry of a package can be
// matched by a record restricted to that package and by one for every package (packageId 0);
// Find looks up both and takes the earlier, which is what a walk of the list in configuration
// order finds. A bit filter over names and extensions turns most entries away before the
// table. Its blocks come from the allocation hooks.
class PackFileIndex {
 public:
  PackFileIndex() = default;
  PackFileIndex(const PackFileIndex&) = delete;
  PackFileIndex& operator=(const PackFileIndex&) = delete;

  // Makes room for count more records, so that adding them allocates nothing. False, with the
  // index unchanged, when the table cannot grow; Add then grows it as it goes.
  bool Reserve(uint32_t count);
  // Adds entry as the last record in configuration order; the index keeps the pointer, not a
  // copy. A record whose three ids equal an earlier one's is counted but not stored, since the
  // earlier one always wins. False, with the index unchanged, when the table cannot grow.
  bool Add(const PackFileEntry* entry);
  // The first record in configuration order whose nameId and extId are these and whose
  // packageId is 0 or packageId; null when there is none.
  const PackFileEntry* Find(uint64_t nameId, uint64_t extId, uint64_t packageId) const;
  // Forgets every record and frees the table.
  void Clear();

 private:
  struct Slot {
    const PackFileEntry* entry = nullptr;  // null: the slot is free
    uint32_t order = 0;                    // the record's place in configuration order
    uint32_t tag = 0;                      // the high half of the hash of the record's ids
  };

  const Slot* Lookup(uint64_t hash, uint64_t nameId, uint64_t extId, uint64_t packageId) const;
  bool Resize(uint32_t capacity);
  void Place(const PackFileEntry* entry, uint32_t order);
  // False when no record has this name and extension (hash is that of the ids with package 0).
  bool MayHold(uint64_t anyHash) const;
  uint32_t FilterBit(uint64_t anyHash) const;

  TCountedArray<Slot> slots_;  // a power of two of them, at most three quarters in use
  // One bit per hash of a record's name and extension, 16 for every slot.
  TCountedArray<uint32_t> filter_;
  uint32_t used_ = 0;
  uint32_t added_ = 0;
};

// The hash that places a record's ids in the index; tests use it to make ids that collide.
uint64_t pack_file_key_hash(uint64_t nameId, uint64_t extId, uint64_t packageId);

#endif  // VINTREL_DRIVER_PACK_FILE_INDEX_H_
