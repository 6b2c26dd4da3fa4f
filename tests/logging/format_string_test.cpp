#include "logging/format_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace Zorv {
namespace {

constexpr char kGuard = '\x5a';
constexpr size_t kGuardSize = 16;

// Formats into a buffer of exactly outSize bytes followed by guard bytes, and
// checks the promises every call keeps: zero-terminated, the returned length,
// nothing written past the buffer.
std::string Format(const char* format, const std::vector<FormatArg>& args, size_t outSize = 4096) {
  std::vector<char> buffer(outSize + kGuardSize, kGuard);
  const size_t n = FormatString(buffer.data(), outSize, format, args.data(), args.size());
  EXPECT_LT(n, outSize) << format;
  EXPECT_EQ(buffer[n], '\0') << format;
  EXPECT_EQ(std::strlen(buffer.data()), n) << format;
  for (size_t i = outSize; i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kGuard) << format << ": wrote past the buffer";
  }
  return std::string(buffer.data(), n);
}

FormatArg NullString() {
  FormatArg arg("");
  arg.s = nullptr;
  return arg;
}

struct Case {
  const char* name;
  const char* format;
  std::vector<FormatArg> args;
  std::string expected;
  size_t outSize = 4096;
};

const std::string kOwned = "owned";
const std::string kPlaceholder60 = "%" + std::string(58, '-') + "d";
const std::string kPlaceholder61InText = "x%" + std::string(59, '-') + "dy";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      // Positional references.
      {"positional in any order", "%2 and %1", {"a", "b"}, "b and a"},
      {"positional with printf part", "%1$5d", {42}, "   42"},
      {"positional width and precision", "%2$5.1f", {1, 3.14159}, "  3.1"},
      {"bare number ends before a non-'$'", "%1d", {42}, "42d"},
      {"positional reuse", "%1%1", {"ab"}, "abab"},
      {"positional does not move the sequence", "%2 %s", {"a", "b"}, "b a"},
      {"number above the count is a width", "%3 |", {"a", "b"}, "  a|"},
      {"width restart takes the next in sequence", "%2 %5d", {7, 8}, "8     7"},
      {"width restart with precision", "%10.2f|", {2.5}, "      2.50|"},
      {"doubled percent", "100%% of %s", {"x"}, "100% of x"},
      // What ends the output.
      {"sequential beyond the count", "%s %s %s!", {"a", "b"}, "a b "},
      {"no arguments", "x%dy", {}, "x"},
      {"lone percent at the end", "abc%", {1}, "abc"},
      {"cut after the width", "ab%5", {1}, "ab"},
      {"cut after the '$'", "ab%1$", {1}, "ab"},
      {"placeholder of 60 characters", kPlaceholder60.c_str(), {42}, "42"},
      {"placeholder of 61 characters", kPlaceholder61InText.c_str(), {42}, "x"},
      // '*' widths and precisions.
      {"star width", "%*d|", {5, 42}, "   42|"},
      {"star precision", "%.*f", {2, 3.14159}, "3.14"},
      {"star width and precision", "%*.*f|", {6, 1, 2.25}, "   2.2|"},
      {"numbered star width", "%2$*1$d", {4, 42}, "  42"},
      {"numbered star precision", "%3$.*1$s", {2, 0, "abcdef"}, "ab"},
      {"negative star width aligns left", "%*d|", {-4, 7}, "7   |"},
      {"negative star precision is none", "%.*f", {-1, 1.5}, "1.500000"},
      {"star width from a 64-bit argument", "%*s", {uint64_t{3}, "x"}, "  x"},
      {"star width from a double", "%*s", {3.9, "x"}, "  x"},
      {"star width from a string is zero", "%*d", {"w", 5}, "5"},
      {"star width zero is no zero flag", "%*s|", {0, "x"}, "x|"},
      {"star without an argument", "a%*d", {5}, "a"},
      {"numbered star beyond the count", "a%*3$d", {1, 2}, "a"},
      {"star digits without '$' are not a number", "%*2", {3, 4}, "  4"},
      // Kinds, conversions and length modifiers.
      {"defaults",
       "%1 %2 %3 %4 %5 %6 %7",
       {"s", int32_t{-1}, uint32_t{4000000000u}, int64_t{-5}, uint64_t{6}, 0.5, 'c'},
       "s -1 4000000000 -5 6 0.5 c"},
      {"64-bit signed gets ll", "%d", {int64_t{INT64_MIN}}, "-9223372036854775808"},
      {"64-bit unsigned gets ll",
       "%x %1",
       {UINT64_MAX, UINT64_MAX},
       "ffffffffffffffff 18446744073709551615"},
      {"64-bit in octal", "%o", {int64_t{-1}}, "1777777777777777777777"},
      {"signed as unsigned", "%u", {int32_t{-1}}, "4294967295"},
      {"unsigned as signed", "%d", {uint32_t{4294967295u}}, "-1"},
      {"integer as a character", "%c%c", {int64_t{'h'}, uint32_t{'i'}}, "hi"},
      {"character as a number", "%d %X", {'A', 'A'}, "65 41"},
      {"string with a number conversion", "%d", {"text"}, "text"},
      {"number with a string conversion", "%s", {42}, "42"},
      {"double with an integer conversion", "%d", {2.5}, "2.5"},
      {"integer with a float conversion", "%f", {3}, "3"},
      {"unknown conversion", "%q|%5q|", {'z', 7}, "z|    7|"},
      {"percent as a conversion", "%5%|", {"x"}, "    x|"},
      {"n prints nothing but takes its argument", "a%nb%d", {1, 2}, "ab2"},
      {"user length ignored for 32-bit", "%lld %ld", {42, 43}, "42 43"},
      {"user h narrows", "%hd %hhx", {65537, static_cast<char>(-1)}, "1 ff"},
      {"user hh narrows 64-bit", "%hhd", {int64_t{300}}, "44"},
      {"wide string length ignored", "%ls", {"abc"}, "abc"},
      {"long double length ignored", "%Lf", {1.5}, "1.500000"},
      {"every length letter is read", "%jd%zd%td", {1, 2, 3}, "123"},
      {"precision on a character is ignored", "%.0c", {'x'}, "x"},
      {"null string prints empty", "[%s][%1]", {NullString()}, "[][]"},
      {"std::string argument", "%s!", {kOwned}, "owned!"},
      {"zero character prints as nothing", "[%c][%3c]", {'\0', 0}, "[][   ]"},
      // Flags.
      {"sign and zero padding", "%+05d", {42}, "+0042"},
      {"left alignment", "%-4s|", {"ab"}, "ab  |"},
      {"alternate form", "%#x %#o", {255, 8}, "0xff 010"},
      {"alternate form dropped where undefined", "%#d %#s", {42, "s"}, "42 s"},
      {"zero flag dropped on strings", "%05s", {"ab"}, "   ab"},
      {"space flag", "% d", {7}, " 7"},
      // Cutting.
      {"size 1 writes only the zero", "hello %s", {"x"}, "", 1},
      {"text cut", "hello", {}, "hel", 4},
      {"argument cut", "ab%d", {12345}, "ab1", 4},
      {"string cut", "%s", {"abcdef"}, "abcd", 5},
      {"exact fit", "%s", {"abcd"}, "abcd", 5},
  };
  return cases;
}

TEST(FormatString, Cases) {
  for (const Case& c : Cases()) {
    EXPECT_EQ(Format(c.format, c.args, c.outSize), c.expected) << c.name;
  }
}

// Widths and precisions far beyond the buffer print what the buffer can hold,
// without making the C library pad or compute digits without end.
TEST(FormatString, HugeWidthsAndPrecisionsFillTheBuffer) {
  const std::string full(99, ' ');
  EXPECT_EQ(Format("%1000000000d", {42}, 100), full);
  EXPECT_EQ(Format("%*d", {INT_MAX, 42}, 100), full);
  EXPECT_EQ(Format("%*d|", {INT_MIN, 42}, 100), "42" + std::string(97, ' '));
  EXPECT_EQ(Format("%-999999999999999999999d|", {42}, 100), "42" + std::string(97, ' '));
  EXPECT_EQ(Format("%.1000000000f", {1.0}, 100), "1." + std::string(97, '0'));
  EXPECT_EQ(Format("%.*e", {INT_MAX, 1.0}, 100), "1." + std::string(97, '0'));
  EXPECT_EQ(Format("%.1000000000d", {-42}, 100), "-" + std::string(98, '0'));
  EXPECT_EQ(Format("%1000000000.1000000000s", {"abc"}, 100), full);
  EXPECT_EQ(Format("%50.1000000000s|", {"abc"}, 100), std::string(47, ' ') + "abc|");
}

// What printf writes for one placeholder after `filler` characters, cut to
// the 4095 characters of the buffer.
std::string CutPrintf(size_t filler, const std::string& printfSpec, const FormatArg& arg) {
  std::vector<char> big(1 << 16);
  const std::string format = std::string(filler, 'x') + printfSpec;
  const char* f = format.c_str();
  switch (arg.kind) {
    case FormatArgKind::String:
      std::snprintf(big.data(), big.size(), f, arg.s);
      break;
    case FormatArgKind::Int32:
      std::snprintf(big.data(), big.size(), f, arg.i32);
      break;
    case FormatArgKind::UInt32:
      std::snprintf(big.data(), big.size(), f, arg.u32);
      break;
    case FormatArgKind::Int64:
      std::snprintf(big.data(), big.size(), f, static_cast<long long>(arg.i64));
      break;
    case FormatArgKind::UInt64:
      std::snprintf(big.data(), big.size(), f, static_cast<unsigned long long>(arg.u64));
      break;
    case FormatArgKind::Double:
      std::snprintf(big.data(), big.size(), f, arg.d);
      break;
    case FormatArgKind::Char:
      std::snprintf(big.data(), big.size(), f, arg.c);
      break;
  }
  return std::string(big.data()).substr(0, 4095);
}

// A width or precision cut to the space left must not change what is shown:
// the cut output is the start of the uncut one, zeros and digits included.
TEST(FormatString, CutWidthsAndPrecisionsKeepThePrefixOfTheUncutOutput) {
  struct CutCase {
    const char* spec;
    const char* printfSpec;
    FormatArg arg;
  };
  const CutCase cases[] = {
      {"%4999.9999d", "%4999.9999d", int32_t{5}},
      {"%09000d", "%09000d", int32_t{-42}},
      {"%-6000.5000d|", "%-6000.5000d|", int32_t{42}},
      {"%+5000.4500d", "%+5000.4500d", int32_t{7}},
      {"%7000.6000d", "%7000.6000lld", int64_t{-123456789012}},
      {"%6000.5000u", "%6000.5000u", uint32_t{3000000000u}},
      {"%#6000.5000x", "%#6000.5000x", uint32_t{255}},
      {"%06000x", "%06000llx", uint64_t{0xabcdef}},
      {"%5000.4500s", "%5000.4500s", "abc"},
      {"%-5000s|", "%-5000s|", "abc"},
      {"%6000.5000f", "%6000.5000f", 3.25},
      {"%08000.2f", "%08000.2f", -1.5},
      {"%+09000.5500f", "%+09000.5500f", 0.1},
      {"%6000.5000e", "%6000.5000e", 1.5e-7},
      {"%#6000.5000g", "%#6000.5000g", 2.5},
      {"%6000.5000g", "%6000.5000g", 2.5},
  };
  for (const CutCase& c : cases) {
    for (size_t filler : {size_t{0}, size_t{1000}, size_t{4000}, size_t{4090}}) {
      const std::string format = std::string(filler, 'x') + c.spec;
      EXPECT_EQ(Format(format.c_str(), {c.arg}), CutPrintf(filler, c.printfSpec, c.arg))
          << c.spec << " after " << filler << " characters";
    }
  }
}

TEST(FormatString, WrappersFormatIntoOneMessage) {
  EXPECT_EQ(FormatString("Value %1 for '%2' of type %3 is out of range", int64_t{128}, "f", "int8"),
            "Value 128 for 'f' of type int8 is out of range");
  EXPECT_EQ(FormatString("%2$s=%1", 3u, std::string("k")), "k=3");
  EXPECT_EQ(FormatString("plain %% text"), "plain % text");
  EXPECT_EQ(FormatString("%s", std::string(5000, 'x')), std::string(4095, 'x'));
  EXPECT_EQ(FormatString(nullptr), "");
}

// Random formats from the characters that matter to the placeholder reader,
// with arguments of every kind and small buffers: the Format helper checks
// termination and the buffer bounds, the sanitizers check the rest.
TEST(FormatString, RandomFormatsStayInBounds) {
  static const char kAlphabet[] = "%%%%%0123456789$$**..-+ #0hhllLjtzdiouxXcsfFeEgGaAnpq! ";
  std::mt19937 random(20240611);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const std::vector<FormatArg> pool = {
      "text",     NullString(), int32_t{-7}, uint32_t{4000000000u}, int64_t{INT64_MIN},
      UINT64_MAX, -2.5e300,     'q',         int32_t{INT_MAX},      0.0};
  for (int i = 0; i < 4000; ++i) {
    std::string format;
    for (size_t n = pick(70); n > 0; --n) format += kAlphabet[pick(sizeof(kAlphabet) - 1)];
    std::vector<FormatArg> args;
    for (size_t n = pick(5); n > 0; --n) args.push_back(pool[pick(pool.size())]);
    Format(format.c_str(), args, 1 + pick(80));
  }
}

}  // namespace
}  // namespace Zorv
