#ifndef VINTREL_MANIFEST_COMMIT_RECORD_H_
#define VINTREL_MANIFEST_COMMIT_RECORD_H_

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/status.h"

// The commit record of a game directory, "vintrel.commit": the files that a change of the game
// (a run of the tool, a restore) puts in place and removes, written before the first of them and
// removed after the last. See doc/commit_record.md; manifest/game_commit.h uses it.

enum class CommitAction : uint8_t {
  kReplace = 1,  // "<name>.tmp" becomes "<name>"
  kRemove = 2,   // "<name>" goes
};

struct CommitEntry {
  CommitAction action;
  uint64_t size;    // kReplace: the new file's size in bytes; 0 for kRemove
  uint32_t check;   // kReplace: the new file's check value (file_check); 0 for kRemove
  uint32_t nameAt;  // where the name begins in the record's name store
};

// The most entries and the largest file a record may have: a change names a handful of files.
constexpr uint32_t kMaxCommitEntries = 16;
constexpr uint32_t kMaxCommitRecordSize = 1u << 20;

class CommitRecord {
 public:
  CommitRecord() = default;
  CommitRecord(const CommitRecord&) = delete;
  CommitRecord& operator=(const CommitRecord&) = delete;

  // Appends an entry for name, a plain file name of the game directory. False, with the reason,
  // when the name is not a plain file name, is named already, the record is full or memory runs
  // out.
  bool Add(CommitAction action, const char* name, uint64_t size, uint32_t check, Status* status);
  void Clear();

  uint32_t count() const { return entries_.count(); }
  const CommitEntry& entry(uint32_t i) const { return entries_[i]; }
  const char* name(uint32_t i) const;

  // The record's bytes, its check value last. False when out of memory.
  bool Encode(ByteBuffer& out) const;
  // Reads a record from its bytes, replacing what the record held. False, with the reason
  // (kCorrupt), when the bytes are not a whole record: wrong magic or version, a size that does
  // not add up, a check value that does not match, an unknown action, a name that is no plain
  // file name or is named twice; kOutOfMemory when memory runs out.
  bool Decode(const ByteBuffer& bytes, Status* status);

 private:
  TArray<CommitEntry> entries_;
  ByteBuffer names_;  // every name followed by a NUL
};

// A file's check value: the CRC-32 (zlib's) of its bytes, read from the start of file, which is
// size bytes long. A file up to kCheckWholeLimit is read whole; of a larger one, the first
// kCheckPiece bytes of every kCheckStride and the last kCheckPiece bytes, so that a full copy's
// archive of gigabytes costs a sixteenth of reading it back. False, with the reason naming path,
// when the file cannot be read or is shorter than size.
constexpr uint64_t kCheckWholeLimit = 64u << 20;
constexpr uint32_t kCheckPiece = 4096;
constexpr uint32_t kCheckStride = 16 * kCheckPiece;
bool file_check(FileHandle file, uint64_t size, const char* path, uint32_t* check, Status* status);

#endif  // VINTREL_MANIFEST_COMMIT_RECORD_H_
