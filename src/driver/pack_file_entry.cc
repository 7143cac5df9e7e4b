#include "driver/pack_file_entry.h"

#include <new>

#include "base/alloc_hooks.h"

PackFileEntry* PackFileEntryList::NewEntry() {
  void* block = AllocHooks.allocHook(sizeof(PackFileEntry));
  if (block == nullptr) return nullptr;
  return new (block) PackFileEntry();
}

void PackFileEntryList::Discard(PackFileEntry* entry) {
  if (entry == nullptr) return;
  entry->~PackFileEntry();
  AllocHooks.freeHook(entry);
}

bool PackFileEntryList::Append(PackFileEntry* entry) {
  if (!index_.Add(entry)) return false;
  entry->next = nullptr;
  if (tail_ == nullptr) {
    head_ = entry;
  } else {
    tail_->next = entry;
  }
  tail_ = entry;
  entry->index = ++count_;
  return true;
}

void PackFileEntryList::Clear() {
  index_.Clear();
  PackFileEntry* entry = head_;
  while (entry != nullptr) {
    PackFileEntry* next = entry->next;
    Discard(entry);
    entry = next;
  }
  head_ = nullptr;
  tail_ = nullptr;
  count_ = 0;
}
