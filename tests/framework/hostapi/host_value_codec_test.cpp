#include "framework/hostapi/host_value_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/type_registration.h"
#include "binding/type_registry.h"
#include "logging/allocator.h"

namespace Zorv {
namespace {

// Allocations still live; a balanced encode/release leaves it unchanged.
int64_t LiveBlocks() {
  const MemoryCounters c = GetMemoryCounters();
  return static_cast<int64_t>(c.allocations) - static_cast<int64_t>(c.frees);
}

HostValue Null() {
  HostValue v;
  std::memset(&v, 0, sizeof(v));
  return v;
}

HostValue Text(const char* data, uint32_t length, uint32_t tag = HOST_VALUE_TEXT) {
  HostValue v = Null();
  v.tag = tag;
  v.payload.text.data = data;
  v.payload.text.length = length;
  return v;
}

HostMapEntry Entry(const char* key, const HostValue& value, uint8_t owned) {
  HostMapEntry e;
  std::memcpy(&e.key, &key, sizeof(key));
  std::memcpy(reinterpret_cast<unsigned char*>(&e) + offsetof(HostMapEntry, value), &value,
              sizeof(value));
  e.keyOwned = owned;
  return e;
}

HostValue EntryValue(const HostMapEntry* entries, uint32_t i) {
  HostValue v;
  std::memcpy(&v,
              reinterpret_cast<const unsigned char*>(&entries[i]) + offsetof(HostMapEntry, value),
              sizeof(v));
  return v;
}

enum class Phase : int32_t { Idle = 0, Done = 7 };

struct RoundTripCase {
  const char* name;
  BindingProperty value;
  uint32_t tag;
};

std::vector<RoundTripCase> RoundTripCases() {
  std::vector<RoundTripCase> cases;
  auto add = [&](const char* name, BindingProperty v, uint32_t tag) {
    cases.push_back({name, std::move(v), tag});
  };
  add("null", BindingProperty(), HOST_VALUE_NULL);
  add("bool", BindingProperty(true), HOST_VALUE_BOOL);
  add("signed", BindingProperty(int64_t{-1234567890123}), HOST_VALUE_INT64);
  add("unsigned", BindingProperty(uint64_t{18446744073709551615u}), HOST_VALUE_UINT64);
  add("double", BindingProperty(-2.5), HOST_VALUE_DOUBLE);
  add("string", BindingProperty(std::string_view("a\0b", 3)), HOST_VALUE_OWNED_TEXT);
  add("empty string", BindingProperty(""), HOST_VALUE_OWNED_TEXT);
  add("blob", BindingProperty(std::vector<uint8_t>{0, 255, 7}), HOST_VALUE_OWNED_BYTES);
  add("empty blob", BindingProperty(std::vector<uint8_t>{}), HOST_VALUE_OWNED_BYTES);
  BindingProperty empties;
  empties.field("list").makeCollection();
  empties.field("object").makeStructure();
  add("empty containers", std::move(empties), HOST_VALUE_MAP);
  BindingProperty tree;
  tree.field("gameId") = uint64_t{42};
  tree.field("tags").append() = "ranked";
  tree.field("tags").append() = true;
  tree.field("tags").append().field("inner").append() = std::vector<uint8_t>{1, 2};
  tree.field("none");
  add("nested", std::move(tree), HOST_VALUE_MAP);
  BindingProperty list;
  list.append() = 1.5;
  list.append().field("k") = "v";
  list.append();
  add("array", std::move(list), HOST_VALUE_ARRAY);
  return cases;
}

TEST(HostValueCodecTest, EveryKindRoundTripsThroughOwnedValues) {
  for (RoundTripCase& c : RoundTripCases()) {
    SCOPED_TRACE(c.name);
    const int64_t before = LiveBlocks();
    HostValue out = Null();
    ASSERT_TRUE(EncodeHostValue(c.value, nullptr, out).success);
    EXPECT_EQ(out.tag, c.tag);
    if (out.tag == HOST_VALUE_OWNED_TEXT) {
      ASSERT_NE(out.payload.text.data, nullptr);
      EXPECT_EQ(out.payload.text.data[out.payload.text.length], '\0');
    }
    {
      const BindingResult back = DecodeHostValue(out);
      ASSERT_TRUE(back.success) << back.error();
      EXPECT_EQ(back.value, c.value);
    }
    ReleaseHostValue(out);
    EXPECT_EQ(out.tag, HOST_VALUE_NULL);
    EXPECT_EQ(LiveBlocks(), before);
  }
}

TEST(HostValueCodecTest, MapKeysAreCopiedFlaggedAndInFieldOrder) {
  BindingProperty object;
  object.field("b") = int64_t{2};
  object.field("a") = int64_t{1};
  HostValue out = Null();
  ASSERT_TRUE(EncodeHostValue(object, nullptr, out).success);
  ASSERT_EQ(out.tag, HOST_VALUE_MAP);
  ASSERT_EQ(out.payload.map.count, 2u);
  const HostMapEntry* entries = out.payload.map.entries;
  const char* keys[2];
  std::memcpy(&keys[0], &entries[0], sizeof(keys[0]));
  std::memcpy(&keys[1], reinterpret_cast<const unsigned char*>(entries) + sizeof(HostMapEntry),
              sizeof(keys[1]));
  EXPECT_STREQ(keys[0], "a");
  EXPECT_STREQ(keys[1], "b");
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(entries)[offsetof(HostMapEntry, keyOwned)], 1);
  EXPECT_EQ(EntryValue(entries, 1).payload.int64, 2);
  ReleaseHostValue(out);
}

TEST(HostValueCodecTest, EnumeratorIsItsRegisteredNameElseItsNumber) {
  TypeRegistry registry;
  registry.Enum<Phase>("Phase").value("idle", Phase::Idle).value("done", Phase::Done).finish();
  const uint32_t id = StaticTypeId<Phase>();

  HostValue out = Null();
  ASSERT_TRUE(EncodeHostValue(BindingProperty(EnumValue{7, id}), &registry, out).success);
  ASSERT_EQ(out.tag, HOST_VALUE_OWNED_TEXT);
  EXPECT_EQ(std::string(out.payload.text.data, out.payload.text.length), "done");
  ReleaseHostValue(out);

  struct Case {
    const TypeRegistry* registry;
    EnumValue value;
  };
  for (const Case& c : {Case{nullptr, {7, id}}, Case{&registry, {-3, id}}}) {
    ASSERT_TRUE(EncodeHostValue(BindingProperty(c.value), c.registry, out).success);
    EXPECT_EQ(out.tag, HOST_VALUE_INT64);
    EXPECT_EQ(out.payload.int64, c.value.value);
    ReleaseHostValue(out);
  }
}

TEST(HostValueCodecTest, BorrowedValuesAreDecodedAndNeverFreed) {
  // Stack storage and literals: freeing any of it would be reported by ASan.
  char text[] = "hello";
  uint8_t bytes[] = {9, 8, 7};
  HostValue items[2] = {Text(text, 5), Null()};
  items[1].tag = HOST_VALUE_BYTES;
  items[1].payload.bytes.data = bytes;
  items[1].payload.bytes.size = 3;

  auto* entries = static_cast<HostMapEntry*>(Allocate(3 * sizeof(HostMapEntry)));
  HostValue array = Null();
  array.tag = HOST_VALUE_ARRAY;
  array.payload.array.items = static_cast<HostValue*>(Allocate(sizeof(items)));
  array.payload.array.count = 2;
  std::memcpy(array.payload.array.items, items, sizeof(items));
  const HostMapEntry e0 = Entry("borrowed", array, 0);
  const HostMapEntry e1 = Entry(DuplicateString("owned"), Text(DuplicateString("x"), 1, 6), 1);
  const HostMapEntry e2 = Entry("owned", Text("last", 4), 0);
  std::memcpy(&entries[0], &e0, sizeof(e0));
  std::memcpy(&entries[1], &e1, sizeof(e1));
  std::memcpy(&entries[2], &e2, sizeof(e2));
  HostValue map = Null();
  map.tag = HOST_VALUE_MAP;
  map.payload.map.entries = entries;
  map.payload.map.count = 3;

  const uint64_t freesBefore = GetMemoryCounters().frees;
  const BindingResult back = DecodeHostValue(map);
  EXPECT_EQ(GetMemoryCounters().frees, freesBefore) << "decoding frees nothing";
  ASSERT_TRUE(back.success) << back.error();
  const BindingProperty& list = back.value.find("borrowed");
  EXPECT_EQ(list.element(0).asString(), "hello");
  const std::vector<uint8_t> expected{9, 8, 7};
  EXPECT_EQ(std::vector<uint8_t>(list.element(1).asBlob().begin(), list.element(1).asBlob().end()),
            expected);
  EXPECT_EQ(back.value.find("owned").asString(), "last");  // a repeated key keeps the last value

  // Frees the entry block, the element block, the flagged key and the owned text.
  const uint64_t releaseBefore = GetMemoryCounters().frees;
  ReleaseHostValue(map);
  EXPECT_EQ(GetMemoryCounters().frees - releaseBefore, 4u);
  EXPECT_EQ(map.tag, HOST_VALUE_NULL);
  EXPECT_STREQ(text, "hello");
}

TEST(HostValueCodecTest, MissingDataIsAFailureNotACrash) {
  auto withNull = [](uint32_t tag) {
    HostValue v = Null();
    v.tag = tag;
    v.payload.array.count = 2;  // shares its place with every length and count
    return v;
  };
  HostMapEntry nullKey = Entry(nullptr, Null(), 0);
  HostValue badMap = Null();
  badMap.tag = HOST_VALUE_MAP;
  badMap.payload.map.entries = &nullKey;
  badMap.payload.map.count = 1;
  HostValue inner[2] = {Text("ok", 2), withNull(HOST_VALUE_TEXT)};
  HostValue badElement = Null();
  badElement.tag = HOST_VALUE_ARRAY;
  badElement.payload.array.items = inner;
  badElement.payload.array.count = 2;

  struct Case {
    const char* label;
    HostValue value;
    const char* error;
  };
  const Case cases[] = {
      {"text", withNull(HOST_VALUE_TEXT), "HostValue: text with a null pointer"},
      {"owned text", withNull(HOST_VALUE_OWNED_TEXT), "HostValue: text with a null pointer"},
      {"bytes", withNull(HOST_VALUE_BYTES), "HostValue: bytes with a null pointer"},
      {"owned bytes", withNull(HOST_VALUE_OWNED_BYTES), "HostValue: bytes with a null pointer"},
      {"array", withNull(HOST_VALUE_ARRAY), "HostValue: array with a null pointer"},
      {"map", withNull(HOST_VALUE_MAP), "HostValue: map with a null pointer"},
      {"null key", badMap, "HostValue: map entry with a null key"},
      {"element", badElement, "HostValue: text with a null pointer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const BindingResult r = DecodeHostValue(c.value);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.error(), c.error);
  }
  // An empty value may come without a pointer.
  HostValue emptyText = Text(nullptr, 0);
  EXPECT_EQ(DecodeHostValue(emptyText).value.asString(), "");
}

// A tag with no value kind fails as an object of an incompatible type, named
// by the map key it sits under, else by the name given for the whole value.
TEST(HostValueCodecTest, UnknownTagIsAnIncompatibleObject) {
  HostValue unknown = Null();
  unknown.tag = 11;
  HostValue items[2] = {Text("ok", 2), unknown};
  HostValue array = Null();
  array.tag = HOST_VALUE_ARRAY;
  array.payload.array.items = items;
  array.payload.array.count = 2;
  const HostMapEntry entry = Entry("gameFlow", unknown, 0);
  HostValue map = Null();
  map.tag = HOST_VALUE_MAP;
  map.payload.map.entries = const_cast<HostMapEntry*>(&entry);
  map.payload.map.count = 1;

  struct Case {
    const char* label;
    HostValue value;
    const char* name;
    const char* error;
  };
  const Case cases[] = {
      {"result", unknown, nullptr,
       "Couldn't assign value to '<result>' of type object because the input is of an "
       "incompatible type ''."},
      {"named", unknown, "body",
       "Couldn't assign value to 'body' of type object because the input is of an incompatible "
       "type ''."},
      {"element", array, "list",
       "Couldn't assign value to 'list' of type object because the input is of an incompatible "
       "type ''."},
      {"map entry", map, "body",
       "Couldn't assign value to 'gameFlow' of type object because the input is of an "
       "incompatible type ''."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const BindingResult r = c.name ? DecodeHostValue(c.value, c.name) : DecodeHostValue(c.value);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.error(), c.error);
  }
}

TEST(HostValueCodecTest, FailedEncodingLeavesNullAndLeaksNothing) {
  BindingProperty object;
  object.field("a").append() = "first";
  object.field(std::string_view("b\0c", 3)) = int64_t{1};  // cannot travel NUL-terminated
  object.field("d") = "later";
  const int64_t before = LiveBlocks();
  HostValue out = Null();
  EXPECT_FALSE(EncodeHostValue(object, nullptr, out).success);
  EXPECT_EQ(out.tag, HOST_VALUE_NULL);
  EXPECT_EQ(LiveBlocks(), before);
}

TEST(HostValueCodecTest, DeepNestingRoundTrips) {
  constexpr int kDepth = 100000;
  BindingProperty root;
  BindingProperty* cursor = &root;
  for (int i = 0; i < kDepth; ++i) {
    cursor = (i % 2 == 0) ? &cursor->append() : &cursor->field("n");
  }
  *cursor = "bottom";

  const int64_t before = LiveBlocks();
  HostValue out = Null();
  ASSERT_TRUE(EncodeHostValue(root, nullptr, out).success);
  const int64_t encodedBlocks = LiveBlocks() - before;
  {
    const BindingResult back = DecodeHostValue(out);
    ASSERT_TRUE(back.success);
    const BindingProperty* node = &back.value;
    for (int i = 0; i < kDepth; ++i) {
      ASSERT_EQ(node->size(), 1u) << "depth " << i;
      node = (i % 2 == 0) ? &node->element(0) : &node->find("n");
    }
    EXPECT_EQ(node->asString(), "bottom");
  }
  const int64_t beforeRelease = LiveBlocks();
  ReleaseHostValue(out);
  EXPECT_EQ(beforeRelease - LiveBlocks(), encodedBlocks);
}

}  // namespace
}  // namespace Zorv
