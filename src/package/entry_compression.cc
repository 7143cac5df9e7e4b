#include "package/entry_compression.h"

#include <zlib.h>

#include <cstring>

#include "base/byte_buffer.h"
#include "base/coding.h"
#include "base/file.h"

namespace {

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

// zlib keeps its own heap blocks (its default memory functions); the destructor gives them back.
ZlibStreams::ZlibStreams() {
  std::memset(&inflate_, 0, sizeof(inflate_));
  std::memset(&deflate_, 0, sizeof(deflate_));
}

ZlibStreams::~ZlibStreams() {
  if (inflateMade_) inflateEnd(&inflate_);
  if (deflateMade_) deflateEnd(&deflate_);
}

// Resetting before every use means that a block after a failed one starts clean.
z_stream* ZlibStreams::Inflate() {
  if (!inflateMade_) {
    inflateMade_ = inflateInit(&inflate_) == Z_OK;
    return inflateMade_ ? &inflate_ : nullptr;
  }
  return inflateReset(&inflate_) == Z_OK ? &inflate_ : nullptr;
}

z_stream* ZlibStreams::Deflate() {
  if (!deflateMade_) {
    deflateMade_ = deflateInit2(&deflate_, 0, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return deflateMade_ ? &deflate_ : nullptr;
  }
  return deflateReset(&deflate_) == Z_OK ? &deflate_ : nullptr;
}

bool inflate_entry(ZlibStreams& streams, FileHandle file, uint64_t position, uint64_t fileSize,
                   ByteBuffer& output, Status* status) {
  Status ignored;
  if (status == nullptr) status = &ignored;
  z_stream* made = streams.Inflate();
  if (made == nullptr) {
    status->FailOutOfMemory();
    return false;
  }
  z_stream& stream = *made;

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
    status->FailOutOfMemory();
    return false;
  }
  return run_inflate(stream, file, position + got, piece, piece + 4, got - 4, output, status);
}

// At level 0 zlib writes stored blocks of at most 65535 bytes, each behind a 5-byte header.
// Handed whole blocks of input at a time, with room for all they become, it makes the same
// stream as one call over the whole input with room for all of it.
constexpr uint32_t kStoredBlock = 65535;
constexpr uint32_t kStoredHeader = 5;
constexpr uint32_t kPieceBlocks = 4;
// The zlib header, the trailer and an empty final block, beyond the blocks of a piece.
constexpr uint32_t kStreamExtra = 2 + 4 + kStoredHeader;

bool deflate_to(ZlibStreams& streams, const ByteBuffer& input, StreamOutput& output,
                uint64_t* streamSize) {
  z_stream* made = streams.Deflate();
  ByteBuffer& piece = streams.piece();
  const uint32_t room = kPieceBlocks * (kStoredBlock + kStoredHeader) + kStreamExtra;
  if (made == nullptr || !piece.reserve(room)) return false;
  z_stream& stream = *made;
  const uint8_t* next = input.data();
  uint32_t left = input.length();
  uint64_t total = 0;
  for (;;) {
    const uint32_t chunk = left < kPieceBlocks * kStoredBlock ? left : kPieceBlocks * kStoredBlock;
    const bool last = chunk == left;
    // zlib's input pointer is not const-qualified; deflate only reads through it.
    stream.next_in = const_cast<Bytef*>(next);
    stream.avail_in = chunk;
    stream.next_out = piece.data();
    stream.avail_out = room;
    const int result = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
    // Anything else would leave a block cut short, or laid out unlike the whole stream's.
    if (last ? result != Z_STREAM_END : result != Z_OK || stream.avail_in != 0) return false;
    const uint32_t written = room - stream.avail_out;
    if (!output.Put(piece.data(), written)) return false;
    total += written;
    if (last) break;
    next += chunk;
    left -= chunk;
  }
  *streamSize = total;
  return true;
}

bool deflate_entry(ZlibStreams& streams, const ByteBuffer& input, ByteBuffer& output) {
  output.resize(0);
  z_stream* made = streams.Deflate();
  if (made == nullptr) return false;
  z_stream& stream = *made;
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
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) {
    output.resize(0);
    return false;
  }
  output.resize(static_cast<uint32_t>(bound) - stream.avail_out);
  return true;
}
