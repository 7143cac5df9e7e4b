#include "package/package_update.h"

#include <cstring>

#include "base/byte_buffer.h"
#include "base/coding.h"
#include "base/file.h"
#include "driver/pack_file_entry.h"
#include "package/entry_compression.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "package/texture_conversion.h"

void PackageWork::Clear() {
  for (ByteBuffer* buffer : All()) buffer->resize(0);
}

std::array<ByteBuffer*, 9> PackageWork::All() {
  return {&oldIndexTable, &oldEntryTable, &newEntryTable, &inflated, &newDataArea,
          &replacingFile, &replacingMeta, &idBlock,       &head};
}

namespace {

// Pieces in which a split package's blocks come back from the temporary file.
constexpr uint32_t kCopyPiece = 64 * 1024;

// Appends the size and bytes of an entry's metadata to the new EntryTable.
bool append_metadata(ByteWriter& writer, const uint8_t* meta, uint32_t size) {
  return writer.write_u32(size) && writer.write_bytes(meta, size);
}

// Where a block's stream goes as deflate_to makes it: the sink, or the temporary file that holds
// a split package's blocks. Records the reason when a piece cannot be written.
class BlockOutput : public StreamOutput {
 public:
  BlockOutput(PackageSink* sink, TempFile* file, Status* status)
      : sink_(sink), file_(file), status_(status) {}

  bool Put(const uint8_t* bytes, uint32_t n) override {
    if (sink_ != nullptr) {
      failed_ = !sink_->Write(bytes, n, status_);
    } else if (file_write(file_->file(), bytes, n) != n) {
      failed_ = !file_->FailWrite(status_);
    }
    return !failed_;
  }
  bool failed() const { return failed_; }

 private:
  PackageSink* sink_;
  TempFile* file_;
  Status* status_;
  bool failed_ = false;
};

// One package being rewritten into a sink: the worker's means, the package as read, and where it
// begins in the sink. Every step records its failure in the worker's status.
class Rewrite {
 public:
  Rewrite(PackageWorker& worker, PackageReader& package, FileHandle archive, PackageSink& sink)
      : worker_(worker),
        work_(worker.work),
        status_(&worker.failure),
        package_(package),
        archive_(archive),
        sink_(sink),
        base_(sink.length()) {}

  bool Run(bool anyMatch);

 private:
  bool BuildSplit(bool anyMatch);
  bool BuildFull(bool anyMatch, ByteBuffer** area);
  bool CompressEntries(ByteWriter& writer, bool direct, uint32_t* sum);
  bool AppendBlock(const ByteBuffer& input, uint32_t rawSize, bool toFile, uint64_t* streamSize);
  bool PlaceBlock(uint64_t streamSize, PackageEntry& entry, uint32_t* sum);
  bool CopyBlocks(uint64_t n);
  bool ChooseMetadata(const PackageEntry& entry, const uint8_t** meta, uint32_t* size);
  bool ReadConfiguredFile(const PackFileEntry& file);
  bool AppendData(const uint8_t* bytes, uint32_t n);
  bool SetTableSize(uint64_t tableSize);
  bool MakeHead();
  bool Pad();
  bool BeyondLimit(const char* what);
  bool OutOfMemory();
  // A failure of the sink or of the temporary file: the worker's own means.
  bool OwnFailure();

  PackageWorker& worker_;
  PackageWork& work_;
  Status* status_;
  PackageReader& package_;
  FileHandle archive_;
  PackageSink& sink_;
  const uint64_t base_;  // where the package begins in the sink
  PackageHeader written_;
};

bool Rewrite::OutOfMemory() {
  status_->FailOutOfMemory();
  worker_.ownFailure = true;
  return false;
}

bool Rewrite::OwnFailure() {
  worker_.ownFailure = true;
  return false;
}

// A limit of the format's 32-bit fields that the rewritten package would pass.
bool Rewrite::BeyondLimit(const char* what) {
  status_->Fail(StatusCode::kUnsupported,
                "the rewritten package's %s would pass 4 GiB, beyond what the package format's "
                "32-bit fields can hold",
                what);
  return false;
}

bool Rewrite::ReadConfiguredFile(const PackFileEntry& file) {
  return read_whole_file(file.sourcePath.Text(), work_.replacingFile, status_);
}

// The metadata of a replaced entry: what the configured file gives it (replacingFile holds the
// file's bytes), otherwise the old metadata, which *meta and *size hold on entry.
bool Rewrite::ChooseMetadata(const PackageEntry& entry, const uint8_t** meta, uint32_t* size) {
  const MetaConversion result =
      replacement_metadata(*entry.match, work_.replacingFile, work_.replacingMeta, status_);
  if (result == kMetaFailed) return false;
  if (result == kMetaConverted) {
    *meta = work_.replacingMeta.data();
    *size = work_.replacingMeta.length();
  }
  return true;
}

// Sets the new EntryTable's size (tableSize, counting the locations still to be appended) and
// the dataOffset that follows from it.
bool Rewrite::SetTableSize(uint64_t tableSize) {
  if (tableSize > UINT32_MAX) return BeyondLimit("entry table");
  written_.entryTableSize = static_cast<uint32_t>(tableSize);
  if (!written_data_offset(written_.indexSize, written_.entryTableSize, &written_.dataOffset)) {
    return BeyondLimit("tables");
  }
  return true;
}

// Appends a compressed block of input to the sink, or to the temporary file when toFile: its raw
// size, then its stream, made piece by piece into its place, so that no buffer holds it whole.
// *streamSize receives the stream's length.
bool Rewrite::AppendBlock(const ByteBuffer& input, uint32_t rawSize, bool toFile,
                          uint64_t* streamSize) {
  BlockOutput output(toFile ? nullptr : &sink_, toFile ? &worker_.blocks : nullptr, status_);
  uint8_t prefix[4];
  encode_u32(prefix, rawSize);
  if (!output.Put(prefix, 4)) return OwnFailure();
  if (deflate_to(worker_.streams, input, output, streamSize)) return true;
  return output.failed() ? OwnFailure() : OutOfMemory();
}

// Records where a split package's block of streamSize bytes starts in the new data area, whose
// length so far is *sum.
bool Rewrite::PlaceBlock(uint64_t streamSize, PackageEntry& entry, uint32_t* sum) {
  uint32_t next = 0;
  if (streamSize > UINT32_MAX) return BeyondLimit("block");
  if (!next_block_offset(*sum, static_cast<uint32_t>(streamSize), &next)) {
    return BeyondLimit("data area");
  }
  entry.blockOffset = *sum;
  *sum = next;
  return true;
}

// Recompresses every entry of a split package in table order, appending its EntryInfo to the new
// EntryTable (writer) and its block to the sink or the temporary file.
bool Rewrite::CompressEntries(ByteWriter& writer, bool direct, uint32_t* sum) {
  for (uint32_t k = 0; k < package_.entry_count(); ++k) {
    PackageEntry& entry = package_.entry(k);
    const uint8_t* meta = entry.meta;
    uint32_t metaSize = entry.metaSize;
    uint64_t streamSize = 0;
    if (entry.match != nullptr) {
      if (!ReadConfiguredFile(*entry.match)) return false;
      entry.rawSize = work_.replacingFile.length();
      if (!writer.write_u32(entry.rawSize)) return OutOfMemory();
      if (!AppendBlock(work_.replacingFile, entry.rawSize, !direct, &streamSize) ||
          !PlaceBlock(streamSize, entry, sum) || !ChooseMetadata(entry, &meta, &metaSize)) {
        return false;
      }
    } else {
      // The old EntryInfo's rawSize goes to the EntryTable, whatever the old block's own
      // prefix says; the new block's prefix is the length its stream inflates to, so that a
      // disagreement in the game's package is carried over without making the block unreadable.
      if (!package_.ReadBlock(archive_, entry.blockOffset, worker_.streams, work_.inflated,
                              status_)) {
        return false;
      }
      if (!writer.write_u32(entry.rawSize)) return OutOfMemory();
      if (!AppendBlock(work_.inflated, work_.inflated.length(), !direct, &streamSize) ||
          !PlaceBlock(streamSize, entry, sum)) {
        return false;
      }
    }
    if (!append_metadata(writer, meta, metaSize)) return OutOfMemory();
  }
  return true;
}

// Steps for a split package: every entry is recompressed in table order, and the new EntryTable
// ends with the new EntryLocations. Without a replaced entry the new EntryTable has the old
// records, so its size and the dataOffset are known first: the blocks go straight to the sink
// behind the room for the tables, which are written over that room at the end. Otherwise the
// blocks go to the temporary file and are copied behind the tables.
bool Rewrite::BuildSplit(bool anyMatch) {
  const uint32_t count = package_.entry_count();
  const bool direct = !anyMatch;
  if (direct) {
    uint64_t tableSize = uint64_t{4} * count;
    for (uint32_t k = 0; k < count; ++k) tableSize += 8 + uint64_t{package_.entry(k).metaSize};
    if (!SetTableSize(tableSize)) return false;
    if (!sink_.WriteZeros(written_.dataOffset, status_)) return OwnFailure();
  } else if (!worker_.blocks.Rewind(status_)) {
    return OwnFailure();
  }

  ByteWriter writer(work_.newEntryTable);
  uint32_t sum = 0;
  if (!CompressEntries(writer, direct, &sum)) return false;
  if (!direct && !SetTableSize(uint64_t{work_.newEntryTable.length()} + uint64_t{4} * count)) {
    return false;
  }
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t location = 0;
    if (!entry_location(written_.dataOffset, package_.entry(k).blockOffset, &location)) {
      return BeyondLimit("data area");
    }
    if (!writer.write_u32(location)) return OutOfMemory();
  }
  if (!MakeHead()) return false;
  const ByteBuffer& head = work_.head;
  if (direct) {
    return sink_.WriteAt(base_, head.data(), head.length(), status_) || OwnFailure();
  }
  if (!sink_.Write(head.data(), head.length(), status_) ||
      !sink_.WriteZeros(written_.dataOffset - head.length(), status_)) {
    return OwnFailure();
  }
  return CopyBlocks(sum);
}

// Copies the split package's blocks, n bytes, from the temporary file into the sink.
bool Rewrite::CopyBlocks(uint64_t n) {
  TempFile& blocks = worker_.blocks;
  if (file_seek(blocks.file(), 0) != 0) {
    blocks.FailRead(status_);
    return OwnFailure();
  }
  uint8_t piece[kCopyPiece];
  while (n > 0) {
    const uint32_t want = n < kCopyPiece ? static_cast<uint32_t>(n) : kCopyPiece;
    if (file_read(blocks.file(), piece, want) != want) {
      blocks.FailRead(status_);
      return OwnFailure();
    }
    if (!sink_.Write(piece, want, status_)) return OwnFailure();
    n -= want;
  }
  return true;
}

// Appends n bytes to the new data area of a full package; false when it would pass 4 GiB.
bool Rewrite::AppendData(const uint8_t* bytes, uint32_t n) {
  ByteBuffer& area = work_.newDataArea;
  const uint32_t at = area.length();
  if (n > UINT32_MAX - at) return BeyondLimit("data area");
  // Grown by doubling: an area of many large entries is otherwise copied whole at every entry.
  if (!reserve_for_append(area, n) || !area.resize(at + n)) return OutOfMemory();
  if (n != 0) std::memcpy(area.data() + at, bytes, n);
  return true;
}

// Steps for a full package: the one old block is inflated, cut into entries by their rawSizes,
// and the new raw data area is assembled. Without a replaced entry it is the inflated area's
// first bytes as they stand, and *area is that buffer cut to them; otherwise it is built in
// newDataArea.
bool Rewrite::BuildFull(bool anyMatch, ByteBuffer** area) {
  if (!package_.ReadBlock(archive_, package_.header().dataOffset, worker_.streams, work_.inflated,
                          status_)) {
    return false;
  }
  ByteWriter writer(work_.newEntryTable);
  // 64 bits: the rawSizes of skipped entries may add up beyond a u32.
  uint64_t readPos = 0;
  for (uint32_t k = 0; k < package_.entry_count(); ++k) {
    PackageEntry& entry = package_.entry(k);
    uint32_t n = entry.rawSize;
    const uint8_t* meta = entry.meta;
    uint32_t metaSize = entry.metaSize;
    if (entry.match != nullptr) {
      if (!ReadConfiguredFile(*entry.match)) return false;
      readPos += n;
      n = work_.replacingFile.length();
      if (!writer.write_u32(n)) return OutOfMemory();
      if (!AppendData(work_.replacingFile.data(), n) || !ChooseMetadata(entry, &meta, &metaSize)) {
        return false;
      }
    } else {
      const uint32_t inflated = work_.inflated.length();
      if (readPos > inflated || n > inflated - readPos) {
        status_->Fail(StatusCode::kCorrupt, "entry %u runs past the end of the inflated data area",
                      k);
        return false;
      }
      if (!writer.write_u32(n)) return OutOfMemory();
      if (anyMatch && !AppendData(work_.inflated.data() + readPos, n)) return false;
      readPos += n;
    }
    entry.rawSize = n;
    if (!append_metadata(writer, meta, metaSize)) return OutOfMemory();
  }
  for (uint32_t k = 0; k < package_.entry_count(); ++k) {
    if (!writer.write_u32(package_.entry(k).rawSize)) return OutOfMemory();
  }
  if (anyMatch) {
    *area = &work_.newDataArea;
  } else {
    // Every entry was checked to lie inside the inflated area, so this only shortens it.
    work_.inflated.resize(static_cast<uint32_t>(readPos));
    *area = &work_.inflated;
  }
  return SetTableSize(work_.newEntryTable.length());
}

// The header, the IndexTable and the new EntryTable, as the package begins.
bool Rewrite::MakeHead() {
  ByteBuffer& head = work_.head;
  const ByteBuffer& index = package_.index_table();
  const ByteBuffer& table = work_.newEntryTable;
  const uint64_t length = uint64_t{kPackageHeaderSize} + index.length() + table.length();
  if (length > UINT32_MAX) return BeyondLimit("tables");
  if (!head.resize(static_cast<uint32_t>(length))) return OutOfMemory();
  encode_package_header(written_, head.data());
  std::memcpy(head.data() + kPackageHeaderSize, index.data(), index.length());
  if (table.length() != 0) {
    std::memcpy(head.data() + kPackageHeaderSize + index.length(), table.data(), table.length());
  }
  return true;
}

// Zeros from the package's end to the next package boundary, counted from where it began.
bool Rewrite::Pad() {
  const uint64_t end = sink_.length() - base_;
  uint64_t aligned = 0;
  if (!align_package_position(end, &aligned)) return BeyondLimit("user archive");
  return sink_.WriteZeros(aligned - end, status_) || OwnFailure();
}

bool Rewrite::Run(bool anyMatch) {
  written_ = package_.header();
  written_.indexOffset = kPackageHeaderSize;
  if (written_.indexSize > UINT32_MAX - kPackageHeaderSize) return BeyondLimit("tables");
  written_.entryTableOffset = kPackageHeaderSize + written_.indexSize;

  if (package_.split()) {
    if (!BuildSplit(anyMatch)) return false;
  } else {
    // The header and tables first: the stream may then be made straight behind them.
    ByteBuffer* area = nullptr;
    if (!BuildFull(anyMatch, &area) || !MakeHead()) return false;
    const ByteBuffer& head = work_.head;
    if (!sink_.Write(head.data(), head.length(), status_) ||
        !sink_.WriteZeros(written_.dataOffset - head.length(), status_)) {
      return OwnFailure();
    }
    uint64_t streamSize = 0;
    if (!AppendBlock(*area, area->length(), false, &streamSize)) return false;
    if (streamSize > UINT32_MAX) return BeyondLimit("block");
  }
  return Pad();
}

}  // namespace

bool match_entries(const PackFileEntryList& entries, uint64_t packageId, PackageReader& package) {
  bool anyMatch = false;
  for (uint32_t k = 0; k < package.entry_count(); ++k) {
    PackageEntry& entry = package.entry(k);
    entry.match = find_pack_file_entry(entries, entry.nameId, entry.extId, packageId);
    anyMatch = anyMatch || entry.match != nullptr;
  }
  return anyMatch;
}

bool update_package(PackageWorker& worker, const PackFileEntryList& entries, bool fullCopy,
                    uint64_t packageId, FileHandle archive, uint64_t offset, PackageSink& sink,
                    bool* changed, uint64_t* newOffset) {
  PackageWork& work = worker.work;
  work.Clear();
  worker.failure.Clear();
  worker.ownFailure = false;

  PackageReader package(work.oldIndexTable, work.oldEntryTable, work.idBlock);
  if (!package.Read(archive, offset, &worker.failure)) return false;
  if (!package.has_tables()) return true;
  const bool anyMatch = match_entries(entries, packageId, package);
  if (!fullCopy && !anyMatch) return true;
  if (!package.ReadEntryTable(&worker.failure)) return false;

  const uint64_t base = sink.length();
  Rewrite rewrite(worker, package, archive, sink);
  if (!rewrite.Run(anyMatch)) return false;
  *newOffset = base;
  *changed = true;
  return true;
}

MetaConversion replacement_metadata(const PackFileEntry& file, const ByteBuffer& content,
                                    ByteBuffer& meta, Status* status) {
  if (!file.metaPath.IsEmpty()) {
    return read_whole_file(file.metaPath.Text(), meta, status) ? kMetaConverted : kMetaFailed;
  }
  const MetaConversion result = convert_meta(content, meta, file.extId, status);
  if (result == kMetaFailed) status->SetPath(file.sourcePath.Text());
  return result;
}

const PackFileEntry* find_pack_file_entry(const PackFileEntryList& entries, uint64_t nameId,
                                          uint64_t extId, uint64_t packageId) {
  return entries.Find(nameId, extId, packageId);
}
