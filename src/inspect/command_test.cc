#include "inspect/command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int ignore(const CommandArgs&) { return 0; }

const CommandSpec kStack = {"stack", "OUTDIR MODDIR... [--upak NAME] [--game GAMEDIR] [--json]",
                            "",      "",
                            2,       kOptionJson | kOptionUpak | kOptionGame,
                            ignore,  true};
const CommandSpec kRestore = {"restore", "GAMEDIR [--after-update] [--upak NAME]", "",    "",
                              1,         kOptionAfterUpdate | kOptionUpak,         ignore};

struct Parsed {
  ParseResult result;
  std::vector<std::string> positionals;
  CommandArgs args;
};

// Parses words as the command line after the command's name; argv outlives the result's pointers.
Parsed parse(const CommandSpec& command, std::vector<std::string>& words) {
  std::vector<char*> argv = {const_cast<char*>("inspect"), const_cast<char*>(command.name)};
  for (std::string& word : words) argv.push_back(&word[0]);
  Parsed parsed{};
  parsed.result =
      parse_command_args(command, static_cast<int>(argv.size()), argv.data(), 2, &parsed.args);
  for (uint32_t i = 0; i < parsed.args.positionalCount; ++i) {
    parsed.positionals.push_back(parsed.args.positional[i]);
  }
  return parsed;
}

TEST(ParseCommandArgs, ArgumentsStandTogetherInTheirOrderWhereverTheOptionsLie) {
  std::vector<std::string> words = {"--upak", "mine", "out", "--json", "a", "--game=g", "b", "c"};
  const Parsed parsed = parse(kStack, words);
  ASSERT_EQ(parsed.result, ParseResult::kRun);
  EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"out", "a", "b", "c"}));
  EXPECT_STREQ(parsed.args.upak, "mine");
  EXPECT_STREQ(parsed.args.game, "g");
  EXPECT_TRUE(parsed.args.json);
}

TEST(ParseCommandArgs, UsageErrors) {
  const struct {
    const CommandSpec* command;
    std::vector<std::string> words;
  } cases[] = {
      {&kStack, {"out"}},                                  // too few arguments
      {&kStack, {"out", "a", "--upak"}},                   // an option without its value
      {&kStack, {"out", "a", "--upak", "x", "--upak=y"}},  // an option twice
      {&kStack, {"out", "a", "--after-update"}},           // an option the command does not take
      {&kRestore, {"g", "h"}},                             // a further argument
      {&kRestore, {"g", "--after-update", "--after-update"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words = c.words;
    EXPECT_EQ(parse(*c.command, words).result, ParseResult::kUsageError) << words.size();
  }
}

TEST(ParseCommandArgs, AfterTwoDashesEveryWordIsAnArgument) {
  std::vector<std::string> words = {"--after-update", "--", "--upak"};
  const Parsed parsed = parse(kRestore, words);
  ASSERT_EQ(parsed.result, ParseResult::kRun);
  EXPECT_TRUE(parsed.args.afterUpdate);
  EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"--upak"}));
}

}  // namespace
