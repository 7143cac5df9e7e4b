#ifndef VINTREL_MANIFEST_GAME_FILES_H_
#define VINTREL_MANIFEST_GAME_FILES_H_

#include "base/string_buffer.h"

struct ArchiveRecord;

// The paths of the files of a game directory, dir ending in a backslash as a run keeps it. Each
// is made here alone; each function gives false when out of memory.

// "<dir><name>.upak": a package archive, the user archive included.
bool archive_path(const char* dir, const char* name, CStringBufferA& path);
// The archive that an ArchiveRecord of the manifest names (its name ends at a NUL, if any).
bool record_archive_path(const char* dir, const ArchiveRecord& record, CStringBufferA& path);
// "<dir><name>.upak.tmp": the user archive while a run builds it.
bool pending_archive_path(const char* dir, const char* name, CStringBufferA& path);
// "<dir>manifest.bin": the game's manifest.
bool manifest_path(const char* dir, CStringBufferA& path);
// "<dir>manifest.bin.tmp": a new manifest before it is put in place.
bool pending_manifest_path(const char* dir, CStringBufferA& path);
// "<dir>origmanifest.bin": the back-up of the untouched manifest.
bool backup_path(const char* dir, CStringBufferA& path);
// "<dir>origmanifest.bin.tmp": the back-up while it is written.
bool pending_backup_path(const char* dir, CStringBufferA& path);
// "<dir><name>", "<dir><name>.tmp" and "<dir><name>.old": a file of the game directory named by
// a commit record (manifest/commit_record.h), the new file that replaces it, and the file it
// replaces while the change is under way.
bool game_file_path(const char* dir, const char* name, CStringBufferA& path);
bool pending_file_path(const char* dir, const char* name, CStringBufferA& path);
bool aside_file_path(const char* dir, const char* name, CStringBufferA& path);

// The names that the files above have in the game directory.
constexpr char kManifestName[] = "manifest.bin";
constexpr char kBackupName[] = "origmanifest.bin";
constexpr char kCommitRecordName[] = "vintrel.commit";

#endif  // VINTREL_MANIFEST_GAME_FILES_H_
