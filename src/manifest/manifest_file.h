#ifndef VINTREL_MANIFEST_MANIFEST_FILE_H_
#define VINTREL_MANIFEST_MANIFEST_FILE_H_

#include "base/platform.h"
#include "base/status.h"
#include "driver/run_context.h"

// The manifest: a 44-byte header (u32 version, 5 x u32 section offset, 5 x u32 section size)
// and five sections. See doc/manifest_format.md.
constexpr unsigned kManifestHeaderSize = 44;
constexpr unsigned kManifestVersion = 13;

// Loads the five sections of the file at path, each from its own offset and size. On failure the
// status says why: kNotFound, there is no such file; kCorrupt, the file is shorter than its
// header or its header names a section that runs past its end; any other code, the file is there
// but could not be opened or read (in use, a failing disk, no memory). Sections read before the
// failing one keep their new contents.
bool load_manifest(ManifestSections& sections, const char* path, Status* status);

// Writes a manifest with version 13 and the sections contiguous after the header, in order, to
// an open file (path names it in a failure). False on a short write or when the sections add up
// to more than 32-bit offsets can describe.
bool write_manifest_file(const ManifestSections& sections, FileHandle file, const char* path,
                         Status* status);

// The run's forms of the two: the context's manifestSections, and the reason of a failure in its
// failure. read_manifest fails for every reason load_manifest gives; write_manifest also when the
// file cannot be created, and flushes what it wrote.
bool read_manifest(RunContext& context, const char* path);
bool write_manifest(RunContext& context, const char* path);

#endif  // VINTREL_MANIFEST_MANIFEST_FILE_H_
