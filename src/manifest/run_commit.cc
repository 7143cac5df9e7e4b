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
  PathBuffer manifestPath;
  PathBuffer manifestTemp;
  PathBuffer archivePath;
  if (manifestPath.Format("%smanifest.bin", destDir) <= 0 ||
      manifestTemp.Format("%smanifest.bin.tmp", destDir) <= 0 ||
      archivePath.Format("%s%s.upak", destDir, context.userPackage.Text()) <= 0)
    return false;

  context.pendingManifest.Assign(manifestTemp);
  if (context.pendingManifest.IsEmpty()) return false;
  if (!write_manifest(context, manifestTemp.Data())) return false;

  if (context.userArchiveChanged) {
    // The archive first: until the manifest follows, the previous manifest.bin is still the one
    // in force, and a failure here leaves it pointing into the previous archive.
    if (!sys_move_file(context.pendingArchive.Text(), archivePath.Data())) return false;
    context.pendingArchive.Release();
    if (!sys_move_file(manifestTemp.Data(), manifestPath.Data())) return false;
    context.pendingManifest.Release();
    return true;
  }

  // Nothing moved: the new manifest refers to no user archive, so it goes in place first and the
  // archive of an earlier run, now unreferenced, goes after.
  if (!sys_move_file(manifestTemp.Data(), manifestPath.Data())) return false;
  context.pendingManifest.Release();
  sys_delete_file(archivePath.Data());
  return true;
}
