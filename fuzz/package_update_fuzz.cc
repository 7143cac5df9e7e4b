// libFuzzer target for update_package: hostile bytes as a package in an archive file, rewritten
// into a fresh user archive with the configured entries of fuzz_game.h (a texture, a
// localisation file, a text with a meta file, plain binaries). The first input byte holds flags
// (fullcopy, the package id, junk bytes before the package, a second update behind the first);
// the rest is the package.
//
// Besides the sanitizers' checks: a call that reports nothing to do has written nothing; a call
// that wrote a package left the user archive ending on a 2048-byte boundary at its position,
// with a header of the written form and the old IndexTable byte for byte; a second package
// starts where the first one's padding ends; when the independent reader of tests/support reads
// the input package, it reads the written one too, with the same entries. After every input the
// scratch directory holds exactly the files it held before and no file handle is left open.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/file.h"
#include "driver/name_hash.h"
#include "driver/run_context.h"
#include "fuzz/fuzz_game.h"
#include "package/package_update.h"
#include "tests/support/bytes.h"
#include "tests/support/game_format.h"
#include "tests/support/game_reader.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kJunkByte = 0xA5;

struct World {
  fs::path root;
  std::string srcDir;
  std::string archivePath;
  std::string userPath;
  std::string tempDir;
  std::vector<std::pair<std::string, vtest::Bytes>> modFiles;
  int rootFiles = 0;

  World() {
    root = vfuzz::MakeScratchDir("package");
    vfuzz::WriteWorld(root);
    modFiles = vfuzz::ModFiles();
    srcDir = (root / "mod").string() + "/";
    archivePath = (root / "source.upak").string();
    userPath = (root / "user.upak").string();
    tempDir = root.string() + "/";
    // Progress lines are not what is tested; they would only slow the run down.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) __builtin_trap();
    rootFiles = vfuzz::CountFiles(root);
  }
  ~World() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

World& world() {
  static World instance;
  return instance;
}

// What a written package must show, held against the input package (whose header decodes,
// since the update read it).
void CheckWrittenPackage(const vtest::Bytes& archive, uint64_t at, const vtest::Bytes& input,
                         size_t junk) {
  const std::optional<vtest::PackageHeader> old = vtest::DecodePackageHeader(input, junk);
  const std::optional<vtest::PackageHeader> written = vtest::DecodePackageHeader(archive, at);
  if (!old || !written) __builtin_trap();
  if (written->magic != vtest::kPackageMagic || written->attr_byte != old->attr_byte ||
      written->attr_word != old->attr_word || written->index_offset != 30 ||
      written->index_size != old->index_size ||
      written->entry_table_offset != 30 + old->index_size ||
      written->split_compress != old->split_compress || written->data_offset % 2048 != 0 ||
      written->data_offset < 30ull + written->index_size + written->entry_table_size) {
    __builtin_trap();
  }
  const size_t from = junk + old->index_offset;
  for (uint32_t i = 0; i < old->index_size; ++i) {
    if (archive[at + 30 + i] != input[from + i]) __builtin_trap();
  }
}

// When the independent reader accepts the input package, it must accept the written one as well,
// with the same entries in the same order, each holding its old bytes or a replacing file's.
// (A package without entries is written with an empty EntryTable, which readers pass over.)
void CheckAgainstReader(const World& w, const vtest::Bytes& archive, uint64_t at,
                        const vtest::Bytes& input, size_t junk) {
  std::string error;
  const std::optional<vtest::ParsedPackage> old = vtest::ReadPackage(input, junk, &error);
  if (!old || !old->has_tables) return;
  const std::optional<vtest::ParsedPackage> written = vtest::ReadPackage(archive, at, &error);
  if (!written) __builtin_trap();
  if (old->entries.empty() && !written->has_tables) return;
  if (!vtest::CheckWrittenPackage(*written).empty()) __builtin_trap();
  if (written->entries.size() != old->entries.size()) __builtin_trap();
  for (size_t i = 0; i < old->entries.size(); ++i) {
    const vtest::ParsedEntry& before = old->entries[i];
    const vtest::ParsedEntry& after = written->entries[i];
    if (after.name_id != before.name_id || after.ext_id != before.ext_id ||
        after.type_byte != before.type_byte) {
      __builtin_trap();
    }
    bool known = after.data == before.data;
    for (const auto& file : w.modFiles) known = known || after.data == file.second;
    if (!known) __builtin_trap();
  }
}

// One update of the package at `junk` into the user archive at its present end.
bool UpdateOnce(PackageWorker& worker, const RunContext& context, uint64_t packageId,
                FileHandle source, FileHandle target, const char* targetPath, size_t junk,
                bool* changed, uint64_t* newOffset) {
  const uint64_t before = file_size(target);
  if (before == kBadPosition || file_seek(target, before) != before) __builtin_trap();
  *changed = false;
  *newOffset = UINT64_MAX;
  FileSink sink(target, before, targetPath);
  const bool ok = update_package(worker, context.entries, context.fullCopy, packageId, source, junk,
                                 sink, changed, newOffset);
  if (ok && !*changed && file_size(target) != before) __builtin_trap();
  if (ok && *changed) {
    const uint64_t end = file_size(target);
    if (*newOffset != before || end % 2048 != 0 || end <= before || file_position(target) != end) {
      __builtin_trap();
    }
  }
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& w = world();
  if (size == 0 || size > (1u << 20)) return 0;
  const uint8_t flags = data[0];
  const int openFiles = vfuzz::CountOpenFiles();
  const size_t junk = (flags >> vfuzz::kJunkShift) & vfuzz::kJunkMask;
  vtest::Bytes input(junk, kJunkByte);
  input.insert(input.end(), data + 1, data + size);
  if (!vtest::WriteFile(w.archivePath, input)) __builtin_trap();

  {
    RunContext context;
    context.srcDir.Assign(w.srcDir.c_str());
    PackageWorker worker;
    if (!worker.blocks.Place(w.tempDir.c_str(), 0)) __builtin_trap();
    context.fullCopy = (flags & vfuzz::kFlagFullCopy) != 0;
    if (!vfuzz::AddEntries(context, w.srcDir)) __builtin_trap();
    const uint64_t packageId =
        name_hash((flags & vfuzz::kFlagMatchingPackageId) != 0 ? "ui_common" : "elsewhere");

    ScopedFile source(open_file(w.archivePath.c_str(), "r"));
    ScopedFile target(open_file(w.userPath.c_str(), "w"));
    if (!source.is_open() || !target.is_open()) __builtin_trap();

    bool changed = false;
    uint64_t newOffset = 0;
    bool ok = UpdateOnce(worker, context, packageId, source.get(), target.get(), w.userPath.c_str(),
                         junk, &changed, &newOffset);
    uint64_t secondOffset = 0;
    bool secondChanged = false;
    if (ok && changed && (flags & vfuzz::kFlagTwice) != 0) {
      // The same package again: the buffers and the temporary file are reused, as for the next
      // package of a run, and must give the same package behind the first.
      ok = UpdateOnce(worker, context, packageId, source.get(), target.get(), w.userPath.c_str(),
                      junk, &secondChanged, &secondOffset);
      if (!ok || !secondChanged) __builtin_trap();
    }
    if (ok && changed) {
      target.reset();
      const std::optional<vtest::Bytes> archive = vtest::ReadFile(w.userPath);
      if (!archive) __builtin_trap();
      CheckWrittenPackage(*archive, newOffset, input, junk);
      CheckAgainstReader(w, *archive, newOffset, input, junk);
      if (secondChanged) {
        const uint64_t length = secondOffset - newOffset;
        if (archive->size() != secondOffset + length) __builtin_trap();
        for (uint64_t i = 0; i < length; ++i) {
          if ((*archive)[newOffset + i] != (*archive)[secondOffset + i]) __builtin_trap();
        }
      }
    }
  }
  // The worker deleted its temporary file; only the two archives were added to the directory.
  if (vfuzz::CountFiles(w.root) != w.rootFiles + 2) __builtin_trap();
  // Counted around the call: libFuzzer's own descriptors come and go between inputs.
  if (vfuzz::CountOpenFiles() != openFiles) __builtin_trap();
  return 0;
}
