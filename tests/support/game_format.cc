#include "tests/support/game_format.h"

#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>

namespace vtest {

std::string IdText(uint64_t id) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, id);
  return text;
}

uint64_t NameHash(std::string_view text) {
  // Bit by bit rather than through a table, so that a wrong table in the tool cannot be
  // mirrored here.
  uint64_t crc = ~uint64_t{0};
  for (char ch : text) {
    uint8_t c = static_cast<uint8_t>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xD0AB0F0002C00600ull : crc >> 1;
    }
  }
  return ~crc;
}

bool PackageRecord::operator==(const PackageRecord& o) const {
  return name == o.name && package_id == o.package_id && attr_word1 == o.attr_word1 &&
         attr_word2 == o.attr_word2 && words == o.words && attr_byte1 == o.attr_byte1 &&
         archive_index == o.archive_index && attr_byte2 == o.attr_byte2 &&
         attr_byte3 == o.attr_byte3 && offset == o.offset;
}

bool PackageHeader::operator==(const PackageHeader& o) const {
  return magic == o.magic && attr_byte == o.attr_byte && attr_word == o.attr_word &&
         index_offset == o.index_offset && index_size == o.index_size &&
         entry_table_offset == o.entry_table_offset && entry_table_size == o.entry_table_size &&
         data_offset == o.data_offset && split_compress == o.split_compress;
}

size_t PackageRecordSize(const PackageRecord& record) {
  return 26 + record.name.size() + 2 * record.words.size();
}

Bytes EncodePackageDirectory(const PackageDirectory& directory) {
  Bytes out;
  PutU32(out, static_cast<uint32_t>(directory.id_names.size()));
  PutU32(out, directory.directory_value);
  for (const IdNameRecord& r : directory.id_names) {
    PutU64(out, r.id);
    PutU32(out, static_cast<uint32_t>(r.name.size()));
    PutText(out, r.name);
  }
  PutU32(out, static_cast<uint32_t>(directory.archives.size()));
  for (const ArchiveRecord& r : directory.archives) {
    PutU8(out, r.tag);
    PutU16(out, static_cast<uint16_t>(r.name.size()));
    PutText(out, r.name);
  }
  PutU32(out, static_cast<uint32_t>(directory.packages.size()));
  for (const PackageRecord& r : directory.packages) {
    PutU8(out, static_cast<uint8_t>(r.name.size()));
    PutText(out, r.name);
    PutU64(out, r.package_id);
    PutU16(out, r.attr_word1);
    PutU16(out, r.attr_word2);
    PutU8(out, static_cast<uint8_t>(r.words.size()));
    for (uint16_t w : r.words) PutU16(out, w);
    PutU8(out, r.attr_byte1);
    PutU8(out, r.archive_index);
    PutU8(out, r.attr_byte2);
    PutU8(out, r.attr_byte3);
    PutU64(out, r.offset);
  }
  PutBytes(out, directory.tail);
  return out;
}

std::optional<PackageDirectory> DecodePackageDirectory(const Bytes& section, std::string* error) {
  ByteCursor in(section);
  PackageDirectory dir;
  auto fail = [&](const std::string& what) {
    *error = "package directory cut short at byte " + std::to_string(in.position()) + ": " + what;
    return std::nullopt;
  };
  uint32_t count = 0;
  if (!in.ReadU32(&count) || !in.ReadU32(&dir.directory_value)) return fail("header");
  for (uint32_t i = 0; i < count; ++i) {
    IdNameRecord r;
    uint32_t length = 0;
    if (!in.ReadU64(&r.id) || !in.ReadU32(&length) || !in.ReadText(length, &r.name)) {
      return fail("IdNameRecord " + std::to_string(i));
    }
    dir.id_names.push_back(std::move(r));
  }
  if (!in.ReadU32(&count)) return fail("archiveCount");
  for (uint32_t i = 0; i < count; ++i) {
    ArchiveRecord r;
    uint16_t length = 0;
    if (!in.ReadU8(&r.tag) || !in.ReadU16(&length) || !in.ReadText(length, &r.name)) {
      return fail("ArchiveRecord " + std::to_string(i));
    }
    dir.archives.push_back(std::move(r));
  }
  if (!in.ReadU32(&count)) return fail("packageCount");
  for (uint32_t i = 0; i < count; ++i) {
    PackageRecord r;
    uint8_t length = 0;
    uint8_t word_count = 0;
    bool ok = in.ReadU8(&length) && in.ReadText(length, &r.name) && in.ReadU64(&r.package_id) &&
              in.ReadU16(&r.attr_word1) && in.ReadU16(&r.attr_word2) && in.ReadU8(&word_count);
    for (int w = 0; ok && w < word_count; ++w) {
      uint16_t word = 0;
      ok = in.ReadU16(&word);
      r.words.push_back(word);
    }
    ok = ok && in.ReadU8(&r.attr_byte1) && in.ReadU8(&r.archive_index) &&
         in.ReadU8(&r.attr_byte2) && in.ReadU8(&r.attr_byte3) && in.ReadU64(&r.offset);
    if (!ok) return fail("PackageRecord " + std::to_string(i));
    dir.packages.push_back(std::move(r));
  }
  in.ReadBytes(in.remaining(), &dir.tail);
  return dir;
}

Bytes EncodeManifest(const std::array<Bytes, 5>& sections, const ManifestLayout& layout) {
  std::array<uint32_t, 5> offsets = {};
  Bytes body;
  for (int index : layout.order) {
    body.insert(body.end(), layout.gap_before[index], 0xA5);
    offsets[index] = static_cast<uint32_t>(kManifestHeaderSize + body.size());
    PutBytes(body, sections[index]);
  }
  Bytes out;
  PutU32(out, layout.version);
  for (uint32_t offset : offsets) PutU32(out, offset);
  for (const Bytes& section : sections) PutU32(out, static_cast<uint32_t>(section.size()));
  PutBytes(out, body);
  return out;
}

std::optional<ParsedManifest> DecodeManifest(const Bytes& file, std::string* error) {
  ByteCursor in(file);
  ParsedManifest m;
  bool ok = in.ReadU32(&m.version);
  for (uint32_t& offset : m.section_offset) ok = ok && in.ReadU32(&offset);
  for (uint32_t& size : m.section_size) ok = ok && in.ReadU32(&size);
  if (!ok) {
    *error = "manifest shorter than its 44-byte header (" + std::to_string(file.size()) + " bytes)";
    return std::nullopt;
  }
  for (int i = 0; i < 5; ++i) {
    uint64_t offset = m.section_offset[i];
    uint64_t size = m.section_size[i];
    if (offset > file.size() || size > file.size() - offset) {
      *error = "manifest section " + std::to_string(i) + " runs past the end of the file";
      return std::nullopt;
    }
    m.sections[i].assign(file.begin() + static_cast<ptrdiff_t>(offset),
                         file.begin() + static_cast<ptrdiff_t>(offset + size));
  }
  std::optional<PackageDirectory> dir = DecodePackageDirectory(m.sections[0], error);
  if (!dir) return std::nullopt;
  m.directory = std::move(*dir);
  return m;
}

bool IsContiguousLayout(const ParsedManifest& manifest) {
  uint64_t expected = kManifestHeaderSize;
  for (int i = 0; i < 5; ++i) {
    if (manifest.section_offset[i] != expected) return false;
    expected += manifest.section_size[i];
  }
  return true;
}

Bytes EncodePackageHeader(const PackageHeader& h) {
  Bytes out;
  PutU32(out, h.magic);
  PutU8(out, h.attr_byte);
  PutU32(out, h.attr_word);
  PutU32(out, h.index_offset);
  PutU32(out, h.index_size);
  PutU32(out, h.entry_table_offset);
  PutU32(out, h.entry_table_size);
  PutU32(out, h.data_offset);
  PutU8(out, h.split_compress);
  return out;
}

std::optional<PackageHeader> DecodePackageHeader(const Bytes& bytes, size_t position) {
  ByteCursor in(bytes);
  PackageHeader h;
  if (!in.Skip(position) || !in.ReadU32(&h.magic) || !in.ReadU8(&h.attr_byte) ||
      !in.ReadU32(&h.attr_word) || !in.ReadU32(&h.index_offset) || !in.ReadU32(&h.index_size) ||
      !in.ReadU32(&h.entry_table_offset) || !in.ReadU32(&h.entry_table_size) ||
      !in.ReadU32(&h.data_offset) || !in.ReadU8(&h.split_compress)) {
    return std::nullopt;
  }
  return h;
}

namespace {

// One deflate stream per level, made on first use and reset for every block: a game of many
// small blocks would otherwise spend most of its time setting up zlib. The output is the same as
// compress2's (zlib wrapper, 32 KiB window, memory level 8).
class DeflateStreams {
 public:
  DeflateStreams() = default;
  DeflateStreams(const DeflateStreams&) = delete;
  DeflateStreams& operator=(const DeflateStreams&) = delete;
  ~DeflateStreams() {
    for (int level = 0; level < 10; ++level) {
      if (ready_[level]) deflateEnd(&streams_[level]);
    }
  }

  // The stream of a level from 0 to 9, reset; null when zlib cannot make it.
  z_stream* Get(int level) {
    if (level < 0 || level > 9) return nullptr;
    z_stream& stream = streams_[level];
    if (!ready_[level]) {
      ready_[level] = deflateInit(&stream, level) == Z_OK;
      if (!ready_[level]) return nullptr;
    } else if (deflateReset(&stream) != Z_OK) {
      return nullptr;
    }
    return &stream;
  }

 private:
  z_stream streams_[10] = {};
  bool ready_[10] = {};
};

}  // namespace

Bytes Deflate(const Bytes& raw, int level) {
  thread_local DeflateStreams streams;
  z_stream* stream = streams.Get(level);
  if (stream == nullptr) return {};
  const uLong bound = deflateBound(stream, static_cast<uLong>(raw.size()));
  Bytes out(bound);
  stream->next_in = const_cast<Bytef*>(raw.data());
  stream->avail_in = static_cast<uInt>(raw.size());
  stream->next_out = out.data();
  stream->avail_out = static_cast<uInt>(bound);
  if (deflate(stream, Z_FINISH) != Z_STREAM_END) return {};
  out.resize(bound - stream->avail_out);
  return out;
}

Bytes MakeBlock(const Bytes& raw, int level) {
  Bytes out;
  PutU32(out, static_cast<uint32_t>(raw.size()));
  PutBytes(out, Deflate(raw, level));
  return out;
}

std::optional<InflatedBlock> InflateBlock(const Bytes& bytes, size_t position, std::string* error) {
  ByteCursor in(bytes);
  uint32_t raw_size = 0;
  if (!in.Skip(position) || !in.ReadU32(&raw_size)) {
    *error = "block size prefix cut short at " + std::to_string(position);
    return std::nullopt;
  }
  // Deflate expands at most 1032 to 1, so the bytes left bound what the stream can give; a
  // damaged prefix must not make the reader allocate far beyond that.
  const size_t left = bytes.size() - in.position();
  if (raw_size > (size_t{1} << 30) || raw_size / 1032 > left) {
    *error = "block raw size " + std::to_string(raw_size) + " is implausible";
    return std::nullopt;
  }
  InflatedBlock block;
  // One byte of spare room: a stream that inflates to more than the declared size shows up as
  // output in it rather than as a buffer error that looks like a cut stream.
  block.data.resize(size_t{raw_size} + 1);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    *error = "inflateInit failed";
    return std::nullopt;
  }
  size_t stream_start = in.position();
  size_t available = bytes.size() - stream_start;
  z.next_in = const_cast<Bytef*>(bytes.data() + stream_start);
  z.next_out = block.data.data();
  z.avail_out = raw_size + 1;
  int rc = Z_OK;
  // avail_in is 32 bits wide; feed in pieces so that large archives work.
  while (rc == Z_OK) {
    if (z.avail_in == 0) {
      size_t consumed = static_cast<size_t>(z.next_in - (bytes.data() + stream_start));
      size_t piece = std::min<size_t>(available - consumed, UINT_MAX);
      if (piece == 0) break;
      z.avail_in = static_cast<uInt>(piece);
    }
    rc = inflate(&z, Z_NO_FLUSH);
  }
  size_t produced = z.total_out;
  size_t stream_size = static_cast<size_t>(z.next_in - (bytes.data() + stream_start));
  inflateEnd(&z);
  if (rc != Z_STREAM_END) {
    *error = rc == Z_OK || rc == Z_BUF_ERROR
                 ? "block at " + std::to_string(position) + " is cut short"
                 : "block at " + std::to_string(position) + " is corrupt (zlib " +
                       std::to_string(rc) + ")";
    return std::nullopt;
  }
  if (produced != raw_size) {
    *error = "block at " + std::to_string(position) + " inflates to " + std::to_string(produced) +
             " bytes, declared " + std::to_string(raw_size);
    return std::nullopt;
  }
  block.data.resize(raw_size);
  block.block_size = 4 + stream_size;
  return block;
}

}  // namespace vtest
