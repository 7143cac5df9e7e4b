#include "manifest/game_commit.h"

#include <cstring>
#include <initializer_list>

#include "base/ascii.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/pending_file.h"
#include "base/platform.h"
#include "manifest/game_files.h"

namespace {

constexpr char kKeptRemark[] =
    "; the change is recorded, and the next start of either program finishes it";
constexpr char kRetryRemark[] =
    "; the change stays recorded: run again when nothing holds the file";

bool flush_directory(const char* dir, Status* status) {
  if (sys_flush_directory(dir)) return true;
  status->FailIo("cannot flush the directory", dir);
  return false;
}

// Adds what a failure leaves to its description.
void add_remark(Status* status, const char* remark) {
  CStringBufferA reason;
  if (!status->Describe(reason)) return;
  status->Fail(status->code(), "%s%s", reason.Data(), remark);
}

// The size and check value of the file at path.
bool measure(const char* path, uint64_t* size, uint32_t* check, Status* status) {
  ScopedFile file(open_file(path, "r"));
  *size = file.is_open() ? file_size(file.get()) : kBadPosition;
  if (*size == kBadPosition) {
    status->FailIo("cannot read", path);
    return false;
  }
  return file_check(file.get(), *size, path, check, status);
}

enum class RecordState { kAbsent, kWhole, kDamaged };

// Reads dir's commit record into record. False only when a record is there and cannot be read.
bool read_record(const char* dir, CommitRecord& record, RecordState* state, Status* status) {
  PathBuffer path;
  if (!game_file_path(dir, kCommitRecordName, path)) return status->FailOutOfMemory();
  *state = RecordState::kAbsent;
  if (!sys_file_exists(path.Data())) return true;
  ScopedFile file(open_file(path.Data(), "r"));
  const uint64_t size = file.is_open() ? file_size(file.get()) : kBadPosition;
  if (size == kBadPosition) {
    status->FailIo("cannot read", path.Data());
    return false;
  }
  // The size is checked before anything is allocated for it: a record is small.
  *state = RecordState::kDamaged;
  if (size > kMaxCommitRecordSize) return true;
  ByteBuffer bytes;
  if (!bytes.resize(static_cast<uint32_t>(size))) return status->FailOutOfMemory();
  uint32_t got = 0;
  while (got < bytes.length()) {
    const uint32_t n = file_read(file.get(), bytes.data() + got, bytes.length() - got);
    if (n == 0) {
      status->FailIo("cannot read", path.Data());
      return false;
    }
    got += n;
  }
  Status why;
  if (record.Decode(bytes, &why)) *state = RecordState::kWhole;
  if (why.code() == StatusCode::kOutOfMemory) return status->FailOutOfMemory();
  return true;
}

// Deletes what a change leaves only before it commits: the temporary files of the manifest, the
// back-up and the record, and of any user archive, whose name only the change knew. Returns how
// many it deleted; one that cannot be deleted is left to the next start.
uint32_t remove_leftovers(const char* dir) {
  uint32_t removed = 0;
  PathBuffer path;
  for (const char* name : {kManifestName, kBackupName, kCommitRecordName}) {
    if (pending_file_path(dir, name, path) && sys_file_exists(path.Data()) &&
        sys_delete_file(path.Data())) {
      ++removed;
    }
  }
  // The directory without its final separator, as a listing takes it.
  CStringBufferA listed;
  const size_t length = std::strlen(dir);
  if (length == 0 || listed.Format("%.*s", static_cast<int>(length - 1), dir) < 0) return removed;
  ByteBuffer names;
  sys_list_directory(listed.Data(), names);
  constexpr char kSuffix[] = ".upak.tmp";
  constexpr size_t kSuffixLength = sizeof kSuffix - 1;
  for (uint32_t at = 0; at < names.length();) {
    const char* name = reinterpret_cast<const char*>(names.data()) + at;
    const size_t nameLength = std::strlen(name);
    at += static_cast<uint32_t>(nameLength) + 1;
    if (nameLength <= kSuffixLength ||
        !ascii_same_but_case(name + nameLength - kSuffixLength, kSuffix, kSuffixLength)) {
      continue;
    }
    if (game_file_path(dir, name, path) && !sys_is_directory(path.Data()) &&
        sys_delete_file(path.Data())) {
      ++removed;
    }
  }
  return removed;
}

// Where a file that a whole record names stands.
enum class FileState {
  kPending,  // its new file is there, whole, to be put in place
  kDone,     // its new file is in place already
  kLost,     // neither: the game's files were changed since, or the disk lost them
};

bool file_state(const char* dir, const CommitRecord& record, uint32_t i, FileState* state,
                Status* status) {
  PathBuffer temp;
  PathBuffer final;
  if (!pending_file_path(dir, record.name(i), temp) ||
      !game_file_path(dir, record.name(i), final)) {
    return status->FailOutOfMemory();
  }
  const CommitEntry& entry = record.entry(i);
  const bool pending = sys_file_exists(temp.Data());
  const char* path = pending ? temp.Data() : final.Data();
  *state = FileState::kLost;
  if (!pending && !sys_file_exists(path)) return true;
  uint64_t size = 0;
  uint32_t check = 0;
  if (!measure(path, &size, &check, status)) return false;
  if (size == entry.size && check == entry.check) {
    *state = pending ? FileState::kPending : FileState::kDone;
  }
  return true;
}

// Puts in place every file of a whole record that is not yet, deletes what it removes and what
// the change moved aside, and removes the record once that is on the disk. Every step may be done
// again: a rename is made only while its new file is there, a deletion only while its file is.
bool complete_record(const char* dir, const CommitRecord& record, Status* status) {
  PathBuffer temp;
  PathBuffer final;
  PathBuffer aside;
  for (uint32_t i = 0; i < record.count(); ++i) {
    const char* name = record.name(i);
    if (!pending_file_path(dir, name, temp) || !game_file_path(dir, name, final) ||
        !aside_file_path(dir, name, aside)) {
      return status->FailOutOfMemory();
    }
    if (record.entry(i).action == CommitAction::kReplace) {
      if (sys_file_exists(temp.Data()) && !sys_move_file(temp.Data(), final.Data())) {
        status->FailIo("cannot replace", final.Data());
        return false;
      }
    } else if (sys_file_exists(final.Data()) && !sys_delete_file(final.Data())) {
      status->FailIo("cannot delete", final.Data());
      return false;
    }
    if (sys_file_exists(aside.Data()) && !sys_delete_file(aside.Data())) {
      status->FailIo("cannot delete", aside.Data());
      return false;
    }
  }
  // The record goes only once what it names is on the disk.
  PathBuffer path;
  if (!game_file_path(dir, kCommitRecordName, path)) return status->FailOutOfMemory();
  if (!flush_directory(dir, status)) return false;
  if (!sys_delete_file(path.Data())) {
    status->FailIo("cannot delete", path.Data());
    return false;
  }
  // Should the removal be lost, the record comes back finished, and is removed again.
  sys_flush_directory(dir);
  return true;
}

}  // namespace

GameChange::GameChange(const char* dir) { dir_.Assign(dir); }

GameChange::~GameChange() {
  if (done_ || leaveFiles_) return;
  PathBuffer temp;
  for (uint32_t i = 0; i < record_.count(); ++i) {
    if (record_.entry(i).action == CommitAction::kReplace && Path(i, pending_file_path, temp)) {
      sys_delete_file(temp.Data());
    }
  }
}

bool GameChange::Path(uint32_t i, bool (*form)(const char*, const char*, CStringBufferA&),
                      CStringBufferA& path) const {
  return !dir_.IsEmpty() && form(dir_.Text(), record_.name(i), path);
}

bool GameChange::Replace(const char* name, Status* status) {
  PathBuffer temp;
  if (dir_.IsEmpty() || !pending_file_path(dir_.Text(), name, temp) ||
      !steps_.Reserve(steps_.count() + 1)) {
    return status->FailOutOfMemory();
  }
  uint64_t size = 0;
  uint32_t check = 0;
  if (!measure(temp.Data(), &size, &check, status) ||
      !record_.Add(CommitAction::kReplace, name, size, check, status)) {
    return false;
  }
  return steps_.Append(Step());
}

bool GameChange::Remove(const char* name, Status* status) {
  if (dir_.IsEmpty() || !steps_.Reserve(steps_.count() + 1)) return status->FailOutOfMemory();
  if (!record_.Add(CommitAction::kRemove, name, 0, 0, status)) return false;
  return steps_.Append(Step());
}

bool GameChange::Commit(Status* status) {
  if (dir_.IsEmpty()) return status->FailOutOfMemory();
  const char* dir = dir_.Text();
  // The new files' names are on the disk before a record names them.
  if (!flush_directory(dir, status) || !WriteRecord(status)) return false;
  // The change has happened. Each file in turn; should one fail, those before it go back.
  for (uint32_t i = 0; i < record_.count(); ++i) {
    if (!PutInPlace(i, i + 1 == record_.count(), status)) {
      Undo(i + 1, status);
      return false;
    }
  }
  done_ = true;
  // What the change replaced and removed goes; the new names are made durable; the record goes.
  // From here on nothing is undone: a step that fails leaves the record for the next start.
  PathBuffer path;
  for (uint32_t i = 0; i < record_.count(); ++i) {
    if (steps_[i].aside && Path(i, aside_file_path, path) && !sys_delete_file(path.Data())) {
      Keep("cannot delete", path.Data());
    }
  }
  if (!sys_flush_directory(dir)) Keep("cannot flush the directory", dir);
  if (recordKept_ || !game_file_path(dir, kCommitRecordName, path)) return true;
  if (!sys_delete_file(path.Data())) {
    Keep("cannot delete", path.Data());
    return true;
  }
  // Should the removal be lost, the record comes back finished, and recovery removes it.
  sys_flush_directory(dir);
  return true;
}

void GameChange::Keep(const char* what, const char* path) {
  if (!recordKept_) keptReason_.FailIo(what, path);
  recordKept_ = true;
}

bool GameChange::WriteRecord(Status* status) {
  const char* dir = dir_.Text();
  PathBuffer path;
  PathBuffer temp;
  ByteBuffer bytes;
  if (!game_file_path(dir, kCommitRecordName, path) ||
      !pending_file_path(dir, kCommitRecordName, temp) || !record_.Encode(bytes)) {
    return status->FailOutOfMemory();
  }
  PendingFile file;
  if (!file.Create(temp.Data(), path.Data(), status)) return false;
  if (file_write(file.file(), bytes.data(), bytes.length()) != bytes.length()) {
    status->FailIo("cannot write", temp.Data());
    return false;
  }
  // Written, flushed, renamed into place and the directory flushed: the commit point.
  if (file.Commit(status)) return true;
  if (!file.armed()) {
    // In place, but perhaps not on the disk: taken back. Should that be lost, the record comes
    // back naming new files that are gone by then, which recovery takes for a change that never
    // happened.
    sys_delete_file(path.Data());
    sys_flush_directory(dir);
  }
  return false;
}

bool GameChange::PutInPlace(uint32_t i, bool last, Status* status) {
  Step& step = steps_[i];
  PathBuffer final;
  PathBuffer temp;
  PathBuffer aside;
  if (!Path(i, game_file_path, final) || !Path(i, pending_file_path, temp) ||
      !Path(i, aside_file_path, aside)) {
    return status->FailOutOfMemory();
  }
  const bool remove = record_.entry(i).action == CommitAction::kRemove;
  // The last file replaced goes in place by one rename over the old: nothing after it can fail
  // and need the old one back.
  if ((remove || !last) && sys_file_exists(final.Data())) {
    if (!sys_move_file(final.Data(), aside.Data())) {
      status->FailIo(remove ? "cannot remove" : "cannot move aside", final.Data());
      return false;
    }
    step.aside = true;
  }
  if (remove) return true;
  if (!sys_move_file(temp.Data(), final.Data())) {
    status->FailIo("cannot replace", final.Data());
    return false;
  }
  step.placed = true;
  return true;
}

void GameChange::Undo(uint32_t count, Status* status) {
  const char* dir = dir_.Text();
  PathBuffer final;
  PathBuffer temp;
  PathBuffer aside;
  bool undone = true;
  for (uint32_t i = count; i-- > 0 && undone;) {
    Step& step = steps_[i];
    undone = Path(i, game_file_path, final) && Path(i, pending_file_path, temp) &&
             Path(i, aside_file_path, aside);
    if (undone && step.placed) {
      undone = sys_move_file(final.Data(), temp.Data());
      step.placed = !undone;
    }
    if (undone && step.aside) {
      undone = sys_move_file(aside.Data(), final.Data());
      step.aside = !undone;
    }
  }
  // The old names are on the disk before the record goes: while it may still hold the new ones,
  // the record must stay, so that the next start finishes the change instead.
  PathBuffer path;
  if (undone && sys_flush_directory(dir) && game_file_path(dir, kCommitRecordName, path) &&
      sys_delete_file(path.Data())) {
    // Should the removal be lost, the record comes back naming new files that are gone by then.
    sys_flush_directory(dir);
    return;
  }
  leaveFiles_ = true;
  add_remark(status, kKeptRemark);
}

bool finish_interrupted_change(const char* dir, ChangeRecovery* result, Status* status) {
  *result = ChangeRecovery();
  CommitRecord record;
  RecordState state = RecordState::kAbsent;
  if (!read_record(dir, record, &state, status)) return false;
  if (state == RecordState::kWhole) {
    uint32_t kept = 0;
    uint32_t lost = UINT32_MAX;
    for (uint32_t i = 0; i < record.count(); ++i) {
      if (record.entry(i).action != CommitAction::kReplace) continue;
      FileState file = FileState::kLost;
      if (!file_state(dir, record, i, &file, status)) return false;
      if (file != FileState::kLost) {
        ++kept;
      } else if (lost == UINT32_MAX) {
        lost = i;
      }
    }
    if (lost == UINT32_MAX) {
      if (!complete_record(dir, record, status)) {
        add_remark(status, kRetryRemark);
        return false;
      }
      remove_leftovers(dir);
      result->outcome = RecoveryOutcome::kFinished;
      return true;
    }
    if (kept != 0) {
      PathBuffer path;
      if (!game_file_path(dir, kCommitRecordName, path)) return status->FailOutOfMemory();
      status->FailAt(StatusCode::kRefused, path.Data(),
                     "the interrupted change cannot be finished: \"%s\" is neither in place nor "
                     "whole beside it, so the game's files were changed since; delete this "
                     "record to leave them as they are",
                     record.name(lost));
      return false;
    }
    // None of its new files is there: the change was undone before it took effect.
    state = RecordState::kDamaged;
  }
  result->removed = remove_leftovers(dir);
  if (state == RecordState::kDamaged) {
    PathBuffer path;
    if (!game_file_path(dir, kCommitRecordName, path)) return status->FailOutOfMemory();
    if (!sys_delete_file(path.Data())) {
      status->FailIo("cannot delete", path.Data());
      return false;
    }
    ++result->removed;
  }
  if (result->removed != 0) result->outcome = RecoveryOutcome::kUndone;
  return true;
}

bool describe_recovery(const ChangeRecovery& recovery, const char* shownDir, CStringBufferA& out) {
  switch (recovery.outcome) {
    case RecoveryOutcome::kNothing:
      return out.Assign("") != nullptr;
    case RecoveryOutcome::kFinished:
      return out.Format(
                 "\"%s\": finished a change of the game (a run of the tool or a restore) "
                 "that was interrupted after it had committed: the game is as that change "
                 "leaves it",
                 shownDir) > 0;
    case RecoveryOutcome::kUndone:
      return out.Format(
                 "\"%s\": removed %u file%s that a change of the game left when it was "
                 "interrupted before it had committed: the game is as it was before that "
                 "change",
                 shownDir, recovery.removed, recovery.removed == 1 ? "" : "s") > 0;
  }
  return false;
}

void PendingView::Load(const char* dir) {
  interrupted_ = false;
  dir_.Assign(dir);
  Status ignored;
  RecordState state = RecordState::kAbsent;
  interrupted_ = !dir_.IsEmpty() && read_record(dir, record_, &state, &ignored) &&
                 state == RecordState::kWhole;
}

bool PendingView::Locate(const char* name, CStringBufferA& path, bool* gone) const {
  *gone = false;
  const char* dir = dir_.Text();
  if (dir_.IsEmpty()) return false;
  if (!interrupted_) return game_file_path(dir, name, path);
  const size_t length = std::strlen(name);
  for (uint32_t i = 0; i < record_.count(); ++i) {
    const char* named = record_.name(i);
    if (std::strlen(named) != length || !ascii_same_but_case(named, name, length)) continue;
    if (record_.entry(i).action == CommitAction::kRemove) {
      *gone = true;
      return game_file_path(dir, name, path);
    }
    if (!pending_file_path(dir, named, path)) return false;
    if (sys_file_exists(path.Data())) return true;
    break;
  }
  return game_file_path(dir, name, path);
}

bool PendingView::Warning(const char* shownDir, CStringBufferA& out) {
  return out.Format(
             "\"%s\": a change of the game (a run of the tool or a restore) was "
             "interrupted after it had committed; this reads the game as that change "
             "leaves it. \"vintrel-inspect recover %s\", or the next run of the tool, "
             "finishes it",
             shownDir, shownDir) > 0;
}
