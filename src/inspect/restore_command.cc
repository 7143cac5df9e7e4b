#include "inspect/restore_command.h"

#include <cstdio>

#include "base/platform.h"
#include "base/string_buffer.h"
#include "inspect/messages.h"
#include "inspect/restore.h"

namespace {

// One line on standard output for a change made: the path as the system shows it, in quotes,
// between two texts.
void print_done(const char* before, const PathBuffer& path, const char* after) {
  if (path.Length() == 0) return;
  CStringBufferA shown;
  sys_native_path(path.Data(), shown);
  std::printf("%s\"%s\"%s\n", before, shown.Data(), after);
}

// The changes made on standard output, one line each, and the failure, if any, on standard error,
// after what finishing an interrupted change did.
void print_restore(const char* gameDir, const RestoreResult& result) {
  print_recovery(gameDir, result.recovery);
  print_done("restored ", result.restoredManifest, " from the back-up");
  print_done("deleted the user archive ", result.deletedArchive, "");
  print_done("deleted the back-up ", result.deletedBackup, "");
  CStringBufferA reason;
  if (!result.kept.ok() && result.kept.Describe(reason)) {
    print_warning("%s; the restore is done, and the next start of either program makes sure of it",
                  reason.Data());
  }
  if (result.failure.ok()) return;
  if (!result.failure.Describe(reason)) reason.Assign("out of memory");
  print_error("%s%s", reason.Data(), result.remark);
}

int run_restore(const CommandArgs& args) {
  if (args.upak != nullptr && !args.afterUpdate) {
    print_error("restore takes --upak only with --after-update; see \"%s restore --help\"",
                kProgramName);
    return kExitUsage;
  }
  RestoreResult result;
  const bool done = args.afterUpdate ? restore_after_update(args.positional[0], args.upak, &result)
                                     : restore_game(args.positional[0], &result);
  print_restore(args.positional[0], result);
  return done ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kRestoreCommand = {
    "restore",
    "GAMEDIR [--after-update [--upak NAME]]",
    "undo the tool: the game's manifest back as before the first run",
    "Puts the back-up origmanifest.bin, which the first run of the tool made, back as\n"
    "manifest.bin (written as manifest.bin.tmp and put on the disk), deletes the user archive\n"
    "that the present manifest.bin names and the back-up does not, and deletes\n"
    "origmanifest.bin, as one change that happens whole or not at all, even across a crash\n"
    "(see \"vintrel-inspect recover --help\"). The game is then byte for byte as it was before\n"
    "the first run. It holds the tool's lock (vintrel.lock) while it works, so that it never\n"
    "races a run, and first finishes a run or restore that a crash interrupted.\n"
    "\n"
    "It refuses, changing nothing, when there is no back-up, when the back-up cannot be read,\n"
    "and when manifest.bin is not what a run of the tool writes from that back-up: after a game\n"
    "update restoring would undo the update. A missing manifest.bin, or one that is already\n"
    "the back-up, is restored all the same. A file that is one of the back-up's archives is\n"
    "never deleted.\n"
    "\n"
    "  --after-update  the game was updated since the tool's last run, and its new\n"
    "                  manifest.bin is no run's: delete only the stale back-up\n"
    "                  origmanifest.bin, leaving manifest.bin as the update wrote it; refused\n"
    "                  when manifest.bin is a run's (plain restore undoes that), missing or\n"
    "                  unreadable\n"
    "  --upak NAME     with --after-update: delete the user archive NAME.upak first, which the\n"
    "                  new manifest.bin must not list\n"
    "\n"
    "Exit status: 0 when the game is restored, 1 when it is refused or fails, 2 for a usage\n"
    "error.\n",
    1,
    kOptionAfterUpdate | kOptionUpak,
    run_restore,
};
