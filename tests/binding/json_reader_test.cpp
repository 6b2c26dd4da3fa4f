#include "binding/json_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "binding/json_scanner.h"
#include "binding/json_writer.h"
#include "binding/tree_builder.h"

namespace Zorv {
namespace {

using namespace std::string_view_literals;

TEST(JsonReaderTest, ClassifiesScalars) {
  struct Case {
    const char* name;
    std::string_view text;
    BindingProperty expected;
  };
  const Case cases[] = {
      {"UnsignedWithBlanks", " \t\r\n42 \n", BindingProperty(uint64_t{42})},
      {"Signed", "-42", BindingProperty(int64_t{-42})},
      {"MinusZeroInteger", "-0", BindingProperty(int64_t{0})},
      {"FractionIsFloat", "42.0", BindingProperty(42.0)},
      {"ExponentIsFloat", "1e2", BindingProperty(100.0)},
      {"Above32Bits", "4294967296", BindingProperty(uint64_t{4294967296})},
      {"EighteenDigits", "999999999999999999", BindingProperty(uint64_t{999999999999999999})},
      {"EighteenDigitsSigned", "-999999999999999999",
       BindingProperty(int64_t{-999999999999999999})},
      {"NineteenDigits", "9999999999999999999", BindingProperty(uint64_t{9999999999999999999u})},
      {"LargestUnsigned", "18446744073709551615",
       BindingProperty(std::numeric_limits<uint64_t>::max())},
      {"BeyondUnsigned", "18446744073709551616", BindingProperty(18446744073709551616.0)},
      {"SmallestSigned", "-9223372036854775808",
       BindingProperty(std::numeric_limits<int64_t>::min())},
      {"BelowSigned", "-9223372036854775809", BindingProperty(-9223372036854775809.0)},
      {"LongDigitString", "184467440737095516156", BindingProperty(184467440737095516156.0)},
      {"LongMantissa", "1.84467440737095516155e19", BindingProperty(1.84467440737095516155e19)},
      {"Denormal", "4.9406564584124654e-324", BindingProperty(4.9406564584124654e-324)},
      {"BelowDenormal", "1e-400", BindingProperty(0.0)},
      {"True", "true", BindingProperty(true)},
      {"False", "false", BindingProperty(false)},
      {"Null", "null", BindingProperty()},
      {"String", R"("text")", BindingProperty("text")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BindingResult result = FromJsonText(c.text);
    ASSERT_TRUE(result.success) << result.error();
    EXPECT_EQ(result.value.kind(), c.expected.kind());
    EXPECT_EQ(result.value, c.expected);
  }
  for (const char* text : {"-0.0", "-1e-400"}) {
    const BindingResult negativeZero = FromJsonText(text);
    EXPECT_EQ(negativeZero.value.kind(), ValueKind::Float) << text;
    EXPECT_TRUE(std::signbit(negativeZero.value.asDouble())) << text;
  }
}

TEST(JsonReaderTest, ReportsErrorTextAndOffset) {
  struct Case {
    const char* name;
    std::string_view text;
    const char* message;
  };
  const Case cases[] = {
      {"Empty", "", "Error: The document is empty. at offset 0."},
      {"OnlyBlanks", "   ", "Error: The document is empty. at offset 3."},
      {"TrailingValue", "{} x",
       "Error: The document root must not be followed by other values. at offset 3."},
      {"LeadingZero", "01",
       "Error: The document root must not be followed by other values. at offset 1."},
      {"TrailingZeroByte", "{}\0"sv,
       "Error: The document root must not be followed by other values. at offset 2."},
      {"ZeroByteAlone", "\0"sv, "Error: Invalid value. at offset 0."},
      {"BadLiteral", "nul", "Error: Invalid value. at offset 3."},
      {"LoneMinus", "-", "Error: Invalid value. at offset 1."},
      {"UnclosedArray", "[", "Error: Invalid value. at offset 1."},
      {"TrailingComma", "[1,]", "Error: Invalid value. at offset 3."},
      {"UnclosedObject", "{", "Error: Missing a name for object member. at offset 1."},
      {"NumberAsName", "{1:2}", "Error: Missing a name for object member. at offset 1."},
      {"NoColon", R"({"a" 1})",
       "Error: Missing a colon after a name of object member. at offset 5."},
      {"NoCommaInObject", R"({"a":1 "b":2})",
       "Error: Missing a comma or '}' after an object member. at offset 7."},
      {"ObjectCutShort", R"({"a":1)",
       "Error: Missing a comma or '}' after an object member. at offset 6."},
      {"NoCommaInArray", "[1 2]",
       "Error: Missing a comma or ']' after an array element. at offset 3."},
      {"BadHexDigit", R"("\u12G4")",
       "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
      {"HighSurrogateAlone", R"("\uD800x")",
       "Error: The surrogate pair in string is invalid. at offset 1."},
      {"HighSurrogateThenNonLow", R"("\uD800\u0041")",
       "Error: The surrogate pair in string is invalid. at offset 1."},
      {"LowSurrogateAlone", R"("ok\uDC00")",
       "Error: The surrogate pair in string is invalid. at offset 3."},
      {"LowSurrogateBeforeSyntaxError", R"(["\uDFFF", x])",
       "Error: The surrogate pair in string is invalid. at offset 2."},
      {"SyntaxErrorBeforeLowSurrogate", R"([x, "\uDC00"])", "Error: Invalid value. at offset 1."},
      {"LowSurrogateInKey", R"({"\uDC00":1})",
       "Error: The surrogate pair in string is invalid. at offset 2."},
      {"BadEscape", R"("\x")", "Error: Invalid escape character in string. at offset 1."},
      {"RawControlCharacter", "\"a\tb\"",
       "Error: Invalid escape character in string. at offset 2."},
      {"UnclosedString", R"("abc)",
       "Error: Missing a closing quotation mark in string. at offset 4."},
      {"HugeNumber", "[1e400]", "Error: Number too big to be stored in double. at offset 1."},
      {"HugeMantissa", "[0, -18e308]",
       "Error: Number too big to be stored in double. at offset 4."},
      {"HugeFraction", "1.8e308", "Error: Number too big to be stored in double. at offset 0."},
      {"NoFraction", "1.", "Error: Miss fraction part in number. at offset 2."},
      {"NoExponent", "1e+", "Error: Miss exponent in number. at offset 3."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BindingResult result = FromJsonText(c.text);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error(), c.message);
    EXPECT_EQ(result.value.size(), 1u);  // nothing of the partial tree, only "error"
  }
}

TEST(JsonReaderTest, DecodesEscapesToUtf8) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"Simple", R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"BasicPlane", R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
      {"SurrogatePair", R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
      {"ZeroByte", R"("a\u0000b")", "a\0b"sv},
      {"RawUtf8", "\"\xC3\xA9\"", "\xC3\xA9"},
      {"EscapedBackslashBeforeU", R"("\\uDC00")", "\\uDC00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BindingResult result = FromJsonText(c.text);
    ASSERT_TRUE(result.success) << result.error();
    EXPECT_EQ(result.value.asString(), c.expected);
  }
}

TEST(JsonReaderTest, BuildsNestedContainersInOrder) {
  const BindingResult result = FromJsonText(R"({"b": [1, -1, {"c": null}, []], "a": {}})");
  ASSERT_TRUE(result.success) << result.error();
  BindingProperty expected;
  BindingProperty& b = expected.field("b");
  b.append() = uint64_t{1};
  b.append() = int64_t{-1};
  b.append().field("c");
  b.append().makeCollection();
  expected.field("a").makeStructure();
  EXPECT_EQ(result.value, expected);
}

TEST(JsonReaderTest, RepeatedKeyKeepsLaterValue) {
  const BindingResult result = FromJsonText(R"({"a": [1], "b": 0, "\u0061": 2})");
  ASSERT_TRUE(result.success) << result.error();
  EXPECT_EQ(result.value.size(), 2u);
  EXPECT_EQ(result.value.find("a"), BindingProperty(uint64_t{2}));
}

// The text is a view into a larger buffer: nothing past its end may be read.
TEST(JsonReaderTest, StopsAtTheEndOfTheView) {
  const std::string buffer = R"([1,2]23"x")";
  const BindingResult array = FromJsonText(std::string_view(buffer).substr(0, 5));
  ASSERT_TRUE(array.success) << array.error();
  EXPECT_EQ(array.value.size(), 2u);

  const BindingResult number = FromJsonText(std::string_view(buffer).substr(5, 1));
  ASSERT_TRUE(number.success) << number.error();
  EXPECT_EQ(number.value, BindingProperty(uint64_t{2}));

  const BindingResult string = FromJsonText(std::string_view(buffer).substr(7, 2));
  EXPECT_EQ(string.error(), "Error: Missing a closing quotation mark in string. at offset 2.");
}

TEST(JsonReaderTest, DeepNestingParsesWritesAndFrees) {
  constexpr size_t kDepth = 1'000'000;
  const std::string text = std::string(kDepth, '[') + std::string(kDepth, ']');
  {
    const BindingResult result = FromJsonText(text);
    ASSERT_TRUE(result.success) << result.error();
    EXPECT_EQ(ToJsonText(result.value), text);
  }
  const BindingResult unclosed = FromJsonText(std::string_view(text).substr(0, kDepth));
  EXPECT_EQ(unclosed.error(), "Error: Invalid value. at offset 1000000.");

  std::string objects;
  for (size_t i = 0; i < kDepth; ++i) objects += R"({"k":)";
  objects += "0" + std::string(kDepth, '}');
  const BindingResult nested = FromJsonText(objects);
  ASSERT_TRUE(nested.success) << nested.error();
  EXPECT_EQ(ToJsonText(nested.value), objects);
}

// Reads `text` from a heap block of exactly its size, so that a read past the
// end shows under the address sanitizer, by both paths of the reader; they
// must answer the same. Answers whether the fast path took the text.
bool ExpectBothPathsAgree(std::string_view text) {
  SCOPED_TRACE(testing::Message() << "text: \"" << text << '"');
  const auto block = std::make_unique<char[]>(text.size());
  std::copy(text.begin(), text.end(), block.get());
  const std::string_view exact(block.get(), text.size());
  const BindingResult fast = FromJsonText(exact);
  const BindingResult full = FromJsonTextByTokenizer(exact);
  EXPECT_EQ(fast.success, full.success);
  EXPECT_EQ(fast.error(), full.error());
  EXPECT_EQ(fast.value, full.value);
  if (full.success) {
    EXPECT_EQ(ToJsonText(fast.value), ToJsonText(full.value));
  }
  BindingProperty scanned;
  TreeBuilder builder(scanned);
  return ScanJson(exact, builder);
}

// The fast path takes the common texts itself and leaves the rest to the
// full tokenizer; either way the answer is the tokenizer's.
TEST(JsonReaderTest, FastPathAnswersAsTheTokenizer) {
  struct Case {
    std::string_view text;
    bool taken;  // by the fast path
  };
  const Case cases[] = {
      {R"([{"gameId":7,"gameVersion":"14.3.1.200","score":0.12345678901234566,"tags":["a","b"]},)"
       R"({"gameId":8,"gameVersion":"14.3.1.201","score":-1.5e-7,"tags":[]}])",
       true},
      {" \t\r\n{ \"b\" : [ 1 , -2 , 3.5 , true , false , null , { } , [ ] ] , \"a\" : \"\" } \n",
       true},
      {R"({"k":1,"k":{"x":2},"j":3,"k":"last"})", true},
      {"\"raw \xc3\xa9 \xff bytes, 17 and more bytes long\"", true},
      {"-0", true},
      {"-0.0", true},
      {"999999999999999999", true},
      {"-999999999999999999", true},
      {"9999999999999999999", false},
      {"18446744073709551616", false},
      {"1.5e308", true},
      {"1e-308", true},
      {"1e0000000000000000308", true},
      {"999999999999999999e308", false},
      {"1e309", false},
      {"0e400", false},
      {"1e-400", false},
      {"0.000000000000000000000000000000000000000000000000000000001", true},
      {R"("esc \" \\ \/ \b \f \n \r \t, then a run longer than 16 bytes\n")", true},
      {R"({"\u0061":1,"a":2})", true},
      {R"(["\u0000\u007f\u0080\u07FF\u0800\uFFFF", "\uD83D\uDE00 \udbff\udfff"])", true},
      {R"("\uD83D")", false},
      {R"("\uD83Dx")", false},
      {R"("\uD83D\u0041")", false},
      {R"("\x")", false},
      {R"("\u12")", false},
      {R"("\u12G4")", false},
      {R"("ends in an escape\)", false},
      {R"("\uDC00")", false},
      {"\"ctl\x01\"", false},
      {std::string_view("[1,\0]", 5), false},
      {std::string_view("\"a\0b\"", 5), false},
      {std::string_view("1\0", 2), false},
      {"", false},
      {"   ", false},
      {"[1,]", false},
      {R"({"a":1,})", false},
      {R"({"a" 1})", false},
      {R"({1:1})", false},
      {"[1 2]", false},
      {"[1}", false},
      {"{]", false},
      {"01", false},
      {"1.", false},
      {".5", false},
      {"1e", false},
      {"1e+", false},
      {"-", false},
      {"+1", false},
      {"tru", false},
      {"truex", false},
      {"nul", false},
      {"[true false]", false},
      {"1 2", false},
      {"\xef\xbb\xbf{}", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpectBothPathsAgree(c.text), c.taken) << '"' << c.text << '"';
  }
  // Every cut of a text that nests both kinds, deeper than the tokenizer's
  // recursive mode goes.
  std::string nested;
  for (int i = 0; i < 70; ++i) nested += R"({"k":[)";
  nested += R"("v",12,-3.25e1)";
  for (int i = 0; i < 70; ++i) nested += "]}";
  EXPECT_TRUE(ExpectBothPathsAgree(nested));
  for (size_t cut = 0; cut < nested.size(); ++cut) {
    EXPECT_FALSE(ExpectBothPathsAgree(std::string_view(nested).substr(0, cut)));
  }
}

TEST(JsonReaderTest, IsJsonLooksAtTheFirstNonSpace) {
  struct Case {
    std::string_view text;
    bool expected;
  };
  const Case cases[] = {
      {"{}", true},    {"  [1]", true}, {" {", true},   {"", false},   {"   ", false},
      {"\t{}", false}, {"\n[]", false}, {"x{}", false}, {"42", false}, {"\"{\"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsJson(c.text), c.expected) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace Zorv
