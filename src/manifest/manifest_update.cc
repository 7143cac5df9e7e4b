#include "manifest/manifest_update.h"

#include <cstdint>
#include <cstring>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/run_context.h"
#include "package/package_update.h"

namespace {

constexpr uint8_t kNoArchive = 0xFF;
constexpr uint8_t kUserArchiveTag = 0xFF;
// archiveIndex is 8 bits wide and 0xFF means "no archive", so indexes 0..254 are all there is.
constexpr uint32_t kMaxArchives = 255;
constexpr uint32_t kMaxNameLength16 = 0xFFFF;

// The smallest encoding of each record, used to hold a declared count against the bytes that are
// left before anything is allocated or looped over for it.
constexpr uint32_t kIdNameRecordMin = 12;
constexpr uint32_t kArchiveRecordMin = 3;
constexpr uint32_t kPackageRecordMin = 26;

constexpr int32_t kPathInline = 261;
using PathBuffer = TStringBufferA<kPathInline>;

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether an archive name and the user archive's name lead to the same file. The path is formed
// from the name as a C string, so a NUL ends it; Windows file names ignore case.
bool same_file_name(const uint8_t* name, uint32_t length, const char* text, uint32_t textLength) {
  const void* nul = std::memchr(name, 0, length);
  if (nul != nullptr) length = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - name);
  if (length != textLength) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (ascii_lower(static_cast<char>(name[i])) != ascii_lower(text[i])) return false;
  }
  return true;
}

// Copies n bytes of the reader into name as a NUL-terminated text (the bytes may hold anything,
// a NUL included). False when fewer bytes remain or the buffer cannot grow.
bool read_name(ByteReader& reader, uint32_t n, CStringBufferA& name) {
  if (n > reader.remaining()) return false;
  if (!name.Reserve(static_cast<int32_t>(n) + 1)) return false;
  if (!reader.read_bytes(name.Data(), n)) return false;
  name.Data()[n] = '\0';
  name.SetLength(static_cast<int32_t>(n));
  return true;
}

// The user archive's name becomes a file name in the destination directory: it must be one
// name there, not a path that leads elsewhere.
bool is_plain_file_name(const char* name) {
  if (name[0] == '\0') return false;
  if (std::strpbrk(name, "\\/:") != nullptr) return false;
  return std::strstr(name, "..") == nullptr;
}

// Checks made before the user archive is created, so that a refused run leaves the destination
// directory untouched. The directory is only looked at up to the end of the archive list; when it
// ends early these checks stop quietly and the walk itself fails on the same bytes.
bool may_create_user_archive(const RunContext& context) {
  const uint32_t userLength = context.userPackage.Length();
  if (userLength > kMaxNameLength16) return false;
  if (!is_plain_file_name(context.userPackage.Text())) return false;

  ByteReader reader(context.manifestSections[0]);
  uint32_t idNameCount = 0;
  if (!reader.read_u32(&idNameCount) || !reader.skip(4)) return true;
  for (uint32_t i = 0; i < idNameCount; ++i) {
    uint32_t length = 0;
    if (!reader.skip(8) || !reader.read_u32(&length) || !reader.skip(length)) return true;
  }
  uint32_t archiveCount = 0;
  if (!reader.read_u32(&archiveCount)) return true;
  // Without fullcopy the user archive is appended and must itself get an index below 0xFF.
  if (!context.fullCopy && archiveCount >= kMaxArchives) return false;

  // The user archive replaces a file of that name when the run is committed: if it is one of the
  // game's archives, that archive would be destroyed.
  for (uint32_t i = 0; i < archiveCount; ++i) {
    uint16_t length = 0;
    if (!reader.skip(1) || !reader.read_u16(&length)) return true;
    const uint8_t* name = reader.take_bytes(length);
    if (name == nullptr) return true;
    if (same_file_name(name, length, context.userPackage.Text(), userLength)) return false;
  }
  return true;
}

// The directory walk. The members are declared so that the archives are closed before the user
// archive on every way out.
class DirectoryPass {
 public:
  explicit DirectoryPass(RunContext& context)
      : context_(context), reader_(context.manifestSections[0]), writer_(context.sectionRebuild) {}

  bool Run();

 private:
  bool CopyIdNames();
  bool CopyArchives();
  bool CopyPackages();
  bool CopyPackage();
  bool FormArchivePath(PathBuffer& path, const char* name);

  RunContext& context_;
  ByteReader reader_;
  ByteWriter writer_;
  CStringBufferA name_;
  PathBuffer path_;
  U16Array words_;
  ScopedFile userArchive_;
  TCountedArray<ScopedFile> archives_;
  uint32_t archiveCount_ = 0;
  uint8_t userIndex_ = 0;
  bool anyChanged_ = false;
};

bool DirectoryPass::FormArchivePath(PathBuffer& path, const char* name) {
  return path.Format("%s%s.upak", context_.destDir.Text(), name) > 0;
}

bool DirectoryPass::Run() {
  if (!may_create_user_archive(context_)) return false;

  if (!context_.sectionRebuild.resize(0)) return false;
  context_.userArchiveChanged = false;
  // The user archive is built under a temporary name beside its final one, so that the archive of
  // an earlier run stays intact until this run is committed. The context deletes the file on
  // every way out until then.
  PathBuffer userPath;
  if (userPath.Format("%s%s.upak.tmp", context_.destDir.Text(), context_.userPackage.Text()) <= 0)
    return false;
  context_.pendingArchive.Assign(userPath);
  if (context_.pendingArchive.IsEmpty()) return false;
  userArchive_.reset(open_file(userPath.Data(), "w"));
  if (!userArchive_.is_open()) return false;

  if (!CopyIdNames() || !CopyArchives() || !CopyPackages()) return false;

  archives_.release();
  if (anyChanged_) {
    if (!file_flush(userArchive_.get())) return false;
    userArchive_.reset();
    if (!context_.manifestSections[0].assign(context_.sectionRebuild)) return false;
    context_.userArchiveChanged = true;
    return true;
  }
  userArchive_.reset();
  sys_delete_file(userPath.Data());
  context_.pendingArchive.Release();
  return true;
}

bool DirectoryPass::CopyIdNames() {
  uint32_t idNameCount = 0;
  uint32_t directoryValue = 0;
  if (!reader_.read_u32(&idNameCount) || !reader_.read_u32(&directoryValue)) return false;
  if (!writer_.write_u32(idNameCount) || !writer_.write_u32(directoryValue)) return false;
  if (idNameCount > reader_.remaining() / kIdNameRecordMin) return false;

  for (uint32_t i = 0; i < idNameCount; ++i) {
    uint64_t id = 0;
    uint32_t length = 0;
    if (!reader_.read_u64(&id) || !reader_.read_u32(&length)) return false;
    // The two sections are distinct buffers, so the view stays valid while the rebuild grows.
    const uint8_t* name = reader_.take_bytes(length);
    if (name == nullptr) return false;
    if (!writer_.write_u64(id) || !writer_.write_u32(length) || !writer_.write_bytes(name, length))
      return false;
  }
  return true;
}

bool DirectoryPass::CopyArchives() {
  if (!reader_.read_u32(&archiveCount_)) return false;
  if (archiveCount_ > reader_.remaining() / kArchiveRecordMin) return false;
  const bool fullCopy = context_.fullCopy;
  if (!fullCopy && archiveCount_ >= kMaxArchives) return false;
  if (!writer_.write_u32(fullCopy ? archiveCount_ : archiveCount_ + 1)) return false;
  userIndex_ = fullCopy ? 0 : static_cast<uint8_t>(archiveCount_);

  if (!archives_.allocate(archiveCount_)) return false;
  const char* userName = context_.userPackage.Text();
  const uint16_t userLength = static_cast<uint16_t>(context_.userPackage.Length());
  for (uint32_t i = 0; i < archiveCount_; ++i) {
    uint8_t tag = 0;
    uint16_t length = 0;
    if (!reader_.read_u8(&tag) || !writer_.write_u8(tag)) return false;
    if (!reader_.read_u16(&length) || !read_name(reader_, length, name_)) return false;
    if (!FormArchivePath(path_, name_.Data())) return false;
    const char* name = fullCopy ? userName : name_.Data();
    if (fullCopy) length = userLength;
    if (!writer_.write_u16(length) || !writer_.write_bytes(name, length)) return false;
    archives_[i].reset(open_file(path_.Data(), "r"));
    if (!archives_[i].is_open()) return false;
  }

  if (!fullCopy) {
    if (!writer_.write_u8(kUserArchiveTag) || !writer_.write_u16(userLength) ||
        !writer_.write_bytes(userName, userLength))
      return false;
  }
  return true;
}

bool DirectoryPass::CopyPackages() {
  uint32_t packageCount = 0;
  if (!reader_.read_u32(&packageCount) || !writer_.write_u32(packageCount)) return false;
  if (packageCount > reader_.remaining() / kPackageRecordMin) return false;
  for (uint32_t i = 0; i < packageCount; ++i) {
    if (!CopyPackage()) return false;
  }
  return true;
}

bool DirectoryPass::CopyPackage() {
  uint8_t nameLength = 0;
  uint64_t packageId = 0;
  uint16_t attrWord1 = 0;
  uint16_t attrWord2 = 0;
  uint8_t wordCount = 0;
  if (!reader_.read_u8(&nameLength) || !read_name(reader_, nameLength, name_)) return false;
  if (!reader_.read_u64(&packageId) || !reader_.read_u16(&attrWord1) ||
      !reader_.read_u16(&attrWord2) || !reader_.read_u8(&wordCount))
    return false;
  if (!words_.reserve(wordCount)) return false;
  uint16_t* words = words_.data();
  for (uint32_t k = 0; k < wordCount; ++k) {
    if (!reader_.read_u16(&words[k])) return false;
  }
  uint8_t attrByte1 = 0;
  uint8_t archiveIndex = 0;
  uint8_t attrByte2 = 0;
  uint8_t attrByte3 = 0;
  uint64_t offset = 0;
  if (!reader_.read_u8(&attrByte1) || !reader_.read_u8(&archiveIndex) ||
      !reader_.read_u8(&attrByte2) || !reader_.read_u8(&attrByte3) || !reader_.read_u64(&offset))
    return false;

  if (archiveIndex != kNoArchive) {
    // The handle array has no entry beyond the archive list.
    if (archiveIndex >= archiveCount_) return false;
    const FileHandle source = archives_[archiveIndex].get();
    if (file_seek(source, offset) != offset) return false;
    bool changed = false;
    uint64_t newOffset = 0;
    if (!update_package(context_, name_.Data(), packageId, source, userArchive_.get(), &changed,
                        &newOffset))
      return false;
    if (changed) {
      anyChanged_ = true;
      offset = newOffset;
      archiveIndex = userIndex_;
    } else if (context_.fullCopy) {
      // With fullcopy every archive name now names the user archive, so a package left where it
      // was would be looked for in the user archive at its old offset.
      return false;
    }
  }

  if (!writer_.write_u8(nameLength) || !writer_.write_bytes(name_.Data(), nameLength) ||
      !writer_.write_u64(packageId) || !writer_.write_u16(attrWord1) ||
      !writer_.write_u16(attrWord2) || !writer_.write_u8(wordCount))
    return false;
  for (uint32_t k = 0; k < wordCount; ++k) {
    if (!writer_.write_u16(words[k])) return false;
  }
  return writer_.write_u8(attrByte1) && writer_.write_u8(archiveIndex) &&
         writer_.write_u8(attrByte2) && writer_.write_u8(attrByte3) && writer_.write_u64(offset);
}

}  // namespace

bool update_manifest(RunContext& context) {
  DirectoryPass pass(context);
  return pass.Run();
}
