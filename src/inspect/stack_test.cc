#include "inspect/stack.h"

#include <gtest/gtest.h>

#include <string>

#include "driver/config.h"
#include "driver/name_hash.h"

namespace {

struct File {
  const char* name;
  const char* ext;
  const char* pkg;  // null: every package
};

// Appends the files to mod's configuration, as load_config would, shadowing marked.
void AddFiles(StackMod& mod, std::initializer_list<File> files) {
  for (const File& file : files) {
    PackFileEntry* entry = PackFileEntryList::NewEntry();
    ASSERT_NE(entry, nullptr);
    entry->nameId = name_hash(file.name);
    entry->extId = name_hash(file.ext);
    entry->packageId = file.pkg != nullptr ? name_hash(file.pkg) : 0;
    entry->name.Assign(file.name);
    entry->ext.Assign(file.ext);
    entry->pkg.Assign(file.pkg);
    entry->sourcePath.Assign((std::string(mod.dir) + "\\" + file.name).c_str());
    ASSERT_TRUE(mod.context.entries.Append(entry));
  }
  mark_shadowed_entries(mod.context.entries);
}

// "mod:name" of every file of the stack, in its order, with "!" for one left out.
std::string Order(const Stack& stack, const StackMod* mods) {
  std::string order;
  for (const PackFileEntry* file = stack.files().head(); file != nullptr; file = file->next) {
    const StackPlace& place = stack.place(file->index);
    order += std::string(mods[place.mod].dir) + ":" + place.file->name.Text() +
             (place.file->pkg.IsEmpty() ? "" : std::string("@") + place.file->pkg.Text()) +
             (file->shadowedBy != 0 ? "!" : "") + " ";
  }
  return order;
}

// "winner>loser" of every conflict, by places, with "!" when the loser is left out.
std::string Conflicts(const Stack& stack) {
  std::string conflicts;
  for (uint32_t i = 0; i < stack.conflict_count(); ++i) {
    const StackConflict& conflict = stack.conflict(i);
    conflicts += std::to_string(conflict.winner) + ">" + std::to_string(conflict.loser) +
                 (conflict.shadowed ? "!" : "") + " ";
  }
  return conflicts;
}

TEST(Stack, LaterModsFirstAndWhatTheyShadowLeftOut) {
  StackMod mods[3];
  mods[0].dir = "a";
  mods[1].dir = "b";
  mods[2].dir = "c";
  AddFiles(mods[0], {{"hero", "dds", "ui"}, {"menu", "txt", nullptr}, {"map", "dds", nullptr}});
  AddFiles(mods[1], {{"hero", "dds", nullptr}, {"menu", "loc", nullptr}});
  AddFiles(mods[2], {{"map", "dds", "world"}, {"menu", "txt", nullptr}});
  Stack stack;
  ASSERT_TRUE(stack.Build(mods, 3));
  EXPECT_EQ(Order(stack, mods), "c:map@world c:menu b:hero b:menu a:hero@ui! a:menu! a:map ");
  // a's generic map loses only in "world"; a's menu loses everywhere; the other ext is no
  // conflict.
  EXPECT_EQ(Conflicts(stack), "3>5! 2>6! 1>7 ");
  EXPECT_EQ(stack.place_of(0, 3), 7u);
  EXPECT_EQ(stack.place_of(2, 1), 1u);
}

TEST(Stack, AModsOwnFilesAreNoConflict) {
  StackMod mods[2];
  mods[0].dir = "a";
  mods[1].dir = "b";
  AddFiles(mods[0], {{"hero", "dds", nullptr}, {"hero", "dds", nullptr}});
  AddFiles(mods[1], {{"hero", "dds", "ui"}, {"hero", "dds", "ui"}});
  Stack stack;
  ASSERT_TRUE(stack.Build(mods, 2));
  EXPECT_EQ(Order(stack, mods), "b:hero@ui b:hero@ui! a:hero a:hero! ");
  // The shadowed second file of b wins nothing, so it conflicts with nothing.
  EXPECT_EQ(Conflicts(stack), "1>3 1>4! ");
}

TEST(RelativePath, FromOneFullPathToAnother) {
  const struct {
    const char* from;
    const char* to;
    const char* expected;  // null: refused
  } cases[] = {
      {"/a/b/out", "/a/c", "../../c"},
      {"/a/out", "/a/out/mods/m", "mods/m"},
      {"/a/out", "/a/out", ""},
      {"/", "/m", "m"},
      {"C:\\x\\out", "c:\\x\\m", "../m"},
      {"C:\\out", "D:\\m", nullptr},
      {"\\\\s\\share\\out", "\\\\S\\share\\m", "../m"},
      {"\\\\s\\share\\out", "\\\\s\\other\\m", nullptr},
  };
  for (const auto& c : cases) {
    CStringBufferA out;
    EXPECT_EQ(relative_path(c.from, c.to, out), c.expected != nullptr) << c.from << " " << c.to;
    EXPECT_STREQ(out.Data(), c.expected != nullptr ? c.expected : "") << c.from << " " << c.to;
  }
}

}  // namespace
