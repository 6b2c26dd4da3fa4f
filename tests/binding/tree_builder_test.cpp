#include "binding/tree_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

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

}  // namespace
}  // namespace Zorv
