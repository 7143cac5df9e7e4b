#include "tests/support/scratch_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <system_error>

namespace vtest {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = fs::current_path();
  // Seeded from the clock and a device: tests of several processes run side by side.
  std::random_device device;
  std::mt19937_64 random(
      device() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "vintrel-test-%08x", static_cast<unsigned>(random()));
    fs::path candidate = base / name;
    if (fs::create_directory(candidate, ec) && !ec) {
      path_ = candidate;
      return;
    }
  }
  std::fprintf(stderr, "cannot create a scratch directory under %s\n", base.string().c_str());
  std::abort();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path ScratchDir::MakeDir(const std::string& relative) const {
  fs::path dir = path_ / relative;
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

bool WriteFile(const fs::path& path, const Bytes& bytes) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool WriteTextFile(const fs::path& path, const std::string& text) {
  return WriteFile(path, Bytes(text.begin(), text.end()));
}

std::optional<Bytes> ReadFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.insert(bytes.end(), buffer, buffer + in.gcount());
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<std::string> ReadTextFile(const fs::path& path) {
  std::optional<Bytes> bytes = ReadFile(path);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

bool CopyTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (ec) return false;
  // File by file, replacing by removal first: libstdc++ on Windows fails copies with
  // overwrite_existing ("File exists"), even of a tree into an empty directory.
  for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path target = to / it->path().lexically_relative(from);
    if (it->is_directory(ec)) {
      fs::create_directories(target, ec);
    } else if (!ec) {
      fs::remove(target, ec);
      if (!ec) fs::copy_file(it->path(), target, ec);
    }
    if (ec) return false;
  }
  return !ec;
}

bool FilesEqual(const fs::path& a, const fs::path& b) {
  std::optional<Bytes> left = ReadFile(a);
  std::optional<Bytes> right = ReadFile(b);
  return left && right && *left == *right;
}

std::vector<std::string> ListFiles(const fs::path& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec))
      files.push_back(it->path().lexically_relative(dir).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

namespace {

// Relative paths of every entry (files and directories) under `dir`, with a kind tag.
std::vector<std::pair<std::string, bool>> ListTree(const fs::path& dir) {
  std::vector<std::pair<std::string, bool>> items;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    items.emplace_back(it->path().lexically_relative(dir).generic_string(), it->is_directory(ec));
  }
  std::sort(items.begin(), items.end());
  return items;
}

}  // namespace

std::vector<std::string> DiffTrees(const fs::path& a, const fs::path& b) {
  std::vector<std::pair<std::string, bool>> left = ListTree(a);
  std::vector<std::pair<std::string, bool>> right = ListTree(b);
  std::vector<std::string> differ;
  size_t i = 0, j = 0;
  while (i < left.size() || j < right.size()) {
    if (j == right.size() || (i < left.size() && left[i].first < right[j].first)) {
      differ.push_back(left[i++].first);
    } else if (i == left.size() || right[j].first < left[i].first) {
      differ.push_back(right[j++].first);
    } else {
      const std::string& name = left[i].first;
      if (left[i].second != right[j].second) {
        differ.push_back(name);
      } else if (!left[i].second && !FilesEqual(a / fs::u8path(name), b / fs::u8path(name))) {
        differ.push_back(name);
      }
      ++i;
      ++j;
    }
  }
  return differ;
}

}  // namespace vtest
