#include "package/entry_compression.h"

#include <zlib.h>

#include <cstring>

#include "base/byte_buffer.h"
#include "base/file.h"

namespace {

// zlib keeps its own heap blocks (its default memory functions); the destructors, which run at
// process exit, give them back.
class InflateStream {
 public:
  InflateStream() {
    std::memset(&stream_, 0, sizeof(stream_));
    ready_ = inflateInit(&stream_) == Z_OK;
  }
  ~InflateStream() {
    if (ready_) inflateEnd(&stream_);
  }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  bool ready() const { return ready_; }
  z_stream& get() { return stream_; }

 private:
  z_stream stream_;
  bool ready_;
};

class DeflateStream {
 public:
  DeflateStream() {
    std::memset(&stream_, 0, sizeof(stream_));
    ready_ = deflateInit2(&stream_, 0, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~DeflateStream() {
    if (ready_) deflateEnd(&stream_);
  }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  bool ready() const { return ready_; }
  z_stream& get() { return stream_; }

 private:
  z_stream stream_;
  bool ready_;
};

InflateStream& inflate_stream() {
  static InflateStream stream;
  return stream;
}

DeflateStream& deflate_stream() {
  static DeflateStream stream;
  return stream;
}

// The most that the rest of the file can inflate to, capped at the u32 range of a raw size.
bool raw_size_fits_file(FileHandle file, uint32_t rawSize) {
  const uint64_t size = file_size(file);
  const uint64_t position = file_position(file);
  if (size == kBadPosition || position == kBadPosition) return false;
  const uint64_t left = size > position ? size - position : 0;
  if (left > UINT32_MAX / kMaxInflateRatio) return true;
  return rawSize <= left * kMaxInflateRatio;
}

// The block's stream into output's rawSize bytes. A failed call leaves the stream mid-block;
// the next use resets it before starting.
bool run_inflate(z_stream& stream, FileHandle file, ByteBuffer& output) {
  uint8_t piece[kInflateReadSize];
  // zlib refuses a null output pointer even with no room, and an empty buffer has no block.
  uint8_t none = 0;
  stream.next_out = output.data() != nullptr ? output.data() : &none;
  stream.avail_out = output.length();
  for (;;) {
    const uint32_t got = file_read(file, piece, kInflateReadSize);
    if (got == 0) return false;
    stream.next_in = piece;
    stream.avail_in = got;
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result < 0 || result == Z_NEED_DICT) return false;
    if (result == Z_STREAM_END) {
      // A stream that stops short would leave undefined bytes in the entry.
      return stream.avail_out == 0;
    }
    // inflate stops before its input is used up only when the output is full; whatever is left
    // would inflate beyond the raw size (and must not be dropped by the next read).
    if (stream.avail_in != 0) return false;
  }
}

}  // namespace

bool inflate_entry(FileHandle file, ByteBuffer& output) {
  InflateStream& holder = inflate_stream();
  if (!holder.ready()) return false;
  z_stream& stream = holder.get();
  // Resetting first as well means that a block after a failed one starts clean.
  if (inflateReset(&stream) != Z_OK) return false;

  uint32_t rawSize = 0;
  if (!file_read_u32(file, &rawSize)) return false;
  if (!raw_size_fits_file(file, rawSize)) return false;
  if (!output.resize(rawSize)) return false;
  if (!run_inflate(stream, file, output)) return false;
  return inflateReset(&stream) == Z_OK;
}

bool deflate_entry(const ByteBuffer& input, ByteBuffer& output) {
  output.resize(0);
  DeflateStream& holder = deflate_stream();
  if (!holder.ready()) return false;
  z_stream& stream = holder.get();
  if (deflateReset(&stream) != Z_OK) return false;

  // zlib's input pointer is not const-qualified; deflate only reads through it.
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = input.length();
  const uLong bound = deflateBound(&stream, input.length());
  // On a 32-bit system the bound of an input near 4 GiB wraps below the input length.
  if (bound < input.length() || bound > UINT32_MAX) return false;
  if (!output.resize(static_cast<uint32_t>(bound))) return false;

  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(bound);
  // With room for the bound, one Z_FINISH call completes the stream; anything else would leave
  // a truncated block behind.
  const int result = deflate(&stream, Z_FINISH);
  if (result != Z_STREAM_END) {
    output.resize(0);
    return false;
  }
  output.resize(static_cast<uint32_t>(bound) - stream.avail_out);
  return true;
}
