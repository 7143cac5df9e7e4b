#include "json/json_reader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "json/json_stores.h"
#include "tests/support/alloc_failure.h"

namespace {

// A compact text of a tree, to compare parse results whole: numbers with %.17g, strings with
// their raw bytes (only the quote and the backslash escaped), members as key:value.
void Dump(const JsonValue* value, std::string* out) {
  switch (value->type) {
    case JsonType::Null:
      *out += "null";
      break;
    case JsonType::Bool:
      *out += value->payload.flag ? "true" : "false";
      break;
    case JsonType::Number: {
      char text[40];
      std::snprintf(text, sizeof(text), "%.17g", value->payload.number);
      *out += text;
      break;
    }
    case JsonType::Integer:
      *out += std::to_string(value->payload.integer);
      break;
    case JsonType::String:
      *out += '"';
      for (const char* p = value->Text(); *p != 0; ++p) {
        if (*p == '"' || *p == '\\') *out += '\\';
        *out += *p;
      }
      *out += '"';
      break;
    case JsonType::Object:
    case JsonType::Array: {
      const bool object = value->type == JsonType::Object;
      *out += object ? '{' : '[';
      for (JsonMember* m = value->FirstMember(); m != nullptr; m = m->next) {
        if (m != value->FirstMember()) *out += ',';
        if (object) *out += std::string(m->key != nullptr ? m->key : "<none>") + ":";
        Dump(m->value.Get(), out);
      }
      *out += object ? '}' : ']';
      break;
    }
  }
}

// The dump of the parse result, or "FAIL" for an empty result.
std::string ParseToText(const char* text) {
  JsonRef root = JsonParse(text);
  if (!root) return "FAIL";
  std::string out;
  Dump(root.Get(), &out);
  return out;
}

double ParseSingleNumber(const std::string& number, bool* ok) {
  JsonRef root = JsonParse(("[" + number + "]").c_str());
  *ok = root && root->FirstMember() != nullptr &&
        root->FirstMember()->value->type == JsonType::Number;
  return *ok ? root->FirstMember()->value->payload.number : 0.0;
}

struct ParseCase {
  const char* text;
  const char* expected;  // the dump, or FAIL
};

void ExpectParses(const ParseCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(ParseToText(cases[i].text), cases[i].expected) << "input: " << cases[i].text;
  }
}

// Slots in use in both pools.
struct PoolUsage {
  uint32_t values = JsonValuePool.InUseCount();
  uint32_t members = JsonMemberPool.InUseCount();
  bool operator==(const PoolUsage& other) const {
    return values == other.values && members == other.members;
  }
};

const char kDocument[] =
    "{\"upak\": \"user\", \"fullcopy\": true, \"files\": [\n"
    "  {\"name\": \"a.dds\", \"pkg\": \"levels/x\", \"n\": -1.5e2},\n"
    "  {\"name\": \"b\\u00e9.loc\", \"list\": [null, false, {}], \"s\": \"\\ud83d\\ude00\"},\n"
    "]}";

}  // namespace

TEST(JsonParse, StructureAndGrammar) {
  const ParseCase kCases[] = {
      {"{}", "{}"},
      {" \r\n\t[]", "[]"},
      {"{\"a\":1,\"b\":[true,false,null]}", "{a:1,b:[true,false,null]}"},
      {"[1,]", "[1]"},
      {"{\"a\":1,}", "{a:1}"},
      {"[[],{}]", "[[],{}]"},
      {"{\"k\":1,\"k\":2}", "{k:1,k:2}"},
      {"{} ]]] x", "{}"},
      {"[]\x80", "[]"},
      {"[,]", "FAIL"},
      {"[,1]", "FAIL"},
      {"{,}", "FAIL"},
      {"[1,,2]", "FAIL"},
      {"{\"a\":1,,}", "FAIL"},
      {"{\"a\" 1}", "FAIL"},
      {"{\"a\":}", "FAIL"},
      {"[1 2]", "FAIL"},
      {"[1", "FAIL"},
      {"{\"a\":1", "FAIL"},
      {"{", "FAIL"},
      {"\"x\"", "FAIL"},
      {"1", "FAIL"},
      {"true", "FAIL"},
      {"false", "FAIL"},
      {"null", "FAIL"},
      {"", "FAIL"},
      {"   ", "FAIL"},
      {"\xEF\xBB\xBF{}", "FAIL"},
      {"{a:1}", "FAIL"},
      {"{\"a\":True}", "FAIL"},
      {"{\"a\":nul}", "FAIL"},
      {"{\"a\":1 /* c */}", "FAIL"},
      {"[1] // c", "[1]"},
      {"[identifier]", "FAIL"},
      {"[:]", "FAIL"},
      {"{\"a\":1:}", "FAIL"},
  };
  ExpectParses(kCases, sizeof(kCases) / sizeof(kCases[0]));
  EXPECT_EQ(ParseToText(nullptr), "FAIL");
}

TEST(JsonParse, BareWordsStringAndNumberRepeatTheLastLiteral) {
  const ParseCase kCases[] = {
      {"{\"key\": string}", "{key:\"key\"}"},
      {"[string]", "[\"\"]"},
      {"[number]", "[0]"},
      {"[2.5, number]", "[2.5,2.5]"},
      {"[\"a\", 3, string, number]", "[\"a\",3,\"a\",3]"},
      {"{\"x\":\"v\", string: 1}", "{x:\"v\",v:1}"},
  };
  ExpectParses(kCases, sizeof(kCases) / sizeof(kCases[0]));
}

TEST(JsonParse, Numbers) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* text;
    double value;
  } kAccepted[] = {
      {"1.05", 1.05},
      {"1e3", 1000.0},
      {"1E+3", 1000.0},
      {"2.5e-1", 0.25},
      {"+7", 7.0},
      {"007", 7.0},
      {"1. ", 1.0},
      {"-12", -12.0},
      {"0.5e1", 5.0},
      {"18446744073709551615", 18446744073709551615.0},
      {"1e2147483647", inf},
      {"1e-2147483647", 0.0},
      {"0.0000012345678901234567890", 1.234567890123456789e-6},
      {"0.0000000000000000000000000000001", 1e-31},
      {"3.000", 3.0},
      {"1.5e0010", 1.5e10},
  };
  for (const auto& c : kAccepted) {
    bool ok = false;
    const double value = ParseSingleNumber(c.text, &ok);
    EXPECT_TRUE(ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }

  bool ok = false;
  const double negativeZero = ParseSingleNumber("-0", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(negativeZero, 0.0);
  EXPECT_TRUE(std::signbit(negativeZero));

  const char* kRefused[] = {
      "1.",
      "1.]",
      "1.e5",
      "1.,2",
      "-",
      "- 1",
      "+",
      "1e",
      "1e+",
      "1e-",
      "1E ",
      "--1",
      "+-1",
      "18446744073709551616",
      "99999999999999999999",
      "1e2147483648",
      "1e99999999999",
      "0.123456789012345678901",
      "12abc",
      "1.5x",
      "1e5e",
      "0x10",
      ".5",
      "1.2.3",
  };
  for (const char* text : kRefused) {
    ParseSingleNumber(text, &ok);
    EXPECT_FALSE(ok) << text;
  }
}

TEST(JsonParse, NumberFollowedByOtherTokens) {
  const ParseCase kCases[] = {
      {"[1,2]", "[1,2]"},     {"[1.5]", "[1.5]"}, {"{\"a\":1}", "{a:1}"},     {"[1e2]", "[100]"},
      {"[1e2,3]", "[100,3]"}, {"[1\n]", "[1]"},   {"[1.25\t,2]", "[1.25,2]"},
  };
  ExpectParses(kCases, sizeof(kCases) / sizeof(kCases[0]));
}

TEST(JsonParse, NumbersIgnoreTheProcessLocale) {
  const char* const kLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"};
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const char* switched = nullptr;
  for (const char* name : kLocales) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) {
      switched = name;
      break;
    }
  }
  if (switched == nullptr) GTEST_SKIP() << "no locale with a decimal comma installed";
  bool ok = false;
  const double value = ParseSingleNumber("2.5", &ok);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_TRUE(ok);
  EXPECT_EQ(value, 2.5);
}

TEST(JsonParse, Strings) {
  const ParseCase kCases[] = {
      {"[\"\\/\"]", "[\"/\"]"},
      {"[\"\\x\"]", "[\"x\"]"},
      {"[\"\\\"\\\\\"]", "[\"\\\"\\\\\"]"},
      {"[\"\\b\\f\\n\\r\\t\"]", "[\"\b\f\n\r\t\"]"},
      {"[\"\\u0041\"]", "[\"A\"]"},
      {"[\"\\u00e9\"]", "[\"\xC3\xA9\"]"},
      {"[\"\\u00E9\"]", "[\"\xC3\xA9\"]"},
      {"[\"\\uDC00\"]", "[\"\xED\xB0\x80\"]"},
      {"[\"a\\u0000b\"]", "[\"a\"]"},
      {"[\"a\nb\"]", "[\"a\nb\"]"},
      {"[\"\t\x01\"]", "[\"\t\x01\"]"},
      {"[\"\\\xC3\xA9\"]", "[\"\xC3\xA9\"]"},
      {"[\"\xF0\x9F\x98\x80\"]", "[\"\xF0\x9F\x98\x80\"]"},
      {"[\"\\uD83D\\uDE00\"]", "[\"\xF0\x9F\x98\x80\"]"},
      {"[\"\\uD83DDE00\"]", "[\"\xF0\x9F\x98\x80\"]"},
      {"[\"\\uDBFF\\uDFFF\"]", "[\"\xF4\x8F\xBF\xBF\"]"},
      {"[\"\"]", "[\"\"]"},
      {"[\"\\\n\"]", "FAIL"},
      {"[\"\\", "FAIL"},
      {"[\"abc", "FAIL"},
      {"[\"abc]", "FAIL"},
      {"[\"\\u004\"]", "FAIL"},
      {"[\"\\u00G1\"]", "FAIL"},
      {"[\"\\uD83D\"]", "FAIL"},
      {"[\"\\uD83D\\u0041\"]", "FAIL"},
      {"[\"\\uD83D\\n\"]", "FAIL"},
      {"[\"\\uD83D0041\"]", "FAIL"},
      {"[\"\\uD83D\\uD83D\"]", "FAIL"},
  };
  ExpectParses(kCases, sizeof(kCases) / sizeof(kCases[0]));

  // A literal longer than the inline buffer moves to the heap whole.
  const std::string longText(1000, 'q');
  EXPECT_EQ(ParseToText(("[\"" + longText + "\"]").c_str()), "[\"" + longText + "\"]");
}

TEST(JsonParse, MalformedUtf8EndsTheText) {
  const char* kSequences[] = {"\x80",     "\xC0\xAF",     "\xED\xA0\x80",     "\xF4\x90\x80\x80",
                              "\xC1\x81", "\xE0\x80\x80", "\xF5\x80\x80\x80", "\xC3"};
  for (const char* bytes : kSequences) {
    const std::string inString = std::string("[\"a") + bytes + "\"]";
    const std::string between = std::string("[1,") + bytes + "2]";
    EXPECT_EQ(ParseToText(inString.c_str()), "FAIL") << inString;
    EXPECT_EQ(ParseToText(between.c_str()), "FAIL") << between;
  }
}

TEST(JsonParse, NestingBeyondTheLimitFails) {
  auto nested = [](int depth) {
    return std::string(static_cast<size_t>(depth), '[') +
           std::string(static_cast<size_t>(depth), ']');
  };
  EXPECT_NE(ParseToText(nested(kJsonMaxDepth).c_str()), "FAIL");
  EXPECT_EQ(ParseToText(nested(kJsonMaxDepth + 1).c_str()), "FAIL");
  std::string objects;
  for (int i = 0; i < kJsonMaxDepth; ++i) objects += "{\"a\":";
  EXPECT_EQ(ParseToText((objects + "1" + std::string(kJsonMaxDepth, '}')).c_str()).substr(0, 5),
            "{a:{a");
  EXPECT_EQ(ParseToText(("[" + objects + "1" + std::string(kJsonMaxDepth, '}') + "]").c_str()),
            "FAIL");

  const PoolUsage before;
  EXPECT_EQ(ParseToText(std::string(200000, '[').c_str()), "FAIL");
  EXPECT_TRUE(PoolUsage() == before);
}

TEST(JsonParse, EveryTruncationFailsAndEveryDamageIsSafe) {
  const PoolUsage before;
  const std::string document = kDocument;
  EXPECT_NE(ParseToText(document.c_str()), "FAIL");
  for (size_t length = 0; length < document.size(); ++length) {
    EXPECT_EQ(ParseToText(document.substr(0, length).c_str()), "FAIL") << "length " << length;
  }
  const char kDamage[] = {'\0', '"', '\\', '{', ']', ',', ':', '\x80', '\xFF', 'x', '9'};
  for (size_t at = 0; at < document.size(); ++at) {
    for (char byte : kDamage) {
      std::string damaged = document;
      damaged[at] = byte;
      ParseToText(damaged.c_str());
    }
  }
  EXPECT_TRUE(PoolUsage() == before);
}

TEST(JsonParse, FailureSaysWhereAndWhy) {
  struct Case {
    const char* text;
    uint32_t line;
    uint32_t column;
    const char* what;
  } cases[] = {
      {"", 1, 1, "expected '{' or '[' to begin the document"},
      {"{\n  \"upak\": \"a\"\n  \"files\": []}", 3, 3, "expected ',' or '}'"},
      {"{\"a\" 1}", 1, 6, "expected ':'"},
      {"{\"a\": }", 1, 7, "expected a value"},
      {"[1, 2", 1, 6, "expected ',' or ']'"},
      {"{\"caf\xC3\xA9\": [1 2]}", 1, 13, "expected ',' or ']'"},
      {"{\"a\": \"open", 1, 7, "a string is not closed, or holds an escape that is not valid"},
      {"[1.x]", 1, 2, "a number is malformed or too large"},
      {"{\"a\": @}", 1, 7, "unexpected character"},
      {"[\"a\", \xFF]", 1, 7, "the text is not valid UTF-8 here"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    JsonError error;
    EXPECT_TRUE(JsonParse(c.text, &error).IsEmpty());
    EXPECT_EQ(error.line, c.line);
    EXPECT_EQ(error.column, c.column);
    EXPECT_STREQ(error.what, c.what);
  }
}

TEST(JsonParse, DroppedDocumentGivesBackSlotsAndKeys) {
  const PoolUsage before;
  JsonRef root = JsonParse(kDocument);
  ASSERT_TRUE(root);
  EXPECT_STREQ(root->GetMemberString("upak", nullptr), "user");
  EXPECT_TRUE(root->GetMemberBool("fullcopy"));
  JsonRef files = root->FindMember("files");
  ASSERT_EQ(files->type, JsonType::Array);
  JsonMember* first = files->FirstMember();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->GetValue()->GetMemberString("name", nullptr), "a.dds");

  const char* nameKey = first->value->FirstMember()->key;
  uint32_t refcount = 0;
  uint32_t used = 0;
  ASSERT_TRUE(JsonKeys.Inspect(nameKey, &refcount, &used));
  EXPECT_EQ(refcount, 2u);
  files.Release();
  root.Release();
  ASSERT_TRUE(JsonKeys.Inspect(nameKey, &refcount, &used));
  EXPECT_EQ(refcount, 0u);
  EXPECT_TRUE(PoolUsage() == before);
}

TEST(JsonParse, AllocationFailuresGiveAnEmptyResultAndLeakNothing) {
  // Pin the document's keys and warm the pools, so that the only blocks a parse takes are its
  // own and every one of them must be back after the result is dropped.
  JsonRef pinned = JsonParse(kDocument);
  ASSERT_TRUE(pinned);
  JsonParse(kDocument);
  const PoolUsage before;
  uint32_t failuresSeen = 0;
  for (uint32_t n = 1;; ++n) {
    AllocFailureScope failure;
    failure.FailNth(n);
    JsonRef root = JsonParse(kDocument);
    root.Release();
    failure.Restore();
    if (failure.failed() == 0) {
      EXPECT_EQ(failure.outstanding(), 0);
      break;
    }
    ++failuresSeen;
    EXPECT_TRUE(root.IsEmpty()) << "allocation " << n;
    EXPECT_EQ(failure.outstanding(), 0) << "allocation " << n;
    EXPECT_TRUE(PoolUsage() == before) << "allocation " << n;
  }
  EXPECT_GE(failuresSeen, 5u);
}

TEST(JsonParse, ExhaustedPoolsAndKeyTableFailTheParse) {
  const char* kTexts[] = {"[1]", "{\"exhausted_pool_key\": 1}", "{\"a\": {}}"};
  for (const char* text : kTexts) {
    // Take every free slot, so that the next one needs a new block, then refuse the heap.
    std::vector<void*> values;
    std::vector<void*> members;
    while (JsonValuePool.FreeCount() > 0) values.push_back(JsonValuePool.TakeSlot());
    while (JsonMemberPool.FreeCount() > 0) members.push_back(JsonMemberPool.TakeSlot());
    const PoolUsage before;
    for (uint32_t n = 1; n < 10; ++n) {
      AllocFailureScope failure;
      failure.FailFromNth(n);
      JsonRef root = JsonParse(text);
      const bool empty = root.IsEmpty();
      root.Release();
      failure.Restore();
      EXPECT_TRUE(empty || failure.failed() == 0) << text << " allocation " << n;
    }
    for (void* slot : values) JsonValuePool.GiveSlot(slot);
    for (void* slot : members) JsonMemberPool.GiveSlot(slot);
    EXPECT_EQ(JsonValuePool.InUseCount() + values.size(), before.values);
  }
}

TEST(NextToken, ReadsTokensOneByOne) {
  JsonReader reader;
  ASSERT_TRUE(reader.Start(" 12abc {}[]:, true false null string number foo_1 \"s\" / "));
  const JsonToken kExpected[] = {
      TokNumber, TokIdentifier, TokObjectBegin, TokObjectEnd, TokArrayBegin, TokArrayEnd,
      TokColon,  TokComma,      TokTrue,        TokFalse,     TokNull,       TokString,
      TokNumber, TokIdentifier, TokString,      TokInvalid,
  };
  for (JsonToken expected : kExpected) EXPECT_EQ(reader.NextToken(), expected);
  EXPECT_STREQ(reader.StringText(), "s");
  EXPECT_EQ(reader.Number().integer, 12u);
  EXPECT_EQ(reader.NextToken(), TokEnd);
  EXPECT_EQ(reader.NextToken(), TokEnd);
}

TEST(NextToken, NumberPartsKeepTheDigitsAsWritten) {
  JsonReader reader;
  ASSERT_TRUE(reader.Start("-0012.00340e-05"));
  ASSERT_EQ(reader.NextToken(), TokNumber);
  const NumberParts& parts = reader.Number();
  EXPECT_TRUE(parts.negative);
  EXPECT_EQ(parts.integer, 12u);
  EXPECT_TRUE(parts.hasFraction);
  EXPECT_EQ(parts.fractionZeros, 2u);
  EXPECT_EQ(parts.fraction, 340u);
  EXPECT_EQ(parts.exponent, -5);
  double value = 0;
  ASSERT_TRUE(number_parts_value(parts, &value));
  EXPECT_EQ(value, -12.0034e-5);
}

TEST(Utf8, EveryScalarValueRoundTrips) {
  for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    char bytes[5] = {0, 0, 0, 0, 0};
    const uint32_t length = utf8_encode(cp, bytes);
    uint32_t decoded = 0;
    ASSERT_EQ(utf8_decode(bytes, &decoded), length) << cp;
    ASSERT_EQ(decoded, cp);
  }
  char bytes[4];
  EXPECT_EQ(utf8_encode(0x110000, bytes), 0u);
  EXPECT_EQ(utf8_encode(0xD800, bytes), 3u);
}

TEST(Utf8, DecodeRefusesMalformedSequences) {
  const struct {
    const char* bytes;
    uint32_t length;
    uint32_t codePoint;
  } kCases[] = {
      {"", 0, 0},
      {"A", 1, 'A'},
      {"\xC2\x80", 2, 0x80},
      {"\xDF\xBF", 2, 0x7FF},
      {"\xE0\xA0\x80", 3, 0x800},
      {"\xEF\xBF\xBF", 3, 0xFFFF},
      {"\xF0\x90\x80\x80", 4, 0x10000},
      {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"\x80", 0, 0},
      {"\xBF", 0, 0},
      {"\xC0\x80", 0, 0},
      {"\xC1\xBF", 0, 0},
      {"\xE0\x9F\xBF", 0, 0},
      {"\xED\xA0\x80", 0, 0},
      {"\xED\xBF\xBF", 0, 0},
      {"\xF0\x8F\xBF\xBF", 0, 0},
      {"\xF4\x90\x80\x80", 0, 0},
      {"\xF5\x80\x80\x80", 0, 0},
      {"\xF8\x88\x80\x80\x80", 0, 0},
      {"\xFF", 0, 0},
      {"\xC3", 0, 0},
      {"\xE2\x82", 0, 0},
      {"\xC3\x41", 0, 0},
  };
  for (const auto& c : kCases) {
    uint32_t cp = 99;
    EXPECT_EQ(utf8_decode(c.bytes, &cp), c.length) << testing::PrintToString(c.bytes);
    EXPECT_EQ(cp, c.codePoint) << testing::PrintToString(c.bytes);
  }
}
