#include "binding/msgpack_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "binding/json_writer.h"
#include "logging/allocator.h"

namespace Zorv {
namespace {

using Bytes = std::vector<uint8_t>;

BindingProperty Signed(int64_t v) {
  return BindingProperty(v);
}
BindingProperty Unsigned(uint64_t v) {
  return BindingProperty(v);
}
BindingProperty Float(double v) {
  return BindingProperty(v);
}
BindingProperty Bool(bool v) {
  return BindingProperty(v);
}
BindingProperty Str(std::string_view v) {
  return BindingProperty(v);
}
BindingProperty Blob(Bytes v) {
  return BindingProperty(std::move(v));
}

BindingProperty Array(std::initializer_list<BindingProperty> items) {
  BindingProperty value;
  value.makeCollection();
  for (const BindingProperty& item : items) value.append() = item;
  return value;
}

BindingProperty Map(std::initializer_list<std::pair<const char*, BindingProperty>> fields) {
  BindingProperty value;
  value.makeStructure();
  for (const auto& [name, item] : fields) value.field(name) = item;
  return value;
}

// Failure output: the tree as JSON (blobs show as Base64 strings).
std::string Describe(const BindingProperty& v) {
  return ToJsonText(v);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Repeat(uint8_t byte, size_t count) {
  return Bytes(count, byte);
}

MsgPackDecodeResult Decode(const Bytes& input) {
  return DecodeMsgPack(input.data(), input.size());
}

struct DecodeCase {
  const char* name;
  Bytes input;
  BindingProperty expected;  // when `error` is empty
  std::string error;
  size_t bytesUsed;
};

DecodeCase Value(const char* name, Bytes input, BindingProperty expected, size_t bytesUsed) {
  return {name, std::move(input), std::move(expected), "", bytesUsed};
}

DecodeCase Error(const char* name, Bytes input, std::string error, size_t bytesUsed) {
  return {name, std::move(input), BindingProperty(), std::move(error), bytesUsed};
}

void ExpectDecodes(const std::vector<DecodeCase>& cases) {
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const MsgPackDecodeResult r = Decode(c.input);
    EXPECT_EQ(r.bytesUsed, c.bytesUsed);
    if (c.error.empty()) {
      ASSERT_TRUE(r.result.success) << r.result.error();
      EXPECT_EQ(r.result.value.kind(), c.expected.kind());
      EXPECT_TRUE(r.result.value == c.expected)
          << Describe(r.result.value) << " != " << Describe(c.expected);
    } else {
      ASSERT_FALSE(r.result.success) << Describe(r.result.value);
      EXPECT_EQ(r.result.error(), c.error);
      EXPECT_EQ(r.result.value.size(), 1u) << "only the error field is left";
    }
  }
}

TEST(DecodeMsgPack, ScalarFamilies) {
  ExpectDecodes({
      Value("positive fixint", {0x05}, Signed(5), 1),
      Value("largest positive fixint", {0x7f}, Signed(127), 1),
      Value("negative fixint -1", {0xff}, Signed(-1), 1),
      Value("negative fixint -32", {0xe0}, Signed(-32), 1),
      Value("nil", {0xc0}, BindingProperty(), 1),
      Value("false", {0xc2}, Bool(false), 1),
      Value("true", {0xc3}, Bool(true), 1),
      Value("uint 8", {0xcc, 0xff}, Unsigned(255), 2),
      Value("uint 16", {0xcd, 0x01, 0x02}, Unsigned(0x0102), 3),
      Value("uint 32", {0xce, 0xfe, 0xdc, 0xba, 0x98}, Unsigned(0xfedcba98), 5),
      Value("uint 64", Concat({{0xcf}, Repeat(0xff, 8)}),
            Unsigned(std::numeric_limits<uint64_t>::max()), 9),
      Value("int 8", {0xd0, 0x80}, Signed(-128), 2),
      Value("int 16", {0xd1, 0xff, 0xfe}, Signed(-2), 3),
      Value("int 32", {0xd2, 0x80, 0x00, 0x00, 0x00}, Signed(std::numeric_limits<int32_t>::min()),
            5),
      Value("int 32 positive", {0xd2, 0x7f, 0xff, 0xff, 0xff}, Signed(0x7fffffff), 5),
      Value("int 64", Concat({{0xd3}, Repeat(0xff, 8)}), Signed(-1), 9),
      Value("int 64 minimum", {0xd3, 0x80, 0, 0, 0, 0, 0, 0, 0},
            Signed(std::numeric_limits<int64_t>::min()), 9),
      Value("float 32 widened", {0xca, 0x3d, 0xcc, 0xcc, 0xcd},
            Float(static_cast<double>(std::bit_cast<float>(0x3dcccccdu))), 5),
      Value("float 64", {0xcb, 0x3f, 0xf8, 0, 0, 0, 0, 0, 0}, Float(1.5), 9),
      Value("fixstr", {0xa3, 'a', 'b', 'c'}, Str("abc"), 4),
      Value("empty fixstr", {0xa0}, Str(""), 1),
      Value("longest fixstr", Concat({{0xbf}, Repeat('x', 31)}), Str(std::string(31, 'x')), 32),
      Value("string bytes unchanged", {0xa3, 0x00, 0xff, 0x80}, Str(std::string("\0\xff\x80", 3)),
            4),
      Value("str 8", {0xd9, 0x02, 'h', 'i'}, Str("hi"), 4),
      Value("str 16", Concat({{0xda, 0x01, 0x00}, Repeat('s', 256)}), Str(std::string(256, 's')),
            259),
      Value("str 32", {0xdb, 0, 0, 0, 2, 'o', 'k'}, Str("ok"), 7),
      Value("bin 8", {0xc4, 0x02, 0x00, 0xff}, Blob({0x00, 0xff}), 4),
      Value("empty bin 8", {0xc4, 0x00}, Blob({}), 2),
      Value("bin 16", {0xc5, 0x00, 0x01, 0x7f}, Blob({0x7f}), 4),
      Value("bin 32", {0xc6, 0, 0, 0, 3, 1, 2, 3}, Blob({1, 2, 3}), 8),
  });
}

TEST(DecodeMsgPack, Containers) {
  ExpectDecodes({
      Value("fixarray stops after its elements", {0x92, 0x01, 0x02, 0x03},
            Array({Signed(1), Signed(2)}), 3),
      Value("empty fixarray", {0x90, 0x01}, Array({}), 1),
      Value("array 16", {0xdc, 0x00, 0x02, 0xc3, 0xc0}, Array({Bool(true), BindingProperty()}), 5),
      Value("array 32", {0xdd, 0, 0, 0, 1, 0xa1, 'z'}, Array({Str("z")}), 7),
      Value("fixmap", {0x82, 0xa1, 'b', 0x02, 0xa1, 'a', 0x01},
            Map({{"a", Signed(1)}, {"b", Signed(2)}}), 7),
      Value("empty fixmap", {0x80}, Map({}), 1),
      Value("map 16", {0xde, 0x00, 0x01, 0xa1, 'k', 0xc2}, Map({{"k", Bool(false)}}), 6),
      Value("map 32", {0xdf, 0, 0, 0, 1, 0xa0, 0x07}, Map({{"", Signed(7)}}), 7),
      Value("keys in str 8/16/32",
            {0x83, 0xd9, 1, 'a', 1, 0xda, 0, 1, 'b', 2, 0xdb, 0, 0, 0, 1, 'c', 3},
            Map({{"a", Signed(1)}, {"b", Signed(2)}, {"c", Signed(3)}}), 17),
      Value("nested", {0x92, 0x81, 0xa1, 'a', 0x92, 0xc0, 0xc3, 0xa1, 'x'},
            Array({Map({{"a", Array({BindingProperty(), Bool(true)})}}), Str("x")}), 9),
      Value("empty containers inside", {0x93, 0x90, 0x80, 0x01},
            Array({Array({}), Map({}), Signed(1)}), 4),
      Value("a key given twice keeps the later value", {0x82, 0xa1, 'a', 0x01, 0xa1, 'a', 0x02},
            Map({{"a", Signed(2)}}), 7),
      Value("a repeated key's later array replaces the earlier one",
            {0x82, 0xa1, 'a', 0x92, 0x01, 0x02, 0xa1, 'a', 0x91, 0x03},
            Map({{"a", Array({Signed(3)})}}), 10),
      Value("a repeated key's later scalar replaces a map",
            {0x82, 0xa1, 'a', 0x81, 0xa1, 'b', 0x01, 0xa1, 'a', 0xc0},
            Map({{"a", BindingProperty()}}), 10),
  });
}

TEST(DecodeMsgPack, InputEndingInsideContainersKeepsTheItemsRead) {
  ExpectDecodes({
      Value("empty input", {}, BindingProperty(), 0),
      Value("array missing elements", {0x93, 0x01}, Array({Signed(1)}), 2),
      Value("array header only", {0x92}, Array({}), 1),
      Value("nested arrays", {0x92, 0x91}, Array({Array({})}), 2),
      Value("map ends after a key", {0x82, 0xa1, 'a', 0x01, 0xa1, 'b'}, Map({{"a", Signed(1)}}), 6),
      Value("map ends before a key", {0x81}, Map({}), 1),
      Value("array 32 claiming 4 GiB on a 10-byte buffer",
            {0xdd, 0xff, 0xff, 0xff, 0xff, 0x01, 0x02, 0x03, 0x04, 0x05},
            Array({Signed(1), Signed(2), Signed(3), Signed(4), Signed(5)}), 10),
      // Entry counts are doubled into item counts in 64 bits: with 2^31
      // entries a 32-bit count would wrap to 0 and close the map at once.
      Value("map 32 of 2^31 entries", {0xdf, 0x80, 0, 0, 0, 0xa1, 'a', 0x01},
            Map({{"a", Signed(1)}}), 8),
      Value("map 32 of 2^32-1 entries", {0xdf, 0xff, 0xff, 0xff, 0xff, 0xa1, 'a', 0x01, 0xa1, 'b'},
            Map({{"a", Signed(1)}}), 10),
  });
}

TEST(DecodeMsgPack, Failures) {
  ExpectDecodes({
      Error("never-used byte", {0xc1}, "Invalid MessagePack data at position 1.", 1),
      Error("never-used byte inside a container", {0x92, 0x01, 0xc1},
            "Invalid MessagePack data at position 3.", 3),
      Error("ext 8", {0xc7, 0x01, 0x05, 0x00}, "Invalid MessagePack data at position 1.", 1),
      Error("ext 16", {0x91, 0xc8, 0x00, 0x01, 0x05, 0x00},
            "Invalid MessagePack data at position 2.", 2),
      Error("ext 32", {0xc9, 0, 0, 0, 1, 5, 0}, "Invalid MessagePack data at position 1.", 1),
      Error("fixext 1", {0xd4, 0x05, 0x00}, "Invalid MessagePack data at position 1.", 1),
      Error("fixext 2", {0xd5, 0x05, 0, 0}, "Invalid MessagePack data at position 1.", 1),
      Error("fixext 4", {0xd6, 0x05, 0, 0, 0, 0}, "Invalid MessagePack data at position 1.", 1),
      Error("fixext 8", Concat({{0xd7, 0x05}, Repeat(0, 8)}),
            "Invalid MessagePack data at position 1.", 1),
      Error("fixext 16", Concat({{0xd8, 0x05}, Repeat(0, 16)}),
            "Invalid MessagePack data at position 1.", 1),
      Error("integer key", {0x81, 0x01, 0x02},
            "Invalid MessagePack data at position 2. Map keys must be strings.", 2),
      Error("nil key after a good entry", {0x82, 0xa1, 'a', 0x01, 0xc0, 0x02},
            "Invalid MessagePack data at position 5. Map keys must be strings.", 5),
      Error("bin key", {0x81, 0xc4, 0x01, 'a', 0x02},
            "Invalid MessagePack data at position 2. Map keys must be strings.", 2),
  });
}

TEST(DecodeMsgPack, TruncatedNumbersAndLengths) {
  const std::string int8 =
      "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.";
  const std::string int16 =
      "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.";
  const std::string int32 =
      "Invalid MessagePack data. 32-bit integer value at position 1 is truncated.";
  const std::string int64 =
      "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.";
  ExpectDecodes({
      Error("uint 8", {0xcc}, int8, 1),
      Error("int 8", {0xd0}, int8, 1),
      Error("uint 16", {0xcd, 0x01}, int16, 1),
      Error("int 16", {0xd1}, int16, 1),
      Error("uint 32", {0xce, 0, 0, 0}, int32, 1),
      Error("int 32", {0xd2, 0}, int32, 1),
      Error("float 32", {0xca, 0, 0}, int32, 1),
      Error("uint 64", Concat({{0xcf}, Repeat(0, 7)}), int64, 1),
      Error("int 64", {0xd3, 0}, int64, 1),
      Error("float 64", {0xcb}, int64, 1),
      Error("str 8 length", {0xd9}, int8, 1),
      Error("bin 8 length", {0xc4}, int8, 1),
      Error("str 16 length", {0xda, 0x00}, int16, 1),
      Error("bin 16 length", {0xc5}, int16, 1),
      Error("array 16 count", {0xdc, 0x00}, int16, 1),
      Error("map 16 count", {0xde}, int16, 1),
      Error("str 32 length", {0xdb, 0, 0}, int32, 1),
      Error("bin 32 length", {0xc6, 0}, int32, 1),
      Error("array 32 count", {0xdd}, int32, 1),
      Error("map 32 count", {0xdf, 0, 0, 0}, int32, 1),
      Error("str 8 key length", {0x81, 0xd9},
            "Invalid MessagePack data. 8-bit integer value at position 2 is truncated.", 2),
      Error("str 8", {0xd9, 0x05, 'a', 'b'},
            "Invalid MessagePack data. String of size 5 at position 2 is truncated.", 2),
      Error("fixstr", {0x91, 0xa3, 'a'},
            "Invalid MessagePack data. String of size 3 at position 2 is truncated.", 2),
      Error("fixstr key", {0x81, 0xa3, 'a'},
            "Invalid MessagePack data. String of size 3 at position 2 is truncated.", 2),
      Error("str 32 claiming 4 GiB", {0xdb, 0xff, 0xff, 0xff, 0xff, 'a', 'b', 'c', 'd', 'e'},
            "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated.", 5),
      Error("bin 8", {0xc4, 0x03, 0x01},
            "Invalid MessagePack data. Raw bytes of size 3 at position 2 are truncated.", 2),
      Error("bin 32 claiming 4 GiB", {0xc6, 0xff, 0xff, 0xff, 0xff, 0x00},
            "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are truncated.",
            5),
  });
}

// Bytes handed to the framework's allocator (arena pages and large blocks)
// while decoding `input`; the tree is freed before counting stops.
uint64_t BytesAllocatedDecoding(const Bytes& input) {
  const uint64_t before = GetMemoryCounters().bytesAllocated;
  {
    const MsgPackDecodeResult r = Decode(input);
    EXPECT_TRUE(r.result.success) << r.result.error();
  }
  return GetMemoryCounters().bytesAllocated - before;
}

TEST(DecodeMsgPack, LyingCountsReserveNoMoreThanTheInputCanFill) {
  // Each array 32 header claims 2^32-1 elements; nested, they would each
  // reserve a large element array if counts were trusted.
  Bytes nested;
  for (int i = 0; i < 2000; ++i) nested.insert(nested.end(), {0xdd, 0xff, 0xff, 0xff, 0xff});
  EXPECT_LT(BytesAllocatedDecoding(nested), 4u << 20);

  Bytes flat = {0xdd, 0xff, 0xff, 0xff, 0xff};
  flat.resize(flat.size() + 1000, 0x01);
  EXPECT_LT(BytesAllocatedDecoding(flat), 1u << 20);
}

TEST(DecodeMsgPack, DeepNestingNeedsNoRecursion) {
  constexpr size_t kDepth = 1'000'000;
  Bytes input = Repeat(0x91, kDepth);
  input.push_back(0x2a);
  const MsgPackDecodeResult r = Decode(input);
  ASSERT_TRUE(r.result.success) << r.result.error();
  EXPECT_EQ(r.bytesUsed, input.size());
  const BindingProperty* v = &r.result.value;
  size_t depth = 0;
  while (v->kind() == ValueKind::Collection && v->size() == 1) {
    v = &v->element(0);
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_TRUE(*v == Signed(42));
}

TEST(DecodeMsgPack, DeepMapNestingNeedsNoRecursion) {
  constexpr size_t kDepth = 200'000;
  Bytes input;
  for (size_t i = 0; i < kDepth; ++i) input.insert(input.end(), {0x81, 0xa1, 'k'});
  input.push_back(0xc3);
  const MsgPackDecodeResult r = Decode(input);
  ASSERT_TRUE(r.result.success) << r.result.error();
  EXPECT_EQ(r.bytesUsed, input.size());
  const BindingProperty* v = &r.result.value;
  for (size_t i = 0; i < kDepth; ++i) v = &v->find("k");
  EXPECT_TRUE(*v == Bool(true));
}

// Every prefix of a document either fails with a message or succeeds having
// used all of it (the value then ends inside open containers).
TEST(DecodeMsgPack, EveryPrefixEndsCleanly) {
  const Bytes document = {0x83, 0xa2, 'i',  'd',  0xcf, 0,    0,    0,    0,    0,    0,   0,
                          42,  // "id": 42
                          0xd9, 0x04, 't',  'a',  'g',  's',  0x92, 0xa1, 'x',  0xc4, 1,   9,
                          0xa1, 'f',  0xcb, 0x40, 0x09, 0x21, 0xfb, 0x54, 0x44, 0x2d, 0x18};
  ASSERT_TRUE(Decode(document).result.success);
  EXPECT_EQ(Decode(document).bytesUsed, document.size());
  for (size_t n = 0; n < document.size(); ++n) {
    SCOPED_TRACE(n);
    const MsgPackDecodeResult r = Decode(Bytes(document.begin(), document.begin() + n));
    if (r.result.success) {
      EXPECT_EQ(r.bytesUsed, n);
    } else {
      EXPECT_TRUE(r.result.error().starts_with("Invalid MessagePack data. ")) << r.result.error();
      EXPECT_LE(r.bytesUsed, n);
    }
  }
}

TEST(DecodeMsgPack, RandomBytesGiveAValueOrAnError) {
  std::mt19937 random(20240531);
  // Draw bytes mostly from container and length-prefixed families, so that the
  // buffers open nested containers and claim lengths they do not hold.
  const Bytes interesting = {0x00, 0x7f, 0x80, 0x81, 0x8f, 0x90, 0x91, 0x9f, 0xa0, 0xa5,
                             0xbf, 0xc0, 0xc1, 0xc4, 0xc5, 0xc6, 0xca, 0xcb, 0xcf, 0xd3,
                             0xd9, 0xda, 0xdb, 0xdc, 0xdd, 0xde, 0xdf, 0xe0, 0xff};
  for (int round = 0; round < 4000; ++round) {
    Bytes input(random() % 48);
    for (uint8_t& b : input) {
      b = random() % 2 ? interesting[random() % interesting.size()] : random() % 256;
    }
    const MsgPackDecodeResult r = Decode(input);
    ASSERT_LE(r.bytesUsed, input.size());
    if (!r.result.success) {
      ASSERT_TRUE(r.result.error().starts_with("Invalid MessagePack data")) << r.result.error();
    }
  }
}

TEST(IsMsgPack, RecognisesBodiesThatOpenAMapOrAnArray) {
  const std::vector<std::pair<uint8_t, bool>> cases = {
      {0x7b, false}, {0x7f, false}, {0x80, true},  {0x81, true},  {0x8f, true},
      {0x90, true},  {0x9f, true},  {0xa0, false}, {0xc0, false}, {0xdb, false},
      {0xdc, true},  {0xdd, true},  {0xde, true},  {0xdf, true},  {0xe0, false},
  };
  for (const auto& [first, expected] : cases) {
    const uint8_t body[] = {first, 0x00};
    EXPECT_EQ(IsMsgPack(body, sizeof body), expected) << std::hex << int{first};
  }
  const uint8_t map = 0x81;
  EXPECT_FALSE(IsMsgPack(&map, 0));
}

}  // namespace
}  // namespace Zorv
