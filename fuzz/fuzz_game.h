// The fixed world that the run fuzz targets and their seed writer share: a small synthetic game
// (the example game plus an archive of damaged packages), the replacing files of a mod, and the
// configured entries that refer to them. The seed writer and the targets must agree on all of
// it, since a manifest seed refers to packages by their offsets in these archives and a package
// seed matches these entries by their ids.
#ifndef VINTREL_FUZZ_FUZZ_GAME_H_
#define VINTREL_FUZZ_FUZZ_GAME_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/game_writer.h"

struct RunContext;

namespace vfuzz {

// The first byte of every fuzz input is a set of flags; the rest is the hostile data.
constexpr uint8_t kFlagFullCopy = 0x01;
// Manifest target: bits 1-2 choose the user archive's name from kUserNames.
constexpr int kUserNameShift = 1;
constexpr uint8_t kUserNameMask = 0x03;
// "data0" names one of the game's archives and "" no file at all: both must be refused.
constexpr const char* kUserNames[4] = {"user_dlc", "mod", "data0", ""};
// Package target: bit 1 chooses the package id ("ui_common" or one that no entry names), bits
// 2-4 the number of junk bytes before the package in its archive, bit 5 a second update of the
// same package behind the first.
constexpr uint8_t kFlagMatchingPackageId = 0x02;
constexpr int kJunkShift = 2;
constexpr uint8_t kJunkMask = 0x07;
constexpr uint8_t kFlagTwice = 0x20;

// The example game with a fifth archive, "faults", of damaged packages (a corrupt block, a cut
// EntryTable, a header that is passed over, a 32-id extension list, a cut last block).
vtest::GameSpec FuzzGame();
// The names of FuzzGame's packages that the update fails on.
bool IsFaultPackage(const std::string& name);

// The replacing files, by file name: a DDS texture, a localisation file, a text with a meta
// file, and a plain binary.
std::vector<std::pair<std::string, vtest::Bytes>> ModFiles();

// Appends the configured entries, their paths under srcDir (which ends in a separator), to the
// context; false when a record cannot be allocated.
bool AddEntries(RunContext& context, const std::string& srcDir);

// A new empty directory for one fuzzer process, in /dev/shm when it exists (the targets write
// files for every input), otherwise in the system's temp directory. Aborts when none can be made.
std::filesystem::path MakeScratchDir(const char* tag);

// Writes the game and the mod into dir/game and dir/mod; aborts on failure. Returns the layout.
vtest::GameLayout WriteWorld(const std::filesystem::path& dir);

// The number of regular files in a directory, and of the process's open descriptors (-1 when
// the system does not say), for the targets' leak checks.
int CountFiles(const std::filesystem::path& dir);
int CountOpenFiles();

}  // namespace vfuzz

#endif  // VINTREL_FUZZ_FUZZ_GAME_H_
