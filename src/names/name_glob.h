#ifndef VINTREL_NAMES_NAME_GLOB_H_
#define VINTREL_NAMES_NAME_GLOB_H_

#include <cstdint>

#include "base/array.h"
#include "base/byte_buffer.h"

// A pattern that picks entries by name, matched against an entry's name and ext joined by a dot
// ("ui/hero.dds", or an id in place of a part no list knows), the way ids compare texts:
//   *    any run of characters within one folder (no '/' or '\')
//   **   any run of characters, across folders; "**/" also matches no folder at all
//   ?    one character (one UTF-8 sequence) other than a separator
//   / \  a separator, either of the two
// Every other character stands for itself, the letters A to Z in either case. The whole text must
// match. A pattern without a separator is matched against the last part of the text, after its
// last separator, so that "*.dds" picks every texture in any folder.
class NameGlob {
 public:
  NameGlob() = default;
  NameGlob(const NameGlob&) = delete;
  NameGlob& operator=(const NameGlob&) = delete;

  // Takes pattern; every text is a pattern. False when out of memory.
  bool Compile(const char* pattern);
  // Whether the length bytes of text match. Uses buffers of the glob's own: one thread at a time.
  // False also when out of memory.
  bool Match(const char* text, uint32_t length);

 private:
  enum Kind : uint8_t { kLiteral, kSeparator, kOne, kStar, kAnyStar, kFolders };
  struct Token {
    Kind kind;
    char literal;  // kLiteral: the byte, A to Z folded
  };

  TArray<Token> tokens_;
  bool lastPart_ = true;  // no separator in the pattern
  ByteBuffer reached_;    // reached_[i]: the tokens so far can match the first i bytes
  ByteBuffer next_;
};

#endif  // VINTREL_NAMES_NAME_GLOB_H_
