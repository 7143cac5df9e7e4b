#include "inspect/recover_command.h"

#include <cstdio>

#include "base/file_lock.h"
#include "base/string_buffer.h"
#include "driver/game_lock.h"
#include "inspect/messages.h"

namespace {

struct RecoverResult {
  ChangeRecovery recovery;
  Status failure;  // ok when the game's last change is finished
};

// Takes the tool's lock on gameDir and finishes an interrupted change there. False, with the
// reason in result->failure, when the lock cannot be had or the change cannot be finished.
bool recover_game(const char* gameDir, RecoverResult* result) {
  PathBuffer dir;
  FileLock lock;
  if (dir.Format("%s\\", gameDir) <= 0) return result->failure.FailOutOfMemory();
  return lock_and_recover(dir.Data(), lock, &result->recovery, &result->failure);
}

// What was done, on standard output in one line, or the failure on standard error.
void print_recover(const char* gameDir, const RecoverResult& result) {
  if (!result.failure.ok()) {
    print_failure(result.failure);
    return;
  }
  CStringBufferA line;
  if (result.recovery.outcome == RecoveryOutcome::kNothing) {
    std::printf("\"%s\": no change of the game was interrupted; nothing to do\n", gameDir);
  } else if (describe_recovery(result.recovery, gameDir, line)) {
    std::printf("%s\n", line.Data());
  } else {
    print_error("out of memory");
  }
}

int run_recover(const CommandArgs& args) {
  RecoverResult result;
  const bool done = recover_game(args.positional[0], &result);
  print_recover(args.positional[0], result);
  return done ? kExitSuccess : kExitFailure;
}

}  // namespace

const CommandSpec kRecoverCommand = {
    "recover",
    "GAMEDIR",
    "finish a run of the tool, or a restore, that a crash interrupted",
    "Finishes a change of the game that a crash or a power loss interrupted: a run of the tool\n"
    "or a restore writes its new files under temporary names (manifest.bin.tmp,\n"
    "NAME.upak.tmp), puts them on the disk, and then writes the commit record vintrel.commit,\n"
    "which names them; from then on the change has happened. When vintrel.commit is there and\n"
    "whole, recover puts in place every file it names that is not yet, after checking its size\n"
    "and check value, removes what it removes, and then the record. Without a whole record the\n"
    "change had not happened, and recover deletes what it left: the temporary files. Either way\n"
    "it says so in one line. It holds the tool's lock (vintrel.lock) while it works.\n"
    "\n"
    "The tool and restore do the same before anything else, so this is needed only to finish\n"
    "the change without running them: restore would also undo the mod. Every other command\n"
    "reads a game whose change was interrupted as the change leaves it, and warns.\n"
    "\n"
    "Exit status: 0 when nothing was left to finish or the change is finished, 1 when it cannot\n"
    "be (the reason names the file), 2 for a usage error.\n",
    1,
    0,
    run_recover,
};
