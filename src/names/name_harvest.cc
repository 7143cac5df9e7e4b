#include "names/name_harvest.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "base/utf8.h"
#include "driver/name_hash.h"

namespace {

enum : uint8_t {
  kRunByte = 1,  // an ASCII byte that a run may hold
  kAnchor = 2,   // where a run that may be tried shows itself: '.', '/', '\', '"', '\''
  kLeading = 4,  // left off the start of a run: '.', '/', '\', '-'
};

struct ByteClasses {
  uint8_t of[256];
};

constexpr ByteClasses MakeClasses() {
  ByteClasses classes{};
  for (int c = 'a'; c <= 'z'; ++c) classes.of[c] = kRunByte;
  for (int c = 'A'; c <= 'Z'; ++c) classes.of[c] = kRunByte;
  for (int c = '0'; c <= '9'; ++c) classes.of[c] = kRunByte;
  classes.of[static_cast<int>('_')] = kRunByte;
  classes.of[static_cast<int>('-')] = kRunByte | kLeading;
  for (char c : {'.', '/', '\\'})
    classes.of[static_cast<uint8_t>(c)] = kRunByte | kAnchor | kLeading;
  classes.of[static_cast<int>('"')] = kAnchor;
  classes.of[static_cast<int>('\'')] = kAnchor;
  return classes;
}

constexpr ByteClasses kClasses = MakeClasses();

bool is_quote(uint8_t c) { return c == '"' || c == '\''; }

// The first anchor at or after at; length when there is none. Most bytes of most files are no
// anchor: eight at a time are passed over with one test, and in eight that hold one it is found
// without a branch for each byte, which binary data, with an anchor every fifty bytes or so,
// would mispredict.
uint32_t next_anchor(const uint8_t* bytes, uint32_t at, uint32_t length) {
  while (length - at >= 8) {
    const uint8_t* p = bytes + at;
    if (((kClasses.of[p[0]] | kClasses.of[p[1]] | kClasses.of[p[2]] | kClasses.of[p[3]] |
          kClasses.of[p[4]] | kClasses.of[p[5]] | kClasses.of[p[6]] | kClasses.of[p[7]]) &
         kAnchor) != 0) {
      uint32_t first = 7;
      for (uint32_t k = 7; k-- > 0;) first = (kClasses.of[p[k]] & kAnchor) != 0 ? k : first;
      return at + first;
    }
    at += 8;
  }
  while (at < length && (kClasses.of[bytes[at]] & kAnchor) == 0) ++at;
  return at;
}

// Where the run that goes on at `at` ends: at the first byte that is neither a run's ASCII byte
// nor part of a well-formed UTF-8 sequence of another character.
uint32_t run_end(const uint8_t* bytes, uint32_t at, uint32_t length) {
  while (at < length) {
    if (bytes[at] < 0x80) {
      if ((kClasses.of[bytes[at]] & kRunByte) == 0) break;
      ++at;
      continue;
    }
    // Most bytes above 0x7F in binary data begin no sequence at all: 0x80 to 0xC1, 0xF5 up.
    if (bytes[at] < 0xC2 || bytes[at] > 0xF4) break;
    const uint32_t sequence = utf8_sequence_length(bytes + at, length - at);
    if (sequence < 2) break;
    at += sequence;
  }
  return at;
}

// Where the run that goes on before `at` begins, no earlier than floor: each step back passes one
// character, an ASCII byte of a run or a whole well-formed sequence of another character.
uint32_t run_start(const uint8_t* bytes, uint32_t floor, uint32_t at) {
  while (at > floor) {
    const uint8_t c = bytes[at - 1];
    if (c < 0x80) {
      if ((kClasses.of[c] & kRunByte) == 0) break;
      --at;
      continue;
    }
    // A sequence is its first byte and up to three continuation bytes (10xxxxxx), one of which
    // comes last.
    if ((c & 0xC0) != 0x80) break;
    uint32_t back = 1;
    while (back < 4 && at - back > floor && (bytes[at - back] & 0xC0) == 0x80) ++back;
    if (utf8_sequence_length(bytes + at - back, back) != back || back < 2) break;
    at -= back;
  }
  return at;
}

// The slot where a name id's search begins: the ids are CRCs, whose bits are already spread.
uint32_t first_slot(uint64_t id, uint32_t mask) {
  return static_cast<uint32_t>((id * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

}  // namespace

bool EntryIds::Add(uint64_t nameId, uint64_t extId) {
  return nameId == 0 || pairs_.Append({nameId, extId});
}

bool EntryIds::Finish() {
  std::sort(pairs_.begin(), pairs_.end(), [](const Pair& a, const Pair& b) {
    return a.nameId != b.nameId ? a.nameId < b.nameId : a.extId < b.extId;
  });
  // At most half full, so that a search for an id no entry has ends after a slot or two; and 16
  // bits or more for each name, so that the bits answer most searches for an id no entry has
  // from a block that stays in the processor's cache.
  uint32_t slots = 16;
  while (slots / 2 < pairs_.count()) {
    if (slots > UINT32_MAX / 64) return false;
    slots *= 2;
  }
  if (!slots_.allocate(slots) || !bits_.allocate(slots / 2) || !exts_.Reserve(pairs_.count())) {
    return false;
  }
  mask_ = slots - 1;
  bitMask_ = slots * 32 - 1;
  Slot* slot = nullptr;
  for (uint32_t i = 0; i < pairs_.count(); ++i) {
    const Pair& pair = pairs_[i];
    if (i != 0 && pair.nameId == pairs_[i - 1].nameId) {
      if (pair.extId == pairs_[i - 1].extId) continue;
    } else {
      uint32_t at = first_slot(pair.nameId, mask_);
      while (slots_[at].nameId != 0) at = (at + 1) & mask_;
      slot = &slots_[at];
      slot->nameId = pair.nameId;
      slot->first = exts_.count();
      const uint32_t bit = static_cast<uint32_t>(pair.nameId) & bitMask_;
      bits_[bit >> 6] |= 1ull << (bit & 63);
    }
    exts_.Append(pair.extId);
    ++slot->count;
  }
  pairs_.Release();
  return true;
}

const uint64_t* EntryIds::Exts(uint64_t nameId, uint32_t* count) const {
  *count = 0;
  const uint32_t bit = static_cast<uint32_t>(nameId) & bitMask_;
  if (nameId == 0 || bits_.count() == 0 || (bits_[bit >> 6] >> (bit & 63) & 1) == 0) {
    return nullptr;
  }
  for (uint32_t i = first_slot(nameId, mask_);; i = (i + 1) & mask_) {
    const Slot& slot = slots_[i];
    if (slot.nameId == 0) return nullptr;
    if (slot.nameId == nameId) {
      *count = slot.count;
      return &exts_[slot.first];
    }
  }
}

bool NameHarvester::Scan(const uint8_t* bytes, uint32_t length, const EntryIds& ids,
                         NameTable& lines) {
  // Bytes before done are tried or passed over, and no run goes on across it.
  uint32_t done = 0;
  while (done < length) {
    const uint32_t at = next_anchor(bytes, done, length);
    if (at == length) break;
    uint32_t start;
    uint32_t end;
    bool quoted = false;
    if (is_quote(bytes[at])) {
      start = at + 1;
      end = run_end(bytes, start, length);
      // A run that no quote of the same kind closes is tried, if at all, from its marks.
      if (end == length || bytes[end] != bytes[at]) {
        done = at + 1;
        continue;
      }
      quoted = true;
      // The closing quote can open the next quoted run, so that "a" "b" gives both.
      done = end > at + 1 ? end : at + 1;
    } else {
      start = run_start(bytes, done, at);
      end = run_end(bytes, at, length);
      done = end;
    }
    while (start < end && (kClasses.of[bytes[start]] & kLeading) != 0) ++start;
    while (end > start && bytes[end - 1] == '.') --end;
    const uint32_t runLength = end - start;
    if (runLength >= 2 && runLength < kNameLineMost &&
        !Try(bytes + start, runLength, quoted, ids, lines)) {
      return false;
    }
  }
  return true;
}

bool NameHarvester::Try(const uint8_t* run, uint32_t length, bool quoted, const EntryIds& ids,
                        NameTable& lines) {
  std::memcpy(text_, run, length);
  const uint32_t dot = ext_dot(text_, length);
  const bool slash = std::memchr(text_, '/', length) != nullptr;
  const bool backslash = std::memchr(text_, '\\', length) != nullptr;
  if (!quoted && dot == length && !slash && !backslash) return true;
  if (!TryVariant(length, dot, ids, lines)) return false;
  // With both kinds of separator the run as found is a variant of its own; the others have one
  // kind throughout.
  for (const char separator : {'/', '\\'}) {
    const bool other = separator == '/' ? backslash : slash;
    if (!other) continue;
    const char replaced = separator == '/' ? '\\' : '/';
    for (uint32_t i = 0; i < length; ++i) {
      if (text_[i] == replaced) text_[i] = separator;
    }
    if (!TryVariant(length, dot, ids, lines)) return false;
  }
  return true;
}

bool NameHarvester::TryVariant(uint32_t length, uint32_t dot, const EntryIds& ids,
                               NameTable& lines) {
  const uint64_t name = name_hash_part(kNameHashStart, text_, dot);
  uint32_t count = 0;
  // The whole run as a name: the dot at the line's end leaves its ext empty.
  if (dot < length &&
      ids.Exts(name_hash_end(name_hash_part(name, text_ + dot, length - dot)), &count) != nullptr) {
    text_[length] = '.';
    if (!lines.Add(text_, length + 1)) return false;
  }
  const uint64_t* exts = ids.Exts(name_hash_end(name), &count);
  if (exts == nullptr) return true;
  if (dot + 1 < length) {
    const uint64_t ext =
        name_hash_end(name_hash_part(kNameHashStart, text_ + dot + 1, length - dot - 1));
    if (std::find(exts, exts + count, ext) != exts + count) return lines.Add(text_, length);
  }
  // The name alone; its own dot, if it has one, takes the dot that ends the line along.
  const bool dotted = ext_dot(text_, dot) != dot;
  return lines.Add(text_, dotted ? dot + 1 : dot);
}

uint64_t line_name_id(const char* line, uint32_t length) {
  char name[kNameLineMost + 1];
  uint32_t dot = ext_dot(line, length);
  if (dot > kNameLineMost) dot = kNameLineMost;
  std::memcpy(name, line, dot);
  name[dot] = '\0';
  return name_hash(name);
}

bool list_name_lines(const NameTable& table, TArray<const char*>& lines) {
  lines.Clear();
  TArray<uint64_t> named;  // the name ids of the lines that give an ext
  for (uint32_t i = 0; i < table.slot_count(); ++i) {
    const char* line = table.text(i);
    if (line == nullptr) continue;
    const uint32_t length = static_cast<uint32_t>(std::strlen(line));
    if (ext_dot(line, length) + 1 < length && !named.Append(line_name_id(line, length))) {
      return false;
    }
  }
  std::sort(named.begin(), named.end());
  for (uint32_t i = 0; i < table.slot_count(); ++i) {
    const char* line = table.text(i);
    if (line == nullptr) continue;
    const uint32_t length = static_cast<uint32_t>(std::strlen(line));
    const bool alone = ext_dot(line, length) + 1 >= length;
    if (alone && std::binary_search(named.begin(), named.end(), line_name_id(line, length))) {
      continue;
    }
    if (!lines.Append(line)) return false;
  }
  std::sort(lines.begin(), lines.end(),
            [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
  return true;
}
