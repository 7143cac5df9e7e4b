#include "inspect/stack.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "driver/config.h"

namespace {

// A copy of file, for the stack's own list. Null when out of memory.
PackFileEntry* copy_file(const PackFileEntry& file) {
  PackFileEntry* copy = PackFileEntryList::NewEntry();
  if (copy == nullptr) return nullptr;
  // An empty text stays empty: assigning "" would make a text that is no longer IsEmpty().
  SharedString* const texts[] = {&copy->sourcePath, &copy->metaPath, &copy->name, &copy->ext,
                                 &copy->pkg};
  const SharedString* const own[] = {&file.sourcePath, &file.metaPath, &file.name, &file.ext,
                                     &file.pkg};
  for (size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); ++i) {
    if (!own[i]->IsEmpty()) texts[i]->Assign(own[i]->Text());
  }
  copy->nameId = file.nameId;
  copy->extId = file.extId;
  copy->packageId = file.packageId;
  if (copy->sourcePath.IsEmpty() || (copy->metaPath.IsEmpty() && !file.metaPath.IsEmpty())) {
    PackFileEntryList::Discard(copy);
    return nullptr;
  }
  return copy;
}

// Whether two files with the same name and ext can replace the same entry.
bool overlap(const PackFileEntry& a, const PackFileEntry& b) {
  return a.packageId == 0 || b.packageId == 0 || a.packageId == b.packageId;
}

// The stack's files sorted so that those with the same name and ext come together, each run in
// stack order.
struct FileKey {
  uint64_t nameId;
  uint64_t extId;
  const PackFileEntry* file;

  bool operator<(const FileKey& other) const {
    if (nameId != other.nameId) return nameId < other.nameId;
    if (extId != other.extId) return extId < other.extId;
    return file->index < other.file->index;
  }
};

bool is_separator(char c) { return c == '/' || c == '\\'; }

// The length of a full path's root: "\\server\share", a drive "C:", or nothing before a
// leading separator.
size_t root_length(const char* path) {
  size_t i = 0;
  if (is_separator(path[0]) && is_separator(path[1])) {
    i = 2;
    for (int part = 0; part < 2; ++part) {
      while (is_separator(path[i])) ++i;
      while (path[i] != '\0' && !is_separator(path[i])) ++i;
    }
    return i;
  }
  if (path[0] != '\0' && path[1] == ':') return 2;
  return 0;
}

// Whether two roots are the same, drive letters and server names in any case.
bool same_root(const char* a, size_t aLength, const char* b, size_t bLength) {
  if (aLength != bLength) return false;
  for (size_t i = 0; i < aLength; ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y && !(is_separator(x) && is_separator(y))) return false;
  }
  return true;
}

// Moves *p past separators to the next component; its length, 0 at the end.
size_t next_component(const char** p) {
  while (is_separator(**p)) ++*p;
  size_t length = 0;
  while ((*p)[length] != '\0' && !is_separator((*p)[length])) ++length;
  return length;
}

// Appends length bytes of text to out, after a '/' unless out is empty. False when out of memory.
bool append_component(CStringBufferA& out, const char* text, size_t length) {
  const size_t had = static_cast<size_t>(out.Length());
  const size_t needed = had + (had != 0 ? 1 : 0) + length;
  if (needed >= static_cast<size_t>(INT32_MAX) || !out.Reserve(static_cast<int32_t>(needed + 1))) {
    return false;
  }
  char* end = out.Data() + had;
  if (had != 0) *end++ = '/';
  std::memcpy(end, text, length);
  end[length] = '\0';
  out.SetLength(static_cast<int32_t>(needed));
  return true;
}

}  // namespace

bool relative_path(const char* from, const char* to, CStringBufferA& out) {
  out.Assign("");
  const size_t fromRoot = root_length(from);
  const size_t toRoot = root_length(to);
  if (!same_root(from, fromRoot, to, toRoot)) return false;
  const char* a = from + fromRoot;
  const char* b = to + toRoot;
  size_t aLength = next_component(&a);
  size_t bLength = next_component(&b);
  while (aLength != 0 && aLength == bLength && std::memcmp(a, b, aLength) == 0) {
    a += aLength;
    b += bLength;
    aLength = next_component(&a);
    bLength = next_component(&b);
  }
  for (; aLength != 0; a += aLength, aLength = next_component(&a)) {
    if (!append_component(out, "..", 2)) {
      out.Assign("");
      return false;
    }
  }
  for (; bLength != 0; b += bLength, bLength = next_component(&b)) {
    if (!append_component(out, b, bLength)) {
      out.Assign("");
      return false;
    }
  }
  return true;
}

bool Stack::Build(const StackMod* mods, uint32_t count) {
  uint32_t total = 0;
  for (uint32_t m = 0; m < count; ++m) total += mods[m].context.entries.count();
  if (!firstPlace_.allocate(count) || (total != 0 && !places_.allocate(total)) ||
      !files_.Reserve(total)) {
    return false;
  }
  // The last mod loaded comes first.
  uint32_t place = 1;
  for (uint32_t m = count; m-- > 0;) {
    firstPlace_[m] = place;
    for (const PackFileEntry* file = mods[m].context.entries.head(); file != nullptr;
         file = file->next) {
      PackFileEntry* copy = copy_file(*file);
      if (copy == nullptr) return false;
      if (!files_.Append(copy)) {
        PackFileEntryList::Discard(copy);
        return false;
      }
      places_[place - 1] = {m, file};
      ++place;
    }
  }
  mark_shadowed_entries(files_);
  return FindConflicts();
}

bool Stack::FindConflicts() {
  const uint32_t count = files_.count();
  if (count == 0) return true;
  TCountedArray<FileKey> keys;
  if (!keys.allocate(count)) return false;
  uint32_t k = 0;
  for (const PackFileEntry* file = files_.head(); file != nullptr; file = file->next) {
    keys[k++] = {file->nameId, file->extId, file};
  }
  std::sort(&keys[0], &keys[0] + count);
  // Counted first, then recorded: two passes over the same runs.
  uint32_t found = 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1 && found != 0 && !conflicts_.allocate(found)) return false;
    found = 0;
    for (uint32_t start = 0; start < count;) {
      uint32_t end = start;
      while (end < count && keys[end].nameId == keys[start].nameId &&
             keys[end].extId == keys[start].extId) {
        ++end;
      }
      for (uint32_t l = start + 1; l < end; ++l) {
        const PackFileEntry& loser = *keys[l].file;
        for (uint32_t w = start; w < l; ++w) {
          const PackFileEntry& winner = *keys[w].file;
          // A winner that is shadowed itself wins nothing: the file shadowing it is the winner.
          if (winner.shadowedBy != 0 || !overlap(winner, loser) ||
              place(winner.index).mod == place(loser.index).mod) {
            continue;
          }
          if (pass == 1) {
            StackConflict& conflict = conflicts_[found];
            conflict.winner = winner.index;
            conflict.loser = loser.index;
            conflict.shadowed = loser.shadowedBy != 0;
          }
          ++found;
        }
      }
      start = end;
    }
  }
  if (found != 0) {
    std::sort(&conflicts_[0], &conflicts_[0] + found,
              [](const StackConflict& a, const StackConflict& b) {
                return a.loser != b.loser ? a.loser < b.loser : a.winner < b.winner;
              });
  }
  return true;
}
