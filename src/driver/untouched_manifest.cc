#include "driver/untouched_manifest.h"

#include <cstring>

#include "base/ascii.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "base/string_buffer.h"
#include "manifest/backup_check.h"
#include "manifest/game_commit.h"
#include "manifest/game_files.h"
#include "manifest/manifest_file.h"
#include "manifest/package_directory.h"

namespace {

// The game directory as it was given, without the separator that destDir ends in.
void shown_game_dir(const RunContext& context, CStringBufferA& gameDir) {
  sys_native_path(context.destDir.Text(), gameDir);
  if (gameDir.Length() > 1) {
    gameDir.Data()[gameDir.Length() - 1] = '\0';
    gameDir.SetLength(gameDir.Length() - 1);
  }
}

// A back-up that was made from another manifest than the game's present one (the game was
// updated since) must not be built from: it would point the new game at the old game's offsets.
// A manifest.bin that is missing or unreadable says nothing either way.
bool backup_is_current(RunContext& context, const char* manifestPath, const char* backupPath) {
  ManifestSections current;
  Status unread;
  if (!load_manifest(current, manifestPath, &unread)) return true;
  Status why;
  if (manifest_follows_backup(current, context.manifestSections, &why)) return true;
  CStringBufferA backupName;
  CStringBufferA gameDir;
  sys_native_path(backupPath, backupName);
  shown_game_dir(context, gameDir);
  context.failure.FailAt(StatusCode::kRefused, manifestPath,
                         "changed since \"%s\" was made (%s); after a game update, run "
                         "\"vintrel-inspect restore --after-update %s\" and run again",
                         backupName.Data(), why.what(), gameDir.Data());
  return false;
}

// Whether a manifest's archive list names the user archive: then a run of the tool wrote it, or
// "upak" names an archive of the game.
bool lists_user_archive(const ManifestSections& manifest, const SharedString& upak) {
  DirectoryReader directory(manifest[0]);
  Status ignored;
  if (!directory.ReadHead(&ignored)) return false;
  const uint32_t length = upak.Length();
  for (uint32_t i = 0; i < directory.archive_count(); ++i) {
    const ArchiveRecord& archive = directory.archive(i);
    const void* nul = std::memchr(archive.name, 0, archive.nameLength);
    const uint32_t nameLength =
        nul == nullptr ? archive.nameLength
                       : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - archive.name);
    if (nameLength == length && ascii_same_but_case(archive.name, upak.Text(), length)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool read_untouched_manifest(RunContext& context, UntouchedManifest* found) {
  const char* dir = context.destDir.Text();
  PendingView view;
  view.Load(dir);
  PathBuffer manifest;
  PathBuffer backup;
  bool manifestGone = false;
  bool backupGone = false;
  if (!view.Locate(kManifestName, manifest, &manifestGone) ||
      !view.Locate(kBackupName, backup, &backupGone)) {
    return context.failure.FailOutOfMemory();
  }
  if (view.interrupted()) {
    CStringBufferA gameDir;
    CStringBufferA warning;
    shown_game_dir(context, gameDir);
    if (!PendingView::Warning(gameDir.Data(), warning) ||
        !context.warnings.Add("%s", warning.Data())) {
      return context.failure.FailOutOfMemory();
    }
  }
  if (!backupGone && load_manifest(context.manifestSections, backup.Data(), &context.failure)) {
    // A back-up of the right size whose directory cannot be read (a file of zeros) is no more
    // a manifest than a short one.
    DirectoryReader directory(context.manifestSections[0]);
    Status damage;
    if (directory.ReadHead(&damage)) {
      found->fromBackup = true;
      return backup_is_current(context, manifest.Data(), backup.Data());
    }
    context.failure.FailAt(StatusCode::kCorrupt, backup.Data(), "not a manifest: %s",
                           damage.what());
  }
  // Only a missing or malformed back-up is made again.
  const StatusCode why = backupGone ? StatusCode::kNotFound : context.failure.code();
  if (why != StatusCode::kNotFound && why != StatusCode::kCorrupt) {
    found->backupUnreadable = true;
    return false;
  }
  if (why == StatusCode::kCorrupt) found->backupDamage.Assign(context.failure);
  context.failure.Clear();
  return read_manifest(context, manifest.Data());
}

bool back_up_manifest(RunContext& context, const UntouchedManifest& found) {
  PathBuffer manifest;
  PathBuffer backup;
  PathBuffer pending;
  const char* dir = context.destDir.Text();
  if (!manifest_path(dir, manifest) || !backup_path(dir, backup) ||
      !pending_backup_path(dir, pending)) {
    return context.failure.FailOutOfMemory();
  }
  if (!found.backupDamage.ok() &&
      lists_user_archive(context.manifestSections, context.userPackage)) {
    context.failure.FailAt(StatusCode::kRefused, backup.Data(),
                           "%s, and manifest.bin lists the user archive \"%s\", so a run may have "
                           "written it: backing it up would lose the untouched manifest for good; "
                           "repair the game's files (the store's \"verify\" function) and run "
                           "again, or choose another \"upak\" if it names an archive of the game",
                           found.backupDamage.what(), context.userPackage.Text());
    return false;
  }
  // The bytes of manifest.bin as they are, so that restoring the back-up gives them back.
  ByteBuffer bytes;
  Status unread;
  PendingFile copy;
  if (!read_whole_file(manifest.Data(), bytes, &unread) ||
      !copy.Create(pending.Data(), backup.Data(), &context.failure) ||
      (bytes.length() != 0 &&
       file_write(copy.file(), bytes.data(), bytes.length()) != bytes.length()) ||
      !copy.Commit(&context.failure)) {
    context.failure.FailIo("cannot back up the manifest to", backup.Data());
    return false;
  }
  return true;
}
