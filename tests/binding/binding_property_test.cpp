#include "binding/binding_property.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "binding/value_arena.h"

namespace Zorv {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A tree with every kind, nesting, a long string (a large block) and an
// empty key.
BindingProperty Sample() {
  BindingProperty v;
  v.field("name") = "replay";
  v.field("id") = uint64_t{42};
  v.field("delta") = int64_t{-7};
  v.field("ratio") = 0.5;
  v.field("on") = true;
  v.field("bytes").setBlob(Bytes("abc"));
  v.field("state") = EnumValue{2, 77};
  v.field("long") = std::string(300, 'x');
  v.field("");
  BindingProperty& list = v.field("list");
  list.append() = uint64_t{1};
  list.append() = "two";
  list.append().append() = int64_t{3};
  list.append().field("four") = 4.0;
  v.field("empty").makeStructure();
  return v;
}

// Blocks that nothing in the tree refers to any more: a copy holds exactly
// one block per string, blob, element array, node and key that is in use.
size_t StrayBlocks(const BindingProperty& v) {
  if (!v.arena()) return 0;
  const BindingProperty copy = v;
  return v.arena()->liveBlocks() - (copy.arena() ? copy.arena()->liveBlocks() : 0);
}

std::vector<std::string> Names(const BindingProperty& v) {
  std::vector<std::string> names;
  for (const auto& field : v.fields()) names.emplace_back(field.name);
  return names;
}

TEST(ValueKindName, NamesTheTenKindsAndNothingElse) {
  const char* expected[] = {"empty",  "bool", "signed", "unsigned",   "float",
                            "string", "blob", "enum",   "collection", "structure"};
  for (int kind = 0; kind < 10; ++kind) {
    EXPECT_EQ(ValueKindName(static_cast<ValueKind>(kind)), expected[kind]);
  }
  EXPECT_EQ(ValueKindName(static_cast<ValueKind>(10)), "");
  EXPECT_EQ(ValueKindName(static_cast<ValueKind>(255)), "");
}

TEST(BindingProperty, DisplayText) {
  struct Case {
    const char* name;
    BindingProperty value;
    const char* expected;
  };
  BindingProperty collection;
  collection.append() = uint64_t{1};
  BindingProperty structure;
  structure.field("a") = "b";
  Case cases[] = {
      {"empty", BindingProperty(), ""},
      {"true", BindingProperty(true), "true"},
      {"false", BindingProperty(false), "false"},
      {"negative", BindingProperty(int64_t{-42}), "-42"},
      {"smallest signed", BindingProperty(std::numeric_limits<int64_t>::min()),
       "-9223372036854775808"},
      {"largest unsigned", BindingProperty(std::numeric_limits<uint64_t>::max()),
       "18446744073709551615"},
      {"float six decimals", BindingProperty(1.5), "1.500000"},
      {"negative float", BindingProperty(-0.25), "-0.250000"},
      {"float rounds", BindingProperty(2.0 / 3.0), "0.666667"},
      {"large float", BindingProperty(1e20), "100000000000000000000.000000"},
      {"string", BindingProperty("h\xc3\xa9llo"), "h\xc3\xa9llo"},
      {"empty blob", BindingProperty(std::vector<uint8_t>{}), ""},
      {"blob two pads", BindingProperty(std::vector<uint8_t>{'a'}), "YQ=="},
      {"blob one pad", BindingProperty(std::vector<uint8_t>{'a', 'b'}), "YWI="},
      {"blob no pad", BindingProperty(std::vector<uint8_t>{'a', 'b', 'c'}), "YWJj"},
      {"enum", BindingProperty(EnumValue{7, 99}), "7"},
      {"negative enum", BindingProperty(EnumValue{-3, 99}), "-3"},
      {"collection", collection, ""},
      {"structure", structure, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.displayText(), c.expected) << c.name;
  EXPECT_EQ(BindingProperty(std::numeric_limits<double>::max()).displayText().size(), 316u);
}

TEST(BindingProperty, AccessorsAnswerFixedDefaultsForOtherKinds) {
  const BindingProperty values[] = {BindingProperty(),
                                    BindingProperty(true),
                                    BindingProperty(int64_t{-1}),
                                    BindingProperty(uint64_t{1}),
                                    BindingProperty(2.5),
                                    BindingProperty("s"),
                                    BindingProperty(std::vector<uint8_t>{1}),
                                    BindingProperty(EnumValue{4, 9}),
                                    Sample()};
  for (const BindingProperty& v : values) {
    SCOPED_TRACE(v.kindName());
    const ValueKind kind = v.kind();
    EXPECT_TRUE(kind == ValueKind::Bool || !v.asBool());
    EXPECT_TRUE(kind == ValueKind::Signed || v.asSigned() == 0);
    EXPECT_TRUE(kind == ValueKind::Unsigned || v.asUnsigned() == 0);
    EXPECT_TRUE(kind == ValueKind::Float || v.asDouble() == 0.0);
    EXPECT_TRUE(kind == ValueKind::String || v.asString().empty());
    EXPECT_TRUE(kind == ValueKind::Blob || v.asBlob().empty());
    EXPECT_TRUE(kind == ValueKind::Enum || v.asEnum() == EnumValue{});
    EXPECT_TRUE(kind == ValueKind::Collection || kind == ValueKind::Structure || v.size() == 0);
  }
  EXPECT_TRUE(values[1].asBool());
  EXPECT_EQ(values[2].asSigned(), -1);
  EXPECT_EQ(values[3].asUnsigned(), 1u);
  EXPECT_EQ(values[4].asDouble(), 2.5);
  EXPECT_EQ(values[5].asString(), "s");
  EXPECT_EQ(values[6].asBlob().size(), 1u);
  EXPECT_EQ(values[7].asEnum(), (EnumValue{4, 9}));
  EXPECT_EQ(values[8].size(), 11u);
}

TEST(BindingProperty, ScalarsNeedNoArenaAndChildrenShareTheRoots) {
  BindingProperty v(uint64_t{5});
  v = true;
  v = 1.0;
  EXPECT_EQ(v.arena(), nullptr);
  v = "text";
  ASSERT_NE(v.arena(), nullptr);
  const ValueArena* arena = v.arena();
  v.field("a").append() = "deep";
  EXPECT_EQ(v.arena(), arena);
  EXPECT_EQ(v.find("a").arena(), arena);
  EXPECT_EQ(v.find("a").element(0).arena(), arena);
}

TEST(BindingProperty, StringsAndBlobsAreCopiedIn) {
  std::string text = "original";
  BindingProperty v(text);
  text[0] = 'X';
  EXPECT_EQ(v.asString(), "original");

  std::vector<uint8_t> bytes{1, 2, 3};
  v = std::move(bytes);
  EXPECT_TRUE(bytes.empty()) << "the vector is taken over";
  EXPECT_EQ(v.kind(), ValueKind::Blob);
  EXPECT_EQ(std::vector<uint8_t>(v.asBlob().begin(), v.asBlob().end()),
            (std::vector<uint8_t>{1, 2, 3}));

  v = "";
  EXPECT_EQ(v.kind(), ValueKind::String);
  EXPECT_EQ(v.asString(), "");
}

TEST(BindingProperty, FieldCreatesFindDoesNot) {
  BindingProperty v;
  BindingProperty& a = v.field("a");
  EXPECT_EQ(v.kind(), ValueKind::Structure);
  EXPECT_EQ(v.size(), 1u);
  EXPECT_TRUE(a.isEmpty());
  EXPECT_EQ(&v.find("b"), &BindingProperty::EmptyValue());
  EXPECT_FALSE(v.has("b"));
  EXPECT_EQ(v.size(), 1u);
  EXPECT_EQ(&v.field("a"), &a) << "field() finds an existing field";
  EXPECT_TRUE(v.has("a"));

  const BindingProperty text("not a structure");
  EXPECT_EQ(&text.find("a"), &BindingProperty::EmptyValue());
  EXPECT_EQ(&text.element(0), &BindingProperty::EmptyValue());
  EXPECT_EQ(text.fields().begin(), text.fields().end());
}

// Every lookup by index or key answers something defined on every kind of
// value, whatever the index or key: a miss is an empty value that no tree
// owns, and the value looked into is left exactly as it was.
TEST(BindingProperty, LookupsMissSafelyOnEveryKind) {
  BindingProperty twoElements;
  twoElements.append() = "first";
  twoElements.append() = uint64_t{2};
  BindingProperty emptyList;
  emptyList.makeCollection();
  BindingProperty emptyStructure;
  emptyStructure.makeStructure();
  const std::pair<const char*, BindingProperty> values[] = {
      {"empty", BindingProperty()},
      {"scalar", BindingProperty(int64_t{-1})},
      {"string", BindingProperty("text")},
      {"empty list", std::move(emptyList)},
      {"list", std::move(twoElements)},
      {"empty structure", std::move(emptyStructure)},
      {"structure", Sample()},
  };
  const size_t indices[] = {0, 1, 2, 1000, size_t{UINT32_MAX}, size_t{UINT32_MAX} + 1, SIZE_MAX};
  const std::string keys[] = {"missing", "", std::string(300, 'k'), std::string("na\0me", 6),
                              "\xff"};
  for (const auto& [label, original] : values) {
    SCOPED_TRACE(label);
    BindingProperty value = original;
    const BindingProperty& constant = value;
    for (const size_t index : indices) {
      SCOPED_TRACE(index);
      if (value.kind() == ValueKind::Collection && index < value.size()) {
        EXPECT_EQ(&value.element(index), &constant.element(index));
        EXPECT_EQ(value.element(index), original.element(index));
        continue;
      }
      EXPECT_EQ(&constant.element(index), &BindingProperty::EmptyValue());
      BindingProperty& miss = value.element(index);
      EXPECT_TRUE(miss.isEmpty());
      EXPECT_TRUE(miss.arena() == nullptr || miss.arena() != value.arena());
      miss = "written into a miss";
      EXPECT_TRUE(value.element(index).isEmpty()) << "a miss never shows earlier writes";
    }
    for (const std::string& key : keys) {
      if (original.has(key)) continue;
      EXPECT_EQ(&constant.find(key), &BindingProperty::EmptyValue());
      EXPECT_FALSE(constant.has(key));
    }
    EXPECT_EQ(value, original);
    EXPECT_EQ(static_cast<size_t>(std::distance(value.fields().begin(), value.fields().end())),
              value.kind() == ValueKind::Structure ? value.size() : 0);

    // field() makes any kind a structure and finds or adds every key.
    size_t added = 0;
    for (const std::string& key : keys) {
      if (!original.has(key)) ++added;
      BindingProperty& made = value.field(key);
      EXPECT_EQ(&constant.find(key), &made);
    }
    EXPECT_EQ(value.kind(), ValueKind::Structure);
    EXPECT_EQ(value.size(),
              (original.kind() == ValueKind::Structure ? original.size() : 0) + added);
  }
}

TEST(BindingProperty, FieldsIterateInBytewiseNameOrder) {
  BindingProperty v;
  for (const char* name : {"b", "a", "\xc3\xa9", "ab", "", "B", "a "}) v.field(name) = name;
  EXPECT_EQ(Names(v), (std::vector<std::string>{"", "B", "a", "a ", "ab", "b", "\xc3\xa9"}));
  for (const auto& [name, value] : v.fields()) EXPECT_EQ(value.asString(), name);
}

TEST(BindingProperty, FieldsStayPutWhileOthersAreAdded) {
  BindingProperty v;
  BindingProperty& first = v.field("m");
  first = "kept";
  for (int i = 0; i < 1000; ++i) v.field(std::to_string(i)) = int64_t{i};
  EXPECT_EQ(&v.field("m"), &first);
  EXPECT_EQ(first.asString(), "kept");
}

TEST(BindingProperty, MakeContainerKeepsSameKindAndDiscardsOthers) {
  BindingProperty v;
  v.append() = "x";
  v.append() = "y";
  v.makeCollection();
  EXPECT_EQ(v.size(), 2u);
  v.reserve(100);
  EXPECT_EQ(v.element(1).asString(), "y") << "reserve keeps the elements";
  v.makeStructure();
  EXPECT_EQ(v.kind(), ValueKind::Structure);
  EXPECT_EQ(v.size(), 0u);

  v = "a string";
  v.makeCollection();
  EXPECT_EQ(v.kind(), ValueKind::Collection);
  EXPECT_EQ(v.size(), 0u);
  EXPECT_EQ(&std::as_const(v).element(0), &BindingProperty::EmptyValue());

  v.field("k") = uint64_t{1};
  v.makeStructure();
  EXPECT_EQ(v.find("k").asUnsigned(), 1u);
  EXPECT_EQ(StrayBlocks(v), 0u);
}

TEST(BindingProperty, AppendReturnsTheNewElement) {
  BindingProperty v = Sample();
  BindingProperty& list = v.field("list");
  for (int i = 0; i < 100; ++i) list.append() = int64_t{i};
  ASSERT_EQ(list.size(), 104u);
  EXPECT_EQ(list.element(1).asString(), "two");
  EXPECT_EQ(list.element(3).find("four").asDouble(), 4.0);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(list.element(4 + i).asSigned(), i);
  EXPECT_TRUE(std::as_const(list).element(104).isEmpty());
}

TEST(BindingProperty, FailureLeavesOnlyTheErrorField) {
  BindingResult result;
  EXPECT_TRUE(result.success);
  EXPECT_EQ(result.error(), "");
  result.value = Sample();
  result.setFailure("Couldn't assign value.");
  EXPECT_FALSE(result.success);
  EXPECT_EQ(Names(result.value), (std::vector<std::string>{"error"}));
  EXPECT_EQ(result.error(), "Couldn't assign value.");
  EXPECT_EQ(result.value.find("error").kind(), ValueKind::String);

  result.setFailure(result.error());  // a message that lives in the value itself
  EXPECT_EQ(result.error(), "Couldn't assign value.");
  EXPECT_EQ(StrayBlocks(result.value), 0u);
}

TEST(BindingProperty, Equality) {
  const BindingProperty sample = Sample();
  std::vector<std::string> names = Names(sample);
  std::reverse(names.begin(), names.end());
  BindingProperty reordered;
  for (const std::string& name : names) reordered.field(name) = sample.find(name);
  BindingProperty otherKey = Sample();
  otherKey.field("name2") = std::move(otherKey.field("name"));
  BindingProperty swapped;
  swapped.append() = "a";
  swapped.append() = "b";
  BindingProperty ordered;
  ordered.append() = "b";
  ordered.append() = "a";
  struct Case {
    const char* name;
    BindingProperty a;
    BindingProperty b;
    bool equal;
  };
  const Case cases[] = {
      {"same tree", Sample(), Sample(), true},
      {"insertion order does not matter", reordered, Sample(), true},
      {"a field renamed", otherKey, Sample(), false},
      {"element order matters", swapped, ordered, false},
      {"signed and unsigned differ", BindingProperty(int64_t{1}), BindingProperty(uint64_t{1}),
       false},
      {"floats by value", BindingProperty(0.0), BindingProperty(-0.0), true},
      {"not a number", BindingProperty(std::nan("")), BindingProperty(std::nan("")), false},
      {"string bytes", BindingProperty("abc"), BindingProperty("abd"), false},
      {"string and blob", BindingProperty("abc"),
       BindingProperty(std::vector<uint8_t>{'a', 'b', 'c'}), false},
      {"enum type", BindingProperty(EnumValue{1, 2}), BindingProperty(EnumValue{1, 3}), false},
      {"empty collection and structure",
       [] {
         BindingProperty c;
         c.makeCollection();
         return c;
       }(),
       [] {
         BindingProperty s;
         s.makeStructure();
         return s;
       }(),
       false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.name;
    EXPECT_EQ(c.b == c.a, c.equal) << c.name;
  }
}

TEST(BindingProperty, CopiesAreIndependentTrees) {
  BindingProperty original = Sample();
  BindingProperty copy = original;
  EXPECT_TRUE(copy == original);
  EXPECT_NE(copy.arena(), original.arena());
  copy.field("list").element(1) = "changed";
  copy.field("new") = true;
  EXPECT_EQ(original.find("list").element(1).asString(), "two");
  EXPECT_FALSE(original.has("new"));

  BindingProperty holder;
  holder.field("inner") = original;  // into a field of a third tree
  original = BindingProperty();      // the source's memory is gone
  EXPECT_EQ(holder.find("inner").find("long").asString(), std::string(300, 'x'));
  EXPECT_EQ(holder.find("inner").find("list").element(3).find("four").asDouble(), 4.0);
  EXPECT_EQ(StrayBlocks(holder), 0u);
}

TEST(BindingProperty, ClearingASubtreeReturnsEveryBlock) {
  BindingProperty root;
  root.field("keep") = "k";
  BindingProperty& slot = root.field("slot");
  const size_t before = root.arena()->liveBlocks();
  slot = Sample();
  const size_t filled = root.arena()->liveBlocks();
  EXPECT_GT(filled, before);
  slot = Sample();  // the old subtree goes as the new one comes
  EXPECT_EQ(root.arena()->liveBlocks(), filled);
  slot.clear();
  EXPECT_EQ(root.arena()->liveBlocks(), before);
  slot = Sample();
  slot = int64_t{3};
  EXPECT_EQ(root.arena()->liveBlocks(), before);
  root.clear();
  EXPECT_EQ(root.arena()->liveBlocks(), 0u);
  EXPECT_EQ(root.arena()->pagesHeld(), 0u);
}

TEST(BindingProperty, AssignmentWithinOneTree) {
  struct Case {
    const char* name;
    std::function<void(BindingProperty&)> act;
    std::function<BindingProperty(const BindingProperty&)> expected;  // from a snapshot
  };
  const Case cases[] = {
      {"itself", [](BindingProperty& v) { v = v; }, [](const BindingProperty& s) { return s; }},
      {"a descendant into the root", [](BindingProperty& v) { v = v.find("list"); },
       [](const BindingProperty& s) { return BindingProperty(s.find("list")); }},
      {"the root into a new field",
       [](BindingProperty& v) {
         BindingProperty& copy = v.field("copy");
         copy = v;
       },
       [](const BindingProperty& s) {
         BindingProperty e = s;
         e.field("copy");
         BindingProperty inner = e;
         e.field("copy") = inner;
         return e;
       }},
      {"a field into its own element",
       [](BindingProperty& v) { v.field("list").element(2) = v.find("list"); },
       [](const BindingProperty& s) {
         BindingProperty e = s;
         BindingProperty inner = s.find("list");
         e.field("list").element(2) = inner;
         return e;
       }},
      {"the tree's own text",
       [](BindingProperty& v) { v.field("long") = v.find("long").asString().substr(1); },
       [](const BindingProperty& s) {
         BindingProperty e = s;
         e.field("long") = std::string(299, 'x');
         return e;
       }},
      {"a root string into its own field name",
       [](BindingProperty& v) {
         v = "k";
         v.field(v.asString()) = "v";
       },
       [](const BindingProperty&) {
         BindingProperty e;
         e.field("k") = "v";
         return e;
       }},
      {"moving a descendant into the root",
       [](BindingProperty& v) { v = std::move(v.field("list")); },
       [](const BindingProperty& s) { return BindingProperty(s.find("list")); }},
      {"moving between siblings",
       [](BindingProperty& v) { v.field("name") = std::move(v.field("list")); },
       [](const BindingProperty& s) {
         BindingProperty e = s;
         e.field("name") = s.find("list");
         e.field("list").clear();
         return e;
       }},
      {"moving the root into its own field",
       [](BindingProperty& v) { v.field("list") = std::move(v); },
       [](const BindingProperty&) { return BindingProperty(); }},
      {"moving a field into its own element",
       [](BindingProperty& v) { v.field("list").element(3) = std::move(v.field("list")); },
       [](const BindingProperty& s) {
         BindingProperty e = s;
         e.field("list").clear();
         return e;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BindingProperty v = Sample();
    const BindingProperty snapshot = v;
    c.act(v);
    EXPECT_TRUE(v == c.expected(snapshot));
    EXPECT_EQ(StrayBlocks(v), 0u);
  }
}

TEST(BindingProperty, MovingARootHandsOverItsArena) {
  BindingProperty source = Sample();
  const ValueArena* arena = source.arena();
  BindingProperty target = std::move(source);
  EXPECT_EQ(target.arena(), arena);
  EXPECT_TRUE(source.isEmpty());
  EXPECT_EQ(source.arena(), nullptr);
  source = "reused";  // a moved-from root is a fresh root
  EXPECT_NE(source.arena(), arena);

  BindingProperty other = Sample();
  target = std::move(other);
  EXPECT_TRUE(target == Sample());

  BindingProperty holder;
  holder.field("x") = std::move(target);  // a field of another tree copies and clears
  EXPECT_TRUE(holder.find("x") == Sample());
  EXPECT_TRUE(target.isEmpty());
  EXPECT_EQ(holder.find("x").arena(), holder.arena());

  BindingProperty taken(std::move(holder.field("x")));  // a root out of a field
  EXPECT_TRUE(taken == Sample());
  EXPECT_TRUE(holder.find("x").isEmpty());
  EXPECT_NE(taken.arena(), holder.arena());
}

TEST(BindingProperty, MillionDeepTreeIsBuiltCopiedComparedAndFreed) {
  constexpr int kDepth = 1'000'000;
  // Collections and structures take turns, level by level.
  BindingProperty root;
  BindingProperty* at = &root;
  for (int level = 0; level < kDepth; ++level) {
    at = level % 2 == 0 ? &at->append() : &at->field("k");
  }
  *at = "bottom";

  BindingProperty copy = root;
  EXPECT_TRUE(copy == root);
  at = &copy;
  for (int level = 0; level < kDepth; ++level) {
    at = level % 2 == 0 ? &at->element(0) : &at->field("k");
  }
  EXPECT_EQ(at->asString(), "bottom");
  *at = "changed";
  EXPECT_FALSE(copy == root);

  root.element(0).clear();  // freed block by block, not by resetting the arena
  EXPECT_EQ(root.arena()->liveBlocks(), 1u) << "only the root's element array is left";
  root.element(0) = std::move(copy);
  EXPECT_EQ(root.element(0).element(0).kind(), ValueKind::Structure);
}

TEST(BindingProperty, HundredThousandFieldsInAnyOrder) {
  constexpr int kFields = 100'000;
  std::vector<std::string> names;
  for (int i = 0; i < kFields; ++i) names.push_back("field" + std::to_string(1'000'000 + i));
  std::vector<std::string> shuffled = names;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
  for (const std::vector<std::string>* order : {&names, &shuffled}) {
    BindingProperty v;
    for (const std::string& name : *order) v.field(name) = std::string_view(name);
    ASSERT_EQ(v.size(), size_t{kFields});
    size_t index = 0;
    for (const auto& [name, value] : v.fields()) {
      ASSERT_EQ(name, names[index++]);
      ASSERT_EQ(value.asString(), name);
    }
    for (const std::string& name : names) ASSERT_EQ(v.find(name).asString(), name);
    BindingProperty copy = v;
    copy.field("field0") = true;  // a copied structure takes new fields
    EXPECT_EQ(copy.size(), size_t{kFields + 1});
    EXPECT_EQ(copy.find(names.back()).asString(), names.back());
  }
}

}  // namespace
}  // namespace Zorv
