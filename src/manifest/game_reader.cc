#include "manifest/game_reader.h"

#include <cstring>

#include "manifest/game_files.h"
#include "manifest/manifest_file.h"

namespace {

// Names the manifest file that a failure of its directory concerns, when there is one.
bool name_manifest(const char* path, Status* status) {
  if (path != nullptr) status->SetPath(path);
  return false;
}

}  // namespace

GameReader::GameReader() : directory_(sections_[0]), package_(indexTable_, entryTable_, idBlock_) {}

bool GameReader::Open(const char* dir, const char* manifestName, Status* status) {
  PathBuffer path;
  bool gone = false;
  if (dir_.Format("%s\\", dir) <= 0) return status->FailOutOfMemory();
  view_.Load(dir_.Data());
  if (!view_.Locate(manifestName, path, &gone)) return status->FailOutOfMemory();
  if (gone) {
    status->FailAt(StatusCode::kNotFound, path.Data(),
                   "the interrupted change of the game removes this file");
    return false;
  }
  return load_manifest(sections_, path.Data(), status) && ReadDirectory(path.Data(), status);
}

bool GameReader::Open(const char* dir, const ManifestSections& sections, Status* status) {
  if (dir_.Format("%s\\", dir) <= 0) return status->FailOutOfMemory();
  view_.Load(dir_.Data());
  for (int i = 0; i < ManifestSections::kCount; ++i) {
    if (!sections_[i].assign(sections[i])) return status->FailOutOfMemory();
  }
  return ReadDirectory(nullptr, status);
}

bool GameReader::ReadDirectory(const char* path, Status* status) {
  if (!directory_.ReadHead(status)) return name_manifest(path, status);
  if (!records_.allocate(directory_.package_count()) ||
      !archives_.allocate(directory_.archive_count())) {
    return status->FailOutOfMemory();
  }
  for (uint32_t k = 0; k < records_.count(); ++k) {
    if (!directory_.NextPackage(&records_[k], status)) return name_manifest(path, status);
  }
  return true;
}

bool GameReader::ArchivePath(uint32_t i, CStringBufferA& path) const {
  const ArchiveRecord& record = archive(i);
  CStringBufferA name;
  CStringBufferA fileName;
  bool gone = false;
  return copy_directory_name(record.name, record.nameLength, name) &&
         fileName.Format("%s.upak", name.Data()) > 0 && view_.Locate(fileName.Data(), path, &gone);
}

FileHandle GameReader::Archive(uint32_t i, Status* status) {
  ScopedFile& archive = archives_[i];
  if (archive.is_open()) return archive.get();
  PathBuffer path;
  if (!ArchivePath(i, path)) {
    status->FailOutOfMemory();
    return kNoFile;
  }
  archive.reset(open_file(path.Data(), "r"));
  if (!archive.is_open()) status->FailIo("cannot open archive", path.Data());
  return archive.get();
}

void GameReader::NamePackage(uint32_t k, Status* status) const {
  const PackageRecord& r = record(k);
  CStringBufferA name;
  PathBuffer path;
  if (copy_directory_name(r.name, r.nameLength, name) && r.archiveIndex < archive_count() &&
      ArchivePath(r.archiveIndex, path)) {
    status->SetPackage(name.Data(), path.Data(), r.offset);
  }
}

bool GameReader::ReadPackage(uint32_t k, Status* status) {
  current_ = UINT32_MAX;
  dataAreaRead_ = false;
  const PackageRecord& r = record(k);
  if (r.archiveIndex == kNoArchive) {
    status->Fail(StatusCode::kNotFound, "the package lies in no archive");
    return false;
  }
  if (r.archiveIndex >= archive_count()) {
    status->Fail(StatusCode::kCorrupt, "package record %u names archive %u of a list of %u", k,
                 r.archiveIndex, archive_count());
    return false;
  }
  const FileHandle archive = Archive(r.archiveIndex, status);
  if (archive == kNoFile) return false;
  if (!package_.Read(archive, r.offset, status) ||
      (package_.has_tables() && !package_.ReadEntryTable(status))) {
    NamePackage(k, status);
    return false;
  }
  current_ = k;
  return true;
}

bool GameReader::ReadEntryData(uint32_t e, ByteBuffer& out, Status* status) {
  if (current_ == UINT32_MAX || !package_.has_tables() || e >= package_.entry_count()) {
    status->Fail(StatusCode::kNotFound, "no such entry");
    return false;
  }
  const FileHandle archive = Archive(record(current_).archiveIndex, status);
  if (archive == kNoFile) return false;
  if (package_.split()) {
    if (package_.ReadBlock(archive, package_.entry(e).blockOffset, streams_, out, status))
      return true;
    NamePackage(current_, status);
    return false;
  }
  if (!dataAreaRead_) {
    if (!package_.ReadBlock(archive, package_.header().dataOffset, streams_, dataArea_, status)) {
      NamePackage(current_, status);
      return false;
    }
    // Entry e begins where the entries before it end, in table order.
    if (!starts_.allocate(package_.entry_count())) return status->FailOutOfMemory();
    uint64_t start = 0;
    for (uint32_t i = 0; i < package_.entry_count(); ++i) {
      starts_[i] = start;
      start += package_.entry(i).rawSize;
    }
    dataAreaRead_ = true;
  }
  const uint64_t start = starts_[e];
  const uint32_t size = package_.entry(e).rawSize;
  if (start > dataArea_.length() || size > dataArea_.length() - start) {
    status->Fail(StatusCode::kCorrupt, "entry %u runs past the end of the inflated data area", e);
    NamePackage(current_, status);
    return false;
  }
  if (!out.resize(size)) return status->FailOutOfMemory();
  if (size != 0) std::memcpy(out.data(), dataArea_.data() + start, size);
  return true;
}
