// The fields of a structure value: an AVL tree of StructureNodes ordered by
// byte-wise key, whose nodes are also chained in key order through `next`, so
// that iterating, clearing and copying a structure walk a list instead of the
// tree. Lookup and insertion are O(log n) with no recursion; nodes never move.
//
//   StructureTree::Path path;
//   if (!StructureTree::Search(root, "name", path)) {
//     StructureNode* node = ...;  // made by the caller, holding the key
//     StructureTree::Link(root, path, node);
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"

namespace Zorv {

struct StructureNode {
  // Keys up to this long live in the node itself.
  static constexpr size_t kInlineKey = 8;

  BindingProperty value;
  StructureNode* left;
  StructureNode* right;
  StructureNode* next;  // the following node in key order
  union {
    char head[kInlineKey];  // a short key, zero-padded
    const char* text;       // a longer key, in a block of its own
  };
  uint32_t keyLength;
  int8_t balance;  // height of the right subtree minus height of the left one

  bool keyIsInline() const { return keyLength <= kInlineKey; }
  // At least kInlineKey bytes that start the key (zero-padded when short).
  const char* keyBytes() const { return keyIsInline() ? head : text; }
  std::string_view name() const { return {keyBytes(), keyLength}; }
};

namespace StructureTree {

// An AVL tree of fewer than 2^32 nodes is less than 47 levels high.
constexpr int kMaxHeight = 64;

// Where Search() stopped: the nodes from the root down and the side taken.
struct Path {
  StructureNode* nodes[kMaxHeight];
  bool right[kMaxHeight];
  int depth = 0;
};

// Byte-wise order: the shorter of two texts with a common prefix comes first.
int Compare(std::string_view a, std::string_view b);

// The first bytes of `key` (zero-padded to 8) as a number that orders like
// the bytes do: keys whose heads differ compare like their heads.
uint64_t KeyHead(std::string_view key);

// Byte-wise order of two nodes' keys.
int CompareNodes(const StructureNode& a, const StructureNode& b);

// Sets the key of `node` when it is short enough to live inside it. The head
// is written as one word, so reading it back as one never waits on the store.
// REQUIRES: key.size() <= StructureNode::kInlineKey.
void SetInlineKey(StructureNode& node, std::string_view key);

const StructureNode* Find(const StructureNode* root, std::string_view key);
// The node holding `key`, or null after filling `path` for Link().
StructureNode* Search(StructureNode* root, std::string_view key, Path& path);
// Inserts `node` where the Search() that filled `path` failed, and rebalances.
void Link(StructureNode*& root, const Path& path, StructureNode* node);

// The node with the smallest key; null for an empty tree.
const StructureNode* First(const StructureNode* root);
// Arranges the first `count` nodes of the key-ordered list at `head` into a
// balanced tree (left, right and balance; `next` is kept) and returns its root.
StructureNode* BuildBalanced(StructureNode* head, uint32_t count);

// Whether the tree at `root` holds `count` nodes in strictly increasing key
// order, chained through `next` in that order, with every balance factor equal
// to the real height difference and within -1..1. Walks without recursion.
bool IsValid(const StructureNode* root, uint32_t count);

}  // namespace StructureTree
}  // namespace Zorv
