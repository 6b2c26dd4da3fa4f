#include "binding/structure_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace Zorv {
namespace {

// Nodes over keys that the test owns; checks every invariant of the tree.
class TreeFixture {
 public:
  StructureNode* make(const std::string& key) {
    keys_.push_back(key);
    StructureNode& node = nodes_.emplace_back();
    if (key.size() <= StructureNode::kInlineKey) {
      StructureTree::SetInlineKey(node, key);
    } else {
      node.text = keys_.back().data();
      node.keyLength = static_cast<uint32_t>(key.size());
    }
    return &node;
  }

  bool insert(const std::string& key) {
    StructureTree::Path path;
    if (StructureTree::Search(root_, key, path)) return false;
    StructureTree::Link(root_, path, make(key));
    ++count_;
    return true;
  }

  // Heights, balance factors, key order and the in-order list.
  void check() const {
    std::vector<const StructureNode*> inOrder;
    const int height = walk(root_, inOrder);
    EXPECT_LE(height, 1.45 * std::log2(count_ + 2));
    ASSERT_EQ(inOrder.size(), count_);
    const StructureNode* listed = StructureTree::First(root_);
    for (size_t i = 0; i < inOrder.size(); ++i, listed = listed->next) {
      ASSERT_EQ(listed, inOrder[i]) << "list and tree disagree at " << i;
      if (i > 0) {
        ASSERT_LT(StructureTree::Compare(inOrder[i - 1]->name(), inOrder[i]->name()), 0);
      }
    }
    EXPECT_EQ(listed, nullptr);
  }

  StructureNode*& root() { return root_; }
  size_t count() const { return count_; }
  StructureNode* head() { return nodes_.empty() ? nullptr : &nodes_.front(); }
  void setCount(size_t count) { count_ = count; }

 private:
  // Depth is bounded by the height check, so recursion is fine here.
  static int walk(const StructureNode* node, std::vector<const StructureNode*>& out) {
    if (!node) return 0;
    const int left = walk(node->left, out);
    out.push_back(node);
    const int right = walk(node->right, out);
    EXPECT_EQ(node->balance, right - left) << "at " << node->name();
    EXPECT_LE(std::abs(right - left), 1) << "at " << node->name();
    return 1 + std::max(left, right);
  }

  std::deque<std::string> keys_;
  std::deque<StructureNode> nodes_;
  StructureNode* root_ = nullptr;
  size_t count_ = 0;
};

TEST(StructureTree, StaysBalancedAndOrderedForEveryInsertionOrder) {
  std::vector<std::string> ascending;
  for (int i = 0; i < 2000; ++i) ascending.push_back(std::to_string(100000 + i));
  std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
  std::vector<std::string> zigzag;
  for (size_t i = 0, j = ascending.size() - 1; i <= j; ++i, --j) {
    zigzag.push_back(ascending[i]);
    if (i != j) zigzag.push_back(ascending[j]);
  }
  std::vector<std::string> shuffled = ascending;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
  const std::pair<const char*, const std::vector<std::string>*> orders[] = {
      {"ascending", &ascending},
      {"descending", &descending},
      {"zigzag", &zigzag},
      {"shuffled", &shuffled}};
  for (const auto& [name, keys] : orders) {
    SCOPED_TRACE(name);
    TreeFixture tree;
    for (size_t i = 0; i < keys->size(); ++i) {
      ASSERT_TRUE(tree.insert((*keys)[i]));
      if (i < 40) tree.check();  // every rotation case shows up early
    }
    EXPECT_FALSE(tree.insert((*keys)[7])) << "a present key is found, not added";
    tree.check();
    for (const std::string& key : *keys) {
      const StructureNode* found = StructureTree::Find(tree.root(), key);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->name(), key);
    }
    EXPECT_EQ(StructureTree::Find(tree.root(), "0"), nullptr);
  }
}

TEST(StructureTree, ComparesBytewiseWithPrefixesFirst) {
  EXPECT_LT(StructureTree::Compare("", "a"), 0);
  EXPECT_LT(StructureTree::Compare("a", "ab"), 0);
  EXPECT_LT(StructureTree::Compare("B", "a"), 0);
  EXPECT_LT(StructureTree::Compare("z", "\xc3\xa9"), 0) << "bytes compare unsigned";
  EXPECT_LT(StructureTree::Compare(std::string_view("a\0", 2), "a\x01"), 0);
  EXPECT_EQ(StructureTree::Compare("same", "same"), 0);
}

TEST(StructureTree, KeysThatShareTheirFirstBytesStayApart) {
  using namespace std::string_literals;
  // Heads hold the first eight bytes, zero-padded: these differ only past
  // them or only by trailing zero bytes.
  const std::vector<std::string> sorted = {""s,           "\0"s,
                                           "a"s,          "a\0"s,
                                           "a\0\0"s,      "abcdefgh"s,
                                           "abcdefgh\0"s, "abcdefgh\0a"s,
                                           "abcdefghi"s,  "abcdefghij"s,
                                           "abcdefgi"s,   "b"s,
                                           "\xff"s,       "\xff\xff\xff\xff\xff\xff\xff\xff\xff"s};
  std::vector<std::string> shuffled = sorted;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  TreeFixture tree;
  for (const std::string& key : shuffled) ASSERT_TRUE(tree.insert(key));
  tree.check();
  for (const std::string& key : sorted) EXPECT_FALSE(tree.insert(key));
  std::vector<std::string> listed;
  for (const StructureNode* node = StructureTree::First(tree.root()); node; node = node->next) {
    listed.emplace_back(node->name());
  }
  EXPECT_EQ(listed, sorted);
  EXPECT_EQ(StructureTree::Find(tree.root(), "abcdefg"), nullptr);
  EXPECT_EQ(StructureTree::Find(tree.root(), "a\0\0\0"s), nullptr);
}

TEST(StructureTree, BuildBalancedShapesAnyListIntoAValidTree) {
  for (uint32_t count = 0; count <= 70; ++count) {
    SCOPED_TRACE(count);
    TreeFixture tree;
    StructureNode* previous = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
      StructureNode* node = tree.make(std::to_string(1000 + i));
      node->next = nullptr;
      if (previous) previous->next = node;
      previous = node;
    }
    tree.root() = StructureTree::BuildBalanced(tree.head(), count);
    tree.setCount(count);
    tree.check();
    tree.insert("0999");  // a tree built this way takes further insertions
    tree.insert("2000");
    tree.check();
  }
}

}  // namespace
}  // namespace Zorv
