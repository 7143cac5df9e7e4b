#ifndef VINTREL_MANIFEST_GAME_READER_H_
#define VINTREL_MANIFEST_GAME_READER_H_

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "driver/run_context.h"
#include "manifest/game_commit.h"
#include "manifest/package_directory.h"
#include "package/package_reader.h"

// Reads a game directory without a run: its manifest's archive list and package records, and
// any package's entries, metadata and data. Archives are opened for reading when first needed
// and shared with other readers; nothing is ever written. When a change of the game was
// interrupted after it committed, the game is read as that change leaves it (PendingView,
// manifest/game_commit.h), and interrupted() says so.
class GameReader {
 public:
  GameReader();
  GameReader(const GameReader&) = delete;
  GameReader& operator=(const GameReader&) = delete;

  // Reads the manifest manifestName ("manifest.bin", "origmanifest.bin") of the game directory
  // dir (a path as the tool takes it, without a trailing separator) and every package record of
  // its directory. False, with the reason in *status, when the manifest cannot be read or its
  // directory is malformed.
  bool Open(const char* dir, const char* manifestName, Status* status);
  // The same for a manifest already loaded (a run's untouched manifest), whose sections are
  // copied. False, with the reason in *status, when its directory is malformed.
  bool Open(const char* dir, const ManifestSections& sections, Status* status);

  // Whether the game's last change was interrupted after it committed (see above).
  bool interrupted() const { return view_.interrupted(); }
  const ManifestSections& sections() const { return sections_; }
  uint32_t archive_count() const { return directory_.archive_count(); }
  const ArchiveRecord& archive(uint32_t i) const { return directory_.archive(i); }
  // The path of archive i: the directory, a backslash, its name and ".upak" (and ".tmp" while an
  // interrupted change has yet to put it in place). False when out of memory.
  bool ArchivePath(uint32_t i, CStringBufferA& path) const;
  uint32_t package_count() const { return records_.count(); }
  const PackageRecord& record(uint32_t k) const { return records_[k]; }

  // Reads the package of record k: header, tables and entry table (its entries are then
  // package().entry(e)). False, with the reason in *status (naming the package and its archive),
  // when the record lies in no archive or the package cannot be read.
  bool ReadPackage(uint32_t k, Status* status);
  // The package last read.
  const PackageReader& package() const { return package_; }
  PackageReader& package() { return package_; }

  // The handle of archive i, opened for reading when first asked for; kNoFile, with the reason in
  // *status, when it cannot be. Other threads may read through it positionally.
  FileHandle OpenArchive(uint32_t i, Status* status) { return Archive(i, status); }
  // Adds to a failure which package of record k it concerns and where that lies, as ReadPackage
  // does; reads only, so any thread may call it.
  void NamePackage(uint32_t k, Status* status) const;

  // Inflates entry e of the package last read into out: its own block in a split package, its
  // slice of the data area in a full one (the area is inflated once per package).
  bool ReadEntryData(uint32_t e, ByteBuffer& out, Status* status);

 private:
  // Reads the directory of sections_; a failure names the manifest file path unless it is null.
  bool ReadDirectory(const char* path, Status* status);
  FileHandle Archive(uint32_t i, Status* status);

  PathBuffer dir_;
  PendingView view_;
  ManifestSections sections_;
  DirectoryReader directory_;
  TCountedArray<PackageRecord> records_;
  TCountedArray<ScopedFile> archives_;
  ByteBuffer indexTable_;
  ByteBuffer entryTable_;
  ByteBuffer idBlock_;
  PackageReader package_;
  ZlibStreams streams_;
  uint32_t current_ = UINT32_MAX;   // the record whose package was last read
  ByteBuffer dataArea_;             // a full package's inflated data area
  TCountedArray<uint64_t> starts_;  // where each of its entries begins in the area
  bool dataAreaRead_ = false;
};

#endif  // VINTREL_MANIFEST_GAME_READER_H_
