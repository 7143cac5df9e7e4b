#include "driver/untouched_manifest.h"

#include "base/platform.h"
#include "base/string_buffer.h"
#include "manifest/backup_check.h"
#include "manifest/game_files.h"
#include "manifest/manifest_file.h"

namespace {

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
  sys_native_path(context.destDir.Text(), gameDir);
  // The game directory as it was given, without the separator that destDir ends in.
  if (gameDir.Length() > 1) {
    gameDir.Data()[gameDir.Length() - 1] = '\0';
    gameDir.SetLength(gameDir.Length() - 1);
  }
  context.failure.FailAt(StatusCode::kRefused, manifestPath,
                         "changed since \"%s\" was made (%s); after a game update, run "
                         "\"vintrel-inspect restore --after-update %s\" and run again",
                         backupName.Data(), why.what(), gameDir.Data());
  return false;
}

}  // namespace

bool read_untouched_manifest(RunContext& context, UntouchedManifest* found) {
  PathBuffer manifest;
  PathBuffer backup;
  if (!manifest_path(context.destDir.Text(), manifest) ||
      !backup_path(context.destDir.Text(), backup)) {
    return context.failure.FailOutOfMemory();
  }
  if (load_manifest(context.manifestSections, backup.Data(), &context.failure)) {
    found->fromBackup = true;
    return backup_is_current(context, manifest.Data(), backup.Data());
  }
  // Only a missing or malformed back-up is made again.
  const StatusCode why = context.failure.code();
  if (why != StatusCode::kNotFound && why != StatusCode::kCorrupt) {
    found->backupUnreadable = true;
    return false;
  }
  context.failure.Clear();
  return read_manifest(context, manifest.Data());
}

bool back_up_manifest(RunContext& context) {
  PathBuffer manifest;
  PathBuffer backup;
  if (!manifest_path(context.destDir.Text(), manifest) ||
      !backup_path(context.destDir.Text(), backup)) {
    return context.failure.FailOutOfMemory();
  }
  if (sys_copy_file(manifest.Data(), backup.Data(), false)) return true;
  context.failure.FailIo("cannot back up the manifest to", backup.Data());
  return false;
}
