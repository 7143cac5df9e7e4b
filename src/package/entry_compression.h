#ifndef VINTREL_PACKAGE_ENTRY_COMPRESSION_H_
#define VINTREL_PACKAGE_ENTRY_COMPRESSION_H_

// Compressed blocks: a u32 raw size followed by a zlib stream (RFC 1950, 32 KiB window) that
// inflates to exactly that many bytes. Two process-wide zlib streams, one per direction, are
// created on first use, reset between uses and ended at process exit. Not thread-safe.

#include <cstdint>

#include "base/platform.h"
#include "base/status.h"

class ByteBuffer;

// Deflate never expands better than 1032 to 1 (a 258-byte match in two bits), so a stream of
// k bytes cannot inflate to more than k * 1032 bytes.
constexpr uint32_t kMaxInflateRatio = 1032;
// The file is read in pieces of this size.
constexpr uint32_t kInflateReadSize = 8192;

// Reads the compressed block that starts position bytes into the file (whose size the caller
// gives as fileSize, taken once for all the blocks it reads) into output, whose length becomes
// the block's raw size. Fails when the size prefix is short; when the raw size exceeds what the
// bytes after the prefix can inflate to ((fileSize - position - 4) * 1032), checked before output
// grows; when output cannot grow; when the stream is corrupt, cut short by the end of the file,
// or has a wrong Adler-32; when it would inflate to more than the raw size; and when it ends
// before producing the raw size; the reason goes to *status when one is given. Reads are
// positional: the file's current position afterwards is not defined. On failure output's
// content is of no use.
bool inflate_entry(FileHandle file, uint64_t position, uint64_t fileSize, ByteBuffer& output,
                   Status* status = nullptr);

// Compresses input into output as one complete zlib stream at level 0 (stored deflate blocks;
// the stream begins 0x78 0x01), sized by deflateBound. The raw-size prefix is not written. Fails
// when output cannot grow to the bound or the stream cannot be finished; output's length is 0
// after a failure.
bool deflate_entry(const ByteBuffer& input, ByteBuffer& output);

#endif  // VINTREL_PACKAGE_ENTRY_COMPRESSION_H_
