#ifndef VINTREL_DRIVER_PACK_FILE_ENTRY_H_
#define VINTREL_DRIVER_PACK_FILE_ENTRY_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/shared_string.h"
#include "driver/pack_file_index.h"

// One configured file: where its bytes and metadata come from and the ids it replaces.
struct PackFileEntry {
  SharedString sourcePath;  // full path of the replacing file
  SharedString metaPath;    // full path of the metadata file; empty: derive or keep the metadata
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint64_t packageId = 0;  // 0: applies to every package
  PackFileEntry* next = nullptr;

  // For messages about the entry: its "name", "ext" and "pkg" as written in vintrel.json; each
  // empty when given by its id ("name_id", "ext_id", "pkg_id"), and "pkg" when absent. Empty when
  // the heap could not hold them; nothing but messages depends on them.
  SharedString name;
  SharedString ext;
  SharedString pkg;
  // Its place in the list, and so in "files", counted from 1; set by PackFileEntryList::Append.
  uint32_t index = 0;
  // The place of an earlier entry that takes every package this one could replace in (the same
  // name and ext, and no "pkg" or the same one), so that this one can never be used; 0 when none.
  uint32_t shadowedBy = 0;
};

// The configured files in configuration order. Owns its records, which come from the allocation
// hooks, and frees them when destroyed. An index kept up to date by Append answers Find, so that
// looking up an entry costs the same for twenty configured files as for twenty thousand.
class PackFileEntryList {
 public:
  PackFileEntryList() = default;
  ~PackFileEntryList() { Clear(); }
  PackFileEntryList(const PackFileEntryList&) = delete;
  PackFileEntryList& operator=(const PackFileEntryList&) = delete;

  // A new empty record from the allocation hooks, not yet in the list; null when the heap is
  // exhausted. Give it to Append, or back with Discard.
  static PackFileEntry* NewEntry();
  static void Discard(PackFileEntry* entry);
  // Makes room in the index for count more records, so that appending them allocates nothing
  // there. False, with the list unchanged, when the room cannot be had; Append still works then.
  bool Reserve(uint32_t count) { return index_.Reserve(count); }
  // Takes ownership of entry, links it at the tail and numbers it (its index); its ids must not
  // change afterwards. False, with the list unchanged and entry still the caller's, when the
  // index cannot grow.
  bool Append(PackFileEntry* entry);
  void Clear();

  // The first record, in configuration order, whose nameId and extId are these and whose
  // packageId is 0 or packageId; null when there is none.
  const PackFileEntry* Find(uint64_t nameId, uint64_t extId, uint64_t packageId) const {
    return index_.Find(nameId, extId, packageId);
  }

  PackFileEntry* head() const { return head_; }
  PackFileEntry* tail() const { return tail_; }
  uint32_t count() const { return count_; }

 private:
  PackFileEntry* head_ = nullptr;
  PackFileEntry* tail_ = nullptr;
  uint32_t count_ = 0;
  PackFileIndex index_;
};

// Which configured files replaced an entry of some package, by their place in the list.
class UsedFiles {
 public:
  // count files, none of them used yet. False when out of memory.
  bool Reset(uint32_t count) { return used_.allocate(count); }
  void Mark(const PackFileEntry& file) {
    if (file.index != 0 && file.index <= used_.count()) used_[file.index - 1] = 1;
  }
  bool Used(const PackFileEntry& file) const {
    return file.index != 0 && file.index <= used_.count() && used_[file.index - 1] != 0;
  }

 private:
  TCountedArray<uint8_t> used_;
};

#endif  // VINTREL_DRIVER_PACK_FILE_ENTRY_H_
