#include "binding/conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "binding/message_match.h"
#include "binding/type_registration.h"

namespace Zorv {
namespace {

enum class Color : int32_t { Red = 0, Green = 1, Blue = 5 };

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Point&) const = default;
};

struct Unregistered {
  int32_t x = 0;
};

struct Holder {
  std::vector<Unregistered> items;
};

struct Required {
  uint64_t id = 7;
  std::string label = "keep";
};

struct Sparse {
  int32_t count = 0;
  uint64_t big = 0;
  double ratio = 0;
  bool on = false;
  std::string name;
  Color color = Color::Red;
  std::vector<int32_t> list;
  std::map<std::string, int32_t> map;
  std::vector<uint8_t> blob;
  BindingProperty object;
};

struct Everything {
  bool flag = false;
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  float f = 0;
  double d = 0;
  std::string text;
  BindingProperty object;
  std::vector<uint8_t> blob;
  Color color = Color::Red;
  Point point;
  std::vector<Point> points;
  std::vector<std::string> names;
  std::vector<Color> colors;
  std::vector<bool> bits;
  std::map<std::string, int32_t> counts;
  std::unordered_map<std::string, Point> places;
  bool operator==(const Everything&) const = default;
};

void RegisterTestTypes(TypeRegistry& registry) {
  registry.Enum<Color>("Color")
      .value("Red", Color::Red)
      .value("Green", Color::Green)
      .value("Blue", Color::Blue)
      .finish();
  registry.Struct<Point>("Point").field("x", &Point::x).field("y", &Point::y).finish();
  registry.Struct<Holder>("Holder").field("items", &Holder::items).finish();
  registry.Struct<Required>("Required")
      .field("id", &Required::id, "", kFieldRequired)
      .field("label", &Required::label)
      .finish();
  constexpr uint32_t omit = kFieldOmitEmpty;
  registry.Struct<Sparse>("Sparse")
      .field("count", &Sparse::count, "", omit)
      .field("big", &Sparse::big, "", omit)
      .field("ratio", &Sparse::ratio, "", omit)
      .field("on", &Sparse::on, "", omit)
      .field("name", &Sparse::name, "", omit)
      .field("color", &Sparse::color, "", omit)
      .field("list", &Sparse::list, "", omit)
      .field("map", &Sparse::map, "", omit)
      .field("blob", &Sparse::blob, "", omit)
      .field("object", &Sparse::object, "", omit)
      .finish();
  registry.Struct<Everything>("Everything")
      .field("flag", &Everything::flag)
      .field("i8", &Everything::i8)
      .field("u8", &Everything::u8)
      .field("i16", &Everything::i16)
      .field("u16", &Everything::u16)
      .field("i32", &Everything::i32)
      .field("u32", &Everything::u32)
      .field("i64", &Everything::i64)
      .field("u64", &Everything::u64)
      .field("f", &Everything::f)
      .field("d", &Everything::d)
      .field("text", &Everything::text)
      .field("object", &Everything::object)
      .field("blob", &Everything::blob)
      .field("color", &Everything::color)
      .field("point", &Everything::point)
      .field("points", &Everything::points)
      .field("names", &Everything::names)
      .field("colors", &Everything::colors)
      .field("bits", &Everything::bits)
      .field("counts", &Everything::counts)
      .field("places", &Everything::places)
      .finish();
}

BindingProperty Int(int64_t v) {
  return BindingProperty(v);
}
BindingProperty Uint(uint64_t v) {
  return BindingProperty(v);
}
BindingProperty Dbl(double v) {
  return BindingProperty(v);
}
BindingProperty Str(const char* v) {
  return BindingProperty(v);
}
BindingProperty Enumerator(int32_t v, uint32_t typeId) {
  return BindingProperty(EnumValue{v, typeId});
}

BindingProperty Fields(std::initializer_list<std::pair<const char*, BindingProperty>> fields) {
  BindingProperty out;
  out.makeStructure();
  for (const auto& [name, value] : fields) out.field(name) = value;
  return out;
}

BindingProperty Elements(std::initializer_list<BindingProperty> elements) {
  BindingProperty out;
  out.makeCollection();
  for (const BindingProperty& element : elements) out.append() = element;
  return out;
}

class ConversionTest : public ::testing::Test {
 protected:
  ConversionTest() { RegisterTestTypes(registry); }

  template <typename T>
  BindingResult ReadResult(const BindingProperty& input) {
    T native{};
    return FromProperty(input, native, "f", registry);
  }

  template <typename T>
  T Read(const BindingProperty& input) {
    T native{};
    const BindingResult result = FromProperty(input, native, "f", registry);
    EXPECT_TRUE(result.success) << result.error();
    return native;
  }

  TypeRegistry registry;
};

struct FailureCase {
  const char* label;
  std::function<BindingResult()> run;
  const char* expected;
};

void ExpectFailures(const std::vector<FailureCase>& cases) {
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.label);
    const BindingResult result = c.run();
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error(), std::string(c.expected));
    EXPECT_EQ(result.value.size(), 1u);
  }
}

TEST_F(ConversionTest, FailureMessages) {
  const uint32_t color = StaticTypeId<Color>();
  ExpectFailures({
      {"empty input", [&] { return ReadResult<int32_t>(BindingProperty()); },
       "A value for 'f' is required."},
      {"bool from yes", [&] { return ReadResult<bool>(Str("yes")); },
       "Value yes for 'f' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"bool from TRUE", [&] { return ReadResult<bool>(Str("TRUE")); },
       "Value TRUE for 'f' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"bool from a number", [&] { return ReadResult<bool>(Int(1)); },
       "Couldn't assign value to 'f' of type bool because the input is of an invalid type "
       "signed."},
      {"int8 from text 128", [&] { return ReadResult<int8_t>(Str("128")); },
       "Value 128 for 'f' of type int8 is out of range"},
      {"uint32 from -1", [&] { return ReadResult<uint32_t>(Int(-1)); },
       "Value -1 for 'f' of type uint32 is out of range"},
      {"int16 from 1e10", [&] { return ReadResult<int16_t>(Dbl(1e10)); },
       "Value 1e+10 for 'f' of type int16 is out of range"},
      {"float from 1e300", [&] { return ReadResult<float>(Dbl(1e300)); },
       "Value 1e+300 for 'f' of type float is out of range"},
      {"int8 from 12abc", [&] { return ReadResult<int8_t>(Str("12abc")); },
       "Value 12abc for 'f' of type int8 is in an incorrect format"},
      {"double from 1.5x", [&] { return ReadResult<double>(Str("1.5x")); },
       "Value 1.5x for 'f' of type double is in an incorrect format"},
      {"int32 from a collection", [&] { return ReadResult<int32_t>(Elements({})); },
       "Couldn't assign value to 'f' of type int32 because the input is of an invalid type "
       "collection."},
      {"double from bool", [&] { return ReadResult<double>(BindingProperty(true)); },
       "Couldn't assign value to 'f' of type double because the input is of an invalid type "
       "bool."},
      {"enum from 7", [&] { return ReadResult<Color>(Int(7)); },
       "7 is not a valid Color enumeration value for 'f'."},
      {"enum from a name it lacks", [&] { return ReadResult<Color>(Str("Purple")); },
       "Purple is not a valid Color enumeration value for 'f'."},
      {"enum from bool", [&] { return ReadResult<Color>(BindingProperty(false)); },
       "Couldn't assign value to 'f' of enum type because the input is of an invalid type "
       "bool."},
      {"string from an unknown enumerator",
       [&] { return ReadResult<std::string>(Enumerator(9, color)); },
       "9 is not a valid enumeration value for 'f'."},
      {"string from a number", [&] { return ReadResult<std::string>(Int(3)); },
       "Couldn't assign value to 'f' because the input is not a string."},
      {"unregistered structure", [&] { return ReadResult<Unregistered>(Fields({})); },
       "Couldn't assign value to 'f' because the input is an unregistered structure or not a "
       "structure at all."},
      {"structure from text", [&] { return ReadResult<Point>(Str("1,2")); },
       "Couldn't assign value to 'f' of type Point because the input not a structure."},
      {"required field missing",
       [&] {
         return ReadResult<Required>(Fields({{"label", Str("x")}}));
       },
       "Couldn't assign value to 'f' of type Required because the input structure doesn't "
       "have required field 'id'."},
      {"required field empty",
       [&] {
         return ReadResult<Required>(Fields({{"id", BindingProperty()}}));
       },
       "Couldn't assign value to 'f' of type Required because the input structure doesn't "
       "have required field 'id'."},
      {"nested field names itself",
       [&] {
         return ReadResult<Everything>(Fields({{"point", Fields({{"x", Str("abc")}})}}));
       },
       "Value abc for 'x' of type int32 is in an incorrect format"},
      {"vector from a structure", [&] { return ReadResult<std::vector<int32_t>>(Fields({})); },
       "Couldn't assign value to 'f' of type vector because the input not a collection."},
      {"map from a collection",
       [&] { return ReadResult<std::map<std::string, int32_t>>(Elements({})); },
       "Couldn't assign value to 'f' of type map because the input not a structure."},
      {"map entry names its key",
       [&] {
         return ReadResult<std::map<std::string, int32_t>>(Fields({{"bad", Str("x")}}));
       },
       "Value x for 'bad' of type int32 is in an incorrect format"},
      {"writing an unregistered structure", [&] { return ToProperty(Unregistered{}, registry); },
       "Couldn't convert native value because it's an unregistered structure."},
      {"writing a vector of unregistered structures",
       [&] { return ToProperty(Holder{{Unregistered{}}}, registry); },
       "Couldn't convert native value because it's an unregistered structure."},
  });
}

// Inputs that would wrap, truncate or convert with undefined behaviour are
// rejected rather than read as some other number.
TEST_F(ConversionTest, RejectsNumbersThatDoNotFit) {
  ExpectFailures({
      {"uint64 from text -1", [&] { return ReadResult<uint64_t>(Str("-1")); },
       "Value -1 for 'f' of type uint64 is out of range"},
      {"uint64 from text 18446744073709551616",
       [&] { return ReadResult<uint64_t>(Str("18446744073709551616")); },
       "Value 18446744073709551616 for 'f' of type uint64 is out of range"},
      {"int64 from 2^63", [&] { return ReadResult<int64_t>(Dbl(9223372036854775808.0)); },
       "Value 9.22337e+18 for 'f' of type int64 is out of range"},
      {"uint64 from 2^64", [&] { return ReadResult<uint64_t>(Dbl(18446744073709551616.0)); },
       "Value 1.84467e+19 for 'f' of type uint64 is out of range"},
      {"int32 from NaN", [&] { return ReadResult<int32_t>(Dbl(std::nan(""))); },
       "Value nan for 'f' of type int32 is out of range"},
      {"int32 from empty text", [&] { return ReadResult<int32_t>(Str("")); },
       "Value  for 'f' of type int32 is in an incorrect format"},
      {"double from blanks", [&] { return ReadResult<double>(Str("  ")); },
       "Value    for 'f' of type double is in an incorrect format"},
      {"double from inf text", [&] { return ReadResult<double>(Str("inf")); },
       "Value inf for 'f' of type double is out of range"},
      {"enum from 2^32 + 5", [&] { return ReadResult<Color>(Uint(4294967301u)); },
       "4294967301 is not a valid Color enumeration value for 'f'."},
      {"enum from text 2^32 + 5", [&] { return ReadResult<Color>(Str("4294967301")); },
       "4294967301 is not a valid Color enumeration value for 'f'."},
      {"blob from text that is not Base64",
       [&] { return ReadResult<std::vector<uint8_t>>(Str("A@==")); },
       "Value A@== for 'f' of type blob is in an incorrect format"},
  });
}

TEST_F(ConversionTest, ScalarReadersAcceptTheirForms) {
  EXPECT_TRUE(Read<bool>(Str("1")));
  EXPECT_TRUE(Read<bool>(Str("true")));
  EXPECT_FALSE(Read<bool>(Str("0")));
  EXPECT_FALSE(Read<bool>(Str("false")));
  EXPECT_TRUE(Read<bool>(BindingProperty(true)));

  EXPECT_EQ(Read<int8_t>(Str("0x7f")), 127);
  EXPECT_EQ(Read<int8_t>(Str("-0x80")), -128);
  EXPECT_EQ(Read<int32_t>(Str("010")), 8);
  EXPECT_EQ(Read<int32_t>(Str("  -42")), -42);
  EXPECT_EQ(Read<int32_t>(Dbl(3.9)), 3);
  EXPECT_EQ(Read<int32_t>(Dbl(-3.9)), -3);
  EXPECT_EQ(Read<uint16_t>(Dbl(3.9)), 3);
  EXPECT_EQ(Read<int64_t>(Uint(5)), 5);
  EXPECT_EQ(Read<uint8_t>(Int(200)), 200);
  EXPECT_EQ(Read<int32_t>(Enumerator(5, StaticTypeId<Color>())), 5);
  EXPECT_EQ(Read<uint64_t>(Str("-0")), 0u);

  EXPECT_EQ(Read<double>(Str("1e3")), 1000.0);
  EXPECT_EQ(Read<double>(Int(-2)), -2.0);
  EXPECT_EQ(Read<float>(Dbl(0.5)), 0.5f);
  EXPECT_TRUE(std::isnan(Read<double>(Dbl(std::nan("")))));

  EXPECT_EQ(Read<Color>(Str("5")), Color::Blue);
  EXPECT_EQ(Read<Color>(Str("Blue")), Color::Blue);
  EXPECT_EQ(Read<Color>(Uint(1)), Color::Green);
  EXPECT_EQ(Read<Color>(Int(0)), Color::Red);
  EXPECT_EQ(Read<Color>(Enumerator(5, 0x1234)), Color::Blue);

  EXPECT_EQ(Read<std::string>(Enumerator(5, StaticTypeId<Color>())), "Blue");
  EXPECT_EQ(Read<std::string>(Str("")), "");

  const std::vector<uint8_t> bytes = {0, 1, 2, 255};
  EXPECT_EQ(Read<std::vector<uint8_t>>(Str("AAEC/w==")), bytes);
  EXPECT_EQ(Read<std::vector<uint8_t>>(Str("AAEC/w")), bytes);
  BindingProperty blob;
  blob.setBlob(bytes);
  EXPECT_EQ(Read<std::vector<uint8_t>>(blob), bytes);
}

TEST_F(ConversionTest, FirstFailureIsKept) {
  BindingResult result;
  EXPECT_FALSE(ToBool(result, Str("yes"), "first"));
  EXPECT_EQ(ToSigned(result, Int(5), "second", 0, 10, "int32"), 0);
  EXPECT_EQ(ToString(result, Int(5), "third", registry), "");
  int32_t untouched = 9;
  FromProperty(result, Int(4), untouched, "fourth", registry);
  EXPECT_EQ(untouched, 9);
  EXPECT_EQ(result.error(),
            "Value yes for 'first' of type bool is in an incorrect format. Options are \"true\", "
            "\"false\", \"1\", \"0\".");
}

std::string Decimal(__int128 v) {
  if (v == 0) return "0";
  const bool negative = v < 0;
  std::string digits;
  for (; v != 0; v /= 10)
    digits.insert(digits.begin(), char('0' + (negative ? -(v % 10) : v % 10)));
  return negative ? "-" + digits : digits;
}

// Every numeric kind that holds v.
std::vector<BindingProperty> Numbers(__int128 v) {
  std::vector<BindingProperty> out;
  if (v >= INT64_MIN && v <= INT64_MAX) out.push_back(Int(static_cast<int64_t>(v)));
  if (v >= 0 && v <= UINT64_MAX) out.push_back(Uint(static_cast<uint64_t>(v)));
  return out;
}

// The native type names that messages print.
template <typename T>
const char* NativeName() {
  if constexpr (std::is_same_v<T, int8_t>) return "int8";
  if constexpr (std::is_same_v<T, uint8_t>) return "uint8";
  if constexpr (std::is_same_v<T, int16_t>) return "int16";
  if constexpr (std::is_same_v<T, uint16_t>) return "uint16";
  if constexpr (std::is_same_v<T, int32_t>) return "int32";
  if constexpr (std::is_same_v<T, uint32_t>) return "uint32";
  if constexpr (std::is_same_v<T, int64_t>) return "int64";
  if constexpr (std::is_same_v<T, uint64_t>) return "uint64";
}

template <typename T>
class IntegerBoundsTest : public ConversionTest {};
using IntegerTypes =
    ::testing::Types<int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t, int64_t, uint64_t>;
TYPED_TEST_SUITE(IntegerBoundsTest, IntegerTypes);

TYPED_TEST(IntegerBoundsTest, AcceptsExactlyTheTypesRange) {
  using T = TypeParam;
  const __int128 low = std::numeric_limits<T>::min();
  const __int128 high = std::numeric_limits<T>::max();
  for (const __int128 bound : {low, high}) {
    SCOPED_TRACE(Decimal(bound));
    for (const BindingProperty& number : Numbers(bound)) {
      EXPECT_EQ(this->template Read<T>(number), bound);
    }
    EXPECT_EQ(this->template Read<T>(BindingProperty(Decimal(bound))), bound);
  }
  for (const __int128 past : {low - 1, high + 1}) {
    const std::string text = Decimal(past);
    SCOPED_TRACE(text);
    const std::string expected =
        "Value " + text + " for 'f' of type " + NativeName<T>() + " is out of range";
    for (const BindingProperty& number : Numbers(past)) {
      EXPECT_EQ(this->template ReadResult<T>(number).error(), expected);
    }
    EXPECT_EQ(this->template ReadResult<T>(BindingProperty(text)).error(), expected);
  }
}

Everything FullValue() {
  Everything e;
  e.flag = true;
  e.i8 = -8;
  e.u8 = 200;
  e.i16 = -1600;
  e.u16 = 60000;
  e.i32 = -320000;
  e.u32 = 4000000000u;
  e.i64 = INT64_MIN;
  e.u64 = UINT64_MAX;
  e.f = 1.5f;
  e.d = -2.25e-300;
  e.text = "text";
  e.object.field("list").append() = "v";
  e.object.field("n") = int64_t{-1};
  e.blob = {0, 255, 7};
  e.color = Color::Blue;
  e.point = {3, -4};
  e.points = {{1, 2}, {3, 4}};
  e.names = {"a", ""};
  e.colors = {Color::Green, Color::Red};
  e.bits = {true, false, true};
  e.counts = {{"one", 1}, {"two", 2}};
  e.places = {{"home", {5, 6}}, {"work", {7, 8}}};
  return e;
}

TEST_F(ConversionTest, StructureRoundTripsThroughAValue) {
  const Everything original = FullValue();
  const BindingResult written = ToProperty(original, registry);
  ASSERT_TRUE(written.success) << written.error();
  const BindingProperty& value = written.value;
  EXPECT_EQ(value.size(), registry.findByName("Everything")->fields.size());
  EXPECT_EQ(value.find("i8").kind(), ValueKind::Signed);
  EXPECT_EQ(value.find("u64").kind(), ValueKind::Unsigned);
  EXPECT_EQ(value.find("f").kind(), ValueKind::Float);
  EXPECT_EQ(value.find("blob").kind(), ValueKind::Blob);
  EXPECT_EQ(value.find("color").asEnum(), (EnumValue{5, StaticTypeId<Color>()}));
  EXPECT_EQ(value.find("points").element(1).find("y").asSigned(), 4);
  EXPECT_EQ(value.find("bits").element(2).asBool(), true);
  EXPECT_EQ(value.find("places").find("work").find("x").asSigned(), 7);
  EXPECT_EQ(value.find("object"), original.object);

  Everything back;
  const BindingResult read = FromProperty(value, back, "everything", registry);
  ASSERT_TRUE(read.success) << read.error();
  EXPECT_EQ(back, original);
}

TEST_F(ConversionTest, StructureRoundTripsThroughJsonText) {
  const Everything original = FullValue();
  const BindingResult written = ToProperty(original, registry);
  ASSERT_TRUE(written.success) << written.error();
  const std::string text = ToJsonText(written.value, &registry);
  EXPECT_NE(text.find("\"color\":\"Blue\""), std::string::npos) << text;

  const BindingResult parsed = FromJsonText(text);
  ASSERT_TRUE(parsed.success) << parsed.error();
  Everything back;
  const BindingResult read = FromProperty(parsed.value, back, "everything", registry);
  ASSERT_TRUE(read.success) << read.error();
  EXPECT_EQ(back, original) << text;
}

TEST_F(ConversionTest, OmitEmptyFlagLeavesOutZeroValues) {
  const BindingResult empty = ToProperty(Sparse{}, registry);
  ASSERT_TRUE(empty.success);
  EXPECT_EQ(empty.value.kind(), ValueKind::Structure);
  EXPECT_EQ(empty.value.size(), 0u);

  Sparse full;
  full.count = -1;
  full.big = 1;
  full.ratio = 0.5;
  full.on = true;
  full.name = "n";
  full.color = Color::Green;
  full.list = {0};
  full.map = {{"k", 0}};
  full.blob = {0};
  full.object = int64_t{0};  // a zero inside an object still counts as zero
  const BindingResult written = ToProperty(full, registry);
  ASSERT_TRUE(written.success);
  EXPECT_EQ(written.value.size(), 9u);
  EXPECT_FALSE(written.value.has("object"));
}

TEST_F(ConversionTest, MissingOptionalFieldsKeepTheirValues) {
  Required required;
  ASSERT_TRUE(
      FromProperty(Fields({{"id", Str("3")}, {"other", Int(1)}}), required, "r", registry).success);
  EXPECT_EQ(required.id, 3u);
  EXPECT_EQ(required.label, "keep");

  Everything e = FullValue();
  ASSERT_TRUE(FromProperty(Fields({{"i32", Int(4)}, {"text", BindingProperty()}}), e, "e", registry)
                  .success);
  EXPECT_EQ(e.i32, 4);
  EXPECT_EQ(e.text, "text");
}

TEST_F(ConversionTest, EmptyElementsKeepTheirDefault) {
  std::vector<Point> points = {{9, 9}, {9, 9}, {9, 9}, {9, 9}};
  ASSERT_TRUE(
      FromProperty(Elements({Fields({{"x", Int(1)}}), BindingProperty(), Fields({{"y", Int(2)}})}),
                   points, "points", registry)
          .success);
  EXPECT_EQ(points, (std::vector<Point>{{1, 0}, {0, 0}, {0, 2}}));

  EXPECT_EQ(Read<std::vector<int32_t>>(Elements({Int(1), BindingProperty(), Str("3")})),
            (std::vector<int32_t>{1, 0, 3}));
  EXPECT_EQ(
      Read<std::vector<bool>>(Elements({Str("true"), BindingProperty(), BindingProperty(true)})),
      (std::vector<bool>{true, false, true}));
}

TEST_F(ConversionTest, MapsReplaceTheirEntries) {
  std::map<std::string, int32_t> counts = {{"stale", 1}};
  ASSERT_TRUE(
      FromProperty(Fields({{"a", Int(1)}, {"b", Str("2")}}), counts, "counts", registry).success);
  EXPECT_EQ(counts, (std::map<std::string, int32_t>{{"a", 1}, {"b", 2}}));

  const BindingResult written = ToProperty(std::map<std::string, int32_t>{}, registry);
  EXPECT_EQ(written.value.kind(), ValueKind::Structure);
}

// Whether `error` is one of the messages a conversion may answer.
bool IsConversionMessage(std::string_view error) {
  static constexpr std::string_view kMessages[] = {
      "A value for '%1' is required.",
      "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
      "\"1\", \"0\".",
      "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.",
      "Value %1 for '%2' of type %3 is out of range",
      "Value %1 for '%2' of type %3 is in an incorrect format",
      "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
      "%1 is not a valid %2 enumeration value for '%3'.",
      "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.",
      "%1 is not a valid enumeration value for '%2'.",
      "Couldn't assign value to '%1' because the input is not a string.",
      "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
      "structure at all.",
      "Couldn't assign value to '%1' of type %2 because the input not a structure.",
      "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
      "field '%3'.",
      "Couldn't assign value to '%1' of type vector because the input not a collection.",
      "Couldn't assign value to '%1' of type map because the input not a structure.",
  };
  for (const std::string_view message : kMessages) {
    if (MatchesTemplate(error, message)) return true;
  }
  return false;
}

// No input, however it is shaped, makes a reader misbehave: every field of a
// structure is given every kind of value. A read either succeeds or answers
// one of the conversion messages, and leaves every other field as it was.
TEST_F(ConversionTest, AnyInputGivesAValueOrAMessage) {
  BindingProperty blob;
  blob.setBlob(std::vector<uint8_t>{1, 2});
  BindingProperty deep;
  BindingProperty* cursor = &deep;
  for (int i = 0; i < 200; ++i) cursor = &cursor->field("x").append();
  const std::vector<BindingProperty> inputs = {
      BindingProperty(),
      BindingProperty(true),
      Int(-1),
      Int(INT64_MIN),
      Uint(UINT64_MAX),
      Dbl(std::nan("")),
      Dbl(-INFINITY),
      Dbl(1e300),
      Dbl(-0.0),
      Str(""),
      Str("0x"),
      Str("-"),
      Str("nan"),
      Str("1e999"),
      Str("="),
      blob,
      Enumerator(5, StaticTypeId<Color>()),
      Enumerator(-7, 0x1234),
      Elements({Int(1), Fields({{"x", Int(1)}}), Elements({})}),
      Fields({{"x", Elements({Str("a")})}, {"home", Fields({{"y", Dbl(1.5)}})}}),
      deep,
  };
  const BindingResult defaults = ToProperty(Everything{}, registry);
  ASSERT_TRUE(defaults.success) << defaults.error();
  for (const FieldDescriptor& field : registry.findByName("Everything")->fields) {
    for (const BindingProperty& input : inputs) {
      SCOPED_TRACE(field.name + " from " + std::string(input.kindName()));
      Everything e;
      const BindingResult result =
          FromProperty(Fields({{field.name.c_str(), input}}), e, "e", registry);
      if (!result.success) {
        EXPECT_TRUE(IsConversionMessage(result.error())) << result.error();
        EXPECT_EQ(result.value.size(), 1u);
      }
      const BindingResult written = ToProperty(e, registry);
      ASSERT_TRUE(written.success) << written.error();
      for (const auto& [name, value] : defaults.value.fields()) {
        if (name != field.name) {
          EXPECT_EQ(written.value.find(name), value) << name;
        }
      }
    }
  }
  // The structure itself, given each input directly.
  for (const BindingProperty& input : inputs) {
    SCOPED_TRACE(input.kindName());
    Everything e;
    const BindingResult result = FromProperty(input, e, "e", registry);
    if (input.kind() == ValueKind::Structure) {
      EXPECT_TRUE(result.success) << result.error();  // it names no field of Everything
    } else {
      EXPECT_EQ(result.error(),
                "Couldn't assign value to 'e' of type Everything because the input not a "
                "structure.");
    }
  }
}

}  // namespace
}  // namespace Zorv
