#include "inspect/restore_command.h"

#include <cstdio>
#include <cstring>

#include "base/ascii.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/file_lock.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "driver/game_lock.h"
#include "driver/run_context.h"
#include "inspect/messages.h"
#include "manifest/backup_check.h"
#include "manifest/game_files.h"
#include "manifest/manifest_file.h"
#include "manifest/manifest_update.h"
#include "manifest/package_directory.h"

namespace {

// The length of an archive name as a path sees it: the path is formed from the name as a C
// string, so a NUL ends it.
uint32_t path_length(const ArchiveRecord& archive) {
  const void* nul = std::memchr(archive.name, 0, archive.nameLength);
  return nul == nullptr ? archive.nameLength
                        : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - archive.name);
}

// Whether two archive names lead to the same file name; Windows file names ignore case.
bool same_file_name(const ArchiveRecord& a, const ArchiveRecord& b) {
  const uint32_t length = path_length(a);
  if (path_length(b) != length) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (ascii_lower(a.name[i]) != ascii_lower(b.name[i])) return false;
  }
  return true;
}

// The paths that restoring works on, in the game directory.
struct GamePaths {
  PathBuffer dir;  // ends in a backslash
  PathBuffer manifest;
  PathBuffer manifestTemp;
  PathBuffer backup;
  PathBuffer userArchive;  // empty when there is no user archive to remove
};

bool refuse(Status* status, const char* format, const char* name) {
  status->Fail(StatusCode::kRefused, format, name);
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
  if (!archive_path(paths.dir.Data(), name.Data(), paths.userArchive)) {
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

// Writes the back-up's bytes to manifest.bin.tmp, puts them on the disk and renames the file over
// manifest.bin, as a run puts its manifest in place.
bool restore_manifest(const GamePaths& paths, Status* status) {
  ByteBuffer bytes;
  if (!read_whole_file(paths.backup.Data(), bytes, status)) return false;
  PendingFile manifest;
  if (!manifest.Create(paths.manifestTemp.Data(), paths.manifest.Data(), status)) return false;
  if (bytes.length() != 0 &&
      file_write(manifest.file(), bytes.data(), bytes.length()) != bytes.length()) {
    status->FailIo("cannot write", paths.manifestTemp.Data());
    return false;
  }
  return manifest.Commit(status);
}

// One line on standard output for a change made: the path as the system shows it, in quotes,
// between two texts.
void print_done(const char* before, const char* path, const char* after) {
  CStringBufferA shown;
  sys_native_path(path, shown);
  std::printf("%s\"%s\"%s\n", before, shown.Data(), after);
}

int run_restore(const CommandArgs& args) {
  GamePaths paths;
  if (paths.dir.Format("%s\\", args.positional[0]) <= 0 ||
      !manifest_path(paths.dir.Data(), paths.manifest) ||
      !pending_manifest_path(paths.dir.Data(), paths.manifestTemp) ||
      !backup_path(paths.dir.Data(), paths.backup)) {
    print_error("out of memory");
    return kExitFailure;
  }
  // A run's lock: neither may change the directory while the other works in it.
  FileLock lock;
  Status status;
  if (!lock_game_directory(paths.dir.Data(), lock, &status)) {
    print_failure(status);
    return kExitFailure;
  }

  // Everything is checked before anything changes, so that a refusal leaves the game as it is.
  ManifestSections backup;
  if (!load_manifest(backup, paths.backup.Data(), &status)) {
    if (status.code() == StatusCode::kNotFound) {
      status.FailAt(StatusCode::kNotFound, paths.backup.Data(),
                    "there is no back-up: no run of the tool has changed this game, or it has "
                    "been restored already");
    }
    print_failure(status);
    return kExitFailure;
  }
  ManifestSections current;
  const bool hasManifest = load_manifest(current, paths.manifest.Data(), &status);
  CStringBufferA reason;
  if (!hasManifest && status.code() != StatusCode::kNotFound) {
    if (!status.Describe(reason)) reason.Assign("out of memory");
    print_error("%s; it cannot be held against the back-up, so nothing was changed", reason.Data());
    return kExitFailure;
  }
  if (hasManifest) {
    Status why;
    if (!manifest_follows_backup(current, backup, &why)) {
      CStringBufferA manifestName;
      CStringBufferA backupName;
      sys_native_path(paths.manifest.Data(), manifestName);
      sys_native_path(paths.backup.Data(), backupName);
      print_error(
          "\"%s\": changed since \"%s\" was made (%s), so no run of the tool wrote it; "
          "restoring would undo that change (a game update?), so nothing was changed",
          manifestName.Data(), backupName.Data(), why.what());
      return kExitFailure;
    }
    if (!find_user_archive(current, backup, paths, &status)) {
      if (!status.Describe(reason)) reason.Assign("out of memory");
      print_error("%s; nothing was changed", reason.Data());
      return kExitFailure;
    }
  }

  // The manifest first: once it is the back-up, nothing refers to the user archive any more.
  if (!restore_manifest(paths, &status)) {
    if (!status.Describe(reason)) reason.Assign("out of memory");
    print_error("%s; nothing was changed", reason.Data());
    return kExitFailure;
  }
  print_done("restored ", paths.manifest.Data(), " from the back-up");
  if (paths.userArchive.Length() != 0 && sys_file_exists(paths.userArchive.Data())) {
    if (!sys_delete_file(paths.userArchive.Data())) {
      status.FailIo("cannot delete", paths.userArchive.Data());
      if (!status.Describe(reason)) reason.Assign("out of memory");
      print_error("%s; the manifest is restored: delete that file when nothing holds it",
                  reason.Data());
      return kExitFailure;
    }
    print_done("deleted the user archive ", paths.userArchive.Data(), "");
  }
  // The back-up goes last: until then a restore that stopped half way can be done again.
  if (!sys_delete_file(paths.backup.Data())) {
    status.FailIo("cannot delete", paths.backup.Data());
    if (!status.Describe(reason)) reason.Assign("out of memory");
    print_error("%s; the game is restored, and the back-up is the same as manifest.bin",
                reason.Data());
    return kExitFailure;
  }
  print_done("deleted the back-up ", paths.backup.Data(), "");
  return kExitSuccess;
}

}  // namespace

const CommandSpec kRestoreCommand = {
    "restore",
    "GAMEDIR",
    "undo the tool: the game's manifest back as before the first run",
    "Puts the back-up origmanifest.bin, which the first run of the tool made, back as\n"
    "manifest.bin (written as manifest.bin.tmp, put on the disk, then renamed), deletes the\n"
    "user archive that the present manifest.bin names and the back-up does not, and deletes\n"
    "origmanifest.bin last. The game is then byte for byte as it was before the first run.\n"
    "It holds the tool's lock (vintrel.lock) while it works, so that it never races a run.\n"
    "\n"
    "It refuses, changing nothing, when there is no back-up, when the back-up cannot be read,\n"
    "and when manifest.bin is not what a run of the tool writes from that back-up: after a game\n"
    "update restoring would undo the update. A missing manifest.bin, or one that is already\n"
    "the back-up, is restored all the same. A file that is one of the back-up's archives is\n"
    "never deleted.\n"
    "\n"
    "Exit status: 0 when the game is restored, 1 when it is refused or fails, 2 for a usage\n"
    "error.\n",
    1,
    0,
    run_restore,
};
