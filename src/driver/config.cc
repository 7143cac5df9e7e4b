#include "driver/config.h"

#include <cstdint>

#include "base/file.h"
#include "base/string_buffer.h"
#include "driver/name_hash.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "json/json_key_table.h"
#include "json/json_reader.h"
#include "json/json_stores.h"
#include "json/json_value.h"

namespace {

// Reads the whole file into text, NUL-terminated. One read request into one block of size + 1.
bool read_config_text(const char* path, CStringBufferA& text) {
  ScopedFile file(open_file(path, "r"));
  if (!file.is_open()) return false;
  const uint64_t size = file_size(file.get());
  if (size == kBadPosition || size >= static_cast<uint64_t>(INT32_MAX)) return false;
  const uint32_t length = static_cast<uint32_t>(size);
  if (!text.Reserve(static_cast<int32_t>(length + 1))) return false;
  if (file_read(file.get(), text.Data(), length) != length) return false;
  text.Data()[length] = '\0';
  text.SetLength(static_cast<int32_t>(length));
  return true;
}

// srcDir followed by a relative path, with nothing added or normalised. False when out of memory.
bool store_source_path(SharedString& target, CStringBufferA& path, const RunContext& context,
                       const char* relative) {
  if (path.Format("%s%s", context.srcDir.Text(), relative) <= 0) return false;
  target.Assign(path);
  return !target.IsEmpty();
}

enum class EntryResult { kOk, kMissingName, kMissingExt, kMissingSrc, kOutOfMemory };

// The keys of an element of "files", interned once for the whole array. GetMemberString interns
// its key anew on every call, which for tens of thousands of files cost more than the rest of
// the load together.
struct EntryKeys {
  JsonKey name{JsonKeys, "name"};
  JsonKey ext{JsonKeys, "ext"};
  JsonKey src{JsonKeys, "src"};
  JsonKey pkg{JsonKeys, "pkg"};
  JsonKey meta{JsonKeys, "meta"};
};

// What GetMemberString(key, nullptr) gives, for a key already interned: the text of the first
// member with that key when it is a String, otherwise null (also when the element is not an
// Object, or the key could not be interned and so matches no member).
const char* member_text(const JsonValue& element, const JsonKey& key) {
  if (element.type != JsonType::Object || key.Get() == nullptr) return nullptr;
  for (const JsonMember* member = element.FirstMember(); member != nullptr; member = member->next) {
    if (member->key != key.Get()) continue;
    const JsonValue* value = member->value.Get();
    return value != nullptr && value->type == JsonType::String ? value->Text() : nullptr;
  }
  return nullptr;
}

// Fills entry from one element of "files"; the checks run in this order.
EntryResult read_entry(const JsonValue& element, const EntryKeys& keys, const RunContext& context,
                       CStringBufferA& path, PackFileEntry& entry) {
  const char* name = member_text(element, keys.name);
  if (name == nullptr) return EntryResult::kMissingName;
  entry.nameId = name_hash(name);

  const char* ext = member_text(element, keys.ext);
  if (ext == nullptr) return EntryResult::kMissingExt;
  entry.extId = name_hash(ext);

  const char* src = member_text(element, keys.src);
  if (src == nullptr) return EntryResult::kMissingSrc;
  if (!store_source_path(entry.sourcePath, path, context, src)) return EntryResult::kOutOfMemory;

  // An empty "pkg" hashes to 0, which is the same as no restriction.
  const char* pkg = member_text(element, keys.pkg);
  if (pkg != nullptr) entry.packageId = name_hash(pkg);

  const char* meta = member_text(element, keys.meta);
  if (meta != nullptr && !store_source_path(entry.metaPath, path, context, meta)) {
    return EntryResult::kOutOfMemory;
  }
  return EntryResult::kOk;
}

const char* entry_message(EntryResult result) {
  switch (result) {
    case EntryResult::kMissingName:
      return "Missing name.\n";
    case EntryResult::kMissingExt:
      return "Missing ext.\n";
    case EntryResult::kMissingSrc:
      return "Missing src.\n";
    default:
      return "Out of memory.\n";
  }
}

}  // namespace

bool load_config(const char* path, RunContext& context) {
  CStringBufferA text;
  if (!read_config_text(path, text)) {
    report_error("Failed to read \"%s\".\n", path);
    return false;
  }

  JsonRef document = JsonParse(text.Data());
  if (document.IsEmpty()) {
    report_error("Failed to parse \"%s\".\n", text.Data());
    return false;
  }
  if (document->type != JsonType::Object) {
    report_error("Expected object element.\n");
    return false;
  }

  const char* upak = document->GetMemberString("upak", "user");
  context.userPackage.Assign(upak);
  if (context.userPackage.IsEmpty() && upak[0] != '\0') {
    report_error("Out of memory.\n");
    return false;
  }
  context.fullCopy = document->GetMemberBool("fullcopy");

  JsonRef files = document->FindMember("files");
  if (files.Get() == &JsonNull) {
    report_error("Missing files.\n");
    return false;
  }
  if (files.IsEmpty() || files->type != JsonType::Array) {
    report_error("Expected array element.\n");
    return false;
  }

  // The index of the configured files takes its room once for the whole array. When it cannot,
  // each append grows it and reports running out of memory where the configuration says so.
  uint32_t count = 0;
  for (const JsonMember* member = files->FirstMember(); member != nullptr; member = member->next) {
    ++count;
  }
  context.entries.Reserve(count);

  // The file's text is no longer needed: its buffer now formats the entries' paths.
  const EntryKeys keys;
  for (const JsonMember* member = files->FirstMember(); member != nullptr; member = member->next) {
    PackFileEntry* entry = PackFileEntryList::NewEntry();
    if (entry == nullptr) {
      report_error("Out of memory.\n");
      return false;
    }
    const JsonRef element = member->GetValue();
    const EntryResult result = read_entry(*element.Get(), keys, context, text, *entry);
    if (result != EntryResult::kOk) {
      PackFileEntryList::Discard(entry);
      report_error("%s", entry_message(result));
      return false;
    }
    if (!context.entries.Append(entry)) {
      PackFileEntryList::Discard(entry);
      report_error("Out of memory.\n");
      return false;
    }
  }
  return true;
}
