#ifndef VINTREL_DRIVER_PACK_FILE_ENTRY_H_
#define VINTREL_DRIVER_PACK_FILE_ENTRY_H_

#include <cstdint>

#include "base/shared_string.h"

// One configured file: where its bytes and metadata come from and the ids it replaces.
struct PackFileEntry {
  SharedString sourcePath;  // full path of the replacing file
  SharedString metaPath;    // full path of the metadata file; empty: derive or keep the metadata
  uint64_t nameId = 0;
  uint64_t extId = 0;
  uint64_t packageId = 0;  // 0: applies to every package
  PackFileEntry* next = nullptr;

  // For messages about the entry: its "name", "ext" and "pkg" as written in vintrel.json ("pkg"
  // empty when absent) and its place in "files", counted from 1. Empty when the heap could not
  // hold them; nothing but messages depends on them.
  SharedString name;
  SharedString ext;
  SharedString pkg;
  uint32_t index = 0;
  // The place of an earlier entry that takes every package this one could replace in (the same
  // name and ext, and no "pkg" or the same one), so that this one can never be used; 0 when none.
  uint32_t shadowedBy = 0;
  // Set by the package update once the entry has replaced an entry of some package.
  mutable bool used = false;
};

// The configured files in configuration order. Owns its records, which come from the allocation
// hooks, and frees them when destroyed.
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
  // Takes ownership of entry and links it at the tail.
  void Append(PackFileEntry* entry);
  void Clear();

  PackFileEntry* head() const { return head_; }
  PackFileEntry* tail() const { return tail_; }

 private:
  PackFileEntry* head_ = nullptr;
  PackFileEntry* tail_ = nullptr;
};

#endif  // VINTREL_DRIVER_PACK_FILE_ENTRY_H_
