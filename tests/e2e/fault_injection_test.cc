// Makes every file open, read, write, seek, rename and allocation of a whole run fail in turn,
// and checks after each that the run either failed (exit 1, no crash) leaving every file of the
// game directory byte-identical to before, or succeeded with exactly the result of a run without
// faults. The run is the real one (vintrel_main) in this process, so that the faults can be
// injected through the platform seam's test hook and the allocation hooks. The sweeps run on one
// thread, so that the calls come in the same order every time; faults aimed at the workers or
// at the writer of a run on several threads follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/platform_faults.h"
#include "driver/driver.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// Fails the nth call of one kind of the seam, counting from 1 after Arm.
struct SysFaultPlan {
  SysCall call = SysCall::kCreateFile;
  uint32_t failAt = 0;
  uint32_t seen = 0;
  bool fired = false;
};
SysFaultPlan g_plan;

bool FailPlannedCall(SysCall call) {
  if (call != g_plan.call) return false;
  if (++g_plan.seen != g_plan.failAt) return false;
  g_plan.fired = true;
  return true;
}

// Fails calls of one kind either on the run's own thread, where the writer works, or on the
// others, the workers': every call there (failAt 0), or only the failAt-th. Workers call the hook
// at once, so what it counts is atomic.
struct ThreadFaultPlan {
  SysCall call = SysCall::kWriteFile;
  bool onWorkers = true;
  uint32_t failAt = 0;
  uint32_t writerThread = 0;
  std::atomic<uint32_t> seen{0};
  std::atomic<bool> fired{false};
};
ThreadFaultPlan g_threadPlan;

bool FailOnThread(SysCall call) {
  ThreadFaultPlan& plan = g_threadPlan;
  if (call != plan.call || (sys_current_thread_id() != plan.writerThread) != plan.onWorkers) {
    return false;
  }
  const uint32_t n = plan.seen.fetch_add(1) + 1;
  if (plan.failAt != 0 && n != plan.failAt) return false;
  plan.fired = true;
  return true;
}

// Which injection a run gets: a seam call of one kind, or an allocation.
struct Fault {
  bool allocation = false;
  SysCall call = SysCall::kCreateFile;
  uint32_t n = 0;
};

class FaultInjection : public testing::Test {
 protected:
  void SetUp() override {
    game_ = root_.MakeDir("game");
    tmp_ = root_.MakeDir("tmp");
    modA_ = root_.MakeDir("mod_a");
    modB_ = root_.MakeDir("mod_b");
    modFull_ = root_.MakeDir("mod_full");
    swept_ = modB_;
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(vtest::ExampleGame(), game_, nullptr, &error)) << error;
    for (const auto& [name, bytes] : vtest::ExampleMod()) {
      ASSERT_TRUE(vtest::WriteFile(modA_ / name, bytes));
      ASSERT_TRUE(vtest::WriteFile(modB_ / name, bytes));
      ASSERT_TRUE(vtest::WriteFile(modFull_ / name, bytes));
    }
    // The earlier mod replaces one entry; the later one is the whole example mod. Both write
    // the user archive "mod", so a later run replaces the earlier run's archive.
    ASSERT_TRUE(vtest::WriteTextFile(
        modA_ / "vintrel.json",
        vtest::MakeConfigJson({{"menu", "txt", "menu.txt", {}, std::string("menu.meta")}}, "mod")));
    // A full copy writes the blocks of packages without a replaced entry straight into the user
    // archive, and those with one through the temporary file.
    ASSERT_TRUE(vtest::WriteTextFile(
        modFull_ / "vintrel.json",
        vtest::MakeConfigJson({{"menu", "txt", "menu.txt", {}, std::string("menu.meta")}}, "mod",
                              true)));
  }

  // One run of the tool on the game directory. The arguments are made before `inject` arms a
  // fault and the output is captured outside it, so that only the run meets the fault. A failed
  // run says why in exactly one line on standard error; a run that succeeds says nothing there.
  template <typename Inject>
  int RunWith(const fs::path& mod, Inject inject) {
    // The variable's text stays in the environment, as putenv keeps it.
    static char oneThread[] = "VINTREL_THREADS=1";
    static char fourThreads[] = "VINTREL_THREADS=4";
    putenv(threads_ == 1 ? oneThread : fourThreads);
    std::vector<std::string> args = {"vintrel", mod.string(), game_.string(), tmp_.string()};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int exitCode =
        inject([&] { return vintrel_main(static_cast<int>(argv.size()), argv.data()); });
    const std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    lastError_ = err;
    if (exitCode == 0 && !mayLeaveRecord_) {
      EXPECT_EQ(err, "");
    } else if (exitCode == 0) {
      // The change happened, but a deletion or a directory flush at its end failed: one warning
      // says that the record stays for the next start.
      EXPECT_TRUE(err.empty() || err.rfind("vintrel: warning: ", 0) == 0) << err;
      EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 1) << err;
    } else {
      EXPECT_EQ(err.rfind("vintrel: error: ", 0), 0u) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    return exitCode;
  }
  int Run(const fs::path& mod) {
    return RunWith(mod, [](auto run) { return run(); });
  }

  // Files left behind by a deletion that was made to fail: the temporary files of the run, and
  // the commit record, which the next start removes.
  static void DropTemporaryFiles(std::vector<std::string>& names) {
    std::vector<std::string> kept;
    for (const std::string& name : names) {
      const bool temporary = name.size() > 4 && (name.compare(name.size() - 4, 4, ".tmp") == 0 ||
                                                 name.compare(name.size() - 4, 4, ".old") == 0);
      if (!temporary && name != "vintrel.commit") kept.push_back(name);
    }
    names = kept;
  }

  // Runs the swept mod on a fresh copy of `start` with one fault. Returns false once the fault no
  // longer fires (n lies beyond the run's last call of that kind).
  bool RunWithFault(const fs::path& start, const Fault& fault, int* exitCode) {
    fs::remove_all(game_);
    EXPECT_TRUE(vtest::CopyTree(start, game_));
    bool fired = false;
    *exitCode = RunWith(swept_, [&](auto run) {
      int result;
      if (fault.allocation) {
        AllocFailureScope failure;
        failure.FailNth(fault.n);
        result = run();
        failure.Restore();
        fired = failure.failed() > 0;
      } else {
        g_plan = SysFaultPlan{fault.call, fault.n, 0, false};
        g_sysFaultHook = &FailPlannedCall;
        result = run();
        g_sysFaultHook = nullptr;
        fired = g_plan.fired;
      }
      return result;
    });
    return fired;
  }

  // Sweeps one kind of fault over every call of a run of the swept mod starting from `start`. After
  // each run the game directory must equal `start` (failure) or `success` (success), and the
  // temporary directory must be empty. `backupMayAppear` allows the back-up of an untouched
  // manifest.bin to have been made by a failed first run. Returns the number of faults injected.
  uint32_t Sweep(const fs::path& start, const fs::path& success, Fault fault,
                 bool backupMayAppear) {
    uint32_t injected = 0;
    // A deletion or a directory flush that fails once the run is in place leaves the record.
    const bool leavesRecord = !fault.allocation && (fault.call == SysCall::kDeleteFile ||
                                                    fault.call == SysCall::kFlushDirectory);
    mayLeaveRecord_ = leavesRecord;
    for (fault.n = 1;; ++fault.n) {
      int exitCode = -1;
      if (!RunWithFault(start, fault, &exitCode)) break;
      ++injected;
      SCOPED_TRACE(testing::Message() << (fault.allocation ? "allocation" : "seam call ")
                                      << (fault.allocation ? "" : std::to_string(int(fault.call)))
                                      << " #" << fault.n << ", exit " << exitCode);
      EXPECT_TRUE(exitCode == 0 || exitCode == 1);
      // A deletion that fails can only leave a temporary file behind, never damage another.
      const bool deletionFailed = !fault.allocation && fault.call == SysCall::kDeleteFile;
      std::vector<std::string> changed = vtest::DiffTrees(exitCode == 0 ? success : start, game_);
      std::vector<std::string> leftInTemp = vtest::ListFiles(tmp_);
      if (leavesRecord && exitCode == 0) DropTemporaryFiles(changed);
      if (deletionFailed) {
        DropTemporaryFiles(changed);
        DropTemporaryFiles(leftInTemp);
      }
      if (exitCode != 0 && backupMayAppear &&
          changed == std::vector<std::string>{"origmanifest.bin"}) {
        EXPECT_TRUE(vtest::FilesEqual(game_ / "origmanifest.bin", game_ / "manifest.bin"));
        changed.clear();
      }
      EXPECT_EQ(changed, std::vector<std::string>{});
      EXPECT_EQ(leftInTemp, std::vector<std::string>{});
      if (HasFailure()) break;
    }
    mayLeaveRecord_ = false;
    return injected;
  }

  uint32_t SweepAll(const fs::path& start, const fs::path& success, bool backupMayAppear) {
    uint32_t injected = 0;
    const SysCall calls[] = {
        SysCall::kCreateFile,     SysCall::kReadFile,     SysCall::kWriteFile,
        SysCall::kSetFilePointer, SysCall::kSetEndOfFile, SysCall::kGetFileSize,
        SysCall::kFlushFile,      SysCall::kDeleteFile,   SysCall::kCopyFile,
        SysCall::kMoveFile,       SysCall::kGetTempPath,  SysCall::kFlushDirectory};
    for (SysCall call : calls) {
      const uint32_t n = Sweep(start, success, Fault{false, call, 0}, backupMayAppear);
      std::printf("  seam call %d: %u faults\n", static_cast<int>(call), n);
      injected += n;
    }
    const uint32_t n = Sweep(start, success, Fault{true, SysCall::kCreateFile, 0}, backupMayAppear);
    std::printf("  allocations: %u faults\n", n);
    return injected + n;
  }

  // Copies the game directory aside.
  fs::path Keep(const std::string& name) {
    const fs::path copy = root_.path() / name;
    EXPECT_TRUE(vtest::CopyTree(game_, copy));
    return copy;
  }

  // Runs modFull_ on a fresh copy of start with g_threadPlan armed, on four threads. Returns
  // whether the fault fired.
  bool RunWithThreadFault(const fs::path& start, int* exitCode) {
    fs::remove_all(game_);
    EXPECT_TRUE(vtest::CopyTree(start, game_));
    g_threadPlan.writerThread = sys_current_thread_id();
    g_threadPlan.seen = 0;
    g_threadPlan.fired = false;
    *exitCode = RunWith(modFull_, [](auto run) {
      g_sysFaultHook = &FailOnThread;
      const int result = run();
      g_sysFaultHook = nullptr;
      return result;
    });
    return g_threadPlan.fired;
  }

  vtest::ScratchDir root_;
  fs::path game_, tmp_, modA_, modB_, modFull_;
  fs::path swept_;  // the mod whose runs meet the faults: mod B unless a test says otherwise
  uint32_t threads_ = 1;
  std::string lastError_;        // what the last run said on standard error
  bool mayLeaveRecord_ = false;  // a run that succeeds may leave the commit record, and say so
};

TEST_F(FaultInjection, LaterRunNeverDamagesThePreviousRunsFiles) {
  ASSERT_EQ(Run(modA_), 0);
  const fs::path start = Keep("start");
  ASSERT_EQ(Run(modB_), 0);
  const fs::path success = Keep("success");
  ASSERT_TRUE(fs::exists(start / "mod.upak"));

  const uint32_t injected = SweepAll(start, success, false);
  std::printf("faults injected into a later run: %u\n", injected);
  EXPECT_GT(injected, 100u);
}

TEST_F(FaultInjection, FirstRunNeverDamagesTheGame) {
  const fs::path start = Keep("start");
  ASSERT_EQ(Run(modB_), 0);
  const fs::path success = Keep("success");

  const uint32_t injected = SweepAll(start, success, true);
  std::printf("faults injected into a first run: %u\n", injected);
  EXPECT_GT(injected, 100u);
}

TEST_F(FaultInjection, FullCopyNeverDamagesTheGame) {
  const fs::path start = Keep("start");
  swept_ = modFull_;
  ASSERT_EQ(Run(modFull_), 0);
  const fs::path success = Keep("success");

  const uint32_t injected = SweepAll(start, success, true);
  std::printf("faults injected into a full copy: %u\n", injected);
  EXPECT_GT(injected, 100u);
}

// A game of packages larger than a staging sink's memory, so that the workers write their
// temporary files too.
vtest::GameSpec LargePackagesGame() {
  vtest::GameSpec game;
  game.archives = {{0, "big"}};
  for (int i = 0; i < 6; ++i) {
    game.packages.push_back(
        vtest::OneGroupPackage("p" + std::to_string(i), i % 2 == 0,
                               {vtest::Entry("data", "bin", vtest::MakeData(700000 + 1000 * i, i)),
                                vtest::Entry("menu", "txt", vtest::MakeData(3000, 50 + i))}));
  }
  return game;
}

TEST_F(FaultInjection, FaultsInTheWorkersCostNothingAndFaultsInTheWriterChangeNothing) {
  std::string error;
  fs::remove_all(game_);
  fs::create_directories(game_);
  ASSERT_TRUE(vtest::WriteGame(LargePackagesGame(), game_, nullptr, &error)) << error;
  threads_ = 4;
  // Every run starts from the game as a first run left it, and ends there when it succeeds.
  ASSERT_EQ(Run(modFull_), 0);
  const fs::path start = Keep("start");
  const fs::path& success = start;

  // A worker whose own files fail leaves its package to the writer, which makes it as one thread
  // would: the run succeeds with the same bytes.
  g_threadPlan.call = SysCall::kWriteFile;
  g_threadPlan.onWorkers = true;
  g_threadPlan.failAt = 0;
  int exitCode = -1;
  EXPECT_TRUE(RunWithThreadFault(start, &exitCode));
  EXPECT_EQ(exitCode, 0) << lastError_;
  EXPECT_EQ(vtest::DiffTrees(success, game_), std::vector<std::string>{});
  EXPECT_EQ(vtest::ListFiles(tmp_), std::vector<std::string>{});
  // A game archive that the workers cannot read fails the run, at its first package.
  g_threadPlan.call = SysCall::kReadFile;
  EXPECT_TRUE(RunWithThreadFault(start, &exitCode));
  EXPECT_EQ(exitCode, 1);
  EXPECT_EQ(vtest::DiffTrees(start, game_), std::vector<std::string>{});
  // Every write of the writer in turn. How many of the user archive's writes fall to the writer
  // depends on how far ahead the workers are (a worker that the writer waits for writes its
  // package into the archive itself); the new manifest's header and section always do.
  g_threadPlan.call = SysCall::kWriteFile;
  g_threadPlan.onWorkers = false;
  uint32_t injected = 0;
  for (g_threadPlan.failAt = 1;; ++g_threadPlan.failAt) {
    SCOPED_TRACE(g_threadPlan.failAt);
    if (!RunWithThreadFault(start, &exitCode)) break;
    ++injected;
    EXPECT_EQ(exitCode, 1) << g_threadPlan.seen;
    EXPECT_EQ(vtest::DiffTrees(start, game_), std::vector<std::string>{});
    EXPECT_EQ(vtest::ListFiles(tmp_), std::vector<std::string>{});
    if (HasFailure()) break;
  }
  EXPECT_GE(injected, 2u);
}

}  // namespace
