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
const CommandSpec kMake = {"texture make",
                           "IN OUT (--game GAMEDIR --entry NAME EXT) [--resize]",
                           "",
                           "",
                           2,
                           kOptionGame | kOptionEntry | kOptionResize,
                           ignore};
const CommandSpec kExport = {
    "texture export", "FILE OUT | GAMEDIR NAME EXT OUT", "", "", 2, 0, ignore, false, nullptr, 2};
const CommandSpec kEntries = {
    "entries", "GAMEDIR PACKAGE [--names FILE]... [--json]", "", "", 2, kOptionJson | kOptionNames,
    ignore};

std::vector<std::string> values(const OptionValues& option) {
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < option.count; ++i) texts.push_back(option[i]);
  return texts;
}

// What a parse gave. The arguments and the repeated options' values are copied out of argv, which
// ends with the parse; args keeps the texts of the single options, which point into words.
struct Parsed {
  ParseResult result;
  std::vector<std::string> positionals;
  std::vector<std::string> names;
  std::vector<std::string> pkgs;
  std::vector<std::string> matches;
  CommandArgs args;
};

// Parses words as the command line after the command's name.
Parsed parse(const CommandSpec& command, std::vector<std::string>& words) {
  std::vector<char*> argv = {const_cast<char*>("inspect"), const_cast<char*>(command.name)};
  for (std::string& word : words) argv.push_back(&word[0]);
  Parsed parsed{};
  parsed.result =
      parse_command_args(command, static_cast<int>(argv.size()), argv.data(), 2, &parsed.args);
  if (parsed.result != ParseResult::kRun) return parsed;
  for (uint32_t i = 0; i < parsed.args.positionalCount; ++i) {
    parsed.positionals.push_back(parsed.args.positional[i]);
  }
  parsed.names = values(parsed.args.names);
  parsed.pkgs = values(parsed.args.pkgs);
  parsed.matches = values(parsed.args.matches);
  parsed.args.positional = nullptr;
  parsed.args.names = parsed.args.pkgs = parsed.args.matches = OptionValues();
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
      {&kEntries, {"g", "p", "--names"}},  // a repeatable option without its value
      {&kRestore, {"g", "--names", "a"}},
      {&kMake, {"in", "out", "--entry", "hero"}},  // --entry without its second value
      {&kMake, {"in", "out", "--resize", "--resize"}},
      {&kExport, {"a", "b", "c", "d", "e"}},  // more than the optional arguments
  };
  for (const auto& c : cases) {
    std::vector<std::string> words = c.words;
    EXPECT_EQ(parse(*c.command, words).result, ParseResult::kUsageError) << words.size();
  }
}

TEST(ParseCommandArgs, EntryTakesTwoValuesAndOptionalArgumentsCount) {
  std::vector<std::string> words = {"in", "--entry", "hero", "dds", "out", "--resize"};
  const Parsed parsed = parse(kMake, words);
  ASSERT_EQ(parsed.result, ParseResult::kRun);
  EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"in", "out"}));
  EXPECT_STREQ(parsed.args.entryName, "hero");
  EXPECT_STREQ(parsed.args.entryExt, "dds");
  EXPECT_TRUE(parsed.args.resize);
  std::vector<std::string> four = {"game", "hero", "dds", "out.png"};
  EXPECT_EQ(parse(kExport, four).positionals.size(), 4u);
}

TEST(ParseCommandArgs, AfterTwoDashesEveryWordIsAnArgument) {
  std::vector<std::string> words = {"--after-update", "--", "--upak"};
  const Parsed parsed = parse(kRestore, words);
  ASSERT_EQ(parsed.result, ParseResult::kRun);
  EXPECT_TRUE(parsed.args.afterUpdate);
  EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"--upak"}));
}

TEST(ParseCommandArgs, RepeatedValuesGatherInTheirOrderAfterTheArguments) {
  std::vector<std::string> words = {"--names", "a.txt",  "game",    "--names=b.txt",
                                    "pkg",     "--json", "--names", "c.txt"};
  const Parsed parsed = parse(kEntries, words);
  ASSERT_EQ(parsed.result, ParseResult::kRun);
  EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"game", "pkg"}));
  EXPECT_EQ(parsed.names, (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));

  // Several repeatable options, interleaved: each keeps its own values in order.
  const CommandSpec unpack = {"unpack", "GAMEDIR OUTDIR",
                              "",       "",
                              2,        kOptionNames | kOptionPkgs | kOptionMatch | kOptionMeta,
                              ignore};
  words = {"--match", "*.dds",  "g", "--pkg",         "p",     "--names",
           "n",       "--meta", "o", "--match=ui/**", "--pkg", "q"};
  const Parsed many = parse(unpack, words);
  ASSERT_EQ(many.result, ParseResult::kRun);
  EXPECT_EQ(many.positionals, (std::vector<std::string>{"g", "o"}));
  EXPECT_EQ(many.names, (std::vector<std::string>{"n"}));
  EXPECT_EQ(many.pkgs, (std::vector<std::string>{"p", "q"}));
  EXPECT_EQ(many.matches, (std::vector<std::string>{"*.dds", "ui/**"}));
  EXPECT_TRUE(many.args.meta);
}

TEST(SelectForm, TheWordAfterTheNameChoosesAForm) {
  const CommandSpec harvest = {"names harvest", "GAMEDIR", "", "", 1, 0, ignore};
  const CommandSpec* const forms[] = {&harvest, nullptr};
  CommandSpec names = {"names", "GAMEDIR", "", "", 1, kOptionJson, ignore};
  names.forms = forms;
  char* argv[] = {const_cast<char*>("inspect"), const_cast<char*>("names"),
                  const_cast<char*>("harvest"), const_cast<char*>("game")};
  int first = 2;
  EXPECT_EQ(&select_form(names, 4, argv, &first), &harvest);
  EXPECT_EQ(first, 3);
  argv[2] = const_cast<char*>("game");
  first = 2;
  EXPECT_EQ(&select_form(names, 3, argv, &first), &names);
  EXPECT_EQ(first, 2);
}

}  // namespace
