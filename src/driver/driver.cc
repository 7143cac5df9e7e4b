#include "driver/driver.h"

#include <cstdint>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/config.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "manifest/manifest_file.h"
#include "manifest/manifest_update.h"
#include "manifest/run_commit.h"

namespace {

// Copies a formatted path into a stored string. False when either step ran out of memory, so that
// no stage ever runs with a silently emptied path.
bool store_path(SharedString& target, const PathBuffer& path, int32_t formatted) {
  if (formatted <= 0) return false;
  target.Assign(path);
  return !target.IsEmpty();
}

// The system's temporary directory into dir. A directory longer than the first buffer is asked for
// again with a buffer of the size the system reports. False when the system gives none.
bool get_temp_directory(PathBuffer& dir) {
  uint32_t size = kPathInline;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!dir.Reserve(static_cast<int32_t>(size))) return false;
    const uint32_t length = sys_get_temp_path(size, dir.Data());
    if (length == 0) return false;
    if (length < size) {
      dir.SetLength(static_cast<int32_t>(length));
      return true;
    }
    // Too small: length is the size needed, terminating NUL included.
    if (length > INT32_MAX) return false;
    size = length;
  }
  return false;
}

int run(RunContext& context, int argc, char* argv[]) {
  if (argc < 3) {
    report_error("Usage: Vintrel.exe <srcdir> <destdir> [temp path]\n");
    report_error("srcdir must contain \"vintrel.json\".\n");
    return 0;
  }

  PathBuffer path;
  if (!store_path(context.srcDir, path, path.Format("%s\\", argv[1]))) return 1;
  if (!store_path(context.destDir, path, path.Format("%s\\", argv[2]))) return 1;

  PathBuffer systemTemp;
  const char* tempDir = argv[3];
  if (argc < 4) {
    if (!get_temp_directory(systemTemp)) {
      report_error("Failed to get temp path.\n");
      return 1;
    }
    tempDir = systemTemp.Data();
  }
  if (!store_path(context.tempPath, path, path.Format("%s\\vintrel.tmp", tempDir))) return 1;

  if (path.Format("%svintrel.json", context.srcDir.Text()) <= 0) return 1;
  if (!load_config(path.Data(), context)) {
    report_error("Failed to load config.\n");
    return 1;
  }

  // Every run starts from the game's untouched manifest: the back-up once it exists, otherwise
  // manifest.bin, which is then backed up before anything else is written.
  PathBuffer backupPath;
  if (backupPath.Format("%sorigmanifest.bin", context.destDir.Text()) <= 0) return 1;
  if (!load_manifest(context.manifestSections, backupPath.Data(), &context.failure)) {
    // A back-up that is there but cannot be read just now (in use, a disk error) is never
    // replaced: it may be the only copy of the untouched manifest. Only a missing or malformed
    // one is.
    const StatusCode why = context.failure.code();
    if (why != StatusCode::kNotFound && why != StatusCode::kCorrupt) return 1;
    context.failure.Clear();
    if (path.Format("%smanifest.bin", context.destDir.Text()) <= 0) return 1;
    if (!read_manifest(context, path.Data())) return 1;
    if (!sys_copy_file(path.Data(), backupPath.Data(), false)) {
      report_error("Failed to back up pc.mnfst.\n");
      return 1;
    }
  }

  if (!update_manifest(context)) return 1;

  // The new manifest and user archive replace the previous ones only now, by rename.
  if (!commit_run(context)) return 1;
  return 0;
}

}  // namespace

int vintrel_main(int argc, char* argv[]) {
  RunContext context;
  return run(context, argc, argv);
}
