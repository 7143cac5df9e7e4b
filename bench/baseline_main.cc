// bench_baseline: the reference that a full-copy run of the tool is measured against.
//
//   bench_baseline GAME_DIR OUTPUT_FILE
//
// It does the least work that any full copy of GAME_DIR must do: for every package of
// manifest.bin that lies in an archive it reads each compressed block (one per entry of a split
// package, the one block of a full package), inflates it, compresses it again with zlib at
// level 0 and appends the new block (u32 raw size, then the zlib stream) to OUTPUT_FILE. Nothing
// else is written: no tables, no padding, no temporary file, no manifest. The output is put on the
// disk (fsync) before it ends, as a finished copy must be. Archives are read with streaming reads,
// one block in memory at a time.
//
// It shares no code with the tool: zlib, the C++ library and the test-support decoders of the
// manifest. On success it prints key=value lines (counts and sizes of what it copied) on stdout
// and exits 0; on failure it prints one line on stderr and exits 1.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/game_format.h"

namespace {

namespace fs = std::filesystem;

// Blocks are read in pieces: a small first piece, since most blocks are a few KB and a reader
// cannot know where a stream ends, then large ones for the rest of a big block.
constexpr size_t kFirstPiece = 8192;
constexpr size_t kReadPiece = 65536;

// A growable block of uninitialised bytes: unlike std::vector it does not zero what it gains,
// which would add a pass over every block that the tool does not make.
class Block {
 public:
  bool Reserve(size_t size) {
    if (size <= capacity_) return true;
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[size]);
    if (!grown) return false;
    data_ = std::move(grown);
    capacity_ = size;
    return true;
  }
  uint8_t* data() { return data_.get(); }
  size_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t capacity_ = 0;
};

uint32_t DecodeU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The two zlib streams, made once and reset for every block, as the tool keeps its own.
class Recompressor {
 public:
  Recompressor() = default;
  Recompressor(const Recompressor&) = delete;
  Recompressor& operator=(const Recompressor&) = delete;
  ~Recompressor() {
    if (inflate_ready_) inflateEnd(&inflater_);
    if (deflate_ready_) deflateEnd(&deflater_);
  }

  bool Init() {
    inflate_ready_ = inflateInit(&inflater_) == Z_OK;
    deflate_ready_ = deflateInit2(&deflater_, 0, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return inflate_ready_ && deflate_ready_ && piece_.Reserve(kReadPiece);
  }

  // Reads the block at `position` of `in`, inflates it and appends the recompressed block to
  // `out`. Returns false with *error set on a short read, a corrupt stream, a stream that does
  // not inflate to exactly its declared size, or a failed write. *raw_size is the block's size.
  bool CopyBlock(std::ifstream& in, uint64_t position, std::ofstream& out, uint32_t* raw_size,
                 uint64_t* written, std::string* error) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(position));
    uint8_t prefix[4];
    if (!in.read(reinterpret_cast<char*>(prefix), 4)) {
      *error = "short size prefix at " + std::to_string(position);
      return false;
    }
    const uint32_t size = DecodeU32(prefix);
    *raw_size = size;
    if (!raw_.Reserve(size == 0 ? 1 : size)) {
      *error = "cannot hold a block of " + std::to_string(size) + " bytes";
      return false;
    }
    if (inflateReset(&inflater_) != Z_OK) {
      *error = "inflateReset failed";
      return false;
    }
    inflater_.next_out = raw_.data();
    inflater_.avail_out = size;
    int result = Z_OK;
    size_t piece = kFirstPiece;
    while (result != Z_STREAM_END) {
      in.read(reinterpret_cast<char*>(piece_.data()), static_cast<std::streamsize>(piece));
      piece = kReadPiece;
      const std::streamsize got = in.gcount();
      if (got <= 0) {
        *error = "block at " + std::to_string(position) + " is cut short";
        return false;
      }
      inflater_.next_in = piece_.data();
      inflater_.avail_in = static_cast<uInt>(got);
      result = inflate(&inflater_, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) {
        *error = "block at " + std::to_string(position) + " is corrupt";
        return false;
      }
    }
    if (inflater_.avail_out != 0) {
      *error = "block at " + std::to_string(position) + " inflates to less than its size";
      return false;
    }

    if (deflateReset(&deflater_) != Z_OK) {
      *error = "deflateReset failed";
      return false;
    }
    const uLong bound = deflateBound(&deflater_, size);
    if (!packed_.Reserve(bound)) {
      *error = "cannot hold a stream of " + std::to_string(bound) + " bytes";
      return false;
    }
    deflater_.next_in = raw_.data();
    deflater_.avail_in = size;
    deflater_.next_out = packed_.data();
    deflater_.avail_out = static_cast<uInt>(bound);
    if (deflate(&deflater_, Z_FINISH) != Z_STREAM_END) {
      *error = "deflate failed";
      return false;
    }
    const size_t stream_size = bound - deflater_.avail_out;
    out.write(reinterpret_cast<const char*>(prefix), 4);
    out.write(reinterpret_cast<const char*>(packed_.data()),
              static_cast<std::streamsize>(stream_size));
    if (!out) {
      *error = "write to the output failed";
      return false;
    }
    *written += 4 + stream_size;
    return true;
  }

 private:
  z_stream inflater_{};
  z_stream deflater_{};
  bool inflate_ready_ = false;
  bool deflate_ready_ = false;
  Block piece_;
  Block raw_;
  Block packed_;
};

struct Totals {
  uint64_t split_packages = 0;
  uint64_t full_packages = 0;
  uint64_t passed_over = 0;  // packages whose header marks them as having nothing to copy
  uint64_t blocks = 0;
  uint64_t raw_bytes = 0;
  uint64_t written_bytes = 0;
  uint32_t largest_split_entry = 0;
  uint32_t largest_full_area = 0;
  std::string largest_full_package;
};

bool ReadAt(std::ifstream& in, uint64_t position, uint32_t size, vtest::Bytes* bytes) {
  bytes->resize(size);
  in.clear();
  in.seekg(static_cast<std::streamoff>(position));
  return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes->data()), size));
}

// Fills `locations` with the block offsets of a split package, in table order, from its two
// tables. Returns false when a table ends before a field it must hold.
bool SplitLocations(const vtest::Bytes& index_table, const vtest::Bytes& entry_table,
                    std::vector<uint32_t>* locations) {
  vtest::ByteCursor index(index_table);
  uint32_t group_count = 0, id_block_size = 0, ignored = 0;
  if (!index.ReadU32(&group_count) || !index.Skip(4) || !index.ReadU32(&id_block_size) ||
      !index.Skip(4) || !index.Skip(id_block_size) || !index.Skip(16)) {
    return false;
  }
  uint64_t entries = 0;
  for (uint32_t g = 0; g < group_count; ++g) {
    uint32_t count = 0;
    if (!index.Skip(4) || !index.ReadU32(&count) || !index.ReadU32(&ignored) || !index.Skip(4) ||
        !index.Skip(count)) {
      return false;
    }
    entries += count;
  }
  vtest::ByteCursor entry(entry_table);
  for (uint64_t e = 0; e < entries; ++e) {
    uint32_t meta_size = 0;
    if (!entry.Skip(4) || !entry.ReadU32(&meta_size) || !entry.Skip(meta_size)) return false;
  }
  if (entries > entry.remaining() / 4) return false;
  locations->resize(static_cast<size_t>(entries));
  for (uint32_t& location : *locations) entry.ReadU32(&location);
  return true;
}

bool IsUnset(uint32_t field) { return field == 0 || field == 0xFFFFFFFFu; }

// Copies every block of the package at `base` of `in`.
bool CopyPackage(const vtest::PackageRecord& record, std::ifstream& in, std::ofstream& out,
                 Recompressor& recompressor, Totals* totals, std::string* error) {
  const uint64_t base = record.offset;
  vtest::Bytes header_bytes;
  if (!ReadAt(in, base, vtest::kPackageHeaderSize, &header_bytes)) {
    *error = "short package header";
    return false;
  }
  const vtest::PackageHeader header = *vtest::DecodePackageHeader(header_bytes, 0);
  if (header.magic != vtest::kPackageMagic) {
    *error = "no package magic";
    return false;
  }
  if (IsUnset(header.index_offset) || header.index_size == 0 ||
      IsUnset(header.entry_table_offset) || header.entry_table_size == 0 ||
      IsUnset(header.data_offset)) {
    ++totals->passed_over;
    return true;
  }
  uint32_t raw_size = 0;
  if (header.split_compress == 0) {
    ++totals->full_packages;
    if (!recompressor.CopyBlock(in, base + header.data_offset, out, &raw_size,
                                &totals->written_bytes, error)) {
      return false;
    }
    ++totals->blocks;
    totals->raw_bytes += raw_size;
    if (raw_size > totals->largest_full_area) {
      totals->largest_full_area = raw_size;
      totals->largest_full_package = record.name;
    }
    return true;
  }

  ++totals->split_packages;
  vtest::Bytes index_table, entry_table;
  std::vector<uint32_t> locations;
  if (!ReadAt(in, base + header.index_offset, header.index_size, &index_table) ||
      !ReadAt(in, base + header.entry_table_offset, header.entry_table_size, &entry_table) ||
      !SplitLocations(index_table, entry_table, &locations)) {
    *error = "tables cut short";
    return false;
  }
  for (uint32_t location : locations) {
    if (!recompressor.CopyBlock(in, base + location, out, &raw_size, &totals->written_bytes,
                                error)) {
      return false;
    }
    ++totals->blocks;
    totals->raw_bytes += raw_size;
    if (raw_size > totals->largest_split_entry) totals->largest_split_entry = raw_size;
  }
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "bench_baseline: %s\n", message.c_str());
  return 1;
}

int Run(const fs::path& game, const fs::path& output) {
  std::string error;
  std::ifstream manifest_file(game / "manifest.bin", std::ios::binary);
  vtest::Bytes manifest_bytes((std::istreambuf_iterator<char>(manifest_file)),
                              std::istreambuf_iterator<char>());
  if (!manifest_file.eof() && !manifest_file) return Fail("cannot read manifest.bin");
  std::optional<vtest::ParsedManifest> manifest = vtest::DecodeManifest(manifest_bytes, &error);
  if (!manifest) return Fail("manifest.bin: " + error);
  const vtest::PackageDirectory& directory = manifest->directory;

  // Each listed archive is opened once, a name listed twice twice, as the tool does.
  std::vector<std::unique_ptr<std::ifstream>> archives;
  std::set<std::string> distinct;
  uint64_t archive_bytes = 0;
  for (const vtest::ArchiveRecord& archive : directory.archives) {
    const fs::path path = game / (archive.name + ".upak");
    archives.push_back(std::make_unique<std::ifstream>(path, std::ios::binary));
    if (!*archives.back()) return Fail("cannot open " + path.string());
    if (distinct.insert(archive.name).second) {
      std::error_code ec;
      archive_bytes += fs::file_size(path, ec);
    }
  }

  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) return Fail("cannot create " + output.string());
  Recompressor recompressor;
  if (!recompressor.Init()) return Fail("cannot set up zlib");

  Totals totals;
  for (const vtest::PackageRecord& record : directory.packages) {
    if (record.archive_index == vtest::kNoArchive) continue;
    if (record.archive_index >= archives.size()) return Fail(record.name + ": no such archive");
    if (!CopyPackage(record, *archives[record.archive_index], out, recompressor, &totals, &error)) {
      return Fail(record.name + ": " + error);
    }
  }
  out.close();
  if (!out) return Fail("cannot finish " + output.string());
  // A copy is finished once it is on the disk, as the tool's is before it commits: the time the
  // disk takes counts for both.
  const int written = ::open(output.c_str(), O_RDONLY);
  const bool durable = written >= 0 && ::fsync(written) == 0;
  if (written >= 0) ::close(written);
  if (!durable) return Fail("cannot put " + output.string() + " on the disk");

  std::printf("packages=%llu\n",
              static_cast<unsigned long long>(totals.split_packages + totals.full_packages));
  std::printf("split_packages=%llu\n", static_cast<unsigned long long>(totals.split_packages));
  std::printf("full_packages=%llu\n", static_cast<unsigned long long>(totals.full_packages));
  std::printf("passed_over=%llu\n", static_cast<unsigned long long>(totals.passed_over));
  std::printf("blocks=%llu\n", static_cast<unsigned long long>(totals.blocks));
  std::printf("archive_bytes=%llu\n", static_cast<unsigned long long>(archive_bytes));
  std::printf("raw_bytes=%llu\n", static_cast<unsigned long long>(totals.raw_bytes));
  std::printf("written_bytes=%llu\n", static_cast<unsigned long long>(totals.written_bytes));
  std::printf("largest_split_entry=%lu\n", static_cast<unsigned long>(totals.largest_split_entry));
  std::printf("largest_full_area=%lu\n", static_cast<unsigned long>(totals.largest_full_area));
  std::printf("largest_full_package=%s\n", totals.largest_full_package.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_baseline GAME_DIR OUTPUT_FILE\n");
    return 2;
  }
  return Run(argv[1], argv[2]);
}
