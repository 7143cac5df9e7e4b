#ifndef VINTREL_DRIVER_NAME_HASH_H_
#define VINTREL_DRIVER_NAME_HASH_H_

#include <cstdint>

// The id of a file name, extension or package name: a CRC-64 (reflected polynomial
// 0xD0AB0F0002C00600, register preset to all ones, result complemented) over the text's bytes
// lower-cased in the "C" locale. The empty text gives 0; "abc" and "ABC" give 0xA65ABC18AD994B81.
uint64_t name_hash(const char* text);

// name_hash of a text taken in parts, for a reader that needs the ids of a text and of its
// beginning: the state starts at kNameHashStart, takes the parts in turn (length bytes each, NULs
// among them too), and name_hash_end gives the id. name_hash(t) is
// name_hash_end(name_hash_part(kNameHashStart, t, strlen(t))).
constexpr uint64_t kNameHashStart = ~0ull;
uint64_t name_hash_part(uint64_t state, const char* text, uint32_t length);
inline uint64_t name_hash_end(uint64_t state) { return ~state; }

#endif  // VINTREL_DRIVER_NAME_HASH_H_
