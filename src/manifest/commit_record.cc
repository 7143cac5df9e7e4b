#include "manifest/commit_record.h"

#include <zlib.h>

#include <cstring>

#include "base/ascii.h"
#include "base/coding.h"
#include "base/file.h"

namespace {

constexpr uint8_t kMagic[4] = {'V', 'C', 'M', 'T'};
constexpr uint32_t kVersion = 1;
// The magic, the version and the entry count; the check value follows the entries.
constexpr uint32_t kHeadSize = 12;
constexpr uint32_t kCheckSize = 4;
// An entry's action, size, check value and name length, before the name.
constexpr uint32_t kEntryHead = 1 + 8 + 4 + 2;
constexpr uint32_t kMaxNameLength = 0xFFFF;

uint32_t crc_of(uint32_t crc, const uint8_t* bytes, uint32_t length) {
  return static_cast<uint32_t>(crc32(crc, bytes, length));
}

// A name that stays in the game directory: not empty, no separator or drive, not "." or "..".
bool is_plain_name(const char* name, uint32_t length) {
  if (length == 0 || std::memchr(name, '\0', length) != nullptr) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (name[i] == '\\' || name[i] == '/' || name[i] == ':') return false;
  }
  return !(length == 1 && name[0] == '.') && !(length == 2 && name[0] == '.' && name[1] == '.');
}

bool corrupt(Status* status, const char* what) {
  status->Fail(StatusCode::kCorrupt, "not a whole commit record: %s", what);
  return false;
}

}  // namespace

const char* CommitRecord::name(uint32_t i) const {
  return reinterpret_cast<const char*>(names_.data()) + entries_[i].nameAt;
}

void CommitRecord::Clear() {
  entries_.Clear();
  names_.resize(0);
}

bool CommitRecord::Add(CommitAction action, const char* name, uint64_t size, uint32_t check,
                       Status* status) {
  const size_t length = std::strlen(name);
  if (length > kMaxNameLength || !is_plain_name(name, static_cast<uint32_t>(length))) {
    status->Fail(StatusCode::kRefused, "\"%s\" is not a plain file name of the game directory",
                 name);
    return false;
  }
  if (entries_.count() == kMaxCommitEntries) {
    status->Fail(StatusCode::kRefused, "a change names at most %u files", kMaxCommitEntries);
    return false;
  }
  for (uint32_t i = 0; i < entries_.count(); ++i) {
    const char* other = this->name(i);
    if (std::strlen(other) == length && ascii_same_but_case(other, name, length)) {
      status->Fail(StatusCode::kRefused, "\"%s\" is named twice in one change", name);
      return false;
    }
  }
  CommitEntry entry;
  entry.action = action;
  entry.size = action == CommitAction::kReplace ? size : 0;
  entry.check = action == CommitAction::kReplace ? check : 0;
  entry.nameAt = names_.length();
  ByteWriter writer(names_);
  if (!writer.write_bytes(name, static_cast<uint32_t>(length)) || !writer.write_u8(0) ||
      !entries_.Append(entry)) {
    names_.resize(entry.nameAt);
    return status->FailOutOfMemory();
  }
  return true;
}

bool CommitRecord::Encode(ByteBuffer& out) const {
  out.resize(0);
  ByteWriter writer(out);
  if (!writer.write_bytes(kMagic, sizeof kMagic) || !writer.write_u32(kVersion) ||
      !writer.write_u32(entries_.count())) {
    return false;
  }
  for (uint32_t i = 0; i < entries_.count(); ++i) {
    const CommitEntry& entry = entries_[i];
    const uint32_t length = static_cast<uint32_t>(std::strlen(name(i)));
    if (!writer.write_u8(static_cast<uint8_t>(entry.action)) || !writer.write_u64(entry.size) ||
        !writer.write_u32(entry.check) || !writer.write_u16(static_cast<uint16_t>(length)) ||
        !writer.write_bytes(name(i), length)) {
      return false;
    }
  }
  return writer.write_u32(crc_of(0, out.data(), out.length()));
}

bool CommitRecord::Decode(const ByteBuffer& bytes, Status* status) {
  Clear();
  const uint32_t length = bytes.length();
  // The size first: the check value must lie where the record says it ends.
  if (length < kHeadSize + kCheckSize) return corrupt(status, "shorter than its 16-byte frame");
  if (length > kMaxCommitRecordSize) return corrupt(status, "larger than any record");
  if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return corrupt(status, "no magic");
  const uint32_t body = length - kCheckSize;
  if (crc_of(0, bytes.data(), body) != decode_u32(bytes.data() + body)) {
    return corrupt(status, "its check value does not match its bytes");
  }
  ByteReader reader(bytes, sizeof kMagic);
  uint32_t version = 0;
  uint32_t count = 0;
  reader.read_u32(&version);
  reader.read_u32(&count);
  if (version != kVersion) return corrupt(status, "an unknown version");
  if (count > kMaxCommitEntries) return corrupt(status, "more entries than a change makes");
  CStringBufferA name;
  for (uint32_t i = 0; i < count; ++i) {
    if (body - reader.position() < kEntryHead) return corrupt(status, "an entry is cut short");
    uint8_t action = 0;
    uint64_t size = 0;
    uint32_t check = 0;
    uint16_t nameLength = 0;
    reader.read_u8(&action);
    reader.read_u64(&size);
    reader.read_u32(&check);
    reader.read_u16(&nameLength);
    if (action != static_cast<uint8_t>(CommitAction::kReplace) &&
        action != static_cast<uint8_t>(CommitAction::kRemove)) {
      return corrupt(status, "an unknown action");
    }
    if (body - reader.position() < nameLength) return corrupt(status, "a name is cut short");
    const uint8_t* text = reader.take_bytes(nameLength);
    if (name.Format("%.*s", static_cast<int>(nameLength), reinterpret_cast<const char*>(text)) <
        0) {
      return status->FailOutOfMemory();
    }
    // A NUL in the name would end it early: the name must be all there is.
    if (static_cast<uint32_t>(name.Length()) != nameLength) {
      return corrupt(status, "a name that is no plain file name");
    }
    Status refused;
    if (!Add(static_cast<CommitAction>(action), name.Data(), size, check, &refused)) {
      if (refused.code() == StatusCode::kOutOfMemory) return status->FailOutOfMemory();
      return corrupt(status, "a name that is no plain file name, or one named twice");
    }
  }
  if (reader.position() != body) return corrupt(status, "bytes after its last entry");
  return true;
}

bool file_check(FileHandle file, uint64_t size, const char* path, uint32_t* check, Status* status) {
  uint8_t piece[kCheckPiece];
  uint32_t crc = crc_of(0, nullptr, 0);
  const uint64_t stride = size <= kCheckWholeLimit ? kCheckPiece : kCheckStride;
  const uint64_t last = size > kCheckPiece ? size - kCheckPiece : 0;
  for (uint64_t at = 0; at < size;) {
    const uint32_t want = size - at < kCheckPiece ? static_cast<uint32_t>(size - at) : kCheckPiece;
    uint32_t got = 0;
    while (got < want) {
      const uint32_t n = file_read_at(file, at + got, piece + got, want - got);
      if (n == 0) {
        status->FailIo("cannot read", path);
        return false;
      }
      got += n;
    }
    crc = crc_of(crc, piece, want);
    // Past the last whole stride the last piece follows, however it lines up with the strides.
    if (at < last && at + stride > last) {
      at = last > at + want ? last : at + want;
    } else {
      at += stride;
    }
  }
  *check = crc;
  return true;
}
