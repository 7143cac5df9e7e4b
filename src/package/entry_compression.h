#ifndef VINTREL_PACKAGE_ENTRY_COMPRESSION_H_
#define VINTREL_PACKAGE_ENTRY_COMPRESSION_H_

// Compressed blocks: a u32 raw size followed by a zlib stream (RFC 1950, 32 KiB window) that
// inflates to exactly that many bytes.

#include <zlib.h>

#include <cstdint>

#include "base/byte_buffer.h"
#include "base/platform.h"
#include "base/status.h"

// The two zlib streams of one owner: one inflates, one deflates at level 0 (window bits 15, memory
// level 8, default strategy). Each is made on its first use, reset between uses and ended with
// the object. Each thread that inflates or deflates has streams of its own.
class ZlibStreams {
 public:
  ZlibStreams();
  ~ZlibStreams();
  ZlibStreams(const ZlibStreams&) = delete;
  ZlibStreams& operator=(const ZlibStreams&) = delete;

  // The stream, made on first use and reset; null when zlib cannot make or reset it.
  z_stream* Inflate();
  z_stream* Deflate();
  // Where deflate_to makes each piece of a stream.
  ByteBuffer& piece() { return piece_; }

 private:
  ByteBuffer piece_;
  z_stream inflate_;
  z_stream deflate_;
  bool inflateMade_ = false;
  bool deflateMade_ = false;
};

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
bool inflate_entry(ZlibStreams& streams, FileHandle file, uint64_t position, uint64_t fileSize,
                   ByteBuffer& output, Status* status = nullptr);

// Compresses input into output as one complete zlib stream at level 0 (stored deflate blocks;
// the stream begins 0x78 0x01), sized by deflateBound. The raw-size prefix is not written. Fails
// when output cannot grow to the bound or the stream cannot be finished; output's length is 0
// after a failure.
bool deflate_entry(ZlibStreams& streams, const ByteBuffer& input, ByteBuffer& output);

// Where deflate_to puts a stream as it is made.
class StreamOutput {
 public:
  // Takes the next n bytes of the stream; false stops the stream.
  virtual bool Put(const uint8_t* bytes, uint32_t n) = 0;

 protected:
  ~StreamOutput() = default;
};

// The same stream as deflate_entry makes, byte for byte, handed to output piece by piece (about
// 256 KiB each) as it is made, so that no buffer holds it whole; *streamSize receives its length.
// False when the stream cannot be made (no memory for zlib) or output refuses a piece.
bool deflate_to(ZlibStreams& streams, const ByteBuffer& input, StreamOutput& output,
                uint64_t* streamSize);

#endif  // VINTREL_PACKAGE_ENTRY_COMPRESSION_H_
