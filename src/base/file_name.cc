#include "base/file_name.h"

#include <cstring>
#include <initializer_list>

#include "base/ascii.h"
#include "base/utf8.h"

namespace {

// The small letter of a capital one of the scripts fold_path_case folds; any other code point
// as it is. Each pair takes two bytes of UTF-8 on both sides, so folding keeps a text's length.
uint32_t small_letter(uint32_t c) {
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F)) {
    return c + 0x20;
  }
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c == 0x178) return 0xFF;
  // Latin Extended-A pairs a capital with the small letter after it: on even code points up to
  // U+0137 and from U+014A, on odd ones between (U+0138 and U+0149 stand alone).
  const bool evenPairs = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if ((evenPairs && c % 2 == 0) || (oddPairs && c % 2 == 1)) return c + 1;
  return c;
}

}  // namespace

FileNameProblem file_name_problem(const char* name, uint32_t length) {
  if (length == 0) return FileNameProblem::kEmpty;
  if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) {
    return FileNameProblem::kDots;
  }
  if (length > kMaxFileNameBytes) return FileNameProblem::kTooLong;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(name);
  for (uint32_t i = 0; i < length;) {
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    if (sequence == 0) return FileNameProblem::kNotUtf8;
    i += sequence;
  }
  for (uint32_t i = 0; i < length; ++i) {
    if (bytes[i] < 0x20 || bytes[i] == 0x7F) return FileNameProblem::kControl;
  }
  for (uint32_t i = 0; i < length; ++i) {
    if (std::strchr("<>:\"|?*", name[i]) != nullptr) {
      return FileNameProblem::kRefusedChar;
    }
  }
  if (name[length - 1] == '.' || name[length - 1] == ' ') return FileNameProblem::kTrailingDot;
  if (is_device_name(name, length)) return FileNameProblem::kDevice;
  return FileNameProblem::kUsable;
}

const char* file_name_problem_text(FileNameProblem problem) {
  switch (problem) {
    case FileNameProblem::kUsable:
      return "is usable";
    case FileNameProblem::kEmpty:
      return "is empty (an absolute or UNC path, or two separators in a row)";
    case FileNameProblem::kDots:
      return "is \".\" or \"..\", which would lead out of its folder";
    case FileNameProblem::kTooLong:
      return "is longer than 255 bytes";
    case FileNameProblem::kNotUtf8:
      return "is not UTF-8";
    case FileNameProblem::kControl:
      return "holds a control character";
    case FileNameProblem::kRefusedChar:
      return "holds one of < > : \" | ? *, which Windows refuses (':' makes a drive or a stream)";
    case FileNameProblem::kTrailingDot:
      return "ends in a dot or a space, which Windows drops";
    case FileNameProblem::kDevice:
      return "is a name that Windows reserves for a device";
  }
  return "";
}

bool is_device_name(const char* name, uint32_t length) {
  const void* dot = std::memchr(name, '.', length);
  uint32_t base =
      dot != nullptr ? static_cast<uint32_t>(static_cast<const char*>(dot) - name) : length;
  while (base != 0 && name[base - 1] == ' ') --base;
  char lower[8] = {};
  if (base < 3 || base > 7) return false;
  for (uint32_t i = 0; i < base; ++i) lower[i] = ascii_lower(name[i]);
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (std::strcmp(lower, device) == 0) return true;
  }
  if (std::strncmp(lower, "com", 3) != 0 && std::strncmp(lower, "lpt", 3) != 0) return false;
  const char* number = lower + 3;
  // A digit, or the superscripts 1, 2 and 3 (U+00B9, U+00B2, U+00B3).
  return (base == 4 && number[0] >= '0' && number[0] <= '9') ||
         (base == 5 && number[0] == '\xC2' &&
          (number[1] == '\xB9' || number[1] == '\xB2' || number[1] == '\xB3'));
}

bool fold_path_case(const char* path, uint32_t length, CStringBufferA& out) {
  if (length >= static_cast<uint32_t>(INT32_MAX) ||
      !out.Reserve(static_cast<int32_t>(length + 1))) {
    return false;
  }
  char* folded = out.Data();
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(path);
  for (uint32_t i = 0; i < length;) {
    const uint8_t lead = bytes[i];
    if (lead < 0x80) {
      folded[i] = lead == '\\' ? '/' : ascii_lower(static_cast<char>(lead));
      ++i;
      continue;
    }
    const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
    if (sequence == 2) {
      const uint32_t c = small_letter((lead & 0x1Fu) << 6 | (bytes[i + 1] & 0x3Fu));
      folded[i] = static_cast<char>(0xC0 | c >> 6);
      folded[i + 1] = static_cast<char>(0x80 | (c & 0x3F));
      i += 2;
      continue;
    }
    // Other sequences, and bytes that begin none, stay as they are.
    const uint32_t copied = sequence == 0 ? 1 : sequence;
    std::memcpy(folded + i, path + i, copied);
    i += copied;
  }
  folded[length] = '\0';
  out.SetLength(static_cast<int32_t>(length));
  return true;
}
