// Tests of what only the Win32 backend does: renames that wait for a file that is briefly held,
// and the user's data folder under APPDATA.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/platform.h"
#include "tests/support/scratch_dir.h"

namespace {

TEST(SysMoveFileWin32, WaitsForAFileThatIsBrieflyHeld) {
  vtest::ScratchDir dir;
  const std::string source = (dir / "source").string();
  const std::string target = (dir / "target").string();
  ASSERT_TRUE(vtest::WriteTextFile(source, "new"));
  // As a virus scanner holds a file it has just seen: open without FILE_SHARE_DELETE, which
  // refuses the rename while the handle lives.
  HANDLE held = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread scanner([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CloseHandle(held);
  });
  const auto start = std::chrono::steady_clock::now();
  const bool moved = sys_move_file(source.c_str(), target.c_str());
  const auto waited = std::chrono::steady_clock::now() - start;
  scanner.join();
  EXPECT_TRUE(moved);
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_EQ(vtest::ReadTextFile(target), "new");
}

TEST(SysMoveFileWin32, OtherFailuresAreNotWaitedFor) {
  vtest::ScratchDir dir;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sys_move_file((dir / "absent").string().c_str(), (dir / "target").string().c_str()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST(SysUserDataPathWin32, LiesUnderAppData) {
  wchar_t saved[32768];
  const DWORD had = GetEnvironmentVariableW(L"APPDATA", saved, 32768);
  const struct {
    const wchar_t* appData;  // null: unset
    const char* expected;    // null: no folder
  } cases[] = {
      {L"C:\\Users\\Jos\u00e9\\AppData\\Roaming",
       "C:\\Users\\Jos\xc3\xa9\\AppData\\Roaming\\Vintrel"},
      {L"C:\\Data\\", "C:\\Data\\Vintrel"},
      {nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SetEnvironmentVariableW(L"APPDATA", c.appData);
    CStringBufferA path;
    EXPECT_EQ(sys_user_data_path(path), c.expected != nullptr);
    EXPECT_STREQ(path.Data(), c.expected ? c.expected : "");
  }
  SetEnvironmentVariableW(L"APPDATA", had != 0 && had < 32768 ? saved : nullptr);
}

}  // namespace
