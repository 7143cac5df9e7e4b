#include "tests/e2e/game_run.h"

#include <algorithm>
#include <filesystem>
#include <regex>

#include "tests/support/scratch_dir.h"

namespace vtest {
namespace {

constexpr char kManifest[] = "manifest.bin";
constexpr char kBackUp[] = "origmanifest.bin";

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

uint64_t RoundUpToPackageAlignment(uint64_t position) {
  return (position + kPackageAlignment - 1) / kPackageAlignment * kPackageAlignment;
}

std::string HexWindow(const Bytes& bytes, size_t at) {
  size_t begin = std::min(at, bytes.size());
  size_t end = std::min(begin + 16, bytes.size());
  return Hex(Bytes(bytes.begin() + static_cast<ptrdiff_t>(begin),
                   bytes.begin() + static_cast<ptrdiff_t>(end)));
}

// True when the `size` bytes at `at` are a zlib stream as compression level 0 writes it: the
// header 0x78 0x01, then stored deflate blocks only (a header byte of 0 or 1, LEN, NLEN and LEN
// bytes) up to the final one, then the 4-byte Adler-32.
bool IsStoredStream(const Bytes& bytes, uint64_t at, uint64_t size) {
  if (at > bytes.size() || size > bytes.size() - at || size < 2 + 5 + 4) return false;
  if (bytes[at] != 0x78 || bytes[at + 1] != 0x01) return false;
  const uint64_t end = at + size - 4;
  uint64_t position = at + 2;
  for (;;) {
    if (end - position < 5) return false;
    const uint8_t blockHeader = bytes[position];
    if (blockHeader > 1) return false;
    const uint32_t length = bytes[position + 1] | bytes[position + 2] << 8;
    const uint32_t inverted = bytes[position + 3] | bytes[position + 4] << 8;
    if ((length ^ inverted) != 0xFFFF) return false;
    position += 5;
    if (length > end - position) return false;
    position += length;
    if (blockHeader == 1) return position == end;
  }
}

std::string DescribeRecord(const PackageRecord& record) {
  return record.name + " (archiveIndex " + std::to_string(record.archive_index) + ", offset " +
         std::to_string(record.offset) + ")";
}

std::string DescribeArchives(const std::vector<ArchiveRecord>& archives) {
  std::string text;
  for (const ArchiveRecord& a : archives) {
    text += "{" + std::to_string(a.tag) + ", \"" + a.name + "\"} ";
  }
  return text;
}

}  // namespace

PackageSpec MakePackage(const std::string& name, uint8_t archive, bool split,
                        std::vector<EntrySpec> entries) {
  const uint8_t salt = static_cast<uint8_t>(NameHash(name) & 0x3F);
  PackageSpec p;
  p.record.name = name;
  p.record.package_id = NameHash(name);
  p.record.attr_word1 = static_cast<uint16_t>(0x1100 + salt);
  p.record.attr_word2 = static_cast<uint16_t>(0x2200 + salt);
  p.record.words = {salt, 0xFFFF};
  p.record.attr_byte1 = static_cast<uint8_t>(0x10 + salt);
  p.record.attr_byte2 = static_cast<uint8_t>(0x20 + salt);
  p.record.attr_byte3 = static_cast<uint8_t>(0x30 + salt);
  p.archive_index = archive;
  p.split = split;
  p.split_value = split ? static_cast<uint8_t>(0x80 | salt) : 0;
  p.attr_byte = static_cast<uint8_t>(0xA0 + salt);
  p.attr_word = 0x5EED0000u + salt;
  p.groups.resize(1);
  p.groups[0].entries = std::move(entries);
  return p;
}

std::array<Bytes, 4> OpaqueSections() {
  return {MakeData(33, 70), Bytes{}, Bytes{0xFF}, MakeData(9, 71)};
}

testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  if (actual.size() <= 64 && expected.size() <= 64) {
    return testing::AssertionFailure()
           << "got [" << Hex(actual) << "], expected [" << Hex(expected) << "]";
  }
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  return testing::AssertionFailure()
         << "got " << actual.size() << " bytes, expected " << expected.size()
         << "; first difference at byte " << i << ": [" << HexWindow(actual, i) << "] vs ["
         << HexWindow(expected, i) << "]";
}

void GameRunTest::WriteGame(const GameSpec& game) {
  std::string error;
  ASSERT_TRUE(vtest::WriteGame(game, run_.game_path(), &layout_, &error)) << error;
  SnapshotGame();
}

void GameRunTest::SnapshotGame() {
  snapshot_.clear();
  for (const std::string& name : ListFiles(run_.game_path())) {
    std::optional<Bytes> bytes = ReadFile(run_.game_path() / name);
    ASSERT_TRUE(bytes) << name;
    snapshot_[name] = std::move(*bytes);
  }
  ASSERT_EQ(snapshot_.count(kManifest), 1u);
}

void GameRunTest::WriteMod(const std::vector<ConfigFile>& files,
                           const std::optional<std::string>& upak, bool fullcopy) {
  ASSERT_TRUE(
      WriteTextFile(run_.mod_path() / "vintrel.json", MakeConfigJson(files, upak, fullcopy)));
}

void GameRunTest::WriteModFile(const std::string& relative, const Bytes& bytes) {
  ASSERT_TRUE(WriteFile(run_.mod_path() / std::filesystem::path(relative), bytes)) << relative;
}

std::vector<std::string> GameRunTest::ArchivedPackages() const {
  std::vector<std::string> names;
  for (const PackageLayout& p : layout_.packages) {
    if (p.record.archive_index != kNoArchive) names.push_back(p.record.name);
  }
  return names;
}

std::string GameRunTest::ProgressLines(const std::vector<std::string>& packages) const {
  std::string lines;
  for (const PackageLayout& p : layout_.packages) {
    if (!Contains(packages, p.record.name)) continue;
    lines += "Updating files in package \"" + p.record.name + "\" (" +
             (p.header.split_compress != 0 ? "split compress" : "full compress") + ").\n";
  }
  return lines;
}

Bytes GameRunTest::ReadGameFile(const std::string& name) const {
  return ReadFile(run_.game_path() / name).value_or(Bytes{});
}

void GameRunTest::ExpectGameFilesUntouched() const {
  for (const auto& [name, bytes] : snapshot_) {
    if (name == kManifest || name == kBackUp) continue;
    EXPECT_TRUE(SameBytes(ReadGameFile(name), bytes)) << "the game's " << name << " changed";
  }
  EXPECT_TRUE(SameBytes(ReadGameFile(kBackUp), snapshot_.at(kManifest)))
      << "origmanifest.bin is not the game's manifest";
}

testing::AssertionResult OneErrorLine(const std::string& err, const std::string& error) {
  const std::string prefix = "vintrel: error: ";
  if (err.compare(0, prefix.size(), prefix) != 0 || err.empty() || err.back() != '\n' ||
      err.find('\n') != err.size() - 1) {
    return testing::AssertionFailure() << "not one error line: \"" << err << "\"";
  }
  if (!std::regex_search(err, std::regex(error))) {
    return testing::AssertionFailure() << "\"" << err << "\" does not match \"" << error << "\"";
  }
  return testing::AssertionSuccess();
}

void GameRunTest::ExpectFailure(const ProcessResult& result,
                                const std::vector<std::string>& printed,
                                const std::string& error) const {
  ASSERT_TRUE(result.started) << result.failure;
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out, ProgressLines(printed));
  EXPECT_TRUE(OneErrorLine(result.err, error));
  ExpectGameFilesUntouched();
  EXPECT_TRUE(SameBytes(ReadGameFile(kManifest), snapshot_.at(kManifest)))
      << "manifest.bin was rewritten by a failed run";
}

void GameRunTest::ExpectSuccess(const ProcessResult& result, const Outcome& outcome) const {
  ASSERT_TRUE(result.started) << result.failure;
  EXPECT_EQ(result.exit_code, 0) << "stdout: " << result.out;
  std::vector<std::string> lines;
  for (size_t start = 0; start < result.err.size();) {
    const size_t end = result.err.find('\n', start);
    lines.push_back(result.err.substr(start, end - start));
    start = end == std::string::npos ? result.err.size() : end + 1;
  }
  EXPECT_EQ(lines.size(), outcome.warnings.size()) << "stderr: " << result.err;
  for (size_t i = 0; i < lines.size() && i < outcome.warnings.size(); ++i) {
    const std::string& expected = outcome.warnings[i];
    EXPECT_EQ(lines[i].compare(0, 18, "vintrel: warning: "), 0) << lines[i];
    EXPECT_TRUE(lines[i].size() >= expected.size() &&
                lines[i].compare(lines[i].size() - expected.size(), expected.size(), expected) == 0)
        << lines[i] << " does not end with " << expected;
  }
  std::vector<std::string> movedNames = outcome.moved;
  for (const Replacement& r : outcome.replaced) movedNames.push_back(r.package);
  EXPECT_EQ(result.out, ProgressLines(movedNames));
  ExpectGameFilesUntouched();

  std::vector<bool> moved(layout_.packages.size());
  bool anyMoved = false;
  for (size_t i = 0; i < moved.size(); ++i) {
    moved[i] = Contains(movedNames, layout_.packages[i].record.name);
    anyMoved = anyMoved || moved[i];
  }
  const std::string archiveFile = outcome.upak + ".upak";

  // Nothing is left behind but the game's files, the two manifests and the user archive.
  std::vector<std::string> files;
  for (const auto& entry : snapshot_) files.push_back(entry.first);
  if (!Contains(files, kBackUp)) files.push_back(kBackUp);
  if (anyMoved && !Contains(files, archiveFile)) files.push_back(archiveFile);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(ListFiles(run_.game_path()), files);

  std::string error;
  std::optional<ParsedManifest> original = DecodeManifest(snapshot_.at(kManifest), &error);
  ASSERT_TRUE(original) << error;
  std::optional<ParsedManifest> written = ReadManifestFile(run_.game_path() / kManifest, &error);
  ASSERT_TRUE(written) << "manifest.bin: " << error;
  EXPECT_EQ(written->version, 13u);
  EXPECT_TRUE(IsContiguousLayout(*written)) << "sections do not follow the header in order";
  for (int i = 1; i < 5; ++i) {
    EXPECT_TRUE(SameBytes(written->sections[i], original->sections[i])) << "section " << i;
  }
  if (!anyMoved) {
    EXPECT_TRUE(SameBytes(written->sections[0], original->sections[0]))
        << "the directory changed although no package moved";
    return;
  }

  // The expected directory: the original with the user archive in the list, the moved packages
  // redirected to where the independent reader finds them, one after the other from 0.
  PackageDirectory expected = original->directory;
  expected.tail.clear();
  uint8_t userIndex = 0;
  if (outcome.fullcopy) {
    for (ArchiveRecord& a : expected.archives) a.name = outcome.upak;
  } else {
    userIndex = static_cast<uint8_t>(expected.archives.size());
    expected.archives.push_back({0xFF, outcome.upak});
  }
  const Bytes archive = ReadGameFile(archiveFile);
  uint64_t position = 0;
  for (size_t i = 0; i < moved.size(); ++i) {
    if (!moved[i]) continue;
    const PackageLayout& before = layout_.packages[i];
    SCOPED_TRACE("package " + before.record.name);
    PackageRecord& record = expected.packages[i];
    record.archive_index = userIndex;
    record.offset = position;
    std::optional<ParsedPackage> after = ReadPackage(archive, position, &error);
    if (!after) {
      ADD_FAILURE() << archiveFile << " at " << position << ": " << error;
      return;
    }
    std::vector<Replacement> replaced;
    for (const Replacement& r : outcome.replaced) {
      if (r.package == before.record.name) replaced.push_back(r);
    }
    ExpectRewrittenPackage(before, *after, archive, replaced);
    position = RoundUpToPackageAlignment(position + after->end);
  }
  EXPECT_EQ(archive.size(), position) << archiveFile << " does not end with its last package";

  const PackageDirectory& got = written->directory;
  EXPECT_EQ(got.directory_value, expected.directory_value);
  EXPECT_TRUE(got.id_names == expected.id_names);
  EXPECT_TRUE(got.archives == expected.archives)
      << "archives: " << DescribeArchives(got.archives)
      << "expected: " << DescribeArchives(expected.archives);
  ASSERT_EQ(got.packages.size(), expected.packages.size());
  for (size_t i = 0; i < got.packages.size(); ++i) {
    EXPECT_TRUE(got.packages[i] == expected.packages[i])
        << "record " << DescribeRecord(got.packages[i]) << ", expected "
        << DescribeRecord(expected.packages[i]);
  }
  EXPECT_TRUE(got.tail.empty()) << "bytes after the last record were carried over";
  EXPECT_TRUE(SameBytes(written->sections[0], EncodePackageDirectory(expected))) << "directory";
}

void GameRunTest::ExpectRewrittenPackage(const PackageLayout& before, const ParsedPackage& after,
                                         const Bytes& archive,
                                         const std::vector<Replacement>& replaced) const {
  EXPECT_EQ(CheckWrittenPackage(after), "");
  const PackageHeader& header = after.header;
  EXPECT_EQ(header.attr_byte, before.header.attr_byte);
  EXPECT_EQ(header.attr_word, before.header.attr_word);
  EXPECT_EQ(header.split_compress, before.header.split_compress);
  EXPECT_EQ(header.index_offset, kPackageHeaderSize);
  EXPECT_EQ(header.index_size, before.header.index_size);
  EXPECT_TRUE(SameBytes(after.index_table, before.index_table)) << "IndexTable";
  ASSERT_EQ(after.entries.size(), before.entries.size());

  std::vector<Bytes> data, meta;
  for (const EntryLayout& e : before.entries) {
    data.push_back(e.data);
    meta.push_back(e.meta);
  }
  for (const Replacement& r : replaced) {
    auto it =
        std::find_if(before.entries.begin(), before.entries.end(), [&r](const EntryLayout& e) {
          return e.name_id == NameHash(r.name) && e.ext_id == NameHash(r.ext);
        });
    ASSERT_NE(it, before.entries.end()) << "the test names no entry " << r.name << "." << r.ext;
    size_t k = static_cast<size_t>(it - before.entries.begin());
    data[k] = r.data;
    if (r.meta) meta[k] = *r.meta;
  }

  Bytes entryTable;
  for (size_t k = 0; k < after.entries.size(); ++k) {
    SCOPED_TRACE("entry " + std::to_string(k));
    const ParsedEntry& e = after.entries[k];
    EXPECT_EQ(e.name_id, before.entries[k].name_id);
    EXPECT_EQ(e.ext_id, before.entries[k].ext_id);
    EXPECT_EQ(e.type_byte, before.entries[k].type_byte);
    EXPECT_EQ(e.raw_size, data[k].size());
    EXPECT_TRUE(SameBytes(e.data, data[k])) << "data";
    EXPECT_TRUE(SameBytes(e.meta, meta[k])) << "metadata";
    PutU32(entryTable, static_cast<uint32_t>(data[k].size()));
    PutU32(entryTable, static_cast<uint32_t>(meta[k].size()));
    PutBytes(entryTable, meta[k]);
  }
  // The locations themselves are held to the layout rules by CheckWrittenPackage.
  for (const ParsedEntry& e : after.entries) PutU32(entryTable, e.location);
  EXPECT_TRUE(SameBytes(after.entry_table, entryTable)) << "EntryTable";

  // The tool compresses at level 0: every stream it writes holds stored blocks only.
  std::vector<std::pair<uint64_t, uint64_t>> streams;  // archive position, length
  if (header.split_compress != 0) {
    for (const ParsedEntry& e : after.entries) {
      streams.push_back({after.start + e.block_offset + 4, e.block_size - 4});
    }
  } else {
    streams.push_back({after.start + header.data_offset + 4, after.end - header.data_offset - 4});
  }
  for (const auto& [at, size] : streams) {
    EXPECT_TRUE(IsStoredStream(archive, at, size))
        << "the zlib stream at " << at << " is not one of level 0";
  }
}

}  // namespace vtest
