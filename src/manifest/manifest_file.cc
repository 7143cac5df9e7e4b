#include "manifest/manifest_file.h"

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/coding.h"
#include "base/file.h"

namespace {

constexpr unsigned kOffsetsAt = 4;
constexpr unsigned kSizesAt = kOffsetsAt + 4 * ManifestSections::kCount;
static_assert(kSizesAt + 4 * ManifestSections::kCount == kManifestHeaderSize,
              "the header is the version and two tables of five u32");

// The header of a manifest whose sections follow it back to back. A total beyond 4 GiB cannot be
// described by the 32-bit offsets, so it is refused rather than written with wrapped ones.
bool encode_header(const ManifestSections& sections, uint8_t (&header)[kManifestHeaderSize],
                   const char* path, Status* status) {
  encode_u32(header, kManifestVersion);
  uint32_t offset = kManifestHeaderSize;
  for (int i = 0; i < ManifestSections::kCount; ++i) {
    const uint32_t size = sections[i].length();
    encode_u32(header + kOffsetsAt + 4 * i, offset);
    encode_u32(header + kSizesAt + 4 * i, size);
    if (size > UINT32_MAX - offset) {
      status->FailAt(StatusCode::kUnsupported, path,
                     "the manifest would pass 4 GiB, beyond what its 32-bit offsets describe");
      return false;
    }
    offset += size;
  }
  return true;
}

}  // namespace

bool load_manifest(ManifestSections& sections, const char* path, Status* status) {
  ScopedFile file(open_file(path, "r"));
  if (!file.is_open()) {
    const uint32_t error = sys_last_error();
    if (sys_file_exists(path)) {
      status->FailIo("cannot open", path, error);
    } else {
      status->FailAt(StatusCode::kNotFound, path,
                     "there is no such file; is this the game's data directory?");
    }
    return false;
  }

  // Whether the file is too short is decided by its size, never by a read that came up short:
  // a failing disk must not make a good file look malformed.
  const uint64_t fileSize = file_size(file.get());
  if (fileSize == kBadPosition) {
    status->FailIo("cannot read", path);
    return false;
  }
  if (fileSize < kManifestHeaderSize) {
    status->FailAt(StatusCode::kCorrupt, path, "not a manifest: shorter than the 44-byte header");
    return false;
  }
  uint8_t header[kManifestHeaderSize];
  if (file_read(file.get(), header, kManifestHeaderSize) != kManifestHeaderSize) {
    status->FailIo("cannot read", path);
    return false;
  }

  // The sizes come from the file and may be hostile: each one is held against the file's real
  // size before a buffer is grown for it, so a damaged header cannot ask for gigabytes. An empty
  // section has no bytes to read, so its offset does not matter.
  for (int i = 0; i < ManifestSections::kCount; ++i) {
    const uint32_t offset = decode_u32(header + kOffsetsAt + 4 * i);
    const uint32_t size = decode_u32(header + kSizesAt + 4 * i);
    if (size != 0 && (offset > fileSize || size > fileSize - offset)) {
      status->FailAt(StatusCode::kCorrupt, path,
                     "not a manifest: section %d runs past the end of the file", i);
      return false;
    }
  }
  for (int i = 0; i < ManifestSections::kCount; ++i) {
    const uint32_t offset = decode_u32(header + kOffsetsAt + 4 * i);
    const uint32_t size = decode_u32(header + kSizesAt + 4 * i);
    ByteBuffer& section = sections[i];
    if (!section.resize(size)) return status->FailOutOfMemory();
    if (size == 0) continue;
    if (file_seek(file.get(), offset) != offset ||
        file_read(file.get(), section.data(), size) != size) {
      status->FailIo("cannot read", path);
      return false;
    }
  }
  return true;
}

bool write_manifest_file(const ManifestSections& sections, FileHandle file, const char* path,
                         Status* status) {
  uint8_t header[kManifestHeaderSize];
  if (!encode_header(sections, header, path, status)) return false;
  if (file_write(file, header, kManifestHeaderSize) != kManifestHeaderSize) {
    status->FailIo("cannot write", path);
    return false;
  }
  for (int i = 0; i < ManifestSections::kCount; ++i) {
    const ByteBuffer& section = sections[i];
    const uint32_t size = section.length();
    if (size == 0) continue;
    if (file_write(file, section.data(), size) != size) {
      status->FailIo("cannot write", path);
      return false;
    }
  }
  return true;
}

bool read_manifest(RunContext& context, const char* path) {
  return load_manifest(context.manifestSections, path, &context.failure);
}

bool write_manifest(RunContext& context, const char* path) {
  uint8_t header[kManifestHeaderSize];
  if (!encode_header(context.manifestSections, header, path, &context.failure)) return false;
  ScopedFile file(open_file(path, "w"));
  if (!file.is_open()) {
    context.failure.FailIo("cannot create", path);
    return false;
  }
  if (!write_manifest_file(context.manifestSections, file.get(), path, &context.failure)) {
    return false;
  }
  if (!file_flush(file.get())) {
    context.failure.FailIo("cannot write", path);
    return false;
  }
  return true;
}
