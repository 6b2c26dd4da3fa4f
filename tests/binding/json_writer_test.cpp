#include "binding/json_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "binding/json_reader.h"
#include "binding/static_type.h"
#include "binding/type_registry.h"

namespace Zorv {
namespace {

using namespace std::string_view_literals;

TEST(JsonWriterTest, WritesScalars) {
  struct Case {
    const char* name;
    BindingProperty value;
    std::string_view expected;
  };
  const Case cases[] = {
      {"True", BindingProperty(true), "true"},
      {"False", BindingProperty(false), "false"},
      {"Signed", BindingProperty(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {"Unsigned", BindingProperty(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
      {"Tenth", BindingProperty(0.1), "0.1"},
      {"Large", BindingProperty(1e300), "1e300"},
      {"NegativeZero", BindingProperty(-0.0), "-0.0"},
      {"Integral", BindingProperty(1.0), "1.0"},
      // RapidJSON's digits, not the shortest ones; they still read back to the
      // same double (see FloatsReadBackToTheSameBits).
      {"SumOfTenths", BindingProperty(0.1 + 0.2), "0.30000000000000007"},
      {"Smallest", BindingProperty(5e-324), "5e-324"},
      {"NotANumber", BindingProperty(std::nan("")), "null"},
      {"Infinity", BindingProperty(-std::numeric_limits<double>::infinity()), "null"},
      {"String", BindingProperty("text"), R"("text")"},
      {"Blob", BindingProperty(std::vector<uint8_t>{'a', 'b', 'c'}), R"("YWJj")"},
      {"EmptyBlob", BindingProperty(std::vector<uint8_t>{}), R"("")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToJsonText(c.value), c.expected);
  }
}

TEST(JsonWriterTest, EmptyValueIsEmptyText) {
  EXPECT_EQ(ToJsonText(BindingProperty()), "");
  EXPECT_EQ(ToJsonText(BindingProperty(), nullptr, "\n"), "");
}

TEST(JsonWriterTest, EscapesOnlyQuoteBackslashAndControlBytes) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"Quote", "\"", R"("\"")"},
      {"Backslash", "\\", R"("\\")"},
      {"ShortForms", "\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {"OtherControls", "\0\x01\x1F"sv, R"("\u0000\u0001\u001F")"},
      {"Unchanged", "/\x7F\xC3\xA9\xFF", "\"/\x7F\xC3\xA9\xFF\""},
      {"LongPlain", "0123456789abcdef0123456789abcdefXY",
       R"("0123456789abcdef0123456789abcdefXY")"},
      {"LongWithEscapes",
       "\"123456789abcde\\0123456789abcdef\x1b"
       "456789abcdef\n",
       R"("\"123456789abcde\\0123456789abcdef\u001B456789abcdef\n")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToJsonText(BindingProperty(c.text)), c.expected);
    BindingProperty keyed;
    keyed.field(c.text) = true;
    std::string object = "{";
    object.append(c.expected).append(":true}");
    EXPECT_EQ(ToJsonText(keyed), object);
  }
}

// The escaping rules byte by byte, as the header states them.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20) {
      out += c;
    } else if (const char* shortForm = std::strchr("b\bt\tn\nf\fr\r", c); c != 0 && shortForm) {
      out += '\\';
      out += shortForm[-1];
    } else {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      out += escaped;
    }
  }
  return out + "\"";
}

// Texts are scanned in blocks and words of several lengths: every length up
// to three blocks, with one byte of each kind at every position, and random
// mixes. The neighbours of the special bytes with the top bit set (0x9F, 0xA0,
// 0xA2, 0xDC) must pass unchanged.
TEST(JsonWriterTest, EscapesAtEveryLengthAndPosition) {
  constexpr std::string_view kBytes =
      "\"\\\x00\x01\x1F\x20\x7F\x80\x9F\xA0\xA2\xDC\xFF"
      "a"sv;
  auto check = [](const std::string& text) {
    ASSERT_EQ(ToJsonText(BindingProperty(text)), Quoted(text)) << testing::PrintToString(text);
  };
  for (size_t length = 0; length <= 48; ++length) {
    SCOPED_TRACE(length);
    const std::string plain(length, 'x');
    check(plain);
    for (size_t position = 0; position < length; ++position) {
      for (const char byte : kBytes) {
        std::string text = plain;
        text[position] = byte;
        check(text);
      }
    }
  }
  std::mt19937 random(11);
  for (int i = 0; i < 2000; ++i) {
    std::string text(random() % 40, 'x');
    for (char& c : text) c = kBytes[random() % kBytes.size()];
    check(text);
  }
}

BindingProperty NestedSample() {
  BindingProperty value;
  value.field("obj").field("k") = true;
  value.field("name") = "line\nbreak";
  BindingProperty& list = value.field("list");
  list.append() = uint64_t{1};
  list.append();
  list.append().makeStructure();
  list.append().makeCollection();
  return value;
}

TEST(JsonWriterTest, WritesCompactWithMembersInNameOrder) {
  EXPECT_EQ(ToJsonText(NestedSample()),
            R"({"list":[1,null,{},[]],"name":"line\nbreak","obj":{"k":true}})");
}

TEST(JsonWriterTest, WritesPrettyWithTheGivenLineBreak) {
  const std::string expected = R"({
    "list": [
        1,
        null,
        {},
        []
    ],
    "name": "line\nbreak",
    "obj": {
        "k": true
    }
})";
  EXPECT_EQ(ToJsonText(NestedSample(), nullptr, "\n"), expected);

  std::string crlf;
  for (const char c : expected) crlf += c == '\n' ? "\r\n" : std::string(1, c);
  EXPECT_EQ(ToJsonText(NestedSample(), nullptr, "\r\n"), crlf);

  EXPECT_EQ(ToJsonText(BindingProperty(uint64_t{1}), nullptr, "\n"), "1");
}

enum class Color : int32_t { Red = 1, Green = 2 };

TEST(JsonWriterTest, WritesEnumeratorsByNameWhenTheRegistryKnowsThem) {
  TypeRegistry registry;
  TypeBuilder builder = registry.beginType(sizeof(Color), "Color", StaticTypeOf<Color>(), true);
  builder.addEnumValue("red", 1, "").addEnumValue("green", 2, "");
  registry.finishType(std::move(builder));

  const uint32_t id = StaticTypeId<Color>();
  BindingProperty list;
  list.append() = EnumValue{2, id};
  list.append() = EnumValue{7, id};
  list.append() = EnumValue{-3, id};
  list.append() = EnumValue{1, id + 1};
  EXPECT_EQ(ToJsonText(list, &registry), R"(["green",7,-3,1])");
  EXPECT_EQ(ToJsonText(list), "[2,7,-3,1]");
}

TEST(JsonWriterTest, FloatsReadBackToTheSameBits) {
  const double values[] = {0.1,
                           0.1 + 0.2,
                           1e300,
                           -0.0,
                           5e-324,
                           2.2250738585072011e-308,
                           2.2250738585072014e-308,
                           1.7976931348623157e308,
                           123456789012345.67,
                           1e-7,
                           1e21,
                           9007199254740993.0};
  BindingProperty list;
  for (const double v : values) list.append() = v;
  const BindingResult back = FromJsonText(ToJsonText(list));
  ASSERT_TRUE(back.success) << back.error();
  ASSERT_EQ(back.value.size(), std::size(values));
  for (size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(std::bit_cast<uint64_t>(back.value.element(i).asDouble()),
              std::bit_cast<uint64_t>(values[i]))
        << values[i];
  }
}

}  // namespace
}  // namespace Zorv
