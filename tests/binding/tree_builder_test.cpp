#include "binding/tree_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "binding/binding_property_access.h"
#include "binding/structure_tree.h"
#include "binding/value_arena.h"

namespace Zorv {
namespace {

TEST(TreeBuilderTest, PlacesValuesInRootElementsAndFields) {
  BindingProperty root;
  root = "stale";
  TreeBuilder builder(root);
  builder.beginObject();
  builder.key("list");
  builder.beginArray();
  builder.null();
  builder.boolean(true);
  builder.signedInteger(-3);
  builder.unsignedInteger(4);
  builder.floating(0.5);
  builder.string("s");
  const uint8_t bytes[] = {1, 2};
  builder.blob(bytes);
  builder.beginObject();
  builder.endObject();
  builder.endArray();
  builder.key("inner");
  builder.beginObject();
  builder.key("x");
  builder.unsignedInteger(1);
  EXPECT_EQ(builder.depth(), 2u);
  builder.endObject();
  builder.key("empty");
  builder.null();
  EXPECT_FALSE(builder.complete());
  builder.endObject();
  EXPECT_TRUE(builder.complete());
  EXPECT_EQ(builder.depth(), 0u);

  BindingProperty expected;
  BindingProperty& list = expected.field("list");
  list.append();
  list.append() = true;
  list.append() = int64_t{-3};
  list.append() = uint64_t{4};
  list.append() = 0.5;
  list.append() = "s";
  list.append().setBlob(bytes);
  list.append().makeStructure();
  expected.field("inner").field("x") = uint64_t{1};
  expected.field("empty");
  EXPECT_EQ(root, expected);
  EXPECT_EQ(root.find("list").element(2).kind(), ValueKind::Signed);
  EXPECT_EQ(root.find("list").element(3).kind(), ValueKind::Unsigned);
}

TEST(TreeBuilderTest, ScalarRootCompletesAtOnce) {
  BindingProperty root;
  TreeBuilder builder(root);
  builder.string("only");
  EXPECT_TRUE(builder.complete());
  EXPECT_EQ(root.asString(), "only");
}

// The later of two equal keys wins whole: an earlier collection must not keep
// its elements and an earlier structure must not keep its fields.
TEST(TreeBuilderTest, RepeatedKeyKeepsOnlyTheLaterValue) {
  BindingProperty root;
  TreeBuilder builder(root);
  builder.beginObject();
  builder.key("a");
  builder.beginArray();
  builder.unsignedInteger(1);
  builder.endArray();
  builder.key("b");
  builder.beginObject();
  builder.key("old");
  builder.boolean(true);
  builder.endObject();
  builder.key("a");
  builder.beginArray();
  builder.unsignedInteger(2);
  builder.endArray();
  builder.key("b");
  builder.beginObject();
  builder.key("new");
  builder.boolean(true);
  builder.endObject();
  builder.endObject();

  BindingProperty expected;
  expected.field("a").append() = uint64_t{2};
  expected.field("b").field("new") = true;
  EXPECT_EQ(root, expected);
}

TEST(TreeBuilderTest, ClaimedSizeDoesNotReserveUnbounded) {
  BindingProperty root;
  TreeBuilder builder(root);
  builder.beginArray(std::numeric_limits<size_t>::max());
  builder.unsignedInteger(7);
  builder.endArray();
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root.element(0).asUnsigned(), 7u);
}

// The field tree of a built structure holds its invariants: key order, the
// `next` chain, heights and balance factors.
bool HasValidFields(const BindingProperty& structure) {
  return StructureTree::IsValid(BindingPropertyAccess::Fields(structure),
                                static_cast<uint32_t>(structure.size()));
}

// Builds {key: index} with the keys in the given order.
void BuildObject(BindingProperty& root, const std::vector<std::string>& keys) {
  TreeBuilder builder(root);
  builder.beginObject();
  for (size_t i = 0; i < keys.size(); ++i) {
    builder.key(keys[i]);
    builder.unsignedInteger(i);
  }
  builder.endObject();
}

// Sizes around powers of two shape the balanced tree differently; keys arrive
// shuffled, in order and in reverse. Fields added afterwards keep it valid.
TEST(TreeBuilderTest, StructuresOfAnySizeAreValidTreesThatTakeMoreFields) {
  std::mt19937 random(7);
  for (const size_t count : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 10000}) {
    std::vector<std::string> sorted;
    for (size_t i = 0; i < count; ++i) sorted.push_back("k" + std::to_string(i * 7919 % 100003));
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> shuffled = sorted;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    std::vector<std::string> reversed(sorted.rbegin(), sorted.rend());
    for (const auto* keys : {&sorted, &shuffled, &reversed}) {
      SCOPED_TRACE(testing::Message() << count << " keys, order " << (keys - &sorted));
      BindingProperty root;
      BuildObject(root, *keys);
      ASSERT_EQ(root.size(), count);
      ASSERT_TRUE(HasValidFields(root));
      size_t at = 0;
      for (const auto& entry : root.fields()) ASSERT_EQ(entry.name, sorted[at++]);
      for (size_t i = 0; i < keys->size(); i += 1 + count / 50) {
        ASSERT_EQ(root.find((*keys)[i]).asUnsigned(), i);
      }
      if (count > 0) root.field(sorted[count / 2]) = true;  // already there
      for (const char* extra : {"a", "k", "z"}) root.field(extra) = true;
      EXPECT_EQ(root.size(), count + 3);
      EXPECT_TRUE(HasValidFields(root));
    }
  }
}

// Keys of every length around the inline bound, bytes above 0x7f and zero
// bytes sort byte-wise, unsigned, with a prefix before its extensions.
TEST(TreeBuilderTest, KeysOrderByteWiseWhateverTheirLengthOrBytes) {
  using namespace std::string_literals;
  std::vector<std::string> keys = {""s,
                                   "a"s,
                                   "abcdefg"s,
                                   "abcdefgh"s,
                                   "abcdefghi"s,
                                   "abcdefgh\0"s,
                                   "abcdefghijklmnop"s,
                                   std::string(300, 'x'),
                                   std::string(300, 'x') + "y",
                                   "\xff"s,
                                   "\x80\x00"s,
                                   "\x7f"s,
                                   "a\0"s,
                                   "a\0\0\0\0\0\0\0\0"s,
                                   "abcdefgg\xff"s,
                                   "\0"s};
  std::vector<std::string> sorted = keys;
  std::sort(sorted.begin(), sorted.end());
  for (const bool reverse : {false, true}) {
    if (reverse) std::reverse(keys.begin(), keys.end());
    BindingProperty root;
    BuildObject(root, keys);
    ASSERT_EQ(root.size(), keys.size());
    EXPECT_TRUE(HasValidFields(root));
    std::vector<std::string> names;
    for (const auto& entry : root.fields()) names.emplace_back(entry.name);
    EXPECT_EQ(names, sorted);
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(root.find(keys[i]).asUnsigned(), i);
    EXPECT_FALSE(root.has("abcdefgh\0\0"s));
    EXPECT_FALSE(root.has("a\0\0"s));
  }
}

// Of many repeats of a key the last one stays; the earlier values, containers
// included, go back to the arena instead of lingering in it.
TEST(TreeBuilderTest, ManyRepeatedKeysKeepTheLastAndFreeTheRest) {
  BindingProperty root;
  {
    TreeBuilder builder(root);
    builder.beginObject();
    for (uint64_t round = 0; round < 200; ++round) {
      for (const char* name : {"long key beyond the inline bound", "b", "a"}) {
        builder.key(name);
        builder.beginArray();
        builder.unsignedInteger(round);
        builder.string("a text long enough for a block of its own");
        builder.endArray();
      }
    }
    builder.endObject();
  }
  BindingProperty expected;
  {
    TreeBuilder builder(expected);
    builder.beginObject();
    for (const char* name : {"a", "b", "long key beyond the inline bound"}) {
      builder.key(name);
      builder.beginArray();
      builder.unsignedInteger(199);
      builder.string("a text long enough for a block of its own");
      builder.endArray();
    }
    builder.endObject();
  }
  EXPECT_EQ(root, expected);
  EXPECT_TRUE(HasValidFields(root));
  EXPECT_EQ(root.arena()->liveBlocks(), expected.arena()->liveBlocks());
}

// Structures that follow each other in one list reuse the key order found
// for the one before when their keys match it exactly; keys that differ only
// past their first eight bytes, by length, by order or by a repeat must not
// take the previous order.
TEST(TreeBuilderTest, ConsecutiveStructuresOfNearlyTheSameShape) {
  using namespace std::string_literals;
  const std::string longA = "gameVersionA", longB = "gameVersionB";
  const std::string hugeA = std::string(300, 'k') + "A", hugeB = std::string(300, 'k') + "B";
  // Each list differs from the one before it, except where noted, so that
  // taking the previous order would put its keys out of order.
  const std::vector<std::vector<std::string>> lists = {
      {"z", longB, longA},
      {"z", longB, longA},  // the same shape again
      {"z", longA, longB},  // long keys that differ after their first eight bytes
      {"z", "zz", "zzz"},   // in key order, sharing only the first key with the kept shape
      {"z", "a\0"s, "a"},
      {"z", "a", "a\0"s},  // the same heads, other lengths
      {"z", "a", "a\0"s, "b"},
      {"z", "a", "z"},  // a repeated key
      {"z", "a", "z"},  // a shape with a repeat is not kept
      {"q", "p", "o", "n", "m", "l", "k", "j", "i", "h", "g", "f", "e", "d", "c", "b", "a"},
      {"p", "o", "n", "m", "l", "k", "j", "i", "h", "g", "f", "e", "d", "c", "b", "a"},
      {"p", "o", "n", "m", "l", "k", "j", "i", "h", "g", "f", "e", "d", "c", "b", "a"},
      {"z", hugeB, hugeA},  // too long to keep
      {"z", hugeA, hugeB},
  };
  BindingProperty root;
  {
    TreeBuilder builder(root);
    builder.beginArray();
    for (const auto& keys : lists) {
      builder.beginObject();
      for (size_t i = 0; i < keys.size(); ++i) {
        builder.key(keys[i]);
        builder.unsignedInteger(i);
      }
      builder.endObject();
    }
    builder.endArray();
  }
  ASSERT_EQ(root.size(), lists.size());
  for (size_t n = 0; n < lists.size(); ++n) {
    SCOPED_TRACE(testing::Message() << "structure " << n);
    BindingProperty expected;
    for (size_t i = 0; i < lists[n].size(); ++i) expected.field(lists[n][i]) = uint64_t{i};
    const BindingProperty& built = root.element(n);
    EXPECT_TRUE(HasValidFields(built));
    EXPECT_EQ(built, expected);
    std::vector<std::string> names;
    for (const auto& entry : built.fields()) names.emplace_back(entry.name);
    std::vector<std::string> sorted = lists[n];
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(names, sorted);
  }
}

// A structure still open when the input ends keeps the fields read so far.
TEST(TreeBuilderTest, CloseAllEndsOpenContainersWithTheirFields) {
  BindingProperty root;
  TreeBuilder builder(root);
  builder.beginObject();
  builder.key("z");
  builder.beginArray();
  builder.beginObject();
  builder.key("y");
  builder.boolean(true);
  builder.key("x");
  builder.boolean(false);
  builder.closeAll();
  EXPECT_TRUE(builder.complete());
  BindingProperty expected;
  BindingProperty& inner = expected.field("z").append();
  inner.field("x") = false;
  inner.field("y") = true;
  EXPECT_EQ(root, expected);
  EXPECT_TRUE(HasValidFields(root.find("z").element(0)));
}

}  // namespace
}  // namespace Zorv
