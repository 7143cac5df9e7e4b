#include "driver/pack_file_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "driver/pack_file_entry.h"
#include "tests/support/alloc_failure.h"

namespace {

struct Ids {
  uint64_t name;
  uint64_t ext;
  uint64_t package;  // 0: every package
};

// What the configuration promises: the first record of the list, in order, that matches.
const PackFileEntry* walk(const PackFileEntryList& list, uint64_t nameId, uint64_t extId,
                          uint64_t packageId) {
  for (const PackFileEntry* entry = list.head(); entry != nullptr; entry = entry->next) {
    if (entry->nameId == nameId && entry->extId == extId &&
        (entry->packageId == 0 || entry->packageId == packageId)) {
      return entry;
    }
  }
  return nullptr;
}

PackFileEntry* new_entry(const Ids& ids) {
  PackFileEntry* entry = PackFileEntryList::NewEntry();
  if (entry == nullptr) return nullptr;
  entry->nameId = ids.name;
  entry->extId = ids.ext;
  entry->packageId = ids.package;
  return entry;
}

// Asks Find every question a package could ask of these records (each name and extension with
// every package id they mention, package id 0, a package no record names, and ids next to the
// real ones) and compares each answer with the walk's.
void expect_same_answers(const PackFileEntryList& list, const std::vector<Ids>& records) {
  std::set<uint64_t> packages = {0, 0xD15EA5E};
  std::set<std::pair<uint64_t, uint64_t>> asked;
  for (const Ids& r : records) {
    packages.insert(r.package);
    asked.insert({{r.name, r.ext}, {r.name + 1, r.ext}, {r.name, r.ext + 1}});
  }
  for (const auto& [name, ext] : asked) {
    for (uint64_t package : packages) {
      EXPECT_EQ(list.Find(name, ext, package), walk(list, name, ext, package))
          << std::hex << name << " " << ext << " in package " << package;
    }
  }
}

// count sets of ids that share the low 20 bits of their hash, and so a home slot at every table
// size the tests reach; alternate ones are restricted to a package.
std::vector<Ids> colliding_ids(uint32_t count) {
  std::vector<Ids> ids;
  const uint64_t home = pack_file_key_hash(1, 7, 0) & 0xFFFFF;
  for (uint64_t name = 1; ids.size() < count; ++name) {
    const uint64_t package = ids.size() % 2 == 0 ? 0 : 42;
    if ((pack_file_key_hash(name, 7, package) & 0xFFFFF) == home) ids.push_back({name, 7, package});
  }
  return ids;
}

// A configuration of n records drawn from few names, extensions and packages: many duplicates,
// and the table grows several times on the way.
std::vector<Ids> crowded_ids(uint32_t n) {
  std::vector<Ids> ids;
  uint64_t state = 12345;
  for (uint32_t i = 0; i < n; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const uint64_t draw = state >> 33;
    ids.push_back({1000 + draw % 200, 10 + (draw >> 8) % 3,
                   (draw >> 12) % 4 == 0 ? 0 : 1 + (draw >> 14) % 6});
  }
  return ids;
}

TEST(PackFileIndex, FindsWhatTheListWalkFinds) {
  struct Case {
    const char* what;
    std::vector<Ids> records;
  };
  const Case cases[] = {
      {"no records", {}},
      {"one record for every package", {{1, 2, 0}}},
      {"duplicates", {{1, 2, 0}, {1, 2, 0}, {1, 2, 5}, {1, 2, 5}, {1, 2, 0}}},
      {"package-specific before generic", {{1, 2, 5}, {1, 2, 0}}},
      {"generic before package-specific", {{1, 2, 0}, {1, 2, 5}}},
      {"several packages around a generic one", {{1, 2, 5}, {1, 2, 6}, {1, 2, 0}, {1, 2, 7}}},
      {"same name, other extension; same extension, other name",
       {{1, 2, 0}, {1, 3, 5}, {4, 2, 5}, {4, 3, 0}}},
      {"ids that collide in the hash", colliding_ids(40)},
      {"a crowded configuration", crowded_ids(3000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PackFileEntryList list;
    for (const Ids& ids : c.records) ASSERT_TRUE(list.Append(new_entry(ids)));
    expect_same_answers(list, c.records);
  }
}

TEST(PackFileIndex, FailedGrowthLeavesTheListAsItWas) {
  const std::vector<Ids> records = crowded_ids(3000);
  PackFileEntryList list;
  ASSERT_TRUE(list.Append(new_entry(records[0])));  // the first table
  std::vector<Ids> kept = {records[0]};
  for (size_t i = 1; i < records.size(); ++i) {
    PackFileEntry* entry = new_entry(records[i]);
    ASSERT_NE(entry, nullptr);
    AllocFailureScope failure;
    failure.FailAll();
    const bool appended = list.Append(entry);
    failure.Restore();
    if (!appended) {
      PackFileEntryList::Discard(entry);
      break;
    }
    kept.push_back(records[i]);
  }
  ASSERT_LT(kept.size(), records.size());
  EXPECT_EQ(list.tail()->nameId, kept.back().name);
  expect_same_answers(list, kept);
}

TEST(PackFileIndex, ReservedRoomTakesNoAllocation) {
  const std::vector<Ids> records = crowded_ids(3000);
  std::vector<PackFileEntry*> entries;
  for (const Ids& ids : records) entries.push_back(new_entry(ids));
  PackFileEntryList list;
  ASSERT_TRUE(list.Reserve(static_cast<uint32_t>(entries.size())));
  AllocFailureScope failure;
  failure.FailAll();
  bool appended = true;
  for (PackFileEntry* entry : entries) appended = appended && list.Append(entry);
  failure.Restore();
  ASSERT_TRUE(appended);
  EXPECT_EQ(failure.allocations(), 0u);
  expect_same_answers(list, records);
}

}  // namespace
