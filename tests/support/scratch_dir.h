// Temporary directories and whole-file helpers for tests.
#ifndef VINTREL_TESTS_SUPPORT_SCRATCH_DIR_H_
#define VINTREL_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace vtest {

// A fresh, empty directory under the system temp directory ("vintrel-test-XXXXXXXX"), removed
// with everything in it on destruction. Creation failure aborts the test (ADD_FAILURE is not
// available here, so it prints and calls std::abort): tests cannot go on without it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / relative; creates nothing.
  std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }
  // Creates (with parents) and returns path() / relative.
  std::filesystem::path MakeDir(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

// Whole-file I/O. Writers create parent directories and truncate; all return success.
bool WriteFile(const std::filesystem::path& path, const Bytes& bytes);
bool WriteTextFile(const std::filesystem::path& path, const std::string& text);
std::optional<Bytes> ReadFile(const std::filesystem::path& path);
std::optional<std::string> ReadTextFile(const std::filesystem::path& path);

// Copies a directory tree (regular files and directories). Returns success.
bool CopyTree(const std::filesystem::path& from, const std::filesystem::path& to);

// True when both are readable regular files with identical bytes.
bool FilesEqual(const std::filesystem::path& a, const std::filesystem::path& b);

// Compares two directory trees byte for byte. Returns the relative paths (generic form, "/"
// separators, sorted) that differ: present on one side only, different type, or different
// bytes. Empty when the trees are identical.
std::vector<std::string> DiffTrees(const std::filesystem::path& a, const std::filesystem::path& b);

// Relative paths (generic form, sorted) of all regular files under `dir`.
std::vector<std::string> ListFiles(const std::filesystem::path& dir);

}  // namespace vtest

#endif  // VINTREL_TESTS_SUPPORT_SCRATCH_DIR_H_
