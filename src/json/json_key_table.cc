#include "json/json_key_table.h"

#include <cstring>
#include <initializer_list>
#include <new>

#include "base/alloc_hooks.h"

namespace {

// The arithmetic right shift of a signed 32-bit value, done on its bits: the sign bit is copied
// into the vacated positions.
uint32_t ShiftRightArithmetic(uint32_t h, unsigned n) {
  const uint32_t fill = (h & 0x80000000u) != 0 ? ~(0xFFFFFFFFu >> n) : 0u;
  return (h >> n) | fill;
}

static_assert(sizeof(JsonKeyChunk) <= UINT32_MAX, "a chunk is one allocation");

}  // namespace

uint32_t json_key_hash(const char* text) {
  uint32_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    // The byte as a signed char, sign-extended to 32 bits.
    const uint32_t c = *p < 0x80 ? *p : (*p | 0xFFFFFF00u);
    h = (h + c) * 1025u;
    h ^= ShiftRightArithmetic(h, 6);
  }
  h *= 9u;
  h ^= ShiftRightArithmetic(h, 11);
  h *= 32769u;
  return h;
}

JsonKeyTable::Slot JsonKeyTable::FindByText(const char* text, uint32_t hash) const {
  for (JsonKeyChunk* chunk = head_; chunk != nullptr; chunk = chunk->next) {
    if (chunk->used == 0) continue;
    for (JsonKeyEntry& entry : chunk->entries) {
      const char* stored = entry.text.Text();
      if (stored == text || (entry.hash == hash && std::strcmp(stored, text) == 0)) {
        return Slot{chunk, &entry};
      }
    }
  }
  return Slot{nullptr, nullptr};
}

JsonKeyTable::Slot JsonKeyTable::FindByPointer(const char* key, JsonKeyChunk** previous) const {
  *previous = nullptr;
  for (JsonKeyChunk* chunk = head_; chunk != nullptr; *previous = chunk, chunk = chunk->next) {
    if (chunk->used == 0) continue;
    for (JsonKeyEntry& entry : chunk->entries) {
      if (entry.text.Text() == key) return Slot{chunk, &entry};
    }
  }
  return Slot{nullptr, nullptr};
}

JsonKeyTable::Slot JsonKeyTable::FindFreeEntry() {
  for (JsonKeyChunk* chunk = head_; chunk != nullptr; chunk = chunk->next) {
    if (chunk->used == 0) continue;
    for (JsonKeyEntry& entry : chunk->entries) {
      if (entry.refcount == 0) return Slot{chunk, &entry};
    }
  }
  void* block = AllocHooks.allocHook(static_cast<uint32_t>(sizeof(JsonKeyChunk)));
  if (block == nullptr) return Slot{nullptr, nullptr};
  JsonKeyChunk* chunk = new (block) JsonKeyChunk();
  chunk->used = 0;
  for (JsonKeyEntry& entry : chunk->entries) {
    entry.refcount = 0;
    entry.hash = 0;
  }
  chunk->next = nullptr;
  if (tail_ == nullptr) {
    head_ = chunk;
  } else {
    tail_->next = chunk;
  }
  tail_ = chunk;
  return Slot{chunk, &chunk->entries[0]};
}

void JsonKeyTable::DropNewChunk(JsonKeyChunk* chunk) {
  JsonKeyChunk* previous = nullptr;
  for (JsonKeyChunk* walk = head_; walk != chunk; walk = walk->next) previous = walk;
  if (previous == nullptr) {
    head_ = nullptr;
  } else {
    previous->next = nullptr;
  }
  tail_ = previous;
  chunk->~JsonKeyChunk();
  AllocHooks.freeHook(chunk);
}

const char* JsonKeyTable::Intern(const char* text) {
  OwnerLockHolder hold(lock_);
  if (text == nullptr) return nullptr;
  const uint32_t hash = json_key_hash(text);
  Slot found = FindByText(text, hash);
  if (found.entry != nullptr) {
    if (found.entry->refcount == 0) ++found.chunk->used;
    ++found.entry->refcount;
    return found.entry->text.Text();
  }

  Slot slot = FindFreeEntry();
  if (slot.entry == nullptr) return nullptr;
  // A text whose copy cannot be allocated must not become a key: every such entry would share
  // the one empty text pointer. The entry is left as a never-used one (empty text, hash 0).
  // The empty text itself may legitimately end up without a block.
  slot.entry->text.Assign(text);
  if (text[0] != 0 && slot.entry->text.Capacity() == 0) {
    slot.entry->hash = 0;
    if (slot.chunk->used == 0) DropNewChunk(slot.chunk);
    return nullptr;
  }
  ++slot.entry->refcount;
  ++slot.chunk->used;
  slot.entry->hash = hash;
  return slot.entry->text.Text();
}

void JsonKeyTable::ReleaseKey(const char* key) {
  if (key == nullptr) return;
  OwnerLockHolder hold(lock_);
  JsonKeyChunk* previous;
  Slot found = FindByPointer(key, &previous);
  if (found.entry == nullptr || found.entry->refcount == 0) return;
  if (--found.entry->refcount != 0 || --found.chunk->used != 0) return;
  // Every walk skips a chunk whose used count is 0, for good. It moves to the retired list, still
  // allocated with its texts, so that the walks do not grow with every document ever parsed.
  JsonKeyChunk* chunk = found.chunk;
  if (previous == nullptr) {
    head_ = chunk->next;
  } else {
    previous->next = chunk->next;
  }
  if (tail_ == chunk) tail_ = previous;
  chunk->next = retired_;
  retired_ = chunk;
}

void JsonKeyTable::Dismantle() {
  OwnerLockHolder hold(lock_);
  if (head_ == nullptr) return;
  tail_->next = retired_;
  retired_ = head_;
  head_ = nullptr;
  tail_ = nullptr;
}

void JsonKeyTable::FreeChunks() {
  Dismantle();
  OwnerLockHolder hold(lock_);
  JsonKeyChunk* chunk = retired_;
  retired_ = nullptr;
  while (chunk != nullptr) {
    JsonKeyChunk* next = chunk->next;
    chunk->~JsonKeyChunk();
    AllocHooks.freeHook(chunk);
    chunk = next;
  }
}

uint32_t JsonKeyTable::ChunkCount() const {
  OwnerLockHolder hold(lock_);
  uint32_t count = 0;
  for (JsonKeyChunk* chunk = head_; chunk != nullptr; chunk = chunk->next) ++count;
  return count;
}

bool JsonKeyTable::Inspect(const char* key, uint32_t* refcount, uint32_t* used) const {
  OwnerLockHolder hold(lock_);
  for (JsonKeyChunk* list : {head_, retired_}) {
    for (JsonKeyChunk* chunk = list; chunk != nullptr; chunk = chunk->next) {
      for (const JsonKeyEntry& entry : chunk->entries) {
        if (entry.text.Text() != key) continue;
        *refcount = entry.refcount;
        *used = chunk->used;
        return true;
      }
    }
  }
  return false;
}
