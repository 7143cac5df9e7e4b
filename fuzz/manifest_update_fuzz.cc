// libFuzzer target for update_manifest: hostile bytes as section 0 of the manifest, walked over
// a fixed synthetic game (fuzz_game.h) whose archives hold valid and damaged packages. The first
// input byte holds flags (fullcopy, the user archive's name); the rest is the directory.
//
// Besides the sanitizers' checks: a pass that reports a change must leave a directory that an
// independent decoder reads whole; and once the run's context is gone, the game directory holds
// exactly the files it held before and no file handle is left open.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/byte_buffer.h"
#include "driver/run_context.h"
#include "fuzz/fuzz_game.h"
#include "manifest/manifest_update.h"
#include "tests/support/game_format.h"

namespace {

namespace fs = std::filesystem;

struct World {
  fs::path root;
  std::string destDir;
  std::string srcDir;
  std::string tempDir;
  int gameFiles = 0;
  int rootFiles = 0;

  World() {
    root = vfuzz::MakeScratchDir("manifest");
    vfuzz::WriteWorld(root);
    destDir = (root / "game").string() + "\\";
    srcDir = (root / "mod").string() + "\\";
    tempDir = root.string() + "/";
    gameFiles = vfuzz::CountFiles(root / "game");
    rootFiles = vfuzz::CountFiles(root);
    // Progress lines are not what is tested; they would only slow the run down.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) __builtin_trap();
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

bool SetSection(ByteBuffer& buffer, const uint8_t* data, size_t size) {
  if (!buffer.resize(static_cast<uint32_t>(size))) return false;
  if (size != 0) std::memcpy(buffer.data(), data, size);
  return true;
}

void CheckRebuiltDirectory(const RunContext& context) {
  const ByteBuffer& section = context.manifestSections[0];
  const vtest::Bytes bytes(section.data(), section.data() + section.length());
  std::string error;
  const auto directory = vtest::DecodePackageDirectory(bytes, &error);
  // The rebuild ends with the last PackageRecord.
  if (!directory || !directory->tail.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& w = world();
  if (size == 0 || size > (1u << 20)) return 0;
  const uint8_t flags = data[0];
  const int openFiles = vfuzz::CountOpenFiles();
  {
    RunContext context;
    context.destDir.Assign(w.destDir.c_str());
    context.srcDir.Assign(w.srcDir.c_str());
    context.tempDir.Assign(w.tempDir.c_str());
    // Two threads, so that the workers and the writer meet hostile directories as well.
    context.threads = (flags & vfuzz::kFlagTwice) != 0 ? 2 : 1;
    context.userPackage.Assign(
        vfuzz::kUserNames[(flags >> vfuzz::kUserNameShift) & vfuzz::kUserNameMask]);
    context.fullCopy = (flags & vfuzz::kFlagFullCopy) != 0;
    if (!vfuzz::AddEntries(context, w.srcDir)) __builtin_trap();
    if (!SetSection(context.manifestSections[0], data + 1, size - 1)) __builtin_trap();

    UserArchiveTarget target;
    PassResult result;
    if (update_manifest(context, target, &result) && context.pending.userArchive.armed())
      CheckRebuiltDirectory(context);
  }
  // The context deletes the pending user archive and the temporary file.
  if (vfuzz::CountFiles(w.root / "game") != w.gameFiles) __builtin_trap();
  if (vfuzz::CountFiles(w.root) != w.rootFiles) __builtin_trap();  // no temporary file left
  // Counted around the call: libFuzzer's own descriptors come and go between inputs.
  if (vfuzz::CountOpenFiles() != openFiles) __builtin_trap();
  return 0;
}
