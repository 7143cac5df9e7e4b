#include "manifest/run_commit.h"

#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/run_context.h"
#include "manifest/game_commit.h"
#include "manifest/game_files.h"
#include "manifest/manifest_file.h"

bool commit_run(RunContext& context) {
  Status* status = &context.failure;
  PendingResults& pending = context.pending;
  const char* destDir = context.destDir.Text();
  PathBuffer manifestPath;
  PathBuffer manifestTemp;
  PathBuffer archiveName;
  PathBuffer archivePath;
  if (!manifest_path(destDir, manifestPath) || !pending_manifest_path(destDir, manifestTemp) ||
      archiveName.Format("%s.upak", context.userPackage.Text()) <= 0 ||
      !game_file_path(destDir, archiveName.Data(), archivePath)) {
    return status->FailOutOfMemory();
  }

  // Both new files on the disk under their temporary names.
  if (!pending.manifest.Create(manifestTemp.Data(), manifestPath.Data(), status) ||
      !write_manifest_file(context.manifestSections, pending.manifest.file(), manifestTemp.Data(),
                           status) ||
      !pending.manifest.Finish(status) || !pending.userArchive.Finish(status)) {
    return false;
  }

  // One change: the user archive first, then the manifest that points into it. When nothing
  // moved, the new manifest names no user archive, and the archive of an earlier run goes.
  GameChange change(destDir);
  if (pending.userArchive.armed()) {
    if (!change.Replace(archiveName.Data(), status)) return false;
    pending.userArchive.HandOver();
  } else if (sys_file_exists(archivePath.Data()) && !change.Remove(archiveName.Data(), status)) {
    return false;
  }
  if (!change.Replace(kManifestName, status)) return false;
  pending.manifest.HandOver();
  if (!change.Commit(status)) return false;
  if (change.record_kept()) {
    CStringBufferA reason;
    if (!change.kept_reason().Describe(reason)) return true;
    context.warnings.Add(
        "%s; the run is in place, and the next start of either program makes "
        "sure of it",
        reason.Data());
  }
  return true;
}
