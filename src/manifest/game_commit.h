#ifndef VINTREL_MANIFEST_GAME_COMMIT_H_
#define VINTREL_MANIFEST_GAME_COMMIT_H_

#include <cstdint>

#include "base/array.h"
#include "base/shared_string.h"
#include "base/status.h"
#include "base/string_buffer.h"
#include "manifest/commit_record.h"

// A change of a game directory's files that happens whole or not at all, even when the process is
// killed or the power goes: a run of the tool (a new user archive and manifest) or a restore (the
// back-up back as the manifest; the user archive and the back-up gone).
//
// The new files are written as "<name>.tmp", flushed and closed by their writer; Commit flushes
// the directory, so that their names are on the disk, and writes the commit record
// "vintrel.commit" (manifest/commit_record.h) under a temporary name, flushes it, renames it into
// place and flushes the directory: that is the commit point, from which the change has happened.
// Then it puts each file in place, flushes the directory, and removes the record. Whoever next
// holds the game's lock finishes a change that a crash interrupted: finish_interrupted_change.
//
// What this assumes: a disk that does not lie about flushes; on Windows, which has no directory
// flush, a file system that keeps its changes of names in order, as NTFS's journal does.
class GameChange {
 public:
  // dir: the game directory, ending in a separator.
  explicit GameChange(const char* dir);
  // Deletes the new files of a change that has not happened, unless a failed Commit left them to
  // the next start.
  ~GameChange();
  GameChange(const GameChange&) = delete;
  GameChange& operator=(const GameChange&) = delete;

  // "<name>.tmp", written, flushed and closed, is to replace name. Takes its size and check value
  // now, and from then on owns the file. False, with the reason, when it cannot be read or the
  // name cannot be recorded.
  bool Replace(const char* name, Status* status);
  // name is to go, if it is there.
  bool Remove(const char* name, Status* status);

  // Makes the change, in the order the files were named; each file but the last that is replaced,
  // and each that is removed, waits as "<name>.old" until every file is in place, so that any
  // failure until then puts everything back as it was. False, with the reason, when the change
  // did not happen. A failure that cannot be undone leaves the change recorded for the next start
  // to finish, and the reason says so.
  bool Commit(Status* status);
  // After a Commit that succeeded: whether the record stayed in the game directory because the
  // last steps could not be made durable, or a file could not be deleted; the next start of
  // either program removes it. The reason is in *kept_reason().
  bool record_kept() const { return recordKept_; }
  // After a Commit that failed: whether the change was left recorded for the next start to finish
  // (an undo failed); otherwise nothing was changed.
  bool left_recorded() const { return leaveFiles_; }
  const Status& kept_reason() const { return keptReason_; }

 private:
  struct Step {
    bool aside = false;   // the file it replaces or removes waits as "<name>.old"
    bool placed = false;  // the new file is in place
  };

  bool Path(uint32_t i, bool (*form)(const char*, const char*, CStringBufferA&),
            CStringBufferA& path) const;
  bool WriteRecord(Status* status);
  bool PutInPlace(uint32_t i, bool last, Status* status);
  void Undo(uint32_t count, Status* status);
  void Keep(const char* what, const char* path);

  SharedString dir_;
  CommitRecord record_;
  TArray<Step> steps_;
  bool done_ = false;
  bool leaveFiles_ = false;  // a failed change left recorded: its files stay for the next start
  bool recordKept_ = false;
  Status keptReason_;
};

// What finish_interrupted_change did.
enum class RecoveryOutcome {
  kNothing,   // no change was interrupted
  kFinished,  // a change that had committed was finished: the game is as it leaves it
  kUndone,    // what a change left before it committed was removed: the game is as before it
};

struct ChangeRecovery {
  RecoveryOutcome outcome = RecoveryOutcome::kNothing;
  uint32_t removed = 0;  // leftover files deleted (kUndone)
};

// For the holder of the game's lock, before it reads or changes anything: finishes the change
// that a crash interrupted in dir (ending in a separator). With a whole commit record it puts in
// place every file the record names that is not yet, after checking that each is whole (size and
// check value), removes what the record removes, flushes the directory and removes the record.
// Without one (none, or a damaged one) it deletes what a change leaves only before it commits:
// the temporary files "manifest.bin.tmp", "origmanifest.bin.tmp", "vintrel.commit.tmp",
// "<name>.upak.tmp", and a damaged record. A record none of whose files is there any more was
// undone before it took effect and is removed. Idempotent, and safe to interrupt: it only ever
// moves the game towards the state the record names. False, with the reason, when the record
// cannot be read or finished (a file it names is missing or not whole, or cannot be renamed or
// deleted); the record then stays.
bool finish_interrupted_change(const char* dir, ChangeRecovery* result, Status* status);

// One line for people on what a recovery did, for the game directory shownDir; empty for
// kNothing. False when out of memory.
bool describe_recovery(const ChangeRecovery& recovery, const char* shownDir, CStringBufferA& out);

// How a reader that changes nothing sees a game directory whose last change was interrupted after
// it committed: as the commit record says the change leaves it.
class PendingView {
 public:
  // Reads the commit record of dir (ending in a separator). A record that is missing, damaged or
  // cannot be read leaves the view empty: the game is read as it is, which is what the next start
  // leaves it as.
  void Load(const char* dir);
  // Whether a whole record is there.
  bool interrupted() const { return interrupted_; }
  // The path of the file that will be name once the change is finished: "<name>.tmp" while the
  // record replaces name and it is there, name itself otherwise. *gone is true when the record
  // removes name. False when out of memory.
  bool Locate(const char* name, CStringBufferA& path, bool* gone) const;
  // The warning for a reader of the game directory shownDir: a change was interrupted, the game is
  // read as it will be, and the command that finishes it. False when out of memory.
  static bool Warning(const char* shownDir, CStringBufferA& out);

 private:
  SharedString dir_;
  CommitRecord record_;
  bool interrupted_ = false;
};

#endif  // VINTREL_MANIFEST_GAME_COMMIT_H_
