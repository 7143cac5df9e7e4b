#ifndef VINTREL_DRIVER_NAME_HASH_H_
#define VINTREL_DRIVER_NAME_HASH_H_

#include <cstdint>

// The id of a file name, extension or package name: a CRC-64 (reflected polynomial
// 0xD0AB0F0002C00600, register preset to all ones, result complemented) over the text's bytes
// lower-cased in the "C" locale. The empty text gives 0; "abc" and "ABC" give 0xA65ABC18AD994B81.
uint64_t name_hash(const char* text);

#endif  // VINTREL_DRIVER_NAME_HASH_H_
