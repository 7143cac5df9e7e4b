#include "names/name_glob.h"

#include <cstring>

#include "base/ascii.h"
#include "base/utf8.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

}  // namespace

bool NameGlob::Compile(const char* pattern) {
  tokens_.Clear();
  lastPart_ = true;
  for (const char* p = pattern; *p != '\0'; ++p) {
    Token token = {kLiteral, ascii_lower(*p)};
    if (is_separator(*p)) {
      token.kind = kSeparator;
      lastPart_ = false;
    } else if (*p == '?') {
      token.kind = kOne;
    } else if (*p == '*' && p[1] == '*') {
      ++p;
      token.kind = kAnyStar;
      if (is_separator(p[1])) {
        ++p;
        token.kind = kFolders;
        lastPart_ = false;
      }
    } else if (*p == '*') {
      token.kind = kStar;
    }
    if (!tokens_.Append(token)) return false;
  }
  return true;
}

bool NameGlob::Match(const char* text, uint32_t length) {
  if (lastPart_) {
    for (uint32_t i = length; i-- > 0;) {
      if (is_separator(text[i])) {
        text += i + 1;
        length -= i + 1;
        break;
      }
    }
  }
  if (length == UINT32_MAX || !reached_.resize(length + 1) || !next_.resize(length + 1)) {
    return false;
  }
  uint8_t* reached = reached_.data();
  std::memset(reached, 0, length + 1);
  reached[0] = 1;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
  for (const Token& token : tokens_) {
    uint8_t* next = next_.data();
    std::memset(next, 0, length + 1);
    // run: some earlier position was reached with nothing between it and here that the token
    // cannot pass over.
    uint8_t run = 0;
    for (uint32_t i = 0; i <= length; ++i) {
      const bool more = i < length;
      switch (token.kind) {
        case kLiteral:
          if (reached[i] && more && ascii_lower(text[i]) == token.literal) next[i + 1] = 1;
          break;
        case kSeparator:
          if (reached[i] && more && is_separator(text[i])) next[i + 1] = 1;
          break;
        case kOne:
          if (reached[i] && more && !is_separator(text[i])) {
            const uint32_t sequence = utf8_sequence_length(bytes + i, length - i);
            next[i + (sequence == 0 ? 1 : sequence)] = 1;
          }
          break;
        case kStar:
          run = reached[i] || (run && i > 0 && !is_separator(text[i - 1]));
          next[i] = run;
          break;
        case kAnyStar:
          run = run || reached[i];
          next[i] = run;
          break;
        case kFolders:
          // No folder at all, or any run that ends in a separator.
          next[i] = reached[i] || (run && i > 0 && is_separator(text[i - 1]));
          run = run || reached[i];
          break;
      }
    }
    std::memcpy(reached, next, length + 1);
  }
  return reached[length] != 0;
}
