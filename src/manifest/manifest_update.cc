#include "manifest/manifest_update.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "base/ascii.h"
#include "base/byte_buffer.h"
#include "base/file.h"
#include "base/file_name.h"
#include "base/ordered_work.h"
#include "base/platform.h"
#include "base/shared_string.h"
#include "base/string_buffer.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "manifest/game_files.h"
#include "manifest/package_directory.h"
#include "package/archive_window.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "package/package_update.h"

namespace {

constexpr uint8_t kUserArchiveTag = 0xFF;
constexpr uint32_t kMaxNameLength16 = 0xFFFF;
// An ArchiveRecord is its tag (u8) and name length (u16), then the name.
constexpr uint32_t kArchiveRecordHead = 3;

// The length of an archive name as a path sees it: the path is formed from the name as a C
// string, so a NUL ends it.
uint32_t path_length(const uint8_t* name, uint32_t length) {
  const void* nul = std::memchr(name, 0, length);
  return nul == nullptr ? length : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - name);
}

// Whether an archive name and the user archive's name lead to the same file; Windows file names
// ignore case.
bool same_file_name(const ArchiveRecord& archive, const char* text, uint32_t textLength) {
  const uint32_t length = path_length(archive.name, archive.nameLength);
  return length == textLength && ascii_same_but_case(archive.name, text, length);
}

// The user archive's name becomes a file name in the destination directory: it must be one
// name there, not a path that leads elsewhere.
bool is_plain_file_name(const char* name) {
  if (name[0] == '\0') return false;
  if (std::strpbrk(name, "\\/:") != nullptr) return false;
  return std::strstr(name, "..") == nullptr;
}

bool refuse(Status* status, const char* format, ...) VINTREL_PRINTF_FORMAT(2, 3);
bool refuse(Status* status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  status->FailWith(StatusCode::kRefused, format, args);
  va_end(args);
  return false;
}

// The checks made against the archive list before the user archive is created, so that a
// refused run leaves the destination directory untouched.
bool user_archive_fits(const RunContext& context, const DirectoryReader& directory,
                       Status* status) {
  // Without fullcopy the user archive is appended and must itself get an index below 0xFF.
  if (!context.fullCopy && directory.archive_count() >= kMaxArchives) {
    status->Fail(StatusCode::kRefused,
                 "the game lists %u archives, leaving no archive index for the user archive",
                 directory.archive_count());
    return false;
  }
  // The user archive replaces a file of that name when the run is committed: if it is one of the
  // game's archives, that archive would be destroyed. Names are compared ignoring ASCII case, and
  // files by identity, which catches what spelling cannot (other cases of other letters, 8.3
  // aliases, links).
  PathBuffer userPath;
  PathBuffer archivePath;
  if (!archive_path(context.destDir.Text(), context.userPackage.Text(), userPath)) {
    return status->FailOutOfMemory();
  }
  const bool userExists = sys_file_exists(userPath.Data());
  for (uint32_t i = 0; i < directory.archive_count(); ++i) {
    const ArchiveRecord& archive = directory.archive(i);
    bool same = same_file_name(archive, context.userPackage.Text(), context.userPackage.Length());
    if (!same && userExists) {
      if (!record_archive_path(context.destDir.Text(), archive, archivePath)) {
        return status->FailOutOfMemory();
      }
      same = sys_same_file(userPath.Data(), archivePath.Data());
    }
    if (same) {
      return refuse(status, "\"upak\" \"%s\" names an archive of the game; choose another name",
                    context.userPackage.Text());
    }
  }
  return true;
}

// One package that the walk found to need rewriting, with what its rewrite and its progress line
// need. name points into section 0, which stays unchanged during the pass.
struct RewriteJob {
  uint32_t record = 0;  // its place in the directory
  uint8_t archiveIndex = 0;
  uint64_t offset = 0;
  uint64_t packageId = 0;
  const uint8_t* name = nullptr;
  uint8_t nameLength = 0;
  bool split = false;
  // About the bytes its rewritten package takes: its tables and its entries' raw sizes.
  uint64_t weight = 0;
};

// What a worker leaves in a slot for the writer: whether the rewrite succeeded and what it wrote,
// or why it failed.
struct RewriteSlot {
  bool ok = false;
  bool changed = false;
  bool ownFailure = false;
  Status failure;
};

// The directory walk. Its members are declared so that the archives are closed before the walk
// ends on every way out; the user archive belongs to the target.
class DirectoryPass : private OrderedTask {
 public:
  DirectoryPass(RunContext& context, PassTarget& target, PassResult* result)
      : context_(context),
        target_(target),
        result_(*result),
        status_(&context.failure),
        entries_(context.entries),
        fullCopy_(context.fullCopy),
        directory_(context.manifestSections[0]),
        writer_(context.sectionRebuild) {}

  bool Run();

 private:
  bool ReserveRebuild();
  bool CopyHead();
  bool OpenArchives();
  bool Scan();
  bool ScanPackage(const PackageRecord& record, uint32_t k);
  bool RewriteAll();
  bool RewriteInline(uint32_t j);
  bool Moved(uint32_t j, bool changed, uint64_t start);
  uint64_t Weight(uint32_t step) override { return jobs_[step].weight; }
  void Work(uint32_t worker, uint32_t step, uint32_t slot) override;
  void Reached(uint32_t, uint32_t slot) override { target_.Reach(slot); }
  bool Take(uint32_t step, uint32_t slot) override;
  void SayProgress(const RewriteJob& job);
  bool Rebuild();
  void NamePackage(const char* name, uint8_t archiveIndex, uint64_t offset, Status* status);
  void NameRecordPackage(const uint8_t* name, uint8_t nameLength, uint8_t archiveIndex,
                         uint64_t offset, Status* status);
  bool WriteRecord(const PackageRecord& record, uint8_t archiveIndex, uint64_t offset);
  bool OutOfMemory() { return status_->FailOutOfMemory(); }

  RunContext& context_;
  PassTarget& target_;
  PassResult& result_;
  Status* status_;
  // What the workers read of the run; nothing writes either during the pass.
  const PackFileEntryList& entries_;
  const bool fullCopy_;
  DirectoryReader directory_;
  ByteWriter writer_;
  CStringBufferA name_;
  PathBuffer path_;
  PackageSink* sink_ = nullptr;
  TCountedArray<ScopedFile> archives_;
  // One window per archive record for the walk: the packages of an archive lie one after
  // another, and those of different archives come in turns.
  TCountedArray<ArchiveWindow> windows_;
  ByteBuffer indexTable_;
  ByteBuffer entryTable_;
  ByteBuffer idBlock_;
  TCountedArray<RewriteJob> jobs_;
  uint32_t jobCount_ = 0;
  // Why the walk stopped before the end of the directory, told once every package before that
  // place is rewritten.
  Status walkFailure_;
  bool walkFailed_ = false;
  uint8_t userIndex_ = 0;
  bool anyChanged_ = false;
  // The first package that fullcopy would have to leave where it is.
  SharedString passedOver_;
  uint8_t passedOverArchive_ = 0;
  uint64_t passedOverOffset_ = 0;
  // The writer's own worker, which rewrites straight into the sink: every package with one
  // thread, and a package that a worker's own means could not make with several.
  PackageWorker inline_;
  TCountedArray<PackageWorker> workers_;
  TCountedArray<RewriteSlot> slots_;
  bool failedInTake_ = false;  // Take ended the pass with a failure
};

// How far the workers may run ahead of the writer: a large package that the writer waits for
// must not leave the other workers idle, nor may the packages waiting for the writer grow without
// bound. Packages in flight: at most kSlotsPerWorker per worker, weighing together at most
// kInFlightPerWorker bytes per worker. Each slot's staging sink holds kSlotMemory bytes in memory
// (most packages are smaller) and the rest of a package in its temporary file.
constexpr uint32_t kSlotsPerWorker = 16;
constexpr uint64_t kInFlightPerWorker = 64u << 20;
constexpr uint32_t kSlotMemory = 256u << 10;

bool DirectoryPass::Run() {
  result_.userArchiveBytes = 0;
  if (!user_archive_name_is_usable(context_.userPackage.Text(), context_.userPackage.Length(),
                                   status_)) {
    return false;
  }
  // The archive list is read once, before anything is created. A directory that ends early is
  // still a failure of the walk, which comes after the user archive was created.
  const bool headRead = directory_.ReadHead(status_);
  if (headRead && !user_archive_fits(context_, directory_, status_)) return false;

  if (!context_.sectionRebuild.resize(0) || (headRead && !ReserveRebuild())) {
    return OutOfMemory();
  }
  sink_ = target_.Open(context_, status_);
  if (sink_ == nullptr || !headRead) return false;
  if (!CopyHead() || !OpenArchives()) return false;
  if (!result_.moves.allocate(directory_.package_count()) ||
      !result_.used.Reset(entries_.count()) || !jobs_.allocate(directory_.package_count()) ||
      !inline_.blocks.Place(context_.tempDir.Text(), 0)) {
    return OutOfMemory();
  }
  if (!Scan()) return false;
  windows_.release();
  if (!RewriteAll()) return false;
  if (walkFailed_) {
    status_->Assign(walkFailure_);
    return false;
  }
  archives_.release();
  if (!Rebuild()) return false;

  if (anyChanged_ && !passedOver_.IsEmpty()) {
    status_->Fail(StatusCode::kUnsupported,
                  "with \"fullcopy\" every package is copied, and this one has no tables to copy");
    NamePackage(passedOver_.Text(), passedOverArchive_, passedOverOffset_, status_);
    return false;
  }
  result_.userArchiveBytes = anyChanged_ ? sink_->length() : 0;
  if (!target_.Close(anyChanged_, status_)) return false;
  if (anyChanged_ && !context_.manifestSections[0].assign(context_.sectionRebuild)) {
    return OutOfMemory();
  }
  return true;
}

// The rebuilt directory is the old one with its archive names replaced or one archive record
// added, so its size is known before the walk. Its block is taken once: growing it granule by
// granule would copy the directory of a large game thousands of times.
bool DirectoryPass::ReserveRebuild() {
  const uint64_t userLength = context_.userPackage.Length();
  const uint64_t added =
      context_.fullCopy ? directory_.archive_count() * userLength : kArchiveRecordHead + userLength;
  const uint64_t bound = directory_.section().length() + added;
  // Beyond 32 bits the rebuild fails when it grows there, as any other growth would.
  if (bound > UINT32_MAX) return true;
  return context_.sectionRebuild.reserve(static_cast<uint32_t>(bound));
}

// The id names unchanged, then the archive list: with fullcopy every name becomes the user
// archive's, otherwise the user archive is appended.
bool DirectoryPass::CopyHead() {
  const ByteBuffer& section = directory_.section();
  const bool fullCopy = context_.fullCopy;
  const uint32_t archiveCount = directory_.archive_count();
  const uint16_t userLength = static_cast<uint16_t>(context_.userPackage.Length());
  const char* userName = context_.userPackage.Text();
  userIndex_ = fullCopy ? 0 : static_cast<uint8_t>(archiveCount);

  if (!writer_.write_bytes(section.data(), directory_.id_names_end()) ||
      !writer_.write_u32(fullCopy ? archiveCount : archiveCount + 1)) {
    return OutOfMemory();
  }
  for (uint32_t i = 0; i < archiveCount; ++i) {
    const ArchiveRecord& archive = directory_.archive(i);
    const uint16_t length = fullCopy ? userLength : archive.nameLength;
    const void* name = fullCopy ? static_cast<const void*>(userName) : archive.name;
    if (!writer_.write_u8(archive.tag) || !writer_.write_u16(length) ||
        !writer_.write_bytes(name, length)) {
      return OutOfMemory();
    }
  }
  if (!fullCopy && (!writer_.write_u8(kUserArchiveTag) || !writer_.write_u16(userLength) ||
                    !writer_.write_bytes(userName, userLength))) {
    return OutOfMemory();
  }
  return writer_.write_u32(directory_.package_count()) || OutOfMemory();
}

// Every listed archive is opened for reading once and stays open for the whole pass; the workers
// share the handles, whose reads are positional.
bool DirectoryPass::OpenArchives() {
  if (!archives_.allocate(directory_.archive_count()) ||
      !windows_.allocate(directory_.archive_count())) {
    return OutOfMemory();
  }
  for (uint32_t i = 0; i < directory_.archive_count(); ++i) {
    if (!record_archive_path(context_.destDir.Text(), directory_.archive(i), path_)) {
      return OutOfMemory();
    }
    archives_[i].reset(open_file(path_.Data(), "r"));
    if (!archives_[i].is_open()) {
      status_->FailIo("cannot open archive", path_.Data());
      return false;
    }
    windows_[i].Reset(archives_[i].get());
  }
  return true;
}

// Reads every package record and every package's header and tables in order, and lists the
// packages to rewrite. A failure here stops the walk: it is recorded, to be told once the
// packages before it are rewritten (one of them may fail first). False only when out of memory.
bool DirectoryPass::Scan() {
  for (uint32_t k = 0; k < directory_.package_count(); ++k) {
    PackageRecord record;
    if (!directory_.NextPackage(&record, &walkFailure_)) {
      walkFailed_ = true;
      return true;
    }
    if (record.archiveIndex == kNoArchive) continue;
    // The handle array has no entry beyond the archive list.
    if (record.archiveIndex >= directory_.archive_count()) {
      walkFailure_.Fail(StatusCode::kCorrupt, "package record %u names archive %u of a list of %u",
                        k, record.archiveIndex, directory_.archive_count());
      walkFailed_ = true;
      return true;
    }
    if (!ScanPackage(record, k)) return false;
    if (walkFailed_) return true;
  }
  return true;
}

bool DirectoryPass::ScanPackage(const PackageRecord& record, uint32_t k) {
  PackageReader package(indexTable_, entryTable_, idBlock_);
  if (!package.Read(windows_[record.archiveIndex], record.offset, &walkFailure_)) {
    NameRecordPackage(record.name, record.nameLength, record.archiveIndex, record.offset,
                      &walkFailure_);
    walkFailed_ = true;
    return true;
  }
  if (!package.has_tables()) {
    // With fullcopy every archive name becomes the user archive's, so a package left where it
    // was would be looked for in the user archive at its old offset. That matters only when the
    // new directory is used, that is when some package is written; the first such package is
    // remembered for the message.
    if (context_.fullCopy && passedOver_.IsEmpty()) {
      if (!copy_directory_name(record.name, record.nameLength, name_)) return OutOfMemory();
      passedOver_.Assign(name_.Data());
      passedOverArchive_ = record.archiveIndex;
      passedOverOffset_ = record.offset;
    }
    return true;
  }
  const bool anyMatch = match_entries(entries_, record.packageId, package);
  for (uint32_t e = 0; e < package.entry_count(); ++e) {
    const PackFileEntry* match = package.entry(e).match;
    if (match != nullptr) result_.used.Mark(*match);
  }
  if (!context_.fullCopy && !anyMatch) return true;
  RewriteJob& job = jobs_[jobCount_++];
  job.record = k;
  job.archiveIndex = record.archiveIndex;
  job.offset = record.offset;
  job.packageId = record.packageId;
  job.name = record.name;
  job.nameLength = record.nameLength;
  job.split = package.split();
  job.weight = uint64_t{package.header().indexSize} + package.header().entryTableSize;
  // A table that cannot be read fails the rewrite, which tells why; here it only weighs less.
  if (package.ReadEntryTable(&walkFailure_)) {
    for (uint32_t e = 0; e < package.entry_count(); ++e) job.weight += package.entry(e).rawSize;
  } else {
    walkFailure_.Clear();
  }
  return true;
}

// The listed packages in manifest order: on this thread straight into the sink with one thread,
// otherwise by workers into staging sinks, each taken into the sink in turn.
bool DirectoryPass::RewriteAll() {
  const uint32_t threads = context_.threads;
  if (threads <= 1 || jobCount_ <= 1) {
    for (uint32_t j = 0; j < jobCount_; ++j) {
      SayProgress(jobs_[j]);
      if (!RewriteInline(j)) return false;
    }
    return true;
  }
  const uint32_t window = threads * kSlotsPerWorker;
  const uint64_t budget = threads * kInFlightPerWorker;
  if (!workers_.allocate(threads) || !slots_.allocate(window) ||
      !target_.MakeStaging(window, kSlotMemory, context_.tempDir.Text(), 1 + threads)) {
    return OutOfMemory();
  }
  for (uint32_t w = 0; w < threads; ++w) {
    if (!workers_[w].blocks.Place(context_.tempDir.Text(), 1 + w)) return OutOfMemory();
  }
  failedInTake_ = false;
  run_ordered(*this, jobCount_, threads, window, budget);
  workers_.release();
  return !failedInTake_;
}

// Rewrites job j on this thread, straight into the sink.
bool DirectoryPass::RewriteInline(uint32_t j) {
  const RewriteJob& job = jobs_[j];
  const uint64_t start = sink_->length();
  bool changed = false;
  uint64_t newOffset = 0;
  if (!update_package(inline_, entries_, fullCopy_, job.packageId,
                      archives_[job.archiveIndex].get(), job.offset, *sink_, &changed,
                      &newOffset)) {
    status_->Assign(inline_.failure);
    NameRecordPackage(job.name, job.nameLength, job.archiveIndex, job.offset, status_);
    return false;
  }
  return Moved(j, changed, start);
}

// Records where job j's package went, once it is in the sink from start on.
bool DirectoryPass::Moved(uint32_t j, bool changed, uint64_t start) {
  if (!changed) return true;
  PackageMove& move = result_.moves[jobs_[j].record];
  move.moved = true;
  move.offset = start;
  move.bytes = sink_->length() - start;
  anyChanged_ = true;
  return true;
}

// On a worker's thread: job step into the slot's staging sink.
void DirectoryPass::Work(uint32_t worker, uint32_t step, uint32_t slot) {
  const RewriteJob& job = jobs_[step];
  PackageWorker& own = workers_[worker];
  RewriteSlot& result = slots_[slot];
  bool changed = false;
  uint64_t newOffset = 0;
  result.ok =
      update_package(own, entries_, fullCopy_, job.packageId, archives_[job.archiveIndex].get(),
                     job.offset, target_.Staging(slot), &changed, &newOffset);
  result.changed = changed;
  result.ownFailure = own.ownFailure || own.failure.code() == StatusCode::kOutOfMemory;
  if (!result.ok) result.failure.Assign(own.failure);
}

// On this thread, in manifest order: the progress line, then the worker's package into the sink,
// or its failure. A failure of the worker's own means is not the package's: the package is made
// again here, as with one thread, and only a failure then counts.
bool DirectoryPass::Take(uint32_t step, uint32_t slot) {
  RewriteSlot& result = slots_[slot];
  SayProgress(jobs_[step]);
  if (!result.ok && result.ownFailure) {
    failedInTake_ = !target_.DropStaged(slot, status_) || !RewriteInline(step);
    return !failedInTake_;
  }
  if (!result.ok) {
    const RewriteJob& job = jobs_[step];
    status_->Assign(result.failure);
    NameRecordPackage(job.name, job.nameLength, job.archiveIndex, job.offset, status_);
    failedInTake_ = true;
    return false;
  }
  uint64_t start = sink_->length();
  if (result.changed && !target_.TakeStaged(slot, &start, status_)) {
    failedInTake_ = true;
    return false;
  }
  return Moved(step, result.changed, start);
}

void DirectoryPass::SayProgress(const RewriteJob& job) {
  if (copy_directory_name(job.name, job.nameLength, name_))
    target_.Announce(name_.Data(), job.split);
}

// The package records again, each as read but for a moved package's archiveIndex and offset.
bool DirectoryPass::Rebuild() {
  DirectoryReader records(directory_.section());
  if (!records.ReadHead(status_)) return false;
  for (uint32_t k = 0; k < records.package_count(); ++k) {
    PackageRecord record;
    if (!records.NextPackage(&record, status_)) return false;
    const PackageMove& move = result_.moves[k];
    if (!WriteRecord(record, move.moved ? userIndex_ : record.archiveIndex,
                     move.moved ? move.offset : record.offset)) {
      return false;
    }
  }
  return true;
}

// Adds to a failure which package it concerns and where that lies, unless it names a file of
// its own (a configured file, say).
void DirectoryPass::NameRecordPackage(const uint8_t* name, uint8_t nameLength, uint8_t archiveIndex,
                                      uint64_t offset, Status* status) {
  CStringBufferA packageName;
  if (copy_directory_name(name, nameLength, packageName)) {
    NamePackage(packageName.Data(), archiveIndex, offset, status);
  }
}

void DirectoryPass::NamePackage(const char* name, uint8_t archiveIndex, uint64_t offset,
                                Status* status) {
  if (record_archive_path(context_.destDir.Text(), directory_.archive(archiveIndex), path_)) {
    status->SetPackage(name, path_.Data(), offset);
  }
}

// The record as read, but for archiveIndex and offset.
bool DirectoryPass::WriteRecord(const PackageRecord& record, uint8_t archiveIndex,
                                uint64_t offset) {
  const uint8_t* bytes = directory_.section().data() + record.start;
  const uint32_t length = record.end - record.start;
  const uint32_t archiveIndexAt = length - kArchiveIndexFromEnd;
  if (writer_.write_bytes(bytes, archiveIndexAt) && writer_.write_u8(archiveIndex) &&
      writer_.write_bytes(bytes + archiveIndexAt + 1, kArchiveIndexFromEnd - 1 - kOffsetFromEnd) &&
      writer_.write_u64(offset)) {
    return true;
  }
  return OutOfMemory();
}

}  // namespace

PackageSink* UserArchiveTarget::Open(RunContext& context, Status* status) {
  context_ = &context;
  PathBuffer pending;
  PathBuffer final;
  const char* dir = context.destDir.Text();
  const char* name = context.userPackage.Text();
  if (!pending_archive_path(dir, name, pending) || !archive_path(dir, name, final)) {
    status->FailOutOfMemory();
    return nullptr;
  }
  PendingFile& archive = context.pending.userArchive;
  if (!archive.Create(pending.Data(), final.Data(), status)) return nullptr;
  sink_ = FileSink(archive.file(), 0, archive.temp_path());
  return &sink_;
}

bool UserArchiveTarget::MakeStaging(uint32_t count, uint32_t memoryLimit, const char* tempDir,
                                    uint32_t firstNumber) {
  if (!staging_.allocate(count) || !handoffs_.allocate(count) || !reached_.allocate(count)) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!staging_[i].Place(memoryLimit, tempDir, firstNumber + i)) return false;
  }
  return true;
}

PackageSink& UserArchiveTarget::Staging(uint32_t i) {
  staging_[i].Reset();
  handoffs_[i].Start(&staging_[i], &sink_, &reached_[i]);
  return handoffs_[i];
}

void UserArchiveTarget::Reach(uint32_t i) { reached_[i].store(true, std::memory_order_release); }

bool UserArchiveTarget::TakeStaged(uint32_t i, uint64_t* start, Status* status) {
  reached_[i].store(false, std::memory_order_relaxed);
  if (handoffs_[i].direct()) {
    *start = handoffs_[i].base();
    return true;
  }
  *start = sink_.length();
  return staging_[i].CopyTo(sink_, status);
}

bool UserArchiveTarget::DropStaged(uint32_t i, Status* status) {
  reached_[i].store(false, std::memory_order_relaxed);
  return !handoffs_[i].direct() || sink_.CutTo(handoffs_[i].base(), status);
}

void UserArchiveTarget::Announce(const char* name, bool split) {
  report_error("Updating files in package \"%s\" (%s).\n", name,
               split ? "split compress" : "full compress");
}

bool UserArchiveTarget::Close(bool anyMoved, Status* status) {
  staging_.release();
  PendingFile& archive = context_->pending.userArchive;
  if (!anyMoved) {
    archive.Discard();
    return true;
  }
  return archive.Finish(status);
}

PackageSink* CountingTarget::Open(RunContext&, Status*) { return &sink_; }

bool CountingTarget::MakeStaging(uint32_t count, uint32_t, const char*, uint32_t) {
  return staging_.allocate(count);
}

PackageSink& CountingTarget::Staging(uint32_t i) {
  staging_[i] = CountingSink();
  return staging_[i];
}

bool CountingTarget::TakeStaged(uint32_t i, uint64_t* start, Status*) {
  *start = sink_.length();
  sink_.Add(staging_[i].length());
  return true;
}

bool CountingTarget::Close(bool, Status*) { return true; }

bool update_manifest(RunContext& context, PassTarget& target, PassResult* result) {
  DirectoryPass pass(context, target, result);
  return pass.Run();
}

bool user_archive_name_is_usable(const char* name, uint32_t length, Status* status) {
  if (length > kMaxNameLength16) {
    status->Fail(StatusCode::kRefused,
                 "\"upak\" is longer than the 65535 bytes an archive name can hold");
    return false;
  }
  if (!is_plain_file_name(name)) {
    return refuse(status,
                  "\"upak\" \"%s\" is not a plain file name (empty, or holding \\, /, : or ..)",
                  name);
  }
  if (is_device_name(name, static_cast<uint32_t>(std::strlen(name)))) {
    return refuse(status, "\"upak\" \"%s\" is a name that Windows reserves for a device", name);
  }
  const char last = name[std::strlen(name) - 1];
  if (last == '.' || last == ' ') {
    return refuse(status,
                  "\"upak\" \"%s\" ends in a dot or a space, which Windows drops from file names",
                  name);
  }
  return true;
}
