// Loads a name list of 1,000,000 names of 40 bytes on average, as a command loads the user's
// lists, and measures the time it takes and the memory it holds. Every byte the lists take comes
// through the allocation hooks, which count here what the program asks for: the figure is exact,
// and the same in a 32-bit build, since the lists store no pointers (slots of three 32-bit values,
// texts in one block, 32-bit offsets). Limits: at most 1 s of processor time (std::clock, which
// the Windows C library counts as wall time), and at most twice the file's size held after the
// load and at its peak; the exit status is 1 when one is passed.
//
//   names_bench [FILE] [--runs R] [--names N]
//
// FILE (default names_bench.txt in the working directory) is written first unless it exists, and
// then kept; R runs (default 5) each load it afresh, and the best time counts. A plain program
// rather than a Google Benchmark one, so that the Windows build can run it too.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/alloc_hooks.h"
#include "base/status.h"
#include "base/warning_list.h"
#include "names/name_list.h"

namespace {

// The counting hooks: each block carries its size in a header of its own, which is not counted.
constexpr uint32_t kHeader = 16;
uint64_t g_current = 0;
uint64_t g_peak = 0;
AllocHookTable g_system;

void count(uint64_t added, uint64_t removed) {
  g_current = g_current + added - removed;
  if (g_current > g_peak) g_peak = g_current;
}

void* counted_alloc(uint32_t size) {
  if (size > UINT32_MAX - kHeader) return nullptr;
  auto* block = static_cast<unsigned char*>(g_system.allocHook(size + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof(size));
  count(size, 0);
  return block + kHeader;
}

void counted_free(void* pointer) {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  uint32_t size = 0;
  std::memcpy(&size, block, sizeof(size));
  count(0, size);
  g_system.freeHook(block);
}

void* counted_realloc(void* pointer, uint32_t size) {
  if (pointer == nullptr) return counted_alloc(size);
  if (size > UINT32_MAX - kHeader) return nullptr;
  auto* old = static_cast<unsigned char*>(pointer) - kHeader;
  uint32_t had = 0;
  std::memcpy(&had, old, sizeof(had));
  auto* block = static_cast<unsigned char*>(g_system.reallocHook(old, size + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof(size));
  count(size, had);
  return block + kHeader;
}

void install_counting_hooks() {
  AllocHooks.freeHook(nullptr);  // installs the defaults, which the counting hooks call
  g_system = AllocHooks;
  AllocHooks.allocHook = counted_alloc;
  AllocHooks.freeHook = counted_free;
  AllocHooks.reallocHook = counted_realloc;
}

// A name of 20 to 60 bytes (40 on average) with one of five extensions: lower-case words and
// slashes, and the name's number, so that no two names are the same in any case.
std::string make_name(uint32_t number, uint64_t& state) {
  static const char* const kExts[] = {"dds", "txt", "bin", "ogg", "loc"};
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  const uint32_t length = 20 + static_cast<uint32_t>(next() % 41);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07u", number);
  const uint32_t stem = length - 4 - 7;
  std::string name;
  for (uint32_t i = 0; i < stem; ++i) {
    name += (i % 9 == 8 && i + 1 < stem) ? '/' : static_cast<char>('a' + next() % 26);
  }
  name += digits;
  name += '.';
  name += kExts[next() % 5];
  return name;
}

bool write_list(const char* path, uint32_t count) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  uint64_t state = 0x2545F4914F6CDD1Dull;
  bool ok = true;
  for (uint32_t i = 0; i < count && ok; ++i) {
    const std::string line = make_name(i, state) + "\n";
    ok = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  }
  return std::fclose(file) == 0 && ok;
}

double mib(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char* argv[]) {
  const char* path = "names_bench.txt";
  uint32_t runs = 5;
  uint32_t count = 1000000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--names") == 0 && i + 1 < argc) {
      count = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      path = argv[i];
    }
  }
  if (runs == 0) runs = 1;
  std::FILE* existing = std::fopen(path, "rb");
  if (existing != nullptr) {
    std::fclose(existing);
  } else if (!write_list(path, count)) {
    std::fprintf(stderr, "names_bench: cannot write %s\n", path);
    return 2;
  }
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0) return 2;
  const uint64_t fileBytes = static_cast<uint64_t>(std::ftell(file));
  std::fclose(file);

  install_counting_hooks();
  double best = 1e9;
  double bestCpu = 1e9;
  uint64_t held = 0;
  uint64_t peak = 0;
  uint32_t names = 0;
  uint64_t slotBytes = 0;
  uint64_t textBytes = 0;
  for (uint32_t run = 1; run <= runs; ++run) {
    const uint64_t before = g_current;
    g_peak = g_current;
    {
      NameLists lists;
      WarningList warnings;
      Status status;
      const auto start = std::chrono::steady_clock::now();
      const std::clock_t cpuStart = std::clock();
      const bool loaded = lists.LoadFile(path, warnings, &status);
      const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (!loaded || warnings.count() != 0) {
        std::fprintf(stderr, "names_bench: %s did not load cleanly\n", path);
        return 2;
      }
      const NameTable& table = lists.names();
      names = table.count();
      slotBytes = static_cast<uint64_t>(table.slot_count()) * 12;
      textBytes = table.held_bytes() - slotBytes;
      held = g_current - before;
      peak = g_peak - before;
      if (seconds < best) best = seconds;
      if (cpu < bestCpu) bestCpu = cpu;
      std::printf(
          "run %u: %.3f s (%.3f s processor), held %.1f MiB (%.2f of the file), peak %.1f MiB "
          "(%.2f)\n",
          run, seconds, cpu, mib(held), static_cast<double>(held) / fileBytes, mib(peak),
          static_cast<double>(peak) / fileBytes);
    }
  }
  const double heldRatio = static_cast<double>(held) / fileBytes;
  const double peakRatio = static_cast<double>(peak) / fileBytes;
  std::printf(
      "%s: %u names, %llu bytes (%.1f bytes a line)\n"
      "names: %llu slots bytes (12 a slot), %llu text bytes\n"
      "best of %u: %.3f s, %.3f s processor (limit 1 s); held %.2f x the file, peak %.2f x "
      "(limit 2)\n",
      path, names, static_cast<unsigned long long>(fileBytes),
      static_cast<double>(fileBytes) / (names != 0 ? names : 1),
      static_cast<unsigned long long>(slotBytes), static_cast<unsigned long long>(textBytes), runs,
      best, bestCpu, heldRatio, peakRatio);
  return bestCpu <= 1.0 && heldRatio <= 2.0 && peakRatio <= 2.0 ? 0 : 1;
}
