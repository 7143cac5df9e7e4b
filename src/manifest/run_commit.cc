#include "manifest/run_commit.h"

#include <cstdint>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/run_context.h"
#include "manifest/manifest_file.h"

namespace {

constexpr int32_t kPathInline = 261;
using PathBuffer = TStringBufferA<kPathInline>;

}  // namespace

bool commit_run(RunContext& context) {
  const char* destDir = context.destDir.Text();
  const char* upak = context.userPackage.Text();
  PathBuffer manifestPath;
  PathBuffer manifestTemp;
  PathBuffer archivePath;
  PathBuffer archiveAside;
  if (manifestPath.Format("%smanifest.bin", destDir) <= 0 ||
      manifestTemp.Format("%smanifest.bin.tmp", destDir) <= 0 ||
      archivePath.Format("%s%s.upak", destDir, upak) <= 0 ||
      archiveAside.Format("%s%s.upak.old", destDir, upak) <= 0)
    return false;

  context.pendingManifest.Assign(manifestTemp);
  if (context.pendingManifest.IsEmpty()) return false;
  if (!write_manifest(context, manifestTemp.Data())) return false;

  if (!context.userArchiveChanged) {
    // Nothing moved: the new manifest refers to no user archive, so it goes in place first and
    // the archive of an earlier run, now unreferenced, goes after.
    if (!sys_move_file(manifestTemp.Data(), manifestPath.Data())) return false;
    context.pendingManifest.Release();
    sys_delete_file(archivePath.Data());
    return true;
  }

  // The archive first, then the manifest. The previous archive is kept aside until the manifest
  // is in place, so that a failure between the two renames can put everything back: the
  // previous manifest.bin must never point into the new archive.
  const bool hadArchive = sys_file_exists(archivePath.Data());
  if (hadArchive && !sys_move_file(archivePath.Data(), archiveAside.Data())) return false;
  if (!sys_move_file(context.pendingArchive.Text(), archivePath.Data())) {
    if (hadArchive) sys_move_file(archiveAside.Data(), archivePath.Data());
    return false;
  }
  context.pendingArchive.Release();
  if (!sys_move_file(manifestTemp.Data(), manifestPath.Data())) {
    if (hadArchive) {
      sys_move_file(archiveAside.Data(), archivePath.Data());
    } else {
      sys_delete_file(archivePath.Data());
    }
    return false;
  }
  context.pendingManifest.Release();
  if (hadArchive) sys_delete_file(archiveAside.Data());
  return true;
}
