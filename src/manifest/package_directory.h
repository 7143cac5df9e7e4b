#ifndef VINTREL_MANIFEST_PACKAGE_DIRECTORY_H_
#define VINTREL_MANIFEST_PACKAGE_DIRECTORY_H_

// The package directory, section 0 of the manifest: idNameCount, directoryValue, the
// IdNameRecords, the archive list and the package records. See doc/manifest_format.md.

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/status.h"
#include "base/string_buffer.h"

// The archiveIndex of a package that lies in no archive.
constexpr uint8_t kNoArchive = 0xFF;
// archiveIndex is 8 bits wide and 0xFF means "no archive", so indexes 0..254 are all there is.
constexpr uint32_t kMaxArchives = 255;

// One ArchiveRecord; name points into the section and holds nameLength bytes (any bytes, a NUL
// included).
struct ArchiveRecord {
  uint8_t tag = 0;
  uint16_t nameLength = 0;
  const uint8_t* name = nullptr;
};

// One PackageRecord, as far as the tool reads it; name points into the section. The record's
// bytes are [start, end) of the section; the fields the tool never interprets are carried over
// as those bytes.
struct PackageRecord {
  uint32_t start = 0;
  uint32_t end = 0;
  uint8_t nameLength = 0;
  const uint8_t* name = nullptr;
  uint64_t packageId = 0;
  uint8_t archiveIndex = kNoArchive;
  uint64_t offset = 0;
};
// A record ends with attrByte1, archiveIndex, attrByte2, attrByte3 and the u64 offset.
constexpr uint32_t kArchiveIndexFromEnd = 11;
constexpr uint32_t kOffsetFromEnd = 8;

// Copies a name of the directory into text, NUL-terminated (the bytes may hold anything, a NUL
// included). False when the buffer cannot grow.
bool copy_directory_name(const uint8_t* name, uint32_t length, CStringBufferA& text);

// Reads a package directory front to back. The views it hands out point into the section, which
// must stay unchanged while they are used.
class DirectoryReader {
 public:
  explicit DirectoryReader(const ByteBuffer& section);
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  // Reads everything before the first package record: the id names (passed over), the archive
  // list and the package count. Every count is held against the bytes left before anything is
  // allocated for it. False, with the reason in *status, when the section ends inside any of it
  // or an allocation fails.
  bool ReadHead(Status* status);
  // The next package record. False, with the reason in *status, when the section ends inside it
  // or no record is left.
  bool NextPackage(PackageRecord* record, Status* status);

  // Bytes [0, id_names_end()) hold idNameCount, directoryValue and the IdNameRecords.
  uint32_t id_names_end() const { return idNamesEnd_; }
  uint32_t archive_count() const { return archives_.count(); }
  const ArchiveRecord& archive(uint32_t i) const { return archives_[i]; }
  uint32_t package_count() const { return packageCount_; }
  uint32_t packages_read() const { return packagesRead_; }
  const ByteBuffer& section() const { return section_; }

 private:
  const ByteBuffer& section_;
  ByteReader reader_;
  uint32_t idNamesEnd_ = 0;
  TCountedArray<ArchiveRecord> archives_;
  uint32_t packageCount_ = 0;
  uint32_t packagesRead_ = 0;
};

#endif  // VINTREL_MANIFEST_PACKAGE_DIRECTORY_H_
