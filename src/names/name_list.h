#ifndef VINTREL_NAMES_NAME_LIST_H_
#define VINTREL_NAMES_NAME_LIST_H_

// Name lists: the names and extensions of a game's entries, which the game itself keeps only as
// ids. A list is UTF-8 text with one name per line: "ui/hero.dds" gives the name "ui/hero" and the
// ext "dds", split at the last dot that follows the last '/' or '\'; a line without such a dot
// is a name alone. Blank lines and lines whose first character (after spaces and tabs) is '#'
// are passed over, spaces and tabs around a name are not part of it, and a byte order mark and
// CRLF line ends are accepted. A line that is not UTF-8, holds a NUL or is longer than
// kNameLineMost bytes is skipped with a warning. Ids are computed as the lists are read, so that a
// list cannot hold a stale id.

#include <cstdint>

#include "base/status.h"
#include "base/string_buffer.h"
#include "base/warning_list.h"
#include "names/name_table.h"

// The longest line of a name list, in bytes, without its line end.
constexpr uint32_t kNameLineMost = 4096;

// Where the names of a list go, one line at a time.
class NameListSink {
 public:
  virtual ~NameListSink() = default;
  // Before the first Take: at most lines names follow, taking at most bytes bytes with a NUL
  // each. A sink may make room for them.
  virtual void Expect(uint32_t lines, uint64_t bytes) {
    (void)lines;
    (void)bytes;
  }
  // One name as its line gives it (the whole line, "ui/hero.dds", without the spaces around it):
  // length bytes of UTF-8 without a NUL, valid during the call. False stops the reading: the
  // sink could not keep it for want of memory.
  virtual bool Take(const char* text, uint32_t length) = 0;
};

// Reads the name list at path and hands its names to sink in their order. Each malformed line is
// skipped with a warning naming the file and the line (the first 10 of a file; one more warning
// counts the rest). False, with the reason in *status, when the file cannot be read or the sink
// stops (out of memory); the names taken before stay with the sink.
bool read_name_list(const char* path, NameListSink& sink, WarningList& warnings, Status* status);

// Where a name list's line parts into name and ext: the place of its last dot after its last '/'
// or '\'; length when there is no such dot.
uint32_t ext_dot(const char* text, uint32_t length);

// Every name and ext a command knows, from all its sources, which add up. Two spellings of one id
// keep the first that was added. Names and exts are apart: an entry's name id is looked up among
// the names, its ext id among the exts.
class NameLists {
 public:
  NameLists() = default;
  NameLists(const NameLists&) = delete;
  NameLists& operator=(const NameLists&) = delete;

  // Adds a line of a name list, split into its name and ext. False when out of memory.
  bool AddLine(const char* text, uint32_t length);
  // Adds a name or an ext alone, as a NUL-terminated text. False when out of memory.
  bool AddName(const char* text);
  bool AddExt(const char* text);
  // Adds the common extensions that the program knows of itself ("dds", "txt", "ogg", ...).
  bool AddBuiltinExts();
  // Adds the names of the name list at path, as read_name_list reads it. False, with the reason
  // in *status, when the file cannot be read or memory runs out.
  bool LoadFile(const char* path, WarningList& warnings, Status* status);
  // Adds the names of every file of folder dir whose name ends in ".txt" (in any case), in the
  // byte order of the file names. A missing folder holds no list; a file or folder that cannot be
  // read is a warning. False, with the reason in *status, only when memory runs out.
  bool LoadFolder(const char* dir, WarningList& warnings, Status* status);

  // The text of a name id or an ext id; null when no list knows it.
  const char* Name(uint64_t nameId) const { return names_.Find(nameId); }
  const char* Ext(uint64_t extId) const { return exts_.Find(extId); }
  const NameTable& names() const { return names_; }
  const NameTable& exts() const { return exts_; }

 private:
  NameTable names_;
  NameTable exts_;
};

// The user's own folder of name lists: the platform's folder of the user's data for the program
// (sys_user_data_path) followed by "\names", with the program's separator. False, out empty, when
// the system names no such folder.
bool user_names_folder(CStringBufferA& out);

#endif  // VINTREL_NAMES_NAME_LIST_H_
