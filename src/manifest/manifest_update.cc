#include "manifest/manifest_update.h"

#include <cstdint>
#include <cstring>

#include "base/ascii.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/platform.h"
#include "base/shared_string.h"
#include "base/string_buffer.h"
#include "driver/run_context.h"
#include "manifest/package_directory.h"
#include "package/archive_window.h"
#include "package/package_update.h"

namespace {

constexpr uint8_t kUserArchiveTag = 0xFF;
constexpr uint32_t kMaxNameLength16 = 0xFFFF;
// An ArchiveRecord is its tag (u8) and name length (u16), then the name.
constexpr uint32_t kArchiveRecordHead = 3;

// The length of an archive name as a path sees it: the path is formed from the name as a C
// string, so a NUL ends it.
uint32_t path_length(const uint8_t* name, uint32_t length) {
  const void* nul = std::memchr(name, 0, length);
  return nul == nullptr ? length : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - name);
}

// Whether an archive name and the user archive's name lead to the same file; Windows file names
// ignore case.
bool same_file_name(const ArchiveRecord& archive, const char* text, uint32_t textLength) {
  const uint32_t length = path_length(archive.name, archive.nameLength);
  if (length != textLength) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (ascii_lower(archive.name[i]) != ascii_lower(static_cast<uint8_t>(text[i]))) return false;
  }
  return true;
}

// The user archive's name becomes a file name in the destination directory: it must be one
// name there, not a path that leads elsewhere.
bool is_plain_file_name(const char* name) {
  if (name[0] == '\0') return false;
  if (std::strpbrk(name, "\\/:") != nullptr) return false;
  return std::strstr(name, "..") == nullptr;
}

// Whether Windows takes the name for a device rather than a file: CON, PRN, AUX, NUL, COM1 to
// COM9 and LPT1 to LPT9, in any case, with or without an extension.
bool is_device_name(const char* name) {
  const char* dot = std::strchr(name, '.');
  const size_t length = dot != nullptr ? static_cast<size_t>(dot - name) : std::strlen(name);
  char base[5] = {};
  if (length < 3 || length > 4) return false;
  for (size_t i = 0; i < length; ++i) base[i] = ascii_lower(name[i]);
  for (const char* device : {"con", "prn", "aux", "nul"}) {
    if (std::strcmp(base, device) == 0) return true;
  }
  const bool numbered = std::strncmp(base, "com", 3) == 0 || std::strncmp(base, "lpt", 3) == 0;
  return numbered && length == 4 && base[3] >= '1' && base[3] <= '9';
}

bool refuse(Status* status, const char* what, const char* name) {
  status->Fail(StatusCode::kRefused, what, name);
  return false;
}

// The checks made against the archive list before the user archive is created, so that a
// refused run leaves the destination directory untouched.
bool user_archive_fits(const RunContext& context, const DirectoryReader& directory,
                       Status* status) {
  // Without fullcopy the user archive is appended and must itself get an index below 0xFF.
  if (!context.fullCopy && directory.archive_count() >= kMaxArchives) {
    status->Fail(StatusCode::kRefused,
                 "the game lists %u archives, leaving no archive index for the user archive",
                 directory.archive_count());
    return false;
  }
  // The user archive replaces a file of that name when the run is committed: if it is one of the
  // game's archives, that archive would be destroyed. Names are compared ignoring ASCII case, and
  // files by identity, which catches what spelling cannot (other cases of other letters, 8.3
  // aliases, links).
  PathBuffer userPath;
  PathBuffer archivePath;
  CStringBufferA name;
  if (userPath.Format("%s%s.upak", context.destDir.Text(), context.userPackage.Text()) <= 0) {
    status->Fail(StatusCode::kOutOfMemory, "out of memory");
    return false;
  }
  const bool userExists = sys_file_exists(userPath.Data());
  for (uint32_t i = 0; i < directory.archive_count(); ++i) {
    const ArchiveRecord& archive = directory.archive(i);
    bool same = same_file_name(archive, context.userPackage.Text(), context.userPackage.Length());
    if (!same && userExists) {
      if (!copy_directory_name(archive.name, archive.nameLength, name) ||
          archivePath.Format("%s%s.upak", context.destDir.Text(), name.Data()) <= 0) {
        status->Fail(StatusCode::kOutOfMemory, "out of memory");
        return false;
      }
      same = sys_same_file(userPath.Data(), archivePath.Data());
    }
    if (same) {
      return refuse(status, "\"upak\" \"%s\" names an archive of the game; choose another name",
                    context.userPackage.Text());
    }
  }
  return true;
}

// The directory walk. The members are declared so that the archives are closed before the
// walk ends on every way out; the user archive belongs to the context's pending results.
class DirectoryPass {
 public:
  explicit DirectoryPass(RunContext& context)
      : context_(context),
        status_(&context.failure),
        directory_(context.manifestSections[0]),
        writer_(context.sectionRebuild) {}

  bool Run();

 private:
  bool ReserveRebuild();
  bool CreateUserArchive();
  bool CopyHead();
  bool OpenArchives();
  bool CopyPackage();
  bool UpdatePackage(const PackageRecord& record, uint8_t* archiveIndex, uint64_t* offset);
  void NamePackage(const PackageRecord& record);
  void NamePackageAt(const char* name, uint8_t archiveIndex, uint64_t offset);
  bool WriteRecord(const PackageRecord& record, uint8_t archiveIndex, uint64_t offset);
  bool OutOfMemory();

  RunContext& context_;
  Status* status_;
  DirectoryReader directory_;
  ByteWriter writer_;
  CStringBufferA name_;
  PathBuffer path_;
  TCountedArray<ScopedFile> archives_;
  // One window per archive record: the packages of an archive lie one after another, and those
  // of different archives come in turns.
  TCountedArray<ArchiveWindow> windows_;
  uint8_t userIndex_ = 0;
  bool anyChanged_ = false;
  // The first package that fullcopy would have to leave where it is.
  SharedString passedOver_;
  uint8_t passedOverArchive_ = 0;
  uint64_t passedOverOffset_ = 0;
};

bool DirectoryPass::Run() {
  if (!user_archive_name_is_usable(context_.userPackage.Text(), context_.userPackage.Length(),
                                   status_)) {
    return false;
  }
  // The archive list is read once, before anything is created. A directory that ends early is
  // still a failure of the walk, which comes after the user archive was created.
  const bool headRead = directory_.ReadHead(status_);
  if (headRead && !user_archive_fits(context_, directory_, status_)) return false;

  if (!context_.sectionRebuild.resize(0) || (headRead && !ReserveRebuild())) {
    return OutOfMemory();
  }
  if (!CreateUserArchive() || !headRead) return false;
  if (!CopyHead() || !OpenArchives()) return false;
  for (uint32_t i = 0; i < directory_.package_count(); ++i) {
    if (!CopyPackage()) return false;
  }
  windows_.release();
  archives_.release();

  PendingFile& userArchive = context_.pending.userArchive;
  if (!anyChanged_) {
    userArchive.Discard();
    return true;
  }
  if (!passedOver_.IsEmpty()) {
    status_->Fail(StatusCode::kUnsupported,
                  "with \"fullcopy\" every package is copied, and this one has no tables to copy");
    NamePackageAt(passedOver_.Text(), passedOverArchive_, passedOverOffset_);
    return false;
  }
  // A dry run leaves the directory it would write in sectionRebuild.
  if (context_.dryRun) return true;
  if (!userArchive.Finish(status_)) return false;
  if (!context_.manifestSections[0].assign(context_.sectionRebuild)) {
    return OutOfMemory();
  }
  return true;
}

// The rebuilt directory is the old one with its archive names replaced or one archive record
// added, so its size is known before the walk. Its block is taken once: growing it granule by
// granule would copy the directory of a large game thousands of times.
bool DirectoryPass::ReserveRebuild() {
  const uint64_t userLength = context_.userPackage.Length();
  const uint64_t added =
      context_.fullCopy ? directory_.archive_count() * userLength : kArchiveRecordHead + userLength;
  const uint64_t bound = directory_.section().length() + added;
  // Beyond 32 bits the rebuild fails when it grows there, as any other growth would.
  if (bound > UINT32_MAX) return true;
  return context_.sectionRebuild.reserve(static_cast<uint32_t>(bound));
}

// The user archive is built under a temporary name beside its final one, so that the archive of
// an earlier run stays intact until this run is committed. A dry run creates nothing.
bool DirectoryPass::CreateUserArchive() {
  if (context_.dryRun) return true;
  PathBuffer finalPath;
  if (path_.Format("%s%s.upak.tmp", context_.destDir.Text(), context_.userPackage.Text()) <= 0 ||
      finalPath.Format("%s%s.upak", context_.destDir.Text(), context_.userPackage.Text()) <= 0) {
    return OutOfMemory();
  }
  return context_.pending.userArchive.Create(path_.Data(), finalPath.Data(), status_);
}

// The id names unchanged, then the archive list: with fullcopy every name becomes the user
// archive's, otherwise the user archive is appended.
bool DirectoryPass::CopyHead() {
  const ByteBuffer& section = directory_.section();
  const bool fullCopy = context_.fullCopy;
  const uint32_t archiveCount = directory_.archive_count();
  const uint16_t userLength = static_cast<uint16_t>(context_.userPackage.Length());
  const char* userName = context_.userPackage.Text();
  userIndex_ = fullCopy ? 0 : static_cast<uint8_t>(archiveCount);

  if (!writer_.write_bytes(section.data(), directory_.id_names_end()) ||
      !writer_.write_u32(fullCopy ? archiveCount : archiveCount + 1)) {
    return OutOfMemory();
  }
  for (uint32_t i = 0; i < archiveCount; ++i) {
    const ArchiveRecord& archive = directory_.archive(i);
    const uint16_t length = fullCopy ? userLength : archive.nameLength;
    const void* name = fullCopy ? static_cast<const void*>(userName) : archive.name;
    if (!writer_.write_u8(archive.tag) || !writer_.write_u16(length) ||
        !writer_.write_bytes(name, length)) {
      return OutOfMemory();
    }
  }
  if (!fullCopy && (!writer_.write_u8(kUserArchiveTag) || !writer_.write_u16(userLength) ||
                    !writer_.write_bytes(userName, userLength))) {
    return OutOfMemory();
  }
  return writer_.write_u32(directory_.package_count()) || OutOfMemory();
}

bool DirectoryPass::OutOfMemory() {
  status_->Fail(StatusCode::kOutOfMemory, "out of memory");
  return false;
}

// Every listed archive is opened for reading once and stays open for the whole walk.
bool DirectoryPass::OpenArchives() {
  if (!archives_.allocate(directory_.archive_count()) ||
      !windows_.allocate(directory_.archive_count())) {
    return OutOfMemory();
  }
  for (uint32_t i = 0; i < directory_.archive_count(); ++i) {
    const ArchiveRecord& archive = directory_.archive(i);
    if (!copy_directory_name(archive.name, archive.nameLength, name_) ||
        path_.Format("%s%s.upak", context_.destDir.Text(), name_.Data()) <= 0) {
      status_->Fail(StatusCode::kOutOfMemory, "out of memory");
      return false;
    }
    archives_[i].reset(open_file(path_.Data(), "r"));
    if (!archives_[i].is_open()) {
      status_->FailIo("cannot open archive", path_.Data());
      return false;
    }
    windows_[i].Reset(archives_[i].get());
  }
  return true;
}

bool DirectoryPass::CopyPackage() {
  PackageRecord record;
  if (!directory_.NextPackage(&record, status_)) return false;
  uint8_t archiveIndex = record.archiveIndex;
  uint64_t offset = record.offset;
  if (archiveIndex != kNoArchive) {
    // The handle array has no entry beyond the archive list.
    if (archiveIndex >= directory_.archive_count()) {
      status_->Fail(StatusCode::kCorrupt, "package record %u names archive %u of a list of %u",
                    directory_.packages_read() - 1, archiveIndex, directory_.archive_count());
      return false;
    }
    if (!UpdatePackage(record, &archiveIndex, &offset)) {
      NamePackage(record);
      return false;
    }
  }
  return WriteRecord(record, archiveIndex, offset);
}

// Hands the record's package to the package update; when it moved, *archiveIndex and *offset
// become its place in the user archive.
bool DirectoryPass::UpdatePackage(const PackageRecord& record, uint8_t* archiveIndex,
                                  uint64_t* offset) {
  if (!copy_directory_name(record.name, record.nameLength, name_)) {
    return OutOfMemory();
  }
  bool changed = false;
  uint64_t newOffset = 0;
  if (!update_package(context_, name_.Data(), record.packageId, windows_[record.archiveIndex],
                      record.offset, context_.pending.userArchive.file(), &changed, &newOffset)) {
    return false;
  }
  if (changed) {
    anyChanged_ = true;
    *offset = newOffset;
    *archiveIndex = userIndex_;
  } else if (context_.fullCopy && passedOver_.IsEmpty()) {
    // With fullcopy every archive name becomes the user archive's, so a package left where it
    // was would be looked for in the user archive at its old offset. That matters only when the
    // new directory is used, that is when some package is written; the first such package is
    // remembered for the message.
    passedOver_.Assign(name_.Data());
    passedOverArchive_ = record.archiveIndex;
    passedOverOffset_ = record.offset;
  }
  return true;
}

// Adds to a failure which package it concerns and where that lies, unless it names a file of
// its own (a configured file, say).
void DirectoryPass::NamePackage(const PackageRecord& record) {
  CStringBufferA packageName;
  if (copy_directory_name(record.name, record.nameLength, packageName)) {
    NamePackageAt(packageName.Data(), record.archiveIndex, record.offset);
  }
}

void DirectoryPass::NamePackageAt(const char* name, uint8_t archiveIndex, uint64_t offset) {
  const ArchiveRecord& archive = directory_.archive(archiveIndex);
  CStringBufferA archiveName;
  if (copy_directory_name(archive.name, archive.nameLength, archiveName) &&
      path_.Format("%s%s.upak", context_.destDir.Text(), archiveName.Data()) > 0) {
    status_->SetPackage(name, path_.Data(), offset);
  }
}

// The record as read, but for archiveIndex and offset.
bool DirectoryPass::WriteRecord(const PackageRecord& record, uint8_t archiveIndex,
                                uint64_t offset) {
  const uint8_t* bytes = directory_.section().data() + record.start;
  const uint32_t length = record.end - record.start;
  const uint32_t archiveIndexAt = length - kArchiveIndexFromEnd;
  if (writer_.write_bytes(bytes, archiveIndexAt) && writer_.write_u8(archiveIndex) &&
      writer_.write_bytes(bytes + archiveIndexAt + 1, kArchiveIndexFromEnd - 1 - kOffsetFromEnd) &&
      writer_.write_u64(offset)) {
    return true;
  }
  return OutOfMemory();
}

}  // namespace

bool update_manifest(RunContext& context) {
  DirectoryPass pass(context);
  return pass.Run();
}

bool user_archive_name_is_usable(const char* name, uint32_t length, Status* status) {
  if (length > kMaxNameLength16) {
    return refuse(status, "\"upak\" is longer than the 65535 bytes an archive name can hold%s", "");
  }
  if (!is_plain_file_name(name)) {
    return refuse(status,
                  "\"upak\" \"%s\" is not a plain file name (empty, or holding \\, /, : or ..)",
                  name);
  }
  if (is_device_name(name)) {
    return refuse(status, "\"upak\" \"%s\" is a name that Windows reserves for a device", name);
  }
  const char last = name[std::strlen(name) - 1];
  if (last == '.' || last == ' ') {
    return refuse(status,
                  "\"upak\" \"%s\" ends in a dot or a space, which Windows drops from file names",
                  name);
  }
  return true;
}
