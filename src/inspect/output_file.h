#ifndef VINTREL_INSPECT_OUTPUT_FILE_H_
#define VINTREL_INSPECT_OUTPUT_FILE_H_

// The files that commands write for the user, beside the game and never over it.

#include "base/byte_buffer.h"
#include "base/status.h"
#include "manifest/game_reader.h"

// Writes bytes to a file at path, under the temporary name path.tmp until every byte is on the
// disk, so that a failure leaves no partial file at path; a file there is replaced. False, with
// the reason in *status.
bool write_output_file(const char* path, const ByteBuffer& bytes, Status* status);

// Creates the file path, which must not exist (a symbolic link there counts as a file and is never
// followed), and writes the length bytes of data to it. A file that cannot be written whole is
// deleted again. False, with the reason in *status.
bool write_new_file(const char* path, const uint8_t* data, uint32_t length, Status* status);

// Whether path is an existing file of the game in gameDir: one of its archives or its manifests,
// by the file's identity, so that another spelling of the same file counts too.
bool is_game_file(const GameReader& game, const char* gameDir, const char* path);

#endif  // VINTREL_INSPECT_OUTPUT_FILE_H_
