#ifndef VINTREL_MANIFEST_MANIFEST_FILE_H_
#define VINTREL_MANIFEST_MANIFEST_FILE_H_

struct RunContext;

// The manifest: a 44-byte header (u32 version, 5 x u32 section offset, 5 x u32 section size)
// and five sections. See doc/manifest_format.md.
constexpr unsigned kManifestHeaderSize = 44;
constexpr unsigned kManifestVersion = 13;

// Why a manifest could not be loaded. kMissing: there is no such file. kMalformed: the file is
// shorter than its header, or its header names a section that runs past its end. kFailed: the
// file is there but could not be opened or read (in use, a failing disk, no memory).
enum class ManifestRead { kOk, kMissing, kMalformed, kFailed };
ManifestRead load_manifest(RunContext& context, const char* path);

// Loads the five sections of the file at path into context.manifestSections, each from its own
// offset and size. False when the file cannot be opened, is shorter than its header, or a section
// cannot be read whole; sections read before the failing one keep their new contents.
bool read_manifest(RunContext& context, const char* path);
// Writes a manifest with version 13 and the sections contiguous after the header, in order.
// False when the file cannot be created or a write falls short.
bool write_manifest(RunContext& context, const char* path);

#endif  // VINTREL_MANIFEST_MANIFEST_FILE_H_
