#include "json/json_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json/json_stores.h"
#include "tests/support/alloc_failure.h"

namespace {

// The references that the process key table holds on the key of that text; 0 when none.
uint32_t KeyRefs(const char* text) {
  JsonKey probe(JsonKeys, text);
  uint32_t refcount = 0;
  uint32_t used = 0;
  if (probe.Get() == nullptr || !JsonKeys.Inspect(probe.Get(), &refcount, &used)) return 0;
  return refcount - 1;
}

JsonRef NewString(const char* text) {
  JsonRef value = NewValue();
  value->SetString(text);
  return value;
}

JsonRef NewNumber(double number) {
  JsonRef value = NewValue();
  value->SetNumber(number);
  return value;
}

// Slots in use in both pools, to see that a test gives everything back.
struct PoolUsage {
  uint32_t values = JsonValuePool.InUseCount();
  uint32_t members = JsonMemberPool.InUseCount();
};

#define EXPECT_POOLS_BACK_TO(before)                          \
  do {                                                        \
    EXPECT_EQ(JsonValuePool.InUseCount(), (before).values);   \
    EXPECT_EQ(JsonMemberPool.InUseCount(), (before).members); \
  } while (0)

}  // namespace

TEST(JsonValue, NewContainersStartEmptyWithOneReference) {
  JsonRef object = NewObject();
  JsonRef array = NewArray();
  ASSERT_TRUE(object && array);
  EXPECT_EQ(object->type, JsonType::Object);
  EXPECT_EQ(array->type, JsonType::Array);
  EXPECT_EQ(object->refcount, 1u);
  EXPECT_EQ(object->FirstMember(), nullptr);
  JsonRef plain = NewValue();
  EXPECT_EQ(plain->type, JsonType::Null);
}

TEST(JsonRef, CopyAndAssignmentCountReferences) {
  const PoolUsage before;
  {
    JsonRef a = NewObject();
    JsonRef copy = a;
    EXPECT_EQ(a->refcount, 2u);
    copy = copy;
    EXPECT_EQ(a->refcount, 2u);
    // Assigning a handle of the same value: the value gains before it loses, so it survives.
    JsonRef alias(a.Get());
    a.Release();
    copy.Release();
    alias = JsonRef(alias.Get());
    EXPECT_EQ(alias->refcount, 1u);
    EXPECT_EQ(alias->type, JsonType::Object);

    JsonRef other = NewArray();
    alias = other;
    EXPECT_EQ(other->refcount, 2u);
    JsonRef moved = std::move(other);
    EXPECT_TRUE(other.IsEmpty());
    EXPECT_EQ(moved->refcount, 2u);
  }
  EXPECT_POOLS_BACK_TO(before);
}

TEST(JsonNull, IsNeverChangedNorCounted) {
  JsonRef handles[5];
  for (JsonRef& handle : handles) handle = JsonRef(&JsonNull);
  JsonNull.SetString("x");
  JsonNull.SetNumber(3);
  JsonNull.SetBool(true);
  EXPECT_FALSE(JsonNull.SetType(JsonType::Object));
  JsonNull.Reset();
  JsonNull.Clear();
  EXPECT_FALSE(JsonNull.Append(NewValue()));
  EXPECT_FALSE(JsonNull.AddMember("a", NewValue()));
  JsonRef copy = handles[0];
  copy.Release();
  EXPECT_EQ(JsonNull.refcount, 1u);
  EXPECT_EQ(JsonNull.type, JsonType::Null);
  EXPECT_EQ(JsonNull.payload.integer, 0);
}

TEST(JsonValue, SetTypeChangesTheTypeAndEmptiesTheValue) {
  JsonRef value = NewString("abc");
  EXPECT_STREQ(value->Text(), "abc");
  EXPECT_TRUE(value->SetType(JsonType::String));
  EXPECT_STREQ(value->Text(), "");
  value->SetNumber(2.5);
  EXPECT_TRUE(value->SetType(JsonType::Number));
  EXPECT_EQ(value->payload.number, 0.0);
  value->SetBool(true);
  value->Reset();
  EXPECT_FALSE(value->payload.flag);
  value->SetString(nullptr);
  EXPECT_EQ(value->type, JsonType::String);
  EXPECT_STREQ(value->Text(), "");
  value->Clear();
  EXPECT_EQ(value->type, JsonType::Null);
  EXPECT_EQ(value->payload.integer, 0);
}

TEST(JsonValue, SetStringTakesItsOwnTextSafely) {
  JsonRef value = NewString("a longer text");
  value->SetString(value->Text());
  EXPECT_STREQ(value->Text(), "a longer text");
  value->SetString(value->Text() + 2);
  EXPECT_STREQ(value->Text(), "longer text");
}

TEST(JsonValue, ContainerRefusesTheOtherKindOfElement) {
  const PoolUsage before;
  {
    JsonRef object = NewObject();
    JsonRef array = NewArray();
    JsonRef element = NewNumber(1);
    EXPECT_FALSE(object->Append(element));
    EXPECT_FALSE(array->AddMember("a", element));
    EXPECT_FALSE(object->AddMember(nullptr, element));
    EXPECT_FALSE(object->AddMember("a", JsonRef()));
    EXPECT_FALSE(array->Append(JsonRef()));
    EXPECT_EQ(element->refcount, 1u);
    EXPECT_EQ(object->FirstMember(), nullptr);
    EXPECT_EQ(array->FirstMember(), nullptr);

    EXPECT_TRUE(array->Append(element));
    EXPECT_EQ(element->refcount, 2u);
    EXPECT_EQ(array->FirstMember()->key, nullptr);
  }
  EXPECT_POOLS_BACK_TO(before);
}

TEST(JsonValue, EqualKeysAreKeptInOrderAndTheFirstIsFound) {
  JsonRef object = NewObject();
  ASSERT_TRUE(object->AddMember("k", NewNumber(1)));
  ASSERT_TRUE(object->AddMember("k", NewNumber(2)));
  JsonRef found = object->FindMember("k");
  EXPECT_EQ(found->payload.number, 1.0);
  JsonMember* first = object->FirstMember();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->next, nullptr);
  EXPECT_EQ(first->key, first->next->key);
  EXPECT_EQ(first->next->GetValue()->payload.number, 2.0);
  EXPECT_EQ(first->next->next, nullptr);
}

TEST(JsonValue, LookupsOfAbsentMembersAndOnOtherTypes) {
  JsonRef object = NewObject();
  object->AddMember("five", NewNumber(5));
  object->AddMember("text", NewString("abc"));

  JsonRef absent = object->FindMember("missing");
  ASSERT_TRUE(absent);
  EXPECT_EQ(absent.Get(), &JsonNull);
  EXPECT_STREQ(object->GetMemberString("missing", "fb"), "fb");
  EXPECT_EQ(object->GetMemberString("missing", nullptr), nullptr);
  EXPECT_FALSE(object->GetMemberBool("missing"));
  EXPECT_STREQ(object->GetMemberString("five", "fb"), "fb");
  EXPECT_TRUE(object->GetMemberBool("five"));
  EXPECT_STREQ(object->GetMemberString("text", "fb"), "abc");
  EXPECT_EQ(object->FindMember(nullptr).Get(), &JsonNull);

  JsonRef receivers[] = {NewArray(), NewNumber(1), NewValue(), JsonRef(&JsonNull)};
  for (JsonRef& receiver : receivers) {
    EXPECT_TRUE(receiver->FindMember("five").IsEmpty());
    EXPECT_STREQ(receiver->GetMemberString("five", "fb"), "fb");
    EXPECT_FALSE(receiver->GetMemberBool("five"));
  }
}

TEST(JsonValue, RepeatedLookupsLeaveKeyCountsAlone) {
  JsonRef object = NewObject();
  object->AddMember("lookup_key", NewNumber(1));
  const uint32_t refs = KeyRefs("lookup_key");
  EXPECT_EQ(refs, 1u);
  for (int i = 0; i < 10; ++i) {
    object->FindMember("lookup_key");
    object->GetMemberString("lookup_key", nullptr);
    object->GetMemberBool("absent_lookup_key");
  }
  EXPECT_EQ(KeyRefs("lookup_key"), refs);
  object.Release();
  EXPECT_EQ(KeyRefs("lookup_key"), 0u);
}

TEST(JsonValue, ToBoolFollowsTheTruthTable) {
  const struct {
    const char* text;
    bool expected;
  } kStrings[] = {
      {"1", true},   {" 7", true},    {"\t\n-3x", true}, {"99999999999999999999", true},
      {"0", false},  {"true", false}, {"0x10", false},   {"", false},
      {"+0", false}, {"-", false},    {"00000", false},  {"\v\f+0009", true},
  };
  for (const auto& c : kStrings) EXPECT_EQ(NewString(c.text)->ToBool(), c.expected) << c.text;

  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double number;
    bool expected;
  } kNumbers[] = {
      {0.5, false},
      {0.9, false},
      {-0.9, false},
      {-0.0, false},
      {-1.0, true},
      {1.0, true},
      {1e300, true},
      {-inf, true},
      {inf, true},
      {std::nan(""), true},
      {9223372036854775808.0, true},
      {-9223372036854775808.0, true},
      {9223372036854774784.0, true},
  };
  for (const auto& c : kNumbers) EXPECT_EQ(NewNumber(c.number)->ToBool(), c.expected) << c.number;

  JsonRef value = NewValue();
  EXPECT_FALSE(value->ToBool());
  value->SetBool(true);
  EXPECT_TRUE(value->ToBool());
  value->SetBool(false);
  EXPECT_FALSE(value->ToBool());
  value->SetType(JsonType::Integer);
  EXPECT_FALSE(value->ToBool());
  value->payload.integer = -5;
  EXPECT_TRUE(value->ToBool());
  EXPECT_FALSE(NewObject()->ToBool());
  EXPECT_FALSE(NewArray()->ToBool());
}

TEST(JsonValue, DroppingADocumentReturnsEverySlotAndKey) {
  const PoolUsage before;
  {
    JsonRef root = NewObject();
    JsonRef files = NewArray();
    root->AddMember("drop_files", files);
    for (int i = 0; i < 300; ++i) {
      JsonRef entry = NewObject();
      entry->AddMember("drop_name", NewString("x.dds"));
      entry->AddMember("drop_pkg", NewNumber(i));
      files->Append(entry);
    }
    EXPECT_EQ(KeyRefs("drop_name"), 300u);
    EXPECT_EQ(JsonValuePool.InUseCount(), before.values + 2 + 300 * 3);
  }
  EXPECT_POOLS_BACK_TO(before);
  EXPECT_EQ(KeyRefs("drop_files"), 0u);
  EXPECT_EQ(KeyRefs("drop_name"), 0u);
}

TEST(JsonValue, MissingPayloadReadsAsEmpty) {
  const PoolUsage before;
  {
    JsonRef text = NewValue();
    JsonRef object = NewValue();
    JsonRef array = NewValue();
    AllocFailureScope failure;
    failure.FailAll();
    const bool textSet = text->SetType(JsonType::String);
    const bool objectSet = object->SetType(JsonType::Object);
    const bool arraySet = array->SetType(JsonType::Array);
    failure.Restore();
    EXPECT_FALSE(textSet || objectSet || arraySet);
    EXPECT_EQ(text->type, JsonType::String);
    EXPECT_EQ(object->type, JsonType::Object);
    EXPECT_STREQ(text->Text(), "");
    EXPECT_FALSE(text->ToBool());
    text->Reset();
    object->Reset();
    object->RemoveAllMembers();
    EXPECT_EQ(object->FirstMember(), nullptr);
    EXPECT_FALSE(object->AddMember("a", NewValue()));
    EXPECT_FALSE(array->Append(NewValue()));
    EXPECT_EQ(object->FindMember("a").Get(), &JsonNull);
    // A later SetType with memory to spare repairs the value.
    EXPECT_TRUE(object->SetType(JsonType::Object));
    EXPECT_TRUE(object->AddMember("a", NewValue()));
    text->SetString("back");
    EXPECT_STREQ(text->Text(), "back");
    array->Clear();
    EXPECT_EQ(array->type, JsonType::Null);
  }
  EXPECT_POOLS_BACK_TO(before);
}

TEST(JsonValue, HeapFailuresFailTheOperationAndLeaveNothingBehind) {
  const PoolUsage before;
  {
    AllocFailureScope failure;
    failure.FailAll();
    JsonRef object = NewObject();  // the slot may come from a free list, the list block cannot
    failure.Restore();
    EXPECT_TRUE(object.IsEmpty());
  }
  {
    JsonRef value = NewValue();
    AllocFailureScope failure;
    failure.FailNth(2);  // the SharedString block succeeds, the text block fails
    value->SetString("abc");
    failure.Restore();
    EXPECT_EQ(value->type, JsonType::String);
    EXPECT_STREQ(value->Text(), "");
  }
  {
    // The key cannot be interned: the member is added without a key and is never found.
    JsonRef object = NewObject();
    JsonRef member = NewNumber(1);
    {
      // A member slot must be free beforehand, or the failing heap stops AddMember earlier
      // (when the test runs alone in its process, the member pool has no block yet).
      JsonRef warm = NewObject();
      warm->AddMember("warm", NewNumber(0));
    }
    AllocFailureScope failure;
    failure.FailAll();
    const bool added = object->AddMember("never_interned_key", member);
    failure.Restore();
    EXPECT_TRUE(added);
    ASSERT_NE(object->FirstMember(), nullptr);
    EXPECT_EQ(object->FirstMember()->key, nullptr);
    EXPECT_EQ(object->FindMember("never_interned_key").Get(), &JsonNull);
  }
  EXPECT_POOLS_BACK_TO(before);
}
