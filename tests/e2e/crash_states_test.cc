// Builds every state that a crash can leave in the game directory during a real run, and checks
// that the next start mends each. The run is the real one (vintrel_main, or the companion's
// inspect_main) in this process, with the platform seam's recording hook installed: it logs every
// change of a file or a directory. From the directory before the run and that log, a replayer
// builds what the disk can hold after a crash following each logged change, under three models:
//
//   P  the process is killed: everything before the crash persists;
//   E  ext4's ordered mode: the changes of names and sizes persist in order, and each file's data
//      that no flush of it covers persists fully, in part (the first writes), as zeros or not at
//      all;
//   W  pessimistic: only what a later flush covers is certain (a file's flush its data and size,
//      a directory's flush its names); any subset of the rest persists.
//
// In each state it runs what every start of either program runs first (lock_and_recover), and
// checks: recovery succeeds, and again finds nothing to do; the untouched manifest is never lost;
// the game is wholly as before the run or wholly as after it, with nothing left behind; and it is
// as after whenever a whole commit record was on the disk. Exhaustive where a crash point has few
// states, seeded samples otherwise. Windows has no directory flush, so there only P and E apply:
// NTFS keeps its changes of names in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/file_lock.h"
#include "base/platform.h"
#include "base/platform_faults.h"
#include "driver/driver.h"
#include "driver/game_lock.h"
#include "inspect/inspect.h"
#include "manifest/commit_record.h"
#include "tests/support/game_writer.h"
#include "tests/support/replace_files.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using vtest::Bytes;
// A game directory's files by name; the lock file is no part of it.
using State = std::map<std::string, Bytes>;

constexpr char kLockName[] = "vintrel.lock";
constexpr char kRecordName[] = "vintrel.commit";

// ---- Recording ----------------------------------------------------------------------------

// One logged change in the game directory. Changes of files elsewhere (the temporary directory)
// are left out: a crash there cannot touch the game.
struct Op {
  SysChange change;
  int file = -1;     // which open (kOpen, kWrite, kSetEnd, kFlush): its index in the log's opens
  std::string name;  // kOpen, kRename (from), kDelete
  std::string target;
  uint64_t offset = 0;  // kWrite, kSetEnd
  Bytes bytes;          // kWrite
  bool truncated = false;
};

// A path as the program wrote it, with '/' for separators, none doubled and none at the end.
std::string Normalized(const std::string& path) {
  std::string out;
  for (char c : path) {
    const char d = c == '\\' ? '/' : c;
    if (d == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(d);
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

class Recorder {
 public:
  explicit Recorder(const fs::path& gameDir) : dir_(Normalized(gameDir.string())) {}

  // Records while run runs.
  template <typename Run>
  int Record(Run run) {
    current_ = this;
    g_sysRecordHook = &Take;
    const int status = run();
    g_sysRecordHook = nullptr;
    current_ = nullptr;
    return status;
  }

  const std::vector<Op>& ops() const { return ops_; }
  bool foreign() const { return foreign_; }

 private:
  static void Take(const SysChangeEvent& event) { current_->Add(event); }

  // The name of a path in the game directory; empty for a path elsewhere.
  std::string NameIn(const char* path) const {
    const std::string full = Normalized(path);
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos || full.compare(0, slash, dir_) != 0 || slash != dir_.size()) {
      return "";
    }
    return full.substr(slash + 1);
  }

  void Add(const SysChangeEvent& event) {
    Op op;
    op.change = event.change;
    switch (event.change) {
      case SysChange::kOpen:
        op.name = NameIn(event.path);
        handles_[event.file] = op.name.empty() ? -1 : opens_++;
        if (op.name.empty()) return;
        op.file = handles_[event.file];
        op.truncated = event.truncated;
        break;
      case SysChange::kWrite:
      case SysChange::kSetEnd:
      case SysChange::kFlush: {
        const auto open = handles_.find(event.file);
        if (open == handles_.end() || open->second < 0) return;
        op.file = open->second;
        op.offset = event.offset;
        const uint8_t* bytes = static_cast<const uint8_t*>(event.bytes);
        if (event.change == SysChange::kWrite) op.bytes.assign(bytes, bytes + event.count);
        break;
      }
      case SysChange::kClose:
        handles_.erase(event.file);
        return;
      case SysChange::kRename:
        op.name = NameIn(event.path);
        op.target = NameIn(event.target);
        // A file moved into or out of the game directory is beyond what the replayer models.
        if (op.name.empty() != op.target.empty()) foreign_ = true;
        if (op.name.empty()) return;
        break;
      case SysChange::kDelete:
        op.name = NameIn(event.path);
        if (op.name.empty()) return;
        break;
      case SysChange::kFlushDirectory:
        if (Normalized(event.path) != dir_) return;
        break;
    }
    ops_.push_back(op);
  }

  static Recorder* current_;
  std::string dir_;
  std::map<FileHandle, int> handles_;
  int opens_ = 0;
  std::vector<Op> ops_;
  bool foreign_ = false;
};
Recorder* Recorder::current_ = nullptr;

// ---- Replaying ----------------------------------------------------------------------------

enum class Model { kProcess, kOrdered, kPessimistic };
const char* ModelName(Model model) {
  return model == Model::kProcess ? "P" : model == Model::kOrdered ? "E" : "W";
}

// A logged change as the disk sees it: a change of a name (link, rename, unlink) or of a file's
// contents (truncate, write, set end), or a flush. Files are inodes, fixed by the order of the
// run: a crash decides which changes persisted, not which file a change went to.
struct Step {
  enum Kind { kLink, kTruncate, kWrite, kSetEnd, kFlush, kRename, kUnlink, kFlushDirectory } kind;
  int inode = -1;
  std::string name, target;
  uint64_t offset = 0;
  const Bytes* bytes = nullptr;
  bool names() const { return kind == kLink || kind == kRename || kind == kUnlink; }
};

class Replayer {
 public:
  Replayer(const State& before, const std::vector<Op>& ops) {
    std::map<std::string, int> names;
    for (const auto& [name, bytes] : before) {
      names[name] = static_cast<int>(start_.size());
      start_.push_back(bytes);
      startNames_[name] = names[name];
    }
    std::vector<int> inodeOfOpen;
    int inodes = static_cast<int>(start_.size());
    for (const Op& op : ops) {
      Step step;
      switch (op.change) {
        case SysChange::kOpen: {
          const auto named = names.find(op.name);
          if (named == names.end()) {
            names[op.name] = inodes;
            inodeOfOpen.push_back(inodes);
            step.kind = Step::kLink;
            step.inode = inodes++;
            step.name = op.name;
          } else {
            inodeOfOpen.push_back(named->second);
            if (!op.truncated) continue;
            step.kind = Step::kTruncate;
            step.inode = named->second;
          }
          break;
        }
        case SysChange::kWrite:
        case SysChange::kSetEnd:
        case SysChange::kFlush:
          step.kind = op.change == SysChange::kWrite    ? Step::kWrite
                      : op.change == SysChange::kSetEnd ? Step::kSetEnd
                                                        : Step::kFlush;
          step.inode = inodeOfOpen[op.file];
          step.offset = op.offset;
          step.bytes = &op.bytes;
          break;
        case SysChange::kRename:
          if (names.count(op.name) == 0) continue;
          names[op.target] = names[op.name];
          names.erase(op.name);
          step.kind = Step::kRename;
          step.name = op.name;
          step.target = op.target;
          break;
        case SysChange::kDelete:
          names.erase(op.name);
          step.kind = Step::kUnlink;
          step.name = op.name;
          break;
        case SysChange::kFlushDirectory:
          step.kind = Step::kFlushDirectory;
          break;
        case SysChange::kClose:
          continue;
      }
      steps_.push_back(step);
    }
    inodeCount_ = inodes;
  }

  size_t size() const { return steps_.size(); }
  std::vector<Step>& steps() { return steps_; }
  const std::vector<Step>& steps() const { return steps_; }

  // Whether step i of the first k is certain to persist: a later flush covers it.
  bool Flushed(size_t i, size_t k) const {
    const Step& step = steps_[i];
    for (size_t j = i + 1; j < k; ++j) {
      const Step& later = steps_[j];
      if (step.names() ? later.kind == Step::kFlushDirectory
                       : later.kind == Step::kFlush && later.inode == step.inode) {
        return true;
      }
    }
    return false;
  }

  // How step i of a crash state persists: whole, not at all, or (a write) as zeros.
  enum Fate { kWhole, kLost, kZeros };

  // The disk after the first k steps, each persisting as fates says.
  State Build(size_t k, const std::vector<Fate>& fates) const {
    std::vector<Bytes> inodes(start_);
    inodes.resize(inodeCount_);
    std::map<std::string, int> names(startNames_);
    for (size_t i = 0; i < k; ++i) {
      const Step& step = steps_[i];
      if (fates[i] == kLost) continue;
      Bytes* data = step.inode >= 0 ? &inodes[step.inode] : nullptr;
      switch (step.kind) {
        case Step::kLink:
          names[step.name] = step.inode;
          break;
        case Step::kTruncate:
          data->clear();
          break;
        case Step::kWrite: {
          const size_t end = step.offset + step.bytes->size();
          if (data->size() < end) data->resize(end, 0);
          if (fates[i] == kWhole) {
            std::copy(step.bytes->begin(), step.bytes->end(), data->begin() + step.offset);
          }
          break;
        }
        case Step::kSetEnd:
          data->resize(step.offset, 0);
          break;
        case Step::kRename:
          if (names.count(step.name) == 0) break;
          names[step.target] = names[step.name];
          names.erase(step.name);
          break;
        case Step::kUnlink:
          names.erase(step.name);
          break;
        case Step::kFlush:
        case Step::kFlushDirectory:
          break;
      }
    }
    State state;
    for (const auto& [name, inode] : names) state[name] = inodes[inode];
    return state;
  }

 private:
  std::vector<Bytes> start_;
  std::map<std::string, int> startNames_;
  std::vector<Step> steps_;
  int inodeCount_ = 0;
};

// Calls visit with the fates of every crash state after k steps under a model: all of them when
// there are at most kExhaustive, else kSamples drawn by random, whose seed is fixed.
constexpr size_t kExhaustive = 256;
constexpr size_t kSamples = 64;

void ForEachFates(const Replayer& replay, size_t k, Model model, std::mt19937& random,
                  const std::function<void(const std::vector<Replayer::Fate>&)>& visit) {
  std::vector<Replayer::Fate> fates(k, Replayer::kWhole);
  if (model == Model::kProcess) {
    visit(fates);
    return;
  }
  const std::vector<Step>& steps = replay.steps();
  if (model == Model::kOrdered) {
    // Per file, its writes that no flush covers: all, none, zeros, or the first m of them.
    std::map<int, std::vector<size_t>> open;
    for (size_t i = 0; i < k; ++i) {
      if (steps[i].kind == Step::kWrite && !replay.Flushed(i, k)) open[steps[i].inode].push_back(i);
    }
    std::vector<std::vector<std::vector<Replayer::Fate>>> choices;
    size_t total = 1;
    for (const auto& [inode, writes] : open) {
      std::vector<std::vector<Replayer::Fate>> ways;
      for (size_t kept = 0; kept <= writes.size(); ++kept) {
        std::vector<Replayer::Fate> way(writes.size(), Replayer::kLost);
        std::fill(way.begin(), way.begin() + kept, Replayer::kWhole);
        ways.push_back(way);
      }
      ways.push_back(std::vector<Replayer::Fate>(writes.size(), Replayer::kZeros));
      total = std::min<size_t>(total * ways.size(), SIZE_MAX / 64);
      choices.push_back(ways);
    }
    const bool exhaustive = total <= kExhaustive;
    for (size_t n = 0; n < (exhaustive ? total : kSamples); ++n) {
      size_t code = n;
      size_t c = 0;
      for (const auto& [inode, writes] : open) {
        const auto& ways = choices[c++];
        const size_t pick = exhaustive ? code % ways.size() : random() % ways.size();
        code /= ways.size();
        for (size_t w = 0; w < writes.size(); ++w) fates[writes[w]] = ways[pick][w];
      }
      visit(fates);
    }
    return;
  }
  // Any subset of what no flush covers.
  std::vector<size_t> open;
  for (size_t i = 0; i < k; ++i) {
    const Step::Kind kind = steps[i].kind;
    if (kind != Step::kFlush && kind != Step::kFlushDirectory && !replay.Flushed(i, k)) {
      open.push_back(i);
    }
  }
  const bool exhaustive = open.size() < 63 && (size_t{1} << open.size()) <= kExhaustive;
  const size_t count = exhaustive ? size_t{1} << open.size() : kSamples;
  for (size_t n = 0; n < count; ++n) {
    for (size_t b = 0; b < open.size(); ++b) {
      // The first two samples are the extremes: nothing of it, and all of it.
      const bool kept = exhaustive ? (n >> b & 1) != 0 : n < 2 ? n == 1 : (random() & 1) != 0;
      fates[open[b]] = kept ? Replayer::kWhole : Replayer::kLost;
    }
    visit(fates);
  }
}

// ---- The harness --------------------------------------------------------------------------

State ReadState(const fs::path& dir) {
  State state;
  for (const std::string& name : vtest::ListFiles(dir)) {
    if (name != kLockName) state[name] = vtest::ReadFile(dir / name).value_or(Bytes{});
  }
  return state;
}

void WriteState(const State& state, const fs::path& dir) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(dir, ignored)) fs::remove_all(entry, ignored);
  for (const auto& [name, bytes] : state) ASSERT_TRUE(vtest::WriteFile(dir / name, bytes));
}

bool HasWholeRecord(const State& state) {
  const auto record = state.find(kRecordName);
  if (record == state.end()) return false;
  ByteBuffer bytes;
  if (!bytes.resize(static_cast<uint32_t>(record->second.size()))) return false;
  std::copy(record->second.begin(), record->second.end(), bytes.data());
  CommitRecord decoded;
  Status ignored;
  return decoded.Decode(bytes, &ignored);
}

// What the states of one scenario must come to after recovery.
struct Outcomes {
  State before;          // the game before the action
  State after;           // the game after it
  Bytes untouched;       // the game's untouched manifest
  bool beforeOk = true;  // whether "as before" is a right outcome (not when recovery itself ran)
};

// The counts of one scenario under one model.
struct Tally {
  size_t points = 0;    // crash points: the logged changes, and the state before the first
  size_t states = 0;    // states built
  size_t distinct = 0;  // of them distinct, each recovered and checked
  size_t bad = 0;
  size_t lost = 0;  // of the bad, those that lost the untouched manifest
  std::string firstBad;
};

constexpr char kLost[] = "the untouched manifest is lost";

class CrashStates : public testing::Test {
 protected:
  void SetUp() override {
    // One thread: the log comes in the same order every time.
    static char oneThread[] = "VINTREL_THREADS=1";
    putenv(oneThread);
    game_ = root_.MakeDir("game");
    tmp_ = root_.MakeDir("tmp");
    work_ = root_.MakeDir("state");
    std::string error;
    ASSERT_TRUE(vtest::WriteGame(vtest::ExampleGame(), game_, nullptr, &error)) << error;
    untouched_ = vtest::ReadFile(game_ / "manifest.bin").value();
    const std::vector<vtest::ConfigFile> one = {{"menu", "txt", "menu.txt", {}, "menu.meta"}};
    WriteMod("mod_a", vtest::MakeConfigJson(one, "mod"));
    WriteMod("mod_b", "");
    WriteMod("mod_full", vtest::MakeConfigJson(one, "mod", true));
    // The second package's replacing file is missing: the run fails after writing the first.
    WriteMod("mod_failing", "");
    fs::remove(root_ / "mod_failing" / "strings.loc");
  }

  // The example mod in root/name, with the given vintrel.json (the example's own when empty).
  void WriteMod(const std::string& name, const std::string& config) {
    const fs::path dir = root_.MakeDir(name);
    for (const auto& [file, bytes] : vtest::ExampleMod()) {
      ASSERT_TRUE(vtest::WriteFile(dir / file, bytes));
    }
    if (!config.empty()) {
      ASSERT_TRUE(vtest::WriteTextFile(dir / "vintrel.json", config));
    }
  }

  // Calls a program's main in this process; what it says goes to *out and lastError_.
  static int Call(int (*entry)(int, char**), std::vector<std::string> args,
                  std::string* out = nullptr) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = entry(static_cast<int>(argv.size()), argv.data());
    const std::string said = testing::internal::GetCapturedStdout();
    lastError_ = testing::internal::GetCapturedStderr();
    if (out != nullptr) *out = said;
    return status;
  }
  int RunTool(const std::string& mod) {
    return Call(vintrel_main, {"vintrel", (root_ / mod).string(), game_.string(), tmp_.string()});
  }
  int RunInspect(const std::string& command, const fs::path& dir, std::string* out = nullptr) {
    return Call(inspect_main, {"vintrel-inspect", command, dir.string()}, out);
  }

  // What every start of either program does first, on the state in work_.
  bool Recover(ChangeRecovery* recovery, std::string* why) {
    FileLock lock;
    Status status;
    const std::string dir = work_.string() + "\\";
    if (lock_and_recover(dir.c_str(), lock, recovery, &status)) return true;
    CStringBufferA text;
    status.Describe(text);
    *why = text.Data();
    return false;
  }

  // Recovers one crash state and checks it; an empty text when it passes.
  std::string Check(const State& crashed, const Outcomes& outcomes) {
    WriteState(crashed, work_);
    ChangeRecovery recovery;
    std::string why;
    if (!Recover(&recovery, &why)) return "recovery failed: " + why;
    const State recovered = ReadState(work_);
    ChangeRecovery again;
    if (!Recover(&again, &why) || again.outcome != RecoveryOutcome::kNothing ||
        ReadState(work_) != recovered) {
      return "a second recovery still changed something";
    }
    const auto backup = recovered.find("origmanifest.bin");
    const auto manifest = recovered.find("manifest.bin");
    if ((backup == recovered.end() || backup->second != untouched_) &&
        (manifest == recovered.end() || manifest->second != untouched_)) {
      return kLost;
    }
    if (recovered == outcomes.after) return "";
    if (HasWholeRecord(crashed)) return "a whole commit record was there, but the game is not new";
    State withBackup = outcomes.before;
    withBackup.emplace("origmanifest.bin", untouched_);
    if (outcomes.beforeOk && (recovered == outcomes.before || recovered == withBackup)) return "";
    std::string files;
    for (const auto& [name, bytes] : recovered) files += " " + name;
    return "the game is neither as before nor as after:" + files;
  }

  // Replays every crash state of ops under model and checks each.
  Tally Sweep(const std::vector<Op>& ops, const Outcomes& outcomes, Model model, bool stopAtBad,
              void (*mutate)(std::vector<Step>&) = nullptr) {
    Replayer replay(outcomes.before, ops);
    if (mutate != nullptr) mutate(replay.steps());
    std::mt19937 random(20240607u + static_cast<unsigned>(model));
    std::set<State> seen;
    Tally tally;
    for (size_t k = 0; k <= replay.size() && !(stopAtBad && tally.bad != 0); ++k) {
      ++tally.points;
      ForEachFates(replay, k, model, random, [&](const std::vector<Replayer::Fate>& fates) {
        ++tally.states;
        State crashed = replay.Build(k, fates);
        if (!seen.insert(crashed).second) return;
        ++tally.distinct;
        const std::string bad = Check(crashed, outcomes);
        if (bad.empty()) return;
        if (bad == kLost) ++tally.lost;
        if (tally.bad++ == 0) {
          tally.firstBad = std::string(ModelName(model)) + ", crash after change " +
                           std::to_string(k) + ": " + bad;
        }
      });
    }
    return tally;
  }

  // Records action on the game as it is, and keeps what a sweep needs.
  template <typename Action>
  Outcomes Record(Action action, std::vector<Op>* ops, int* status) {
    Outcomes outcomes;
    outcomes.before = ReadState(game_);
    outcomes.untouched = untouched_;
    Recorder recorder(game_);
    *status = recorder.Record(action);
    EXPECT_FALSE(recorder.foreign());
    *ops = recorder.ops();
    outcomes.after = ReadState(game_);
    return outcomes;
  }

  // The models that hold on this system: Windows has no directory flush (see the top).
  static std::vector<Model> Models() {
    if (sys_directory_flush_exists())
      return {Model::kProcess, Model::kOrdered, Model::kPessimistic};
    return {Model::kProcess, Model::kOrdered};
  }

  // A game that a companion's read-only command sees as the record says: the state of the first
  // crash point whose record is whole and whose files are not yet in place reads as after.
  void ExpectReadAsAfter(const std::vector<Op>& ops, const Outcomes& outcomes) {
    Replayer replay(outcomes.before, ops);
    for (size_t k = 0; k <= replay.size(); ++k) {
      const State crashed = replay.Build(k, std::vector<Replayer::Fate>(k, Replayer::kWhole));
      if (!HasWholeRecord(crashed) || crashed == outcomes.after) continue;
      for (const std::vector<std::string>& command :
           {std::vector<std::string>{"vintrel-inspect", "packages", work_.string(), "--json"},
            std::vector<std::string>{"vintrel-inspect", "plan", (root_ / "mod_b").string(),
                                     work_.string()}}) {
        SCOPED_TRACE(command[1]);
        std::string expected;
        std::string shown;
        WriteState(outcomes.after, work_);
        Call(inspect_main, command, &expected);
        WriteState(crashed, work_);
        Call(inspect_main, command, &shown);
        EXPECT_EQ(shown, expected);
        EXPECT_NE(lastError_.find("was interrupted after it had committed"), std::string::npos)
            << lastError_;
      }
      EXPECT_EQ(ReadState(work_), crashed);
      return;
    }
  }

  vtest::ScratchDir root_;
  fs::path game_, tmp_, work_;
  Bytes untouched_;
  static std::string lastError_;
};
std::string CrashStates::lastError_;

// How a scenario sets the game up and what it records.
struct Scenario {
  const char* name;
  const char* setupMod;   // run first, unrecorded; null for the untouched game
  const char* actionMod;  // the tool with this mod, or
  const char* inspect;    // this companion command on the game
  int status;             // the action's exit status
};

const Scenario kScenarios[] = {
    {"first run", nullptr, "mod_b", nullptr, 0},
    {"later run", "mod_a", "mod_b", nullptr, 0},
    {"fullcopy run", "mod_a", "mod_full", nullptr, 0},
    {"failing run", "mod_a", "mod_failing", nullptr, 1},
    {"restore", "mod_b", nullptr, "restore", 0},
};

void Print(const char* scenario, Model model, const Tally& tally, double seconds) {
  std::printf(
      "  %-24s %s: %3zu crash points, %5zu states, %5zu distinct recovered, %zu bad "
      "(%.2f s)\n",
      scenario, ModelName(model), tally.points, tally.states, tally.distinct, tally.bad, seconds);
}

TEST_F(CrashStates, EveryCrashStateOfEveryScenarioRecovers) {
  const auto started = std::chrono::steady_clock::now();
  State pristine = ReadState(game_);
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    WriteState(pristine, game_);
    if (scenario.setupMod != nullptr) {
      ASSERT_EQ(RunTool(scenario.setupMod), 0) << lastError_;
    }
    std::vector<Op> ops;
    int status = -1;
    const Outcomes outcomes = Record(
        [&] {
          return scenario.actionMod != nullptr ? RunTool(scenario.actionMod)
                                               : RunInspect(scenario.inspect, game_);
        },
        &ops, &status);
    ASSERT_EQ(status, scenario.status) << lastError_;
    if (scenario.status == 0) ExpectReadAsAfter(ops, outcomes);
    for (Model model : Models()) {
      const auto start = std::chrono::steady_clock::now();
      const Tally tally = Sweep(ops, outcomes, model, false);
      Print(scenario.name, model, tally,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      EXPECT_EQ(tally.bad, 0u) << tally.firstBad;
    }

    // Recovery itself interrupted: the state just after the commit point of this scenario, with
    // nothing in place yet, is recovered while recording, and every crash state of that recovery
    // must recover to the scenario's outcome.
    if (scenario.status != 0) continue;
    Replayer replay(outcomes.before, ops);
    size_t committed = 0;
    for (size_t k = 0; k <= replay.size() && committed == 0; ++k) {
      if (HasWholeRecord(replay.Build(k, std::vector<Replayer::Fate>(k, Replayer::kWhole)))) {
        committed = k;
      }
    }
    ASSERT_NE(committed, 0u);
    WriteState(replay.Build(committed, std::vector<Replayer::Fate>(committed, Replayer::kWhole)),
               game_);
    const State committedState = ReadState(game_);
    std::vector<Op> recoveryOps;
    std::string said;
    Outcomes recovered =
        Record([&] { return RunInspect("recover", game_, &said); }, &recoveryOps, &status);
    ASSERT_EQ(status, 0) << lastError_;
    ASSERT_EQ(recovered.after, outcomes.after);
    EXPECT_EQ(said.rfind("\"" + game_.string() + "\": finished a change of the game", 0), 0u)
        << said;
    // The tool's own start does the same, says so on standard error, and runs.
    if (scenario.actionMod != nullptr) {
      WriteState(committedState, game_);
      EXPECT_EQ(RunTool(scenario.actionMod), 0);
      EXPECT_EQ(lastError_.rfind("vintrel: warning: \"", 0), 0u) << lastError_;
      EXPECT_NE(lastError_.find("\": finished a change of the game"), std::string::npos);
      EXPECT_EQ(ReadState(game_), outcomes.after);
    }
    recovered.beforeOk = false;
    const std::string name = std::string(scenario.name) + ", recovery";
    for (Model model : Models()) {
      const auto start = std::chrono::steady_clock::now();
      const Tally tally = Sweep(recoveryOps, recovered, model, false);
      Print(name.c_str(), model, tally,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      EXPECT_EQ(tally.bad, 0u) << tally.firstBad;
    }
  }
  std::printf("crash states: %.1f s in all\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// The harness can fail: the log of a first run with one flush taken out, and the log of a later
// run with two of its steps swapped, each as the disk would see a protocol written that way, must
// each give a bad state.
void DropBackUpFlush(std::vector<Step>& steps) {
  int backup = -1;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].kind == Step::kLink && steps[i].name == "origmanifest.bin.tmp") {
      backup = steps[i].inode;
    }
    if (steps[i].kind == Step::kFlush && steps[i].inode == backup) {
      steps.erase(steps.begin() + static_cast<long>(i));
      return;
    }
  }
  ADD_FAILURE() << "the back-up is never flushed";
}

// The manifest's flush moved after the record's rename: the record names a file not yet whole.
void FlushManifestAfterTheRecord(std::vector<Step>& steps) {
  int manifest = -1;
  size_t flush = steps.size();
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].kind == Step::kLink && steps[i].name == "manifest.bin.tmp") {
      manifest = steps[i].inode;
    }
    if (steps[i].kind == Step::kFlush && steps[i].inode == manifest && flush == steps.size()) {
      flush = i;
    }
    if (steps[i].kind == Step::kRename && steps[i].target == kRecordName && flush < i) {
      std::rotate(steps.begin() + static_cast<long>(flush),
                  steps.begin() + static_cast<long>(flush) + 1,
                  steps.begin() + static_cast<long>(i) + 1);
      return;
    }
  }
  ADD_FAILURE() << "the record is never renamed into place after the manifest's flush";
}

TEST_F(CrashStates, HarnessReportsAMissingFlushAndASwappedStep) {
  std::vector<Op> ops;
  int status = -1;
  Outcomes outcomes = Record([&] { return RunTool("mod_b"); }, &ops, &status);
  ASSERT_EQ(status, 0) << lastError_;
  // Without its flush the back-up can be empty beside the new manifest: the untouched manifest
  // is gone, as it was when the back-up was a copy that nothing flushed.
  EXPECT_NE(Sweep(ops, outcomes, Model::kOrdered, false, DropBackUpFlush).lost, 0u);

  ASSERT_EQ(RunTool("mod_a"), 0);
  outcomes = Record([&] { return RunTool("mod_b"); }, &ops, &status);
  ASSERT_EQ(status, 0) << lastError_;
  const Tally swapped = Sweep(ops, outcomes, Model::kOrdered, true, FlushManifestAfterTheRecord);
  EXPECT_NE(swapped.firstBad.find("cannot be finished"), std::string::npos) << swapped.firstBad;
}

}  // namespace
