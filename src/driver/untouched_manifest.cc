#include "driver/untouched_manifest.h"

#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/report.h"
#include "manifest/backup_check.h"
#include "manifest/manifest_file.h"

namespace {

bool out_of_memory(RunContext& context) {
  context.failure.Fail(StatusCode::kOutOfMemory, "out of memory");
  return false;
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
  sys_native_path(backupPath, backupName);
  context.failure.FailAt(StatusCode::kRefused, manifestPath,
                         "changed since \"%s\" was made (%s); after a game update, delete that "
                         "back-up and run again",
                         backupName.Data(), why.what());
  return false;
}

}  // namespace

bool load_untouched_manifest(RunContext& context) {
  PathBuffer manifestPath;
  PathBuffer backupPath;
  if (manifestPath.Format("%smanifest.bin", context.destDir.Text()) <= 0 ||
      backupPath.Format("%sorigmanifest.bin", context.destDir.Text()) <= 0) {
    return out_of_memory(context);
  }
  if (load_manifest(context.manifestSections, backupPath.Data(), &context.failure)) {
    return backup_is_current(context, manifestPath.Data(), backupPath.Data());
  }
  // A back-up that is there but cannot be read just now (in use, a disk error) is never
  // replaced: it may be the only copy of the untouched manifest. Only a missing or malformed one
  // is.
  const StatusCode why = context.failure.code();
  if (why != StatusCode::kNotFound && why != StatusCode::kCorrupt) {
    if (!context.dryRun) report_error("Failed to back up pc.mnfst.\n");
    return false;
  }
  context.failure.Clear();
  if (!read_manifest(context, manifestPath.Data())) return false;
  if (context.dryRun) return true;
  if (!sys_copy_file(manifestPath.Data(), backupPath.Data(), false)) {
    context.failure.FailIo("cannot back up the manifest to", backupPath.Data());
    report_error("Failed to back up pc.mnfst.\n");
    return false;
  }
  return true;
}
