#include "inspect/restore.h"

#include <cstring>

#include "base/ascii.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/file_lock.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "driver/game_lock.h"
#include "driver/run_context.h"
#include "manifest/backup_check.h"
#include "manifest/game_files.h"
#include "manifest/manifest_file.h"
#include "manifest/manifest_update.h"
#include "manifest/package_directory.h"

namespace {

constexpr char kNothingChanged[] = "; nothing was changed";
constexpr char kNotComparable[] = "; it cannot be held against the back-up, so nothing was changed";

// The length of a name as a path sees it: the path is formed from the name as a C string, so a NUL
// ends it.
uint32_t path_length(const uint8_t* name, uint32_t length) {
  const void* nul = std::memchr(name, 0, length);
  return nul == nullptr ? length : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - name);
}

uint32_t path_length(const ArchiveRecord& archive) {
  return path_length(archive.name, archive.nameLength);
}

// Whether two archive names lead to the same file name; Windows file names ignore case.
bool same_file_name(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
  const uint32_t length = path_length(a, aLength);
  return path_length(b, bLength) == length && ascii_same_but_case(a, b, length);
}

bool same_file_name(const ArchiveRecord& a, const ArchiveRecord& b) {
  return same_file_name(a.name, a.nameLength, b.name, b.nameLength);
}

// The paths that restoring works on, in the game directory.
struct GamePaths {
  PathBuffer dir;  // ends in a backslash
  PathBuffer manifest;
  PathBuffer manifestTemp;
  PathBuffer backup;
  PathBuffer userArchive;      // empty when there is no user archive to remove
  PathBuffer userArchiveName;  // its file name, "<name>.upak"
};

bool make_paths(const char* gameDir, GamePaths& paths, Status* status) {
  if (paths.dir.Format("%s\\", gameDir) <= 0 || !manifest_path(paths.dir.Data(), paths.manifest) ||
      !pending_manifest_path(paths.dir.Data(), paths.manifestTemp) ||
      !backup_path(paths.dir.Data(), paths.backup)) {
    return status->FailOutOfMemory();
  }
  return true;
}

bool fail(RestoreResult* result, const char* remark) {
  result->remark = remark;
  return false;
}

bool refuse(Status* status, const char* format, const char* name) {
  status->Fail(StatusCode::kRefused, format, name);
  return false;
}

// Reads the back-up into *backup; a missing one is told as such.
bool load_backup(const GamePaths& paths, ManifestSections& backup, Status* status) {
  if (load_manifest(backup, paths.backup.Data(), status)) return true;
  if (status->code() == StatusCode::kNotFound) {
    status->FailAt(StatusCode::kNotFound, paths.backup.Data(),
                   "there is no back-up: no run of the tool has changed this game, or it has "
                   "been restored already");
  }
  return false;
}

// The user archive that the current directory names and the back-up's does not: the archive a
// run appends to the list, or with fullcopy the one name that every archive took; none when every
// name is one of the back-up's (no package moved). Its path goes to paths.userArchive. A name that
// a run could not have written, or that leads to one of the back-up's archives, is refused: such
// a file is never deleted. False, with the reason in *status, then and when out of memory.
bool find_user_archive(const ManifestSections& current, const ManifestSections& backup,
                       GamePaths& paths, Status* status) {
  DirectoryReader is(current[0]);
  DirectoryReader was(backup[0]);
  if (!is.ReadHead(status) || !was.ReadHead(status)) return false;
  const ArchiveRecord* user = nullptr;
  for (uint32_t i = 0; i < is.archive_count() && user == nullptr; ++i) {
    bool listed = false;
    for (uint32_t j = 0; j < was.archive_count() && !listed; ++j) {
      listed = same_file_name(is.archive(i), was.archive(j));
    }
    if (!listed) user = &is.archive(i);
  }
  if (user == nullptr) return true;

  CStringBufferA name;
  if (!copy_directory_name(user->name, user->nameLength, name)) {
    status->FailOutOfMemory();
    return false;
  }
  Status unusable;
  if (path_length(*user) != user->nameLength ||
      !user_archive_name_is_usable(name.Data(), user->nameLength, &unusable)) {
    return refuse(status,
                  "manifest.bin names the user archive \"%s\", which no run of the tool "
                  "writes",
                  name.Data());
  }
  if (!archive_path(paths.dir.Data(), name.Data(), paths.userArchive) ||
      paths.userArchiveName.Format("%s.upak", name.Data()) <= 0) {
    return status->FailOutOfMemory();
  }
  // Spelling cannot show every name of a file (8.3 aliases, links): its identity can.
  PathBuffer archivePath;
  for (uint32_t j = 0; j < was.archive_count(); ++j) {
    if (!record_archive_path(paths.dir.Data(), was.archive(j), archivePath) ||
        !copy_directory_name(was.archive(j).name, was.archive(j).nameLength, name)) {
      return status->FailOutOfMemory();
    }
    if (sys_same_file(paths.userArchive.Data(), archivePath.Data())) {
      return refuse(status, "the user archive that manifest.bin names is the game's archive \"%s\"",
                    name.Data());
    }
  }
  return true;
}

// The archive upak + ".upak" that a run made before the game was updated: its path goes to
// paths.userArchive. Refused when upak is not a plain file name, when there is no such file, and
// when the current manifest lists it, by name or by identity, since the game then reads it. False,
// with the reason in *status, then and when out of memory.
bool find_old_user_archive(const ManifestSections& current, const char* upak, GamePaths& paths,
                           Status* status) {
  const size_t length = std::strlen(upak);
  if (length > UINT32_MAX) return refuse(status, "\"upak\" \"%s\" is too long", upak);
  if (!user_archive_name_is_usable(upak, static_cast<uint32_t>(length), status)) return false;
  if (!archive_path(paths.dir.Data(), upak, paths.userArchive) ||
      paths.userArchiveName.Format("%s.upak", upak) <= 0) {
    return status->FailOutOfMemory();
  }
  if (!sys_file_exists(paths.userArchive.Data())) {
    status->FailAt(StatusCode::kNotFound, paths.userArchive.Data(), "there is no such archive");
    return false;
  }
  DirectoryReader is(current[0]);
  if (!is.ReadHead(status)) return false;
  const uint8_t* name = reinterpret_cast<const uint8_t*>(upak);
  PathBuffer archivePath;
  CStringBufferA listed;
  for (uint32_t i = 0; i < is.archive_count(); ++i) {
    const ArchiveRecord& archive = is.archive(i);
    if (!record_archive_path(paths.dir.Data(), archive, archivePath) ||
        !copy_directory_name(archive.name, archive.nameLength, listed)) {
      return status->FailOutOfMemory();
    }
    // Spelling cannot show every name of a file (8.3 aliases, links): its identity can.
    if (same_file_name(name, static_cast<uint32_t>(length), archive.name, archive.nameLength) ||
        sys_same_file(paths.userArchive.Data(), archivePath.Data())) {
      status->FailAt(StatusCode::kRefused, paths.userArchive.Data(),
                     "manifest.bin lists it as the archive \"%s\", so the game reads it",
                     listed.Data());
      return false;
    }
  }
  return true;
}

// Writes the back-up's bytes to manifest.bin.tmp and puts them on the disk, for the change that
// replaces manifest.bin with them. False, with the reason, when that fails.
bool write_pending_manifest(const GamePaths& paths, PendingFile& manifest, Status* status) {
  ByteBuffer bytes;
  if (!read_whole_file(paths.backup.Data(), bytes, status) ||
      !manifest.Create(paths.manifestTemp.Data(), paths.manifest.Data(), status)) {
    return false;
  }
  if (bytes.length() != 0 &&
      file_write(manifest.file(), bytes.data(), bytes.length()) != bytes.length()) {
    status->FailIo("cannot write", paths.manifestTemp.Data());
    return false;
  }
  return manifest.Finish(status);
}

// One change of the game, all or nothing: the user archive, when there is one, and the back-up
// go, and the back-up's bytes replace manifest.bin when restoreManifest. The user archive and the
// back-up are named first, so that they wait aside until the manifest is in place.
bool change_game(const GamePaths& paths, bool restoreManifest, RestoreResult* result) {
  Status* status = &result->failure;
  GameChange change(paths.dir.Data());
  PendingFile manifest;
  const bool removesArchive =
      paths.userArchive.Length() != 0 && sys_file_exists(paths.userArchive.Data());
  if ((removesArchive && !change.Remove(paths.userArchiveName.Data(), status)) ||
      !change.Remove(kBackupName, status)) {
    return fail(result, kNothingChanged);
  }
  if (restoreManifest) {
    if (!write_pending_manifest(paths, manifest, status) ||
        !change.Replace(kManifestName, status)) {
      return fail(result, kNothingChanged);
    }
    manifest.HandOver();
  }
  if (!change.Commit(status)) return fail(result, change.left_recorded() ? "" : kNothingChanged);
  if (change.record_kept()) result->kept.Assign(change.kept_reason());
  if ((restoreManifest && !result->restoredManifest.Assign(paths.manifest.Data())) ||
      (removesArchive && !result->deletedArchive.Assign(paths.userArchive.Data())) ||
      !result->deletedBackup.Assign(paths.backup.Data())) {
    return status->FailOutOfMemory();
  }
  return true;
}

// What both kinds of restore begin with: the game's paths, the lock of a run (neither may change
// the directory while the other works in it), a change that a crash interrupted finished, and the
// back-up. False, with the reason, when any of them cannot be had.
bool begin_restore(const char* gameDir, GamePaths& paths, FileLock& lock, ManifestSections& backup,
                   RestoreResult* result) {
  Status* status = &result->failure;
  return make_paths(gameDir, paths, status) &&
         lock_and_recover(paths.dir.Data(), lock, &result->recovery, status) &&
         load_backup(paths, backup, status);
}

}  // namespace

bool restore_game(const char* gameDir, RestoreResult* result) {
  Status* status = &result->failure;
  GamePaths paths;
  FileLock lock;
  ManifestSections backup;
  if (!begin_restore(gameDir, paths, lock, backup, result)) return false;
  // Everything is checked before anything changes, so that a refusal leaves the game as it is.
  ManifestSections current;
  Status unread;
  const bool hasManifest = load_manifest(current, paths.manifest.Data(), &unread);
  if (!hasManifest && unread.code() != StatusCode::kNotFound) {
    status->Assign(unread);
    return fail(result, kNotComparable);
  }
  if (hasManifest) {
    Status why;
    if (!manifest_follows_backup(current, backup, &why)) {
      CStringBufferA backupName;
      sys_native_path(paths.backup.Data(), backupName);
      status->FailAt(StatusCode::kRefused, paths.manifest.Data(),
                     "changed since \"%s\" was made (%s)", backupName.Data(), why.what());
      return fail(result,
                  ", so no run of the tool wrote it; restoring would undo that change (a game "
                  "update?), so nothing was changed");
    }
    if (!find_user_archive(current, backup, paths, status)) return fail(result, kNothingChanged);
  }

  return change_game(paths, true, result);
}

bool restore_after_update(const char* gameDir, const char* upak, RestoreResult* result) {
  Status* status = &result->failure;
  GamePaths paths;
  FileLock lock;
  ManifestSections backup;
  if (!begin_restore(gameDir, paths, lock, backup, result)) return false;
  ManifestSections current;
  if (!load_manifest(current, paths.manifest.Data(), status)) return fail(result, kNotComparable);
  Status why;
  if (manifest_follows_backup(current, backup, &why)) {
    CStringBufferA backupName;
    sys_native_path(paths.backup.Data(), backupName);
    status->FailAt(StatusCode::kRefused, paths.manifest.Data(),
                   "a run of the tool wrote it from \"%s\", so no game update replaced it: "
                   "use plain \"vintrel-inspect restore %s\" instead",
                   backupName.Data(), gameDir);
    return fail(result, kNothingChanged);
  }
  if (upak != nullptr && !find_old_user_archive(current, upak, paths, status)) {
    return fail(result, kNothingChanged);
  }
  return change_game(paths, false, result);
}
