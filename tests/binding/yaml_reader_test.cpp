#include "binding/yaml_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "binding/json_writer.h"
#include "binding/message_match.h"
#include "logging/allocator.h"

namespace Zorv {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

// The tree as compact JSON, or "error: " and the failure message.
std::string Read(std::string_view text) {
  const BindingResult result = ParseYaml(text);
  if (!result.success) return "error: " + std::string(result.error());
  return ToJsonText(result.value);
}

std::string Repeat(std::string_view part, size_t count) {
  std::string text;
  text.reserve(part.size() * count);
  for (size_t i = 0; i < count; ++i) text += part;
  return text;
}

TEST(YamlReaderTest, TypesScalars) {
  struct Case {
    const char* text;
    BindingProperty expected;
  };
  const std::string hugeInteger(400, '9');  // beyond every double: a string
  const Case cases[] = {
      // Untagged plain and block scalars: null words, numbers, bool words, strings.
      {"---", BindingProperty()},
      {"~", BindingProperty()},
      {"null", BindingProperty()},
      {"NULL", BindingProperty()},
      {"42", BindingProperty(uint64_t{42})},
      {"+7", BindingProperty(uint64_t{7})},
      {"-42", BindingProperty(int64_t{-42})},
      {"-0", BindingProperty(uint64_t{0})},
      {"4.5", BindingProperty(4.5)},
      {"-0.25", BindingProperty(-0.25)},
      {"1.0", BindingProperty(uint64_t{1})},
      {"1e3", BindingProperty(uint64_t{1000})},
      {"-2e3", BindingProperty(int64_t{-2000})},
      {"0x1F", BindingProperty(uint64_t{31})},
      {"18446744073709551615", BindingProperty(std::numeric_limits<uint64_t>::max())},
      {"9007199254740993", BindingProperty(uint64_t{9007199254740993})},  // not rounded to 2^53
      {"-9223372036854775808", BindingProperty(std::numeric_limits<int64_t>::min())},
      {"18446744073709551616", BindingProperty(18446744073709551616.0)},
      {"-9223372036854775809", BindingProperty(-9223372036854775809.0)},
      {"1e300", BindingProperty(1e300)},
      {"-1e300", BindingProperty(-1e300)},
      {"1e19", BindingProperty(uint64_t{10000000000000000000u})},
      {"1e20", BindingProperty(1e20)},
      {"-1e19", BindingProperty(-1e19)},
      {"0x1p70", BindingProperty(0x1p70)},
      {"-0x1p70", BindingProperty(-0x1p70)},
      {"inf", BindingProperty("inf")},
      {"+inf", BindingProperty("+inf")},
      {".inf", BindingProperty(".inf")},
      {"1e999", BindingProperty("1e999")},
      {"-inf", BindingProperty(-std::numeric_limits<double>::infinity())},
      {"-Infinity", BindingProperty(-std::numeric_limits<double>::infinity())},
      {"-1e999", BindingProperty(-std::numeric_limits<double>::infinity())},
      {"-nan", BindingProperty("-nan")},
      {hugeInteger.c_str(), BindingProperty(hugeInteger)},
      {"nan", BindingProperty("nan")},
      {"yes", BindingProperty(true)},
      {"Y", BindingProperty(true)},
      {"ON", BindingProperty(true)},
      {"Off", BindingProperty(false)},
      {"n", BindingProperty(false)},
      {"FALSE", BindingProperty(false)},
      {"tRUE", BindingProperty("tRUE")},
      {"12abc", BindingProperty("12abc")},
      {"hello world", BindingProperty("hello world")},
      {"|-\n  42\n", BindingProperty(uint64_t{42})},
      {">-\n  yes\n", BindingProperty(true)},
      {"|\n  42\n", BindingProperty("42\n")},
      // Quoted scalars are strings.
      {"'yes'", BindingProperty("yes")},
      {"\"42\"", BindingProperty("42")},
      {"'~'", BindingProperty("~")},
      {"''", BindingProperty("")},
      // Tags.
      {"!!str 42", BindingProperty("42")},
      {"!!str ~", BindingProperty("~")},
      {"!!int 42", BindingProperty(uint64_t{42})},
      {"!!int -42", BindingProperty(int64_t{-42})},
      {"!!int 0x1F", BindingProperty(uint64_t{31})},
      {"!!int '18446744073709551615'", BindingProperty(std::numeric_limits<uint64_t>::max())},
      {"!!float 2", BindingProperty(2.0)},
      {"!!float -1.5", BindingProperty(-1.5)},
      {"!!bool yes", BindingProperty(true)},
      {"!!bool off", BindingProperty(false)},
      {"!!bool maybe", BindingProperty()},
      {"!<tag:yaml.org,2002:str> 1", BindingProperty("1")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const BindingResult result = ParseYaml(c.text);
    ASSERT_TRUE(result.success) << result.error();
    EXPECT_EQ(result.value.kindName(), c.expected.kindName());
    EXPECT_TRUE(result.value == c.expected) << result.value.displayText();
  }
}

// Plain numbers with a fraction read to exactly strtod's double, whichever
// way the reader takes: spellings near the ends of the double range, halfway
// cases between neighbouring doubles, long digit runs, and random doubles in
// many printed forms.
TEST(YamlReaderTest, ReadsFractionsAsStrtodDoes) {
  std::vector<std::string> texts = {
      "0.1",
      "-0.1",
      ".5",
      "-.5",
      "5.",
      "1.5e3",
      "1.5E+3",
      "-2.5e-3",
      "0.000001",
      "1e-5",
      "1e-400",
      "4.9e-324",
      "2.4703282292062328e-324",
      "2.2250738585072011e-308",
      "1.7976931348623157e308",
      "-1.7976931348623157e308",
      "9007199254740993.5",
      "0.30000000000000004",
      "+0.5",
      "0x1.8p1",
      "1.0000000000000001110223024625156540423631668",
  };
  std::mt19937_64 random(7);
  char text[64];
  for (int i = 0; i < 3000; ++i) {
    double value;
    do {
      value = std::bit_cast<double>(random());
    } while (!std::isfinite(value) || value == std::trunc(value));
    std::snprintf(text, sizeof text, "%.*g", static_cast<int>(1 + random() % 17), value);
    texts.emplace_back(text);
    std::snprintf(text, sizeof text, "%.*e", static_cast<int>(random() % 20), value);
    texts.emplace_back(text);
    // Between a double and the next one up: the hardest texts to round.
    const long double halfway = (static_cast<long double>(value) +
                                 std::nextafter(value, std::numeric_limits<double>::infinity())) /
                                2;
    std::snprintf(text, sizeof text, "%.*Le", static_cast<int>(16 + random() % 24), halfway);
    texts.emplace_back(text);
    std::snprintf(text, sizeof text, "%llu.%llu",
                  static_cast<unsigned long long>(random() >> (random() % 64)),
                  static_cast<unsigned long long>(random()));
    texts.emplace_back(text);
  }
  std::string sequence = "[";
  for (const std::string& t : texts) sequence += t + ", ";
  sequence += "end]";
  const BindingResult result = ParseYaml(sequence);
  ASSERT_TRUE(result.success) << result.error();
  ASSERT_EQ(result.value.size(), texts.size() + 1);
  for (size_t i = 0; i < texts.size(); ++i) {
    const double expected = std::strtod(texts[i].c_str(), nullptr);
    if (expected == std::trunc(expected)) continue;  // whole numbers are integers
    SCOPED_TRACE(texts[i]);
    const BindingProperty& value = result.value.element(i);
    ASSERT_EQ(value.kind(), ValueKind::Float);
    EXPECT_EQ(std::bit_cast<uint64_t>(value.asDouble()), std::bit_cast<uint64_t>(expected));
  }
}

TEST(YamlReaderTest, FailsOnBadTaggedScalars) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"!!int 12abc", "Value 12abc for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int -12abc", "Value -12abc for 'yaml' of type int64_t is in an incorrect format"},
      {"!!int 18446744073709551616",
       "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"!!float abc", "Value abc for 'yaml' of type double is in an incorrect format"},
      {"!!null ~", "Unsupported YAML tag 'tag:yaml.org,2002:null'."},
      {"a: [1, !custom x]", "Unsupported YAML tag '!custom'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Read(c.text), "error: "s + c.message);
  }
}

TEST(YamlReaderTest, BuildsCollectionsAndStructures) {
  struct Case {
    const char* name;
    const char* text;
    const char* json;
  };
  const Case cases[] = {
      {"BlockAndFlow", "gameId: 42\ntags:\n  - ranked\n  - 'yes'\nnested: {a: [1, {b: ~}]}\n",
       R"({"gameId":42,"nested":{"a":[1,{"b":null}]},"tags":["ranked","yes"]})"},
      {"EmptyValues", "a:\nb: []\nc: {}\n", R"({"a":null,"b":[],"c":{}})"},
      {"KeysAreUntypedText", "1: a\n'2': b\ntrue: c\n~: d\n!!str 5: e\n",
       R"({"1":"a","2":"b","5":"e","true":"c","~":"d"})"},
      {"LaterKeyWins", "a: [1, 2, 3]\nb: {x: 1}\nc: 1\na: [4]\nb: {y: 2}\nc: [5]\n",
       R"({"a":[4],"b":{"y":2},"c":[5]})"},
      {"SequenceOfMappings", "- {a: 1}\n- b: 2\n  c: 3\n", R"([{"a":1},{"b":2,"c":3}])"},
      {"RecordsOfOneShape",
       "- {b: 1, a: 2}\n- {b: 3, a: 4}\n- {b: 5, a: 6, b: 7}\n- {b: 8, c: 9}\n",
       R"([{"a":2,"b":1},{"a":4,"b":3},{"a":6,"b":7},{"b":8,"c":9}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.text), c.json);
  }
}

TEST(YamlReaderTest, CopiesAnchoredNodesForAliases) {
  // An anchored element of a sequence that keeps growing afterwards.
  const std::string growing = "- &x {k: [v]}\n" + Repeat("- 0\n", 200) + "- *x\n";
  const BindingResult grown = ParseYaml(growing);
  ASSERT_TRUE(grown.success) << grown.error();
  ASSERT_EQ(grown.value.size(), 202u);
  EXPECT_EQ(ToJsonText(grown.value.element(201)), R"({"k":["v"]})");

  struct Case {
    const char* name;
    const char* text;
    const char* json;
  };
  const Case cases[] = {
      {"Scalar", "a: &v 42\nb: *v\n", R"({"a":42,"b":42})"},
      {"Mapping", "base: &b {x: 1, y: [2, 3]}\ncopy: *b\n",
       R"({"base":{"x":1,"y":[2,3]},"copy":{"x":1,"y":[2,3]}})"},
      {"Nested", "outer: &o [&i [1], *i]\nagain: *o\n", R"({"again":[[1],[1]],"outer":[[1],[1]]})"},
      {"ReplacedByLaterKey", "a: &x [1, 2]\na: [3]\nb: *x\n", R"({"a":[3],"b":[1,2]})"},
      {"AnchoredKeyIsItsText", "&k 7: 1\nother: *k\n", R"({"7":1,"other":"7"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.text), c.json);
  }
}

// Reader messages give the event's line and column counted from 1.
TEST(YamlReaderTest, ReportsReaderErrorsWithPosition) {
  struct Case {
    const char* name;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"TaggedKey", "a: 1\n!!int 5: x\n",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"AliasKey", "a: &k 1\n*k : 2\n",
       "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"SequenceKey", "a: 1\n? [b]\n: x\n", "Unexpected start of sequence. At line: 2 col: 3"},
      {"MappingKey", "x:\n  ? {b: 2}\n  : 3\n", "Unexpected start of mapping. At line: 2 col: 5"},
      {"CyclicInSequence", "a: &x [1, *x]\n",
       "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
      {"CyclicInMapping", "a: &m\n  b: *m\n",
       "Cannot deserialize cyclic aliases. Alias \"m\". At line: 2 col: 6"},
      {"AliasBeforeAnchor", "a: *x\nb: &x 1\n",
       "Undefined alias encountered: \"x\". At line: 1 col: 4"},
      {"DuplicateAnchor", "a: &x 1\nb: &x [2]\n",
       "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.text), "error: "s + c.message);
  }
}

// Syntax errors give the parser's problem and its position counted from 0.
TEST(YamlReaderTest, ReportsParserErrorsWithPosition) {
  struct Case {
    const char* name;
    std::string_view text;
    const char* message;
  };
  const Case cases[] = {
      {"UnclosedFlow", "a: [1, 2\n",
       "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"ValueAfterValue", "a: b: c\n",
       "YAML parser error: mapping values are not allowed in this context. At line: 0 col: 4"},
      {"BadIndentation", "a:\n  - 1\n - 2\n",
       "YAML parser error: did not find expected key. At line: 2 col: 1"},
      {"InvalidUtf8", "a: \xff\n",
       "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0"},
      {"ZeroByte", "a: b\0c"sv,
       "YAML parser error: control characters are not allowed. At line: 0 col: 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.text), "error: "s + c.message);
  }
}

TEST(YamlReaderTest, ReadsOnlyTheLastDocumentWhenTheEarlierOnesAreEmpty) {
  struct Case {
    const char* name;
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"EmptyText", "", ""},
      {"OnlyMarker", "---\n", ""},
      {"EndMarker", "a: 1\n...\n", R"({"a":1})"},
      {"EmptyThenContent", "---\n---\na: 1\n", R"({"a":1})"},
      {"NullThenContent", "--- ~\n--- [1]\n", "[1]"},
      {"ContentThenContent", "a: 1\n---\nb: 2\n", "error: Multi-document YAML is not supported."},
      {"ContentThenEmpty", "--- 1\n---\n", "error: Multi-document YAML is not supported."},
      {"AnchorsStayInTheirDocument", "--- &x ~\n--- *x\n",
       "error: Undefined alias encountered: \"x\". At line: 2 col: 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Read(c.text), c.result);
  }
}

TEST(YamlReaderTest, RefusesDeepNestingQuickly) {
  const std::string limit = Repeat("[", kMaxYamlNestingDepth) + Repeat("]", kMaxYamlNestingDepth);
  EXPECT_TRUE(ParseYaml(limit).success);

  const std::string tooDeep = "YAML nesting is too deep (more than 1000 levels). At line: 1 col: ";
  EXPECT_EQ(Read(Repeat("[", kMaxYamlNestingDepth + 1)), "error: " + tooDeep + "1001");

  struct Case {
    const char* name;
    std::string_view part;
    const char* column;
  };
  const Case cases[] = {
      {"FlowSequences", "[", "1001"},
      {"FlowMappings", "{a: ", "4001"},
      {"BlockSequences", "- ", "2001"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = Repeat(c.part, 1000000);
    EXPECT_EQ(Read(text), "error: " + tooDeep + c.column);
  }
}

// Bytes the framework allocator hands out while `read` runs.
template <typename Read>
uint64_t BytesAllocated(Read read) {
  const uint64_t before = GetMemoryCounters().bytesAllocated;
  read();
  return GetMemoryCounters().bytesAllocated - before;
}

size_t CopyBudget(std::string_view text) {
  return kYamlCopyBytesAllowance + kYamlCopyBytesPerInputByte * text.size();
}

TEST(YamlReaderTest, BoundsBytesCopiedByAnchorsAndAliases) {
  // One long scalar aliased `count` times: each alias copies 60,000 bytes of
  // text and costs 60,024 bytes of the text's budget.
  const std::string scalar(60000, 'x');
  auto aliased = [&](size_t count) {
    return "a: &a " + scalar + "\nb: [" + Repeat("*a,", count - 1) + "*a]\n";
  };
  const BindingResult full = ParseYaml(aliased(81));
  ASSERT_TRUE(full.success) << full.error();
  ASSERT_EQ(full.value.find("b").size(), 81u);
  EXPECT_EQ(full.value.find("b").element(80).asString(), scalar);
  EXPECT_EQ(Read(aliased(82)),
            "error: Too many bytes copied by YAML anchors and aliases (more than 4905088). At "
            "line: 2 col: 248");

  // 90 KB asking for 600 MB of copies, and ten anchors each aliasing the
  // previous one ten times (10^10 values asked for by a few hundred bytes):
  // both refused having allocated no more than about their budget.
  std::string laughs = "l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (int level = 1; level < 10; ++level) {
    const std::string previous = "*l" + std::to_string(level - 1);
    laughs += "l" + std::to_string(level) + ": &l" + std::to_string(level) + " [";
    laughs += Repeat(previous + ", ", 9) + previous + "]\n";
  }
  for (const std::string& text : {aliased(10000), laughs}) {
    SCOPED_TRACE(text.size());
    BindingResult result;
    const uint64_t allocated = BytesAllocated([&] { result = ParseYaml(text); });
    EXPECT_EQ(result.error().rfind("Too many bytes copied by YAML anchors and aliases", 0), 0u)
        << result.error();
    EXPECT_LT(allocated, 2 * CopyBudget(text));
  }
}

// Anchors alone copy nothing: a million of them cost a small multiple of the
// text, not an arena each.
TEST(YamlReaderTest, AMillionAnchorsTakeLittleMemory) {
  constexpr size_t kAnchors = 1000000;
  std::string text;
  for (size_t i = 0; i < kAnchors; ++i) text += "- &a" + std::to_string(i) + " x\n";
  text += "- *a" + std::to_string(kAnchors - 1) + "\n";
  const uint64_t allocated = BytesAllocated([&] {
    const BindingResult result = ParseYaml(text);
    ASSERT_TRUE(result.success) << result.error();
    ASSERT_EQ(result.value.size(), kAnchors + 1);
    EXPECT_EQ(result.value.element(kAnchors).asString(), "x");
  });
  EXPECT_LT(allocated, 16 * text.size()) << allocated;
}

// Every prefix of a document that uses most of the syntax reads to a value or
// fails with one of the reader's messages, placed inside the prefix.
TEST(YamlReaderTest, EveryPrefixGivesAValueOrAMessage) {
  const std::string text =
      "--- !!map\nname: &n 'pex'\nids: [1, -2, 3.5, !!int 4]\nnested:\n  - {a: *n, b: \"x\"}\n"
      "  - ? key\n    : >-\n      folded\n  - &s [x, \"y\\n\"]\n  - *s\n  - |\n    block\n...\n";
  constexpr std::string_view kSyntax = "YAML parser error: %1. At line: %2 col: %3";
  constexpr std::string_view kScalar[] = {
      "Unsupported YAML tag '%1'.",
      "Value %1 for 'yaml' of type %2 is in an incorrect format",
  };
  for (size_t length = 0; length <= text.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string prefix = text.substr(0, length);
    const BindingResult result = ParseYaml(prefix);
    if (result.success) continue;
    const std::string error(result.error());
    EXPECT_EQ(result.value.size(), 1u);
    if (MatchesTemplate(error, kSyntax)) {
      // The parser ends a last line that has no line break of its own.
      const auto lines = static_cast<size_t>(std::count(prefix.begin(), prefix.end(), '\n'));
      const size_t line = std::stoul(error.substr(error.rfind("At line: ") + 9));
      EXPECT_LE(line, lines + 1) << error;
    } else {
      EXPECT_TRUE(MatchesTemplate(error, kScalar[0]) || MatchesTemplate(error, kScalar[1]))
          << error;
    }
  }
  EXPECT_EQ(Read(text),
            R"({"ids":[1,-2,3.5,4],"name":"pex","nested":[{"a":"pex","b":"x"},{"key":"folded"},)"
            R"(["x","y\n"],["x","y\n"],"block\n"]})");
}

TEST(YamlReaderTest, RecognisesYamlByItsDocumentMarker) {
  struct Case {
    const char* text;
    bool yaml;
  };
  const Case cases[] = {
      {"---", true},   {"---\na: 1", true},   {"   --- x", true}, {"---x", true},
      {"", false},     {"   ", false},        {"--", false},      {"\t---", false},
      {"a: 1", false}, {"{\"a\": 1}", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsYaml(c.text), c.yaml);
  }
}

}  // namespace
}  // namespace Zorv
