#include "manifest/manifest_file.h"

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/platform.h"
#include "driver/run_context.h"

namespace {

constexpr unsigned kOffsetsAt = 4;
constexpr unsigned kSizesAt = kOffsetsAt + 4 * kManifestSectionCount;
static_assert(kSizesAt + 4 * kManifestSectionCount == kManifestHeaderSize,
              "the header is the version and two tables of five u32");

uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put_u32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

ManifestRead load_manifest(RunContext& context, const char* path) {
  ScopedFile file(open_file(path, "r"));
  if (!file.is_open()) {
    return sys_file_exists(path) ? ManifestRead::kFailed : ManifestRead::kMissing;
  }

  // Whether the file is too short is decided by its size, never by a read that came up short:
  // a failing disk must not make a good file look malformed.
  const uint64_t fileSize = file_size(file.get());
  if (fileSize == kBadPosition) return ManifestRead::kFailed;
  if (fileSize < kManifestHeaderSize) return ManifestRead::kMalformed;
  uint8_t header[kManifestHeaderSize];
  if (file_read(file.get(), header, kManifestHeaderSize) != kManifestHeaderSize) {
    return ManifestRead::kFailed;
  }

  // The sizes come from the file and may be hostile: each one is held against the file's real
  // size before a buffer is grown for it, so a damaged header cannot ask for gigabytes. An empty
  // section has no bytes to read, so its offset does not matter.
  for (int i = 0; i < kManifestSectionCount; ++i) {
    const uint32_t offset = get_u32(header + kOffsetsAt + 4 * i);
    const uint32_t size = get_u32(header + kSizesAt + 4 * i);
    if (size != 0 && (offset > fileSize || size > fileSize - offset)) {
      return ManifestRead::kMalformed;
    }
  }
  for (int i = 0; i < kManifestSectionCount; ++i) {
    const uint32_t offset = get_u32(header + kOffsetsAt + 4 * i);
    const uint32_t size = get_u32(header + kSizesAt + 4 * i);
    ByteBuffer& section = context.manifestSections[i];
    if (!section.resize(size)) return ManifestRead::kFailed;
    if (size == 0) continue;
    if (file_seek(file.get(), offset) != offset) return ManifestRead::kFailed;
    if (file_read(file.get(), section.data(), size) != size) return ManifestRead::kFailed;
  }
  return ManifestRead::kOk;
}

bool read_manifest(RunContext& context, const char* path) {
  return load_manifest(context, path) == ManifestRead::kOk;
}

bool write_manifest(RunContext& context, const char* path) {
  uint8_t header[kManifestHeaderSize];
  put_u32(header, kManifestVersion);
  // Sections follow the header back to back; a total beyond 4 GiB cannot be described by the
  // 32-bit offsets, so it is refused rather than written with wrapped ones.
  uint32_t offset = kManifestHeaderSize;
  for (int i = 0; i < kManifestSectionCount; ++i) {
    const uint32_t size = context.manifestSections[i].length();
    put_u32(header + kOffsetsAt + 4 * i, offset);
    put_u32(header + kSizesAt + 4 * i, size);
    if (size > UINT32_MAX - offset) return false;
    offset += size;
  }

  ScopedFile file(open_file(path, "w"));
  if (!file.is_open()) return false;
  if (file_write(file.get(), header, kManifestHeaderSize) != kManifestHeaderSize) return false;
  for (int i = 0; i < kManifestSectionCount; ++i) {
    const ByteBuffer& section = context.manifestSections[i];
    const uint32_t size = section.length();
    if (size == 0) continue;
    if (file_write(file.get(), section.data(), size) != size) return false;
  }
  // The file is put in place by a rename: its bytes must be on the disk before that.
  return file_flush(file.get());
}
