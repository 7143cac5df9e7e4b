#include "package/archive_window.h"

#include <gtest/gtest.h>

#include <string>

#include "base/file.h"
#include "base/platform_faults.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/bytes.h"
#include "tests/support/scratch_dir.h"

namespace {

using vtest::Bytes;

uint32_t g_reads = 0;
bool CountRead(SysCall call) {
  if (call == SysCall::kReadFile) ++g_reads;
  return false;
}

TEST(ArchiveWindow, GivesTheArchiveBytesWithOneReadPerWindow) {
  vtest::ScratchDir dir;
  const std::string path = (dir.path() / "archive.upak").string();
  const uint32_t size = 3 * ArchiveWindow::kSize + 1000;
  const Bytes archive = vtest::MakeData(size, 7);
  ASSERT_TRUE(vtest::WriteFile(path, archive));
  ScopedFile file(open_file(path.c_str(), "r"));
  ArchiveWindow window(file.get());

  struct Case {
    const char* what;
    uint64_t position;
    uint32_t count;
    uint32_t got;
    uint32_t reads;
  } cases[] = {
      {"the first bytes", 0, 4096, 4096, 1},
      {"the next package, within the window", 5000, 4096, 4096, 0},
      {"the window's last bytes", ArchiveWindow::kSize - 30, 30, 30, 0},
      {"across the window's end", ArchiveWindow::kSize - 30, 4096, 4096, 1},
      {"before the window", 100, 30, 30, 1},
      {"near the archive's end", size - 10, 4096, 10, 1},
      {"the same again, from the window", size - 10, 4096, 10, 0},
      {"the archive's end", size, 30, 0, 0},
      {"beyond the archive's end", size + 5, 30, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint8_t* bytes = nullptr;
    uint32_t got = 99;
    g_reads = 0;
    g_sysFaultHook = &CountRead;
    const bool fetched = window.Fetch(c.position, c.count, &bytes, &got);
    g_sysFaultHook = nullptr;
    ASSERT_TRUE(fetched);
    EXPECT_EQ(g_reads, c.reads);
    ASSERT_EQ(got, c.got);
    EXPECT_EQ(Bytes(bytes, bytes + got),
              Bytes(archive.begin() + c.position, archive.begin() + c.position + got));
  }
}

TEST(ArchiveWindow, FailuresLeaveNothingHeld) {
  vtest::ScratchDir dir;
  const std::string path = (dir.path() / "archive.upak").string();
  ASSERT_TRUE(vtest::WriteFile(path, vtest::MakeData(1000, 3)));
  ScopedFile file(open_file(path.c_str(), "r"));
  ArchiveWindow window(file.get());
  const uint8_t* bytes = nullptr;
  uint32_t got = 99;

  AllocFailureScope failure;
  failure.FailAll();
  const bool fetched = window.Fetch(0, 30, &bytes, &got);
  failure.Restore();
  EXPECT_FALSE(fetched);
  EXPECT_EQ(got, 0u);

  ArchiveWindow closed(kNoFile);
  ASSERT_TRUE(closed.Fetch(0, 30, &bytes, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_NE(closed.read_error(), 0u);
}

}  // namespace
