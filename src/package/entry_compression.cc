#include "package/entry_compression.h"

#include <zlib.h>

#include <cstring>

#include "base/byte_buffer.h"
#include "base/coding.h"
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

// Whether the left bytes after the size prefix can inflate to rawSize bytes at all. The bound is
// checked before the output grows, so that a damaged size prefix cannot ask for gigabytes.
bool raw_size_fits_file(uint64_t left, uint32_t rawSize, Status* status) {
  if (left > UINT32_MAX / kMaxInflateRatio || rawSize <= left * kMaxInflateRatio) return true;
  status->Fail(StatusCode::kCorrupt,
               "a compressed block declares %u bytes, more than the %llu bytes after it can hold",
               rawSize, static_cast<unsigned long long>(left));
  return false;
}

bool cut_short(Status* status, const char* what) {
  if (sys_last_error() != 0) {
    status->FailIo("cannot read a compressed block", "");
  } else {
    status->Fail(StatusCode::kCorrupt, "%s", what);
  }
  return false;
}

bool corrupt_block(Status* status, const z_stream& stream) {
  status->Fail(StatusCode::kCorrupt, "a compressed block is damaged (%s)",
               stream.msg != nullptr ? stream.msg : "zlib refused it");
  return false;
}

// The block's stream into output's rawSize bytes: first the length bytes at input (already
// read), then pieces read into piece from position on. A failed call leaves the stream
// mid-block; the next use resets it before starting.
bool run_inflate(z_stream& stream, FileHandle file, uint64_t position,
                 uint8_t (&piece)[kInflateReadSize], const uint8_t* input, uint32_t length,
                 ByteBuffer& output, Status* status) {
  // zlib refuses a null output pointer even with no room, and an empty buffer has no block.
  uint8_t none = 0;
  stream.next_out = output.data() != nullptr ? output.data() : &none;
  stream.avail_out = output.length();
  for (;;) {
    if (length == 0) {
      length = file_read_at(file, position, piece, kInflateReadSize);
      if (length == 0) {
        return cut_short(status, "a compressed block is cut short by the end of the file");
      }
      position += length;
      input = piece;
    }
    // zlib's input pointer is not const-qualified; inflate only reads through it.
    stream.next_in = const_cast<uint8_t*>(input);
    stream.avail_in = length;
    length = 0;
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result < 0 || result == Z_NEED_DICT) return corrupt_block(status, stream);
    if (result == Z_STREAM_END) {
      // A stream that stops short would leave undefined bytes in the entry.
      if (stream.avail_out == 0) return true;
      status->Fail(StatusCode::kCorrupt,
                   "a compressed block inflates to fewer bytes than its size prefix says (%u)",
                   output.length());
      return false;
    }
    // inflate stops before its input is used up only when the output is full; whatever is left
    // would inflate beyond the raw size (and must not be dropped by the next read).
    if (stream.avail_in != 0) {
      status->Fail(StatusCode::kCorrupt,
                   "a compressed block inflates to more bytes than its size prefix says (%u)",
                   output.length());
      return false;
    }
  }
}

}  // namespace

bool inflate_entry(FileHandle file, uint64_t position, uint64_t fileSize, ByteBuffer& output,
                   Status* status) {
  Status ignored;
  if (status == nullptr) status = &ignored;
  InflateStream& holder = inflate_stream();
  z_stream& stream = holder.get();
  // Resetting first as well means that a block after a failed one starts clean.
  if (!holder.ready() || inflateReset(&stream) != Z_OK) {
    status->Fail(StatusCode::kOutOfMemory, "out of memory");
    return false;
  }

  // The size prefix arrives with the first piece of the stream: most blocks are smaller than a
  // piece and take one read.
  uint8_t piece[kInflateReadSize];
  const uint32_t got = file_read_at(file, position, piece, kInflateReadSize);
  if (got < 4) return cut_short(status, "a compressed block's size prefix is cut short");
  const uint32_t rawSize = decode_u32(piece);
  const uint64_t streamStart = position + 4;
  const uint64_t left = fileSize > streamStart ? fileSize - streamStart : 0;
  if (!raw_size_fits_file(left, rawSize, status)) return false;
  if (!output.resize(rawSize)) {
    status->Fail(StatusCode::kOutOfMemory, "out of memory");
    return false;
  }
  if (!run_inflate(stream, file, position + got, piece, piece + 4, got - 4, output, status)) {
    return false;
  }
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
