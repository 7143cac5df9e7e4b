#include "package/package_sink.h"

#include <cstring>

#include "base/file.h"

namespace {

// Zeros are written from here, a piece at a time.
const uint8_t kZeros[kTransferSize] = {};

// Appends n zero bytes to sink through Write.
bool write_zeros(PackageSink& sink, uint64_t n, Status* status) {
  while (n > 0) {
    const uint32_t piece = n < kTransferSize ? static_cast<uint32_t>(n) : kTransferSize;
    if (!sink.Write(kZeros, piece, status)) return false;
    n -= piece;
  }
  return true;
}

}  // namespace

bool FileSink::Fail(Status* status) const {
  status->FailIo("cannot write", path_);
  return false;
}

void FileSink::Grew(uint64_t before) {
  if (before / kStartFlushStep != length_ / kStartFlushStep) file_start_flush(file_);
}

bool FileSink::Write(const void* bytes, uint32_t n, Status* status) {
  if (n == 0) return true;
  if (file_write(file_, bytes, n) != n) return Fail(status);
  const uint64_t before = length_;
  length_ += n;
  Grew(before);
  return true;
}

// The gap is left to the system, which fills it with zeros when the file is ended past it.
bool FileSink::WriteZeros(uint64_t n, Status* status) {
  if (n == 0) return true;
  if (n > UINT64_MAX - length_) return Fail(status);
  const uint64_t end = length_ + n;
  if (file_seek(file_, end) != end || !file_set_end(file_)) return Fail(status);
  const uint64_t before = length_;
  length_ = end;
  Grew(before);
  return true;
}

bool FileSink::WriteAt(uint64_t position, const void* bytes, uint32_t n, Status* status) {
  if (position > length_ || n > length_ - position) return Fail(status);
  if (file_seek(file_, position) != position || file_write(file_, bytes, n) != n ||
      file_seek(file_, length_) != length_) {
    return Fail(status);
  }
  return true;
}

bool FileSink::CutTo(uint64_t length, Status* status) {
  if (length > length_ || file_seek(file_, length) != length || !file_set_end(file_)) {
    return Fail(status);
  }
  length_ = length;
  return true;
}

bool CountingSink::Write(const void*, uint32_t n, Status*) {
  length_ += n;
  return true;
}

bool CountingSink::WriteZeros(uint64_t n, Status*) {
  length_ += n;
  return true;
}

bool StagingSink::Place(uint32_t memoryLimit, const char* tempDir, uint32_t number) {
  memoryLimit_ = memoryLimit;
  return spill_.Place(tempDir, number);
}

// Doubling the capacity, within the limit, so that a package written in many small pieces is
// not copied at every one.
bool StagingSink::Grow(uint32_t needed) {
  if (needed <= memory_.capacity()) return true;
  const uint64_t doubled = 2ull * memory_.capacity();
  const uint32_t target = doubled < needed         ? needed
                          : doubled > memoryLimit_ ? memoryLimit_
                                                   : static_cast<uint32_t>(doubled);
  return memory_.reserve(target);
}

void StagingSink::Reset() {
  memory_.resize(0);
  spilled_ = 0;
}

bool StagingSink::WriteToFile(const void* bytes, uint32_t n, Status* status) {
  if (spilled_ == 0 && !spill_.Rewind(status)) return false;
  if (file_write(spill_.file(), bytes, n) != n) return spill_.FailWrite(status);
  spilled_ += n;
  return true;
}

// Bytes stay in memory while they fit in its limit; once one has gone to the file, the rest follow
// it there. A memory that cannot grow sends them to the file too.
bool StagingSink::Write(const void* bytes, uint32_t n, Status* status) {
  if (n == 0) return true;
  const uint32_t at = memory_.length();
  if (spilled_ != 0 || n > memoryLimit_ - at || !Grow(at + n)) {
    return WriteToFile(bytes, n, status);
  }
  memory_.resize(at + n);
  std::memcpy(memory_.data() + at, bytes, n);
  return true;
}

bool StagingSink::WriteZeros(uint64_t n, Status* status) { return write_zeros(*this, n, status); }

bool StagingSink::WriteAt(uint64_t position, const void* bytes, uint32_t n, Status* status) {
  if (position > length() || n > length() - position) {
    status->Fail(StatusCode::kCorrupt, "a write beyond the staged package");
    return false;
  }
  const uint8_t* from = static_cast<const uint8_t*>(bytes);
  // The part that lies in memory, then the part in the file.
  const uint32_t inMemory = memory_.length();
  if (position < inMemory) {
    const uint32_t count = static_cast<uint32_t>(n < inMemory - position ? n : inMemory - position);
    std::memcpy(memory_.data() + position, from, count);
    from += count;
    n -= count;
    position += count;
  }
  if (n == 0) return true;
  const uint64_t at = position - inMemory;
  if (file_seek(spill_.file(), at) != at || file_write(spill_.file(), from, n) != n ||
      file_seek(spill_.file(), spilled_) != spilled_) {
    return spill_.FailWrite(status);
  }
  return true;
}

bool StagingSink::CopyTo(PackageSink& out, Status* status) {
  if (!out.Write(memory_.data(), memory_.length(), status)) return false;
  if (spilled_ == 0) return true;
  if (file_seek(spill_.file(), 0) != 0) return spill_.FailRead(status);
  uint8_t piece[64 * 1024];
  for (uint64_t left = spilled_; left > 0;) {
    const uint32_t want = left < sizeof(piece) ? static_cast<uint32_t>(left) : sizeof(piece);
    if (file_read(spill_.file(), piece, want) != want) return spill_.FailRead(status);
    if (!out.Write(piece, want, status)) return false;
    left -= want;
  }
  return true;
}

bool HandoffSink::Follow(Status* status) {
  if (direct_ || !reached_->load(std::memory_order_acquire)) return true;
  base_ = archive_->length();
  direct_ = true;
  return staging_->CopyTo(*archive_, status);
}

uint64_t HandoffSink::length() const {
  return direct_ ? archive_->length() - base_ : staging_->length();
}

bool HandoffSink::Write(const void* bytes, uint32_t n, Status* status) {
  if (!Follow(status)) return false;
  return direct_ ? archive_->Write(bytes, n, status) : staging_->Write(bytes, n, status);
}

bool HandoffSink::WriteZeros(uint64_t n, Status* status) {
  if (!Follow(status)) return false;
  return direct_ ? archive_->WriteZeros(n, status) : staging_->WriteZeros(n, status);
}

bool HandoffSink::WriteAt(uint64_t position, const void* bytes, uint32_t n, Status* status) {
  return direct_ ? archive_->WriteAt(base_ + position, bytes, n, status)
                 : staging_->WriteAt(position, bytes, n, status);
}
