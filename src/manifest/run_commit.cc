#include "manifest/run_commit.h"

#include <cstdint>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/run_context.h"
#include "manifest/game_files.h"
#include "manifest/manifest_file.h"

bool commit_run(RunContext& context) {
  Status* status = &context.failure;
  PendingResults& pending = context.pending;
  const char* destDir = context.destDir.Text();
  const char* upak = context.userPackage.Text();
  PathBuffer manifestPath;
  PathBuffer manifestTemp;
  PathBuffer archivePath;
  PathBuffer archiveAside;
  if (!manifest_path(destDir, manifestPath) || !pending_manifest_path(destDir, manifestTemp) ||
      !archive_path(destDir, upak, archivePath) ||
      !aside_archive_path(destDir, upak, archiveAside)) {
    return status->FailOutOfMemory();
  }

  if (!pending.manifest.Create(manifestTemp.Data(), manifestPath.Data(), status) ||
      !write_manifest_file(context.manifestSections, pending.manifest.file(), manifestTemp.Data(),
                           status) ||
      !pending.manifest.Finish(status)) {
    return false;
  }

  if (!pending.userArchive.armed()) {
    // Nothing moved: the new manifest refers to no user archive, so it goes in place first and
    // the archive of an earlier run, now unreferenced, goes after.
    if (!pending.manifest.Commit(status)) return false;
    sys_delete_file(archivePath.Data());
    return true;
  }

  // The archive first, then the manifest. The previous archive is kept aside until the manifest
  // is in place, so that a failure between the two renames can put everything back: the
  // previous manifest.bin must never point into the new archive.
  const bool hadArchive = sys_file_exists(archivePath.Data());
  if (hadArchive && !sys_move_file(archivePath.Data(), archiveAside.Data())) {
    status->FailIo("cannot move aside", archivePath.Data());
    return false;
  }
  if (!pending.userArchive.Commit(status)) {
    if (hadArchive) sys_move_file(archiveAside.Data(), archivePath.Data());
    return false;
  }
  if (!pending.manifest.Commit(status)) {
    if (hadArchive) {
      sys_move_file(archiveAside.Data(), archivePath.Data());
    } else {
      sys_delete_file(archivePath.Data());
    }
    return false;
  }
  if (hadArchive) sys_delete_file(archiveAside.Data());
  return true;
}
