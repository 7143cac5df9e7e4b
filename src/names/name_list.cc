#include "names/name_list.h"

#include <algorithm>
#include <cstring>

#include "base/array.h"
#include "base/ascii.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/platform.h"
#include "base/utf8.h"

namespace {

// The file is read in pieces of this size, so that a list of any size takes little memory beyond
// the names it holds.
constexpr uint32_t kPiece = 1u << 16;
// The malformed lines of a file that are warned about one by one.
constexpr uint32_t kLinesNamed = 10;

// Extensions common in games' files, known without a list.
const char* const kBuiltinExts[] = {
    "anim", "avi",  "bik",  "bin",   "bk2",    "bmp",  "bnk",  "cfg", "cso", "csv",  "dae",  "dat",
    "db",   "dds",  "exr",  "fbx",   "flac",   "fnt",  "fsb",  "fx",  "gif", "glsl", "hdr",  "hlsl",
    "htm",  "html", "ini",  "jpeg",  "jpg",    "js",   "json", "ktx", "loc", "lua",  "luac", "mat",
    "mdl",  "mesh", "meta", "model", "mp3",    "mp4",  "nif",  "obj", "ogg", "opus", "otf",  "pak",
    "png",  "psd",  "py",   "raw",   "shader", "skel", "srt",  "tga", "tif", "tiff", "ttf",  "txt",
    "upak", "usm",  "wav",  "webm",  "webp",   "wem",  "wmv",  "xma", "xml", "yaml", "yml",  "zip",
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Why a line cannot be a name; null when it can.
const char* line_fault(const char* line, uint32_t length) {
  if (length > kNameLineMost) return "is longer than 4096 bytes";
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(line);
  for (uint32_t i = 0; i < length;) {
    if (bytes[i] == 0) return "holds a NUL byte";
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    if (sequence == 0) return "is not UTF-8";
    i += sequence;
  }
  return nullptr;
}

// One pass over a list's lines, handing the well-formed names to the sink and warning about the
// others.
class ListReader {
 public:
  ListReader(const char* path, NameListSink& sink, WarningList& warnings)
      : sink_(sink), warnings_(warnings) {
    sys_native_path(path, shown_);
  }

  // Line number, and its bytes without the line end's LF. False when the sink stops.
  bool Line(uint32_t number, const char* line, uint32_t length) {
    if (length != 0 && line[length - 1] == '\r') --length;
    const char* fault = line_fault(line, length);
    if (fault != nullptr) {
      Warn(number, fault);
      return true;
    }
    while (length != 0 && is_blank(line[length - 1])) --length;
    while (length != 0 && is_blank(*line)) {
      ++line;
      --length;
    }
    if (length == 0 || line[0] == '#') return true;
    return sink_.Take(line, length);
  }

  void Warn(uint32_t number, const char* fault) {
    if (++malformed_ <= kLinesNamed) {
      warnings_.Add("\"%s\" line %u %s; it was skipped", shown_.Data(), number, fault);
    }
  }

  // After the last line: the count of the malformed lines not named.
  void Finish() {
    if (malformed_ > kLinesNamed) {
      warnings_.Add("\"%s\": %u more malformed lines were skipped", shown_.Data(),
                    malformed_ - kLinesNamed);
    }
  }

 private:
  NameListSink& sink_;
  WarningList& warnings_;
  CStringBufferA shown_;
  uint32_t malformed_ = 0;
};

// Counts the lines of the file, for the sink's Expect. False when it cannot be read.
bool count_lines(FileHandle file, uint64_t size, char* piece, uint64_t* lines) {
  *lines = 1;  // the last line need not end in a line end
  for (uint64_t at = 0; at < size;) {
    const uint64_t left = size - at;
    const uint32_t want = left < kPiece ? static_cast<uint32_t>(left) : kPiece;
    const uint32_t got = file_read_at(file, at, piece, want);
    if (got == 0) return false;
    const char* p = piece;
    const char* const end = piece + got;
    while ((p = static_cast<const char*>(std::memchr(p, '\n', end - p))) != nullptr) {
      ++*lines;
      ++p;
    }
    at += got;
  }
  return true;
}

class LineAdder : public NameListSink {
 public:
  explicit LineAdder(NameLists& lists, NameTable& names) : lists_(lists), names_(names) {}
  void Expect(uint32_t lines, uint64_t bytes) override {
    // Only a hint: when the room cannot be had at once, the table grows as the names come.
    names_.Reserve(lines, bytes);
  }
  bool Take(const char* text, uint32_t length) override { return lists_.AddLine(text, length); }

 private:
  NameLists& lists_;
  NameTable& names_;
};

}  // namespace

bool read_name_list(const char* path, NameListSink& sink, WarningList& warnings, Status* status) {
  ScopedFile file(open_file(path, "r"));
  const uint64_t size = file.is_open() ? file_size(file.get()) : kBadPosition;
  if (size == kBadPosition) {
    status->FailIo("cannot read", path);
    return false;
  }
  // A piece, and before it the start of a line that the piece before left unfinished: at most a
  // line's longest and its CR, as anything longer is passed over unkept.
  const uint32_t carried = kNameLineMost + 1;
  TCountedArray<char> buffer;
  if (!buffer.allocate(carried + kPiece)) return status->FailOutOfMemory();
  char* const block = &buffer[0];
  uint64_t lines = 0;
  if (!count_lines(file.get(), size, block, &lines)) {
    status->FailIo("cannot read", path);
    return false;
  }
  sink.Expect(lines > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(lines), size + 1);

  ListReader reader(path, sink, warnings);
  uint32_t number = 0;
  uint32_t start = 0;    // the unfinished line's first byte in the block
  uint32_t end = 0;      // after the block's last byte read
  bool tooLong = false;  // the unfinished line is longer than a name may be, and is not kept
  for (uint64_t at = 0;;) {
    const char* newline;
    while ((newline = static_cast<const char*>(std::memchr(block + start, '\n', end - start))) !=
           nullptr) {
      const uint32_t length = static_cast<uint32_t>(newline - (block + start));
      ++number;
      if (tooLong) {
        reader.Warn(number, "is longer than 4096 bytes");
        tooLong = false;
      } else if (!reader.Line(number, block + start, length)) {
        return status->FailOutOfMemory();
      }
      start += length + 1;
    }
    uint32_t unfinished = end - start;
    if (at >= size) {
      if (tooLong) {
        reader.Warn(++number, "is longer than 4096 bytes");
      } else if (unfinished != 0 && !reader.Line(++number, block + start, unfinished)) {
        return status->FailOutOfMemory();
      }
      break;
    }
    if (tooLong || unfinished > carried) {
      tooLong = true;
      unfinished = 0;
    }
    std::memmove(block, block + start, unfinished);
    start = 0;
    end = unfinished;
    const uint64_t left = size - at;
    const uint32_t want = left < kPiece ? static_cast<uint32_t>(left) : kPiece;
    const uint32_t got = file_read_at(file.get(), at, block + end, want);
    if (got == 0) {
      status->FailIo("cannot read", path);
      return false;
    }
    if (at == 0 && got >= 3 && std::memcmp(block, "\xEF\xBB\xBF", 3) == 0) start = 3;
    at += got;
    end += got;
  }
  reader.Finish();
  return true;
}

uint32_t ext_dot(const char* text, uint32_t length) {
  uint32_t dot = length;
  for (uint32_t i = 0; i < length; ++i) {
    if (text[i] == '/' || text[i] == '\\') {
      dot = length;
    } else if (text[i] == '.') {
      dot = i;
    }
  }
  return dot;
}

bool NameLists::AddLine(const char* text, uint32_t length) {
  const uint32_t dot = ext_dot(text, length);
  if (!names_.Add(text, dot)) return false;
  return dot == length || exts_.Add(text + dot + 1, length - dot - 1);
}

bool NameLists::AddName(const char* text) {
  const size_t length = std::strlen(text);
  return length < UINT32_MAX && names_.Add(text, static_cast<uint32_t>(length));
}

bool NameLists::AddExt(const char* text) {
  const size_t length = std::strlen(text);
  return length < UINT32_MAX && exts_.Add(text, static_cast<uint32_t>(length));
}

bool NameLists::AddBuiltinExts() {
  for (const char* ext : kBuiltinExts) {
    if (!AddExt(ext)) return false;
  }
  return true;
}

bool NameLists::LoadFile(const char* path, WarningList& warnings, Status* status) {
  LineAdder adder(*this, names_);
  const bool read = read_name_list(path, adder, warnings, status);
  names_.Trim();
  return read;
}

bool NameLists::LoadFolder(const char* dir, WarningList& warnings, Status* status) {
  if (!sys_file_exists(dir)) return true;
  ByteBuffer listing;
  CStringBufferA shown;
  if (!sys_list_directory(dir, listing)) {
    Status unread;
    unread.FailIo("cannot read the folder of name lists", dir);
    if (!unread.Describe(shown)) return status->FailOutOfMemory();
    warnings.Add("%s; passed over", shown.Data());
    return true;
  }
  const char* names = reinterpret_cast<const char*>(listing.data());
  TArray<uint32_t> lists;
  for (uint32_t at = 0; at < listing.length();) {
    const char* name = names + at;
    const size_t length = std::strlen(name);
    if (length > 4 && ascii_same_but_case(name + length - 4, ".txt", 4) && !lists.Append(at)) {
      return status->FailOutOfMemory();
    }
    at += static_cast<uint32_t>(length) + 1;
  }
  std::sort(lists.begin(), lists.end(),
            [names](uint32_t a, uint32_t b) { return std::strcmp(names + a, names + b) < 0; });
  PathBuffer path;
  for (uint32_t at : lists) {
    if (path.Format("%s\\%s", dir, names + at) <= 0) return status->FailOutOfMemory();
    Status unread;
    if (LoadFile(path.Data(), warnings, &unread)) continue;
    if (unread.code() == StatusCode::kOutOfMemory) return status->FailOutOfMemory();
    if (!unread.Describe(shown)) return status->FailOutOfMemory();
    warnings.Add("%s; passed over", shown.Data());
  }
  return true;
}

bool user_names_folder(CStringBufferA& out) {
  CStringBufferA data;
  if (!sys_user_data_path(data)) {
    out.Assign(nullptr);
    return false;
  }
  if (out.Format("%s\\names", data.Data()) <= 0) {
    out.Assign(nullptr);
    return false;
  }
  return true;
}
