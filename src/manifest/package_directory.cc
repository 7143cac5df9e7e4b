#include "manifest/package_directory.h"

#include <cstring>

namespace {

// The smallest encoding of each record, used to hold a declared count against the bytes that are
// left before anything is allocated or looped over for it.
constexpr uint32_t kIdNameRecordMin = 12;
constexpr uint32_t kArchiveRecordMin = 3;
constexpr uint32_t kPackageRecordMin = 26;

bool cut(Status* status, const char* where) {
  status->Fail(StatusCode::kCorrupt, "the package directory ends inside %s", where);
  return false;
}

bool too_many(Status* status, const char* what, uint32_t count) {
  status->Fail(StatusCode::kCorrupt, "the package directory declares %u %s, more than it holds",
               count, what);
  return false;
}

}  // namespace

bool copy_directory_name(const uint8_t* name, uint32_t length, CStringBufferA& text) {
  if (!text.Reserve(static_cast<int32_t>(length) + 1)) return false;
  if (length != 0) std::memcpy(text.Data(), name, length);
  text.Data()[length] = '\0';
  text.SetLength(static_cast<int32_t>(length));
  return true;
}

DirectoryReader::DirectoryReader(const ByteBuffer& section) : section_(section), reader_(section) {}

bool DirectoryReader::ReadHead(Status* status) {
  uint32_t idNameCount = 0;
  if (!reader_.read_u32(&idNameCount) || !reader_.skip(4)) return cut(status, "its header");
  if (idNameCount > reader_.remaining() / kIdNameRecordMin) {
    return too_many(status, "id names", idNameCount);
  }
  for (uint32_t i = 0; i < idNameCount; ++i) {
    uint32_t length = 0;
    if (!reader_.skip(8) || !reader_.read_u32(&length) || !reader_.skip(length)) {
      return cut(status, "an id name");
    }
  }
  idNamesEnd_ = reader_.position();

  uint32_t archiveCount = 0;
  if (!reader_.read_u32(&archiveCount)) return cut(status, "the archive list");
  if (archiveCount > reader_.remaining() / kArchiveRecordMin) {
    return too_many(status, "archives", archiveCount);
  }
  if (!archives_.allocate(archiveCount)) {
    status->FailOutOfMemory();
    return false;
  }
  for (uint32_t i = 0; i < archiveCount; ++i) {
    ArchiveRecord& archive = archives_[i];
    if (!reader_.read_u8(&archive.tag) || !reader_.read_u16(&archive.nameLength)) {
      return cut(status, "the archive list");
    }
    archive.name = reader_.take_bytes(archive.nameLength);
    if (archive.name == nullptr) return cut(status, "the archive list");
  }

  if (!reader_.read_u32(&packageCount_)) return cut(status, "the package count");
  if (packageCount_ > reader_.remaining() / kPackageRecordMin) {
    return too_many(status, "packages", packageCount_);
  }
  return true;
}

bool DirectoryReader::NextPackage(PackageRecord* record, Status* status) {
  if (packagesRead_ >= packageCount_) return cut(status, "the package records");
  record->start = reader_.position();
  uint8_t wordCount = 0;
  if (!reader_.read_u8(&record->nameLength)) return cut(status, "a package record");
  record->name = reader_.take_bytes(record->nameLength);
  // attrWord1 and attrWord2, then the words and attrByte1 before archiveIndex.
  if (record->name == nullptr || !reader_.read_u64(&record->packageId) || !reader_.skip(4) ||
      !reader_.read_u8(&wordCount) || !reader_.skip(2u * wordCount + 1) ||
      !reader_.read_u8(&record->archiveIndex) || !reader_.skip(2) ||
      !reader_.read_u64(&record->offset)) {
    return cut(status, "a package record");
  }
  record->end = reader_.position();
  ++packagesRead_;
  return true;
}
