#include "driver/driver.h"

#include <cstdint>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "driver/config.h"
#include "driver/game_lock.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "driver/thread_count.h"
#include "driver/untouched_manifest.h"
#include "manifest/game_commit.h"
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

bool out_of_memory(RunContext& context) { return context.failure.FailOutOfMemory(); }

// Takes the game's lock and finishes a change that a crash interrupted there, saying so in one
// line on standard error.
bool take_game(RunContext& context) {
  ChangeRecovery recovery;
  const bool taken =
      lock_and_recover(context.destDir.Text(), context.gameLock, &recovery, &context.failure);
  CStringBufferA gameDir;
  CStringBufferA line;
  sys_native_path(context.destDir.Text(), gameDir);
  // The directory as it was given, without the separator that destDir ends in.
  if (gameDir.Length() > 1) {
    gameDir.Data()[gameDir.Length() - 1] = '\0';
    gameDir.SetLength(gameDir.Length() - 1);
  }
  if (recovery.outcome != RecoveryOutcome::kNothing &&
      describe_recovery(recovery, gameDir.Data(), line)) {
    report_line("vintrel", "warning", line.Data());
  }
  return taken;
}

// The untouched manifest, backed up when it is the game's own manifest.bin. The back-up's two
// failures have the tool's line on standard output.
bool load_untouched_manifest(RunContext& context) {
  UntouchedManifest found;
  if (!read_untouched_manifest(context, &found)) {
    if (found.backupUnreadable) report_error("Failed to back up pc.mnfst.\n");
    return false;
  }
  if (found.fromBackup || back_up_manifest(context, found)) return true;
  report_error("Failed to back up pc.mnfst.\n");
  return false;
}

int run(RunContext& context, int argc, char* argv[], PassResult* result) {
  if (argc < 3) {
    report_error("Usage: Vintrel.exe <srcdir> <destdir> [temp path]\n");
    report_error("srcdir must contain \"vintrel.json\".\n");
    return 0;
  }

  PathBuffer path;
  if (!store_path(context.srcDir, path, path.Format("%s\\", argv[1])) ||
      !store_path(context.destDir, path, path.Format("%s\\", argv[2]))) {
    out_of_memory(context);
    return 1;
  }

  PathBuffer systemTemp;
  const char* tempDir = argv[3];
  if (argc < 4) {
    if (!get_temp_directory(systemTemp)) {
      context.failure.FailIo("the system gives no temporary directory", "");
      report_error("Failed to get temp path.\n");
      return 1;
    }
    tempDir = systemTemp.Data();
  }
  if (!store_path(context.tempDir, path, path.Format("%s\\", tempDir))) {
    out_of_memory(context);
    return 1;
  }
  const char* ignoredThreads = nullptr;
  context.threads = run_thread_count(&ignoredThreads);

  if (path.Format("%svintrel.json", context.srcDir.Text()) <= 0) {
    out_of_memory(context);
    return 1;
  }
  if (!load_config(path.Data(), context)) {
    report_error("Failed to load config.\n");
    return 1;
  }

  if (ignoredThreads != nullptr) {
    context.warnings.Add("%s is \"%s\", which is no number of threads; %u were used",
                         kThreadsVariable, ignoredThreads, context.threads);
  }
  UserArchiveTarget userArchive;
  if (!take_game(context) || !load_untouched_manifest(context) ||
      !update_manifest(context, userArchive, result)) {
    return 1;
  }
  // The new manifest and user archive replace the previous ones only now, by rename.
  if (!commit_run(context)) return 1;
  return 0;
}

// What standard error says about a run: one line with the reason of a failure, or the warnings
// of a run that succeeded.
void report_outcome(RunContext& context, const PassResult& result, int status) {
  if (status != 0) {
    CStringBufferA reason;
    const bool described = !context.failure.ok() && context.failure.Describe(reason);
    report_line("vintrel", "error", described ? reason.Data() : "the run failed");
    return;
  }
  warn_unused_entries(context, result.used);
  for (uint32_t i = 0; i < context.warnings.count(); ++i) {
    report_line("vintrel", "warning", context.warnings.line(i));
  }
}

}  // namespace

int vintrel_main(int argc, char* argv[]) {
  RunContext context;
  PassResult result;
  const int status = run(context, argc, argv, &result);
  report_outcome(context, result, status);
  return status;
}
