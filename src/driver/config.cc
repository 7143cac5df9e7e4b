#include "driver/config.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/name_hash.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "json/json_key_table.h"
#include "json/json_reader.h"
#include "json/json_stores.h"
#include "json/json_value.h"

namespace {

const char* const kTopLevelKeys[] = {"upak", "fullcopy", "files"};
const char* const kFileKeys[] = {"name", "ext",     "src",    "pkg",
                                 "meta", "name_id", "ext_id", "pkg_id"};

// Reads the whole file into text, NUL-terminated. One read request into one block of size + 1.
bool read_config_text(const char* path, const char* srcDir, CStringBufferA& text, Status* status) {
  ScopedFile file(open_file(path, "r"));
  if (!file.is_open()) {
    const uint32_t error = sys_last_error();
    if (!sys_file_exists(srcDir)) {
      status->FailAt(StatusCode::kNotFound, srcDir, "the mod directory does not exist");
    } else {
      status->FailIo("cannot read", path, error);
    }
    return false;
  }
  const uint64_t size = file_size(file.get());
  if (size == kBadPosition) {
    status->FailIo("cannot read", path);
    return false;
  }
  if (size >= static_cast<uint64_t>(INT32_MAX)) {
    status->FailAt(StatusCode::kUnsupported, path, "the file is larger than 2 GiB");
    return false;
  }
  const uint32_t length = static_cast<uint32_t>(size);
  if (!text.Reserve(static_cast<int32_t>(length + 1))) {
    status->FailOutOfMemory();
    return false;
  }
  if (file_read(file.get(), text.Data(), length) != length) {
    status->FailIo("cannot read", path);
    return false;
  }
  text.Data()[length] = '\0';
  text.SetLength(static_cast<int32_t>(length));
  return true;
}

// srcDir followed by a relative path, with nothing added or normalised. False when out of memory.
bool store_source_path(SharedString& target, CStringBufferA& path, const RunContext& context,
                       const char* relative) {
  const uint32_t dirLength = context.srcDir.Length();
  const size_t relativeLength = std::strlen(relative);
  if (relativeLength > static_cast<size_t>(INT32_MAX) - 1 - dirLength ||
      !path.Reserve(static_cast<int32_t>(dirLength + relativeLength + 1))) {
    return false;
  }
  std::memcpy(path.Data(), context.srcDir.Text(), dirLength);
  std::memcpy(path.Data() + dirLength, relative, relativeLength + 1);
  path.SetLength(static_cast<int32_t>(dirLength + relativeLength));
  target.Assign(path);
  return !target.IsEmpty();
}

// How an element of "files" is taken, and for each way it fails, the loader's line on standard
// output and the reason told on standard error, in one table.
enum class EntryResult {
  kOk,
  kNotAnObject,
  kMissingName,
  kNameTwice,
  kBadNameId,
  kMissingExt,
  kExtTwice,
  kBadExtId,
  kMissingSrc,
  kPkgTwice,
  kBadPkgId,
  kOutOfMemory
};

struct EntryFailure {
  // Null: none of the loader's own; the driver's "Failed to load config." says it.
  const char* line;
  const char* reason;  // after "file N of \"files\" "; null: out of memory, told as such
};

const EntryFailure kEntryFailures[] = {
    {nullptr, nullptr},                           // kOk
    {"Missing name.\n", "is not an object"},      // kNotAnObject
    {"Missing name.\n", "has no \"name\" text"},  // kMissingName
    {"Missing name.\n", "has both \"name\" and \"name_id\"; give one of them"},
    {"Missing name.\n", "has a \"name_id\" that is not 16 hexadecimal digits"},
    {"Missing ext.\n", "has no \"ext\" text"},  // kMissingExt
    {"Missing ext.\n", "has both \"ext\" and \"ext_id\"; give one of them"},
    {"Missing ext.\n", "has an \"ext_id\" that is not 16 hexadecimal digits"},
    {"Missing src.\n", "has no \"src\" text"},  // kMissingSrc
    // "pkg" is optional, and the loader has no line of its own for these.
    {nullptr, "has both \"pkg\" and \"pkg_id\"; give one of them"},
    {nullptr, "has a \"pkg_id\" that is not 16 hexadecimal digits"},
    {"Out of memory.\n", nullptr},  // kOutOfMemory
};

const EntryFailure& entry_failure(EntryResult result) {
  return kEntryFailures[static_cast<int>(result)];
}

// The keys of an element of "files", interned once for the whole array. GetMemberString interns
// its key anew on every call, which for tens of thousands of files cost more than the rest of
// the load together.
struct EntryKeys {
  JsonKey name{JsonKeys, "name"};
  JsonKey ext{JsonKeys, "ext"};
  JsonKey src{JsonKeys, "src"};
  JsonKey pkg{JsonKeys, "pkg"};
  JsonKey meta{JsonKeys, "meta"};
  JsonKey nameId{JsonKeys, "name_id"};
  JsonKey extId{JsonKeys, "ext_id"};
  JsonKey pkgId{JsonKeys, "pkg_id"};
};

// The value of the first member with a key already interned; null when there is none (also when
// the element is not an Object, or the key could not be interned and so matches no member).
const JsonValue* member_value(const JsonValue& element, const JsonKey& key) {
  if (element.type != JsonType::Object || key.Get() == nullptr) return nullptr;
  for (const JsonMember* member = element.FirstMember(); member != nullptr; member = member->next) {
    if (member->key == key.Get()) return member->value.Get();
  }
  return nullptr;
}

// What GetMemberString(key, nullptr) gives, for a key already interned: the text of the first
// member with that key when it is a String, otherwise null.
const char* member_text(const JsonValue& element, const JsonKey& key) {
  const JsonValue* value = member_value(element, key);
  return value != nullptr && value->type == JsonType::String ? value->Text() : nullptr;
}

// An id as the reports print it: a String of exactly 16 hexadecimal digits, in either case.
bool parse_id(const JsonValue* value, uint64_t* id) {
  if (value == nullptr || value->type != JsonType::String) return false;
  const char* text = value->Text();
  uint64_t parsed = 0;
  for (int i = 0; i < 16; ++i) {
    const char c = text[i];
    uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint64_t>(c - 'A' + 10);
    } else {
      return false;
    }
    parsed = parsed << 4 | digit;
  }
  if (text[16] != '\0') return false;
  *id = parsed;
  return true;
}

// One of the pairs "name" and "name_id", "ext" and "ext_id", "pkg" and "pkg_id": the text of the
// first, whose name_hash is the id, or the id the second gives as it is.
enum class IdSource { kText, kId, kNeither, kBoth, kBadId };

IdSource read_id(const JsonValue& element, const JsonKey& textKey, const JsonKey& idKey,
                 const char** text, uint64_t* id) {
  const JsonValue* textValue = member_value(element, textKey);
  const JsonValue* idValue = member_value(element, idKey);
  *text = member_text(element, textKey);
  if (textValue != nullptr && idValue != nullptr) return IdSource::kBoth;
  if (idValue != nullptr) return parse_id(idValue, id) ? IdSource::kId : IdSource::kBadId;
  if (*text == nullptr) return IdSource::kNeither;
  *id = name_hash(*text);
  return IdSource::kText;
}

// What a pair's failures are: neither of the two given (kOk for the optional "pkg"), both given,
// and an id that is none.
struct PairFailures {
  EntryResult neither;
  EntryResult both;
  EntryResult badId;
};

EntryResult pair_result(IdSource source, const PairFailures& failures) {
  switch (source) {
    case IdSource::kNeither:
      return failures.neither;
    case IdSource::kBoth:
      return failures.both;
    case IdSource::kBadId:
      return failures.badId;
    default:
      return EntryResult::kOk;
  }
}

// Fills entry from one element of "files"; the checks run in this order.
EntryResult read_entry(const JsonValue& element, const EntryKeys& keys, const RunContext& context,
                       CStringBufferA& path, PackFileEntry& entry) {
  if (element.type != JsonType::Object) return EntryResult::kNotAnObject;
  const char* name = nullptr;
  EntryResult result =
      pair_result(read_id(element, keys.name, keys.nameId, &name, &entry.nameId),
                  {EntryResult::kMissingName, EntryResult::kNameTwice, EntryResult::kBadNameId});
  if (result != EntryResult::kOk) return result;

  const char* ext = nullptr;
  result = pair_result(read_id(element, keys.ext, keys.extId, &ext, &entry.extId),
                       {EntryResult::kMissingExt, EntryResult::kExtTwice, EntryResult::kBadExtId});
  if (result != EntryResult::kOk) return result;

  const char* src = member_text(element, keys.src);
  if (src == nullptr) return EntryResult::kMissingSrc;
  if (!store_source_path(entry.sourcePath, path, context, src)) return EntryResult::kOutOfMemory;

  // An empty "pkg" hashes to 0, which is the same as no restriction; so does a "pkg" that is no
  // text, as before "pkg_id" was known.
  const char* pkg = nullptr;
  result = pair_result(read_id(element, keys.pkg, keys.pkgId, &pkg, &entry.packageId),
                       {EntryResult::kOk, EntryResult::kPkgTwice, EntryResult::kBadPkgId});
  if (result != EntryResult::kOk) return result;

  const char* meta = member_text(element, keys.meta);
  if (meta != nullptr && !store_source_path(entry.metaPath, path, context, meta)) {
    return EntryResult::kOutOfMemory;
  }

  // Kept for messages only; a copy that fails leaves the text empty, as does an id given.
  entry.name.Assign(name);
  entry.ext.Assign(ext);
  entry.pkg.Assign(pkg);
  return EntryResult::kOk;
}

// The number of single-character insertions, deletions, substitutions and swaps of neighbours
// that turn a into b, counted up to 3 (anything further apart is "3").
uint32_t edit_distance(const char* a, const char* b) {
  const size_t m = std::strlen(a);
  const size_t n = std::strlen(b);
  if (m > n + 2 || n > m + 2 || n > 16) return 3;
  // Three rows of the usual table suffice: the swap looks two rows back.
  uint32_t rows[3][17];
  for (size_t j = 0; j <= n; ++j) rows[0][j] = static_cast<uint32_t>(j);
  for (size_t i = 1; i <= m; ++i) {
    uint32_t* row = rows[i % 3];
    const uint32_t* previous = rows[(i - 1) % 3];
    row[0] = static_cast<uint32_t>(i);
    for (size_t j = 1; j <= n; ++j) {
      const uint32_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      uint32_t best = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        best = std::min(best, rows[(i - 2) % 3][j - 2] + 1);
      }
      row[j] = best;
    }
  }
  return std::min<uint32_t>(rows[m % 3][n], 3);
}

// The first key of object that is one or two edits away from wanted; null when none is.
const char* closest_key(const JsonValue& object, const char* wanted) {
  for (const JsonMember* member = object.FirstMember(); member != nullptr; member = member->next) {
    if (member->key != nullptr && edit_distance(member->key, wanted) < 3) return member->key;
  }
  return nullptr;
}

// Warns about every member of object whose key is not one of known, with the known key it is
// closest to when that is one or two edits away.
template <size_t N>
void warn_unknown_keys(const JsonValue& object, const char* const (&known)[N], const char* where,
                       uint32_t index, const char* path, WarningList& warnings) {
  if (object.type != JsonType::Object) return;
  for (const JsonMember* member = object.FirstMember(); member != nullptr; member = member->next) {
    const char* key = member->key != nullptr ? member->key : "";
    bool isKnown = false;
    for (const char* candidate : known) isKnown = isKnown || std::strcmp(key, candidate) == 0;
    if (isKnown) continue;
    const char* closest = nullptr;
    uint32_t distance = 3;
    for (const char* candidate : known) {
      const uint32_t d = edit_distance(key, candidate);
      if (d < distance) {
        distance = d;
        closest = candidate;
      }
    }
    CStringBufferA place;
    if (index == 0) {
      place.Assign(where);
    } else {
      place.Format("in file %u of \"files\"", index);
    }
    if (closest != nullptr) {
      warnings.Add("\"%s\": unknown key \"%s\" %s; did you mean \"%s\"?", path, key, place.Data(),
                   closest);
    } else {
      warnings.Add("\"%s\": unknown key \"%s\" %s is ignored", path, key, place.Data());
    }
  }
}

// Warns when "fullcopy" is there but is neither true nor false, saying what it was taken as.
void warn_loose_fullcopy(const JsonValue& document, bool taken, const char* path,
                         WarningList& warnings) {
  const JsonRef value = document.FindMember("fullcopy");
  if (value.IsEmpty() || value.Get() == &JsonNull || value->type == JsonType::Bool) return;
  CStringBufferA shown;
  switch (value->type) {
    case JsonType::String:
      shown.Format("\"%s\"", value->Text());
      break;
    case JsonType::Number:
      shown.Format("%g", value->payload.number);
      break;
    case JsonType::Object:
      shown.Assign("an object");
      break;
    case JsonType::Array:
      shown.Assign("a list");
      break;
    default:
      shown.Assign("null");
      break;
  }
  warnings.Add("\"%s\": \"fullcopy\" is %s, which is neither true nor false; it was taken as %s",
               path, shown.Data(), taken ? "true" : "false");
}

// A configured file's ids and place, sorted so that entries with the same name and ext come
// together, those for every package first, then by "pkg", each in configuration order.
struct EntryKey {
  uint64_t nameId;
  uint64_t extId;
  uint64_t packageId;
  uint32_t index;
  PackFileEntry* entry;

  bool operator<(const EntryKey& other) const {
    if (nameId != other.nameId) return nameId < other.nameId;
    if (extId != other.extId) return extId < other.extId;
    if (packageId != other.packageId) return packageId < other.packageId;
    return index < other.index;
  }
};

// A configured file's name, ext and pkg as the warnings show them, "\"hero\" \"dds\", pkg \"ui\"":
// each text as vintrel.json gives it, or the id it gives instead ("name_id fa3aa6289bc5b513").
void describe_file(const PackFileEntry& entry, CStringBufferA& out) {
  struct Part {
    const SharedString& text;
    uint64_t id;
    const char* idKey;
  };
  const Part parts[] = {{entry.name, entry.nameId, "name_id"},
                        {entry.ext, entry.extId, "ext_id"},
                        {entry.pkg, entry.packageId, "pkg_id"}};
  out.Assign("");
  for (size_t i = 0; i < 3; ++i) {
    const Part& part = parts[i];
    const bool pkg = i == 2;
    if (pkg && part.text.IsEmpty() && part.id == 0) break;
    CStringBufferA joined;
    const char* before = i == 0 ? "" : pkg ? ", " : " ";
    if (!part.text.IsEmpty()) {
      joined.Format("%s%s%s\"%s\"", out.Data(), before, pkg ? "pkg " : "", part.text.Text());
    } else {
      joined.Format("%s%s%s %016llx", out.Data(), before, part.idKey,
                    static_cast<unsigned long long>(part.id));
    }
    out.Assign(joined.Data());
  }
}

void warn_shadowed_entries(const PackFileEntryList& entries, const char* path,
                           WarningList& warnings) {
  CStringBufferA described;
  for (const PackFileEntry* entry = entries.head(); entry != nullptr; entry = entry->next) {
    if (entry->shadowedBy == 0) continue;
    describe_file(*entry, described);
    warnings.Add(
        "\"%s\": file %u of \"files\" (%s) can never be used: file %u comes first and takes "
        "every entry this one could replace",
        path, entry->index, described.Data(), entry->shadowedBy);
  }
}

// At most this many configured files that replaced nothing are named one by one.
constexpr uint32_t kUnusedNamed = 20;

}  // namespace

void report_config_line(const char* format, const char* text) { report_error(format, text); }

void mark_shadowed_entries(PackFileEntryList& entries) {
  const uint32_t count = entries.count();
  TCountedArray<EntryKey> keys;
  if (!keys.allocate(count)) return;  // only warnings depend on this
  uint32_t k = 0;
  for (PackFileEntry* entry = entries.head(); entry != nullptr; entry = entry->next, ++k) {
    keys[k] = {entry->nameId, entry->extId, entry->packageId, entry->index, entry};
  }
  std::sort(&keys[0], &keys[0] + count);
  for (uint32_t start = 0; start < count;) {
    // One run of the same name and ext; a generic entry (packageId 0) sorts first.
    uint32_t end = start;
    while (end < count && keys[end].nameId == keys[start].nameId &&
           keys[end].extId == keys[start].extId) {
      ++end;
    }
    const uint32_t generic = keys[start].packageId == 0 ? keys[start].index : 0;
    uint32_t firstOfPackage = 0;
    for (uint32_t i = start; i < end; ++i) {
      if (i == start || keys[i].packageId != keys[i - 1].packageId) {
        firstOfPackage = keys[i].index;
      }
      uint32_t winner = firstOfPackage != keys[i].index ? firstOfPackage : 0;
      if (generic != 0 && generic < keys[i].index && (winner == 0 || generic < winner)) {
        winner = generic;
      }
      keys[i].entry->shadowedBy = winner;
    }
    start = end;
  }
}

bool load_config(const char* path, RunContext& context, ConfigLine say) {
  Status& status = context.failure;
  CStringBufferA text;
  if (!read_config_text(path, context.srcDir.Text(), text, &status)) {
    say("Failed to read \"%s\".\n", path);
    return false;
  }

  JsonError error;
  JsonRef document = JsonParse(text.Data(), &error);
  if (document.IsEmpty()) {
    status.FailAt(StatusCode::kCorrupt, path, "%s", error.what);
    status.SetTextPosition(error.line, error.column);
    say("Failed to parse \"%s\".\n", text.Data());
    return false;
  }
  if (document->type != JsonType::Object) {
    status.FailAt(StatusCode::kCorrupt, path, "the top level is a list, not an object");
    say("%s", "Expected object element.\n");
    return false;
  }

  const char* upak = document->GetMemberString("upak", "user");
  context.userPackage.Assign(upak);
  if (context.userPackage.IsEmpty() && upak[0] != '\0') {
    status.FailOutOfMemory();
    say("%s", "Out of memory.\n");
    return false;
  }
  context.fullCopy = document->GetMemberBool("fullcopy");

  JsonRef files = document->FindMember("files");
  if (files.Get() == &JsonNull) {
    const char* closest = closest_key(*document.Get(), "files");
    if (closest != nullptr) {
      status.FailAt(StatusCode::kCorrupt, path, "there is no \"files\" list (did you mean \"%s\"?)",
                    closest);
    } else {
      status.FailAt(StatusCode::kCorrupt, path, "there is no \"files\" list");
    }
    say("%s", "Missing files.\n");
    return false;
  }
  if (files.IsEmpty() || files->type != JsonType::Array) {
    status.FailAt(StatusCode::kCorrupt, path, "\"files\" is not a list");
    say("%s", "Expected array element.\n");
    return false;
  }

  // The index of the configured files takes its room once for the whole array. When it cannot,
  // each append grows it and reports running out of memory where the configuration says so.
  uint32_t total = 0;
  for (const JsonMember* member = files->FirstMember(); member != nullptr; member = member->next) {
    ++total;
  }
  context.entries.Reserve(total);

  // The file's text is no longer needed: its buffer now formats the entries' paths.
  uint32_t count = 0;
  const EntryKeys keys;
  for (const JsonMember* member = files->FirstMember(); member != nullptr; member = member->next) {
    PackFileEntry* entry = PackFileEntryList::NewEntry();
    if (entry == nullptr) {
      status.FailOutOfMemory();
      say("%s", "Out of memory.\n");
      return false;
    }
    const JsonRef element = member->GetValue();
    const EntryResult result = read_entry(*element.Get(), keys, context, text, *entry);
    if (result != EntryResult::kOk) {
      PackFileEntryList::Discard(entry);
      const EntryFailure& failure = entry_failure(result);
      if (failure.reason == nullptr) {
        status.FailOutOfMemory();
      } else {
        status.FailAt(StatusCode::kCorrupt, path, "file %u of \"files\" %s", count + 1,
                      failure.reason);
      }
      if (failure.line != nullptr) say("%s", failure.line);
      return false;
    }
    if (!context.entries.Append(entry)) {
      PackFileEntryList::Discard(entry);
      status.FailOutOfMemory();
      say("%s", "Out of memory.\n");
      return false;
    }
    ++count;
  }

  WarningList& warnings = context.warnings;
  CStringBufferA shown;
  sys_native_path(path, shown);
  warn_unknown_keys(*document.Get(), kTopLevelKeys, "at the top level", 0, shown.Data(), warnings);
  warn_loose_fullcopy(*document.Get(), context.fullCopy, shown.Data(), warnings);
  uint32_t index = 0;
  for (const JsonMember* member = files->FirstMember(); member != nullptr; member = member->next) {
    warn_unknown_keys(*member->value.Get(), kFileKeys, "", ++index, shown.Data(), warnings);
  }
  mark_shadowed_entries(context.entries);
  warn_shadowed_entries(context.entries, shown.Data(), warnings);
  return true;
}

void warn_unused_entries(RunContext& context, const UsedFiles& used) {
  uint32_t unused = 0;
  for (const PackFileEntry* entry = context.entries.head(); entry != nullptr; entry = entry->next) {
    if (used.Used(*entry) || entry->shadowedBy != 0) continue;
    if (++unused > kUnusedNamed) continue;
    CStringBufferA described;
    describe_file(*entry, described);
    context.warnings.Add("file %u of \"files\" (%s) replaced no entry in any package", entry->index,
                         described.Data());
  }
  if (unused > kUnusedNamed) {
    context.warnings.Add("%u more configured files replaced no entry in any package",
                         unused - kUnusedNamed);
  }
}
