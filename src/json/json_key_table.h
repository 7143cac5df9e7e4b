#ifndef VINTREL_JSON_JSON_KEY_TABLE_H_
#define VINTREL_JSON_JSON_KEY_TABLE_H_

#include <cstdint>

#include "base/shared_string.h"
#include "json/owner_lock.h"

// Jenkins' one-at-a-time hash over the text's bytes taken as signed characters, with arithmetic
// right shifts of a signed 32-bit value, all arithmetic modulo 2^32. The empty text hashes to 0.
uint32_t json_key_hash(const char* text);

// One interned key. An entry whose refcount is 0 keeps its text and hash: a later Intern of the
// same text may revive it, or a new key may take it over.
struct JsonKeyEntry {
  uint32_t refcount;
  uint32_t hash;
  SharedString text;  // the shared empty text until the entry is first used
};

// Two entries and a link; one heap block from AllocHooks. used counts the entries whose refcount
// is not 0; a chunk whose used count is 0 is skipped by every walk from then on.
struct JsonKeyChunk {
  uint32_t used;
  JsonKeyEntry entries[2];
  JsonKeyChunk* next;
};

// Interns member keys, so that every distinct key text in use exists once and keys compare by
// pointer: the identity of a key is the address of its entry's text. Chunks are never freed while
// the table is live; a chunk whose used count drops to 0 leaves the list that lookups walk for a
// list of retired chunks, where its texts stay readable. Every operation holds the table's
// OwnerLock for its whole duration. The constructor is constexpr, so a static table is usable
// before any dynamic initialisation.
class JsonKeyTable {
 public:
  constexpr JsonKeyTable() : head_(nullptr), tail_(nullptr), retired_(nullptr) {}
  JsonKeyTable(const JsonKeyTable&) = delete;
  JsonKeyTable& operator=(const JsonKeyTable&) = delete;

  // Returns the interned text pointer of text with one more reference on its entry; null for a
  // null text or when the heap cannot supply a new chunk.
  const char* Intern(const char* text);
  // Gives up one reference of the key at that pointer; nothing for null or a pointer that is no
  // key of the table's chunks in use.
  void ReleaseKey(const char* key);

  // Process exit: head and tail become none, so every later lookup misses and every ReleaseKey
  // does nothing. The chunks are not freed: keys held by values released later in the exit stay
  // readable. They are kept on a list of retired chunks, still reachable.
  void Dismantle();
  // For tables that are not the process's: frees every chunk, retired ones included. Only when
  // no key of the table is held any more.
  void FreeChunks();

  // Snapshots for tests: the chunks in the live list, and the refcount of the entry whose text
  // is at key together with its chunk's used count (live or retired chunks). Inspect returns
  // false when key is no entry's text.
  uint32_t ChunkCount() const;
  bool Inspect(const char* key, uint32_t* refcount, uint32_t* used) const;

 private:
  struct Slot {
    JsonKeyChunk* chunk;
    JsonKeyEntry* entry;
  };

  Slot FindByText(const char* text, uint32_t hash) const;
  // Also stores the chunk before the found one in the list (null for the head).
  Slot FindByPointer(const char* key, JsonKeyChunk** previous) const;
  Slot FindFreeEntry();
  // Unlinks and frees the tail chunk that FindFreeEntry has just added, when its first entry
  // could not take its text: no key ever lived in it.
  void DropNewChunk(JsonKeyChunk* chunk);

  JsonKeyChunk* head_;
  JsonKeyChunk* tail_;
  JsonKeyChunk* retired_;
  mutable OwnerLock lock_;
};

// One reference to an interned key, given back by the destructor. Holds null when the text is
// null or could not be interned.
class JsonKey {
 public:
  JsonKey(JsonKeyTable& table, const char* text) : table_(table), key_(table.Intern(text)) {}
  ~JsonKey() { table_.ReleaseKey(key_); }
  JsonKey(const JsonKey&) = delete;
  JsonKey& operator=(const JsonKey&) = delete;

  const char* Get() const { return key_; }

 private:
  JsonKeyTable& table_;
  const char* key_;
};

#endif  // VINTREL_JSON_JSON_KEY_TABLE_H_
