#include "base/file_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
  std::string name;
  FileNameProblem problem;
};

TEST(FileName, ProblemsOfOneComponent) {
  const NameCase cases[] = {
      {"hero.dds", FileNameProblem::kUsable},
      {"h\xC3\xA9ros", FileNameProblem::kUsable},
      {".hidden", FileNameProblem::kUsable},
      {"console", FileNameProblem::kUsable},
      {"com10", FileNameProblem::kUsable},
      {"", FileNameProblem::kEmpty},
      {".", FileNameProblem::kDots},
      {"..", FileNameProblem::kDots},
      {std::string(255, 'a'), FileNameProblem::kUsable},
      {std::string(256, 'a'), FileNameProblem::kTooLong},
      {"caf\xE9", FileNameProblem::kNotUtf8},
      {"tab\there", FileNameProblem::kControl},
      {"del\x7F", FileNameProblem::kControl},
      {"C:", FileNameProblem::kRefusedChar},
      {"file:stream", FileNameProblem::kRefusedChar},
      {"a<b", FileNameProblem::kRefusedChar},
      {"what?", FileNameProblem::kRefusedChar},
      {"star*", FileNameProblem::kRefusedChar},
      {"pipe|", FileNameProblem::kRefusedChar},
      {"\"quoted\"", FileNameProblem::kRefusedChar},
      {"name.", FileNameProblem::kTrailingDot},
      {"name ", FileNameProblem::kTrailingDot},
      {"CON", FileNameProblem::kDevice},
      {"nul.txt", FileNameProblem::kDevice},
      {"Aux .dds", FileNameProblem::kDevice},
      {"com0", FileNameProblem::kDevice},
      {"LPT9.bin", FileNameProblem::kDevice},
      {"com\xC2\xB9", FileNameProblem::kDevice},
      {"CONOUT$", FileNameProblem::kDevice},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(file_name_problem(c.name.data(), static_cast<uint32_t>(c.name.size())), c.problem)
        << c.name;
  }
}

TEST(FileName, FoldsCaseAsFileSystemsThatIgnoreIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"UI\\Hero.DDS", "ui/hero.dds"},
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},                // É -> é
      {"\xC3\x97", "\xC3\x97"},                                  // × stays
      {"\xC4\x80\xC5\xB8", "\xC4\x81\xC3\xBF"},                  // Ā -> ā, Ÿ -> ÿ
      {"\xCE\xA9\xD0\x96\xD0\x81", "\xCF\x89\xD0\xB6\xD1\x91"},  // Ω Ж Ё
      {"\xE6\xA8\xA1\xE9", "\xE6\xA8\xA1\xE9"},                  // other scripts, stray bytes stay
  };
  CStringBufferA folded;
  for (const auto& [path, expected] : cases) {
    ASSERT_TRUE(fold_path_case(path.data(), static_cast<uint32_t>(path.size()), folded));
    EXPECT_EQ(std::string(folded.Data(), folded.Length()), expected) << path;
  }
}

}  // namespace
