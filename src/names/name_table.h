#ifndef VINTREL_NAMES_NAME_TABLE_H_
#define VINTREL_NAMES_NAME_TABLE_H_

#include <cstdint>

// Texts known by their ids, the name_hash of each: what turns an id of the game back into the
// name, extension or package name it was made from. Texts are compared as the ids compare them,
// without regard to the case of A to Z, and the first spelling of an id that is added is kept.
//
// Each text is stored once, NUL-terminated, in one block of text; an open-addressing table maps
// an id to the 32-bit offset of its text there. A slot is three 32-bit values and the table is
// kept at most three quarters full, so that the table takes the same bytes in a 32-bit build as
// in a 64-bit one: no pointer is stored anywhere. Both blocks come from the allocation hooks.
class NameTable {
 public:
  NameTable() = default;
  ~NameTable();
  NameTable(const NameTable&) = delete;
  NameTable& operator=(const NameTable&) = delete;

  // Makes room for count more texts taking bytes more bytes (their NULs included), so that adding
  // them moves nothing. False when the room cannot be had; adding may still succeed, growing as
  // it goes.
  bool Reserve(uint32_t count, uint64_t bytes);
  // Adds the length bytes of text, which hold no NUL and do not lie in the table, under their
  // name_hash, unless a text with that id is known already (then *added is false and nothing
  // changes). An empty text is never added. False, no text added, when memory runs out or the
  // texts would pass 4 GiB.
  bool Add(const char* text, uint32_t length, bool* added = nullptr);
  // Gives back the room that Reserve took beyond the texts added since.
  void Trim();
  // Forgets every text and keeps the room they took, for the next texts.
  void Clear();

  // The text with this id, NUL-terminated, valid until the next Add; null when none is known.
  const char* Find(uint64_t id) const;
  bool Contains(uint64_t id) const { return Find(id) != nullptr; }
  uint32_t count() const { return count_; }
  // The bytes taken from the allocation hooks: the slots and the block of text.
  uint64_t held_bytes() const;

  // For walking every text, in no particular order: slot i (below slot_count()) holds a text when
  // text(i) is not null, with the id id(i).
  uint32_t slot_count() const { return slotCount_; }
  const char* text(uint32_t slot) const;
  uint64_t id(uint32_t slot) const;

 private:
  struct Slot {
    uint32_t idLow;
    uint32_t idHigh;
    uint32_t offset;  // of the text in text_; 0: the slot is empty
  };
  // No pointer and no padding: a slot takes 12 bytes in a 32-bit build as in a 64-bit one.
  static_assert(sizeof(Slot) == 12, "a slot is three 32-bit values");

  // The slot that holds id, or the empty slot where it would go.
  uint32_t Probe(uint64_t id) const;
  bool GrowSlots(uint32_t wanted);
  bool GrowText(uint64_t wanted);

  Slot* slots_ = nullptr;
  uint32_t slotCount_ = 0;  // 0 or a power of two
  uint32_t count_ = 0;
  // The texts, each followed by its NUL, after one NUL at offset 0 that no slot names.
  char* text_ = nullptr;
  uint32_t textLength_ = 0;
  uint32_t textCapacity_ = 0;
};

#endif  // VINTREL_NAMES_NAME_TABLE_H_
