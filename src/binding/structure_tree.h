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

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// A fixed-size load of 2, 4 or 8 bytes, widened to a word.
inline uint64_t Load(const char* at, size_t bytes) {
  uint64_t value = 0;
  if (bytes == 8) std::memcpy(&value, at, 8);
  if (bytes == 4) {
    uint32_t word;
    std::memcpy(&word, at, 4);
    value = word;
  }
  if (bytes == 2) {
    uint16_t word;
    std::memcpy(&word, at, 2);
    value = word;
  }
  return value;
}

// The first min(size, 8) bytes at `at` as a word in memory order, zero-padded.
// Two overlapping fixed-size loads rather than a copy of variable length into a
// buffer that is then read as one word: that copy's stores cannot be forwarded
// to the wide load, which then waits for them to reach the cache.
inline uint64_t LoadPrefix(const char* at, size_t size) {
  if constexpr (std::endian::native == std::endian::little) {
    if (size >= 8) return Load(at, 8);
    if (size >= 4) return Load(at, 4) | Load(at + size - 4, 4) << (8 * (size - 4));
    if (size >= 2) return Load(at, 2) | Load(at + size - 2, 2) << (8 * (size - 2));
    return size == 1 ? static_cast<unsigned char>(at[0]) : 0;
  } else {
    char bytes[8] = {};
    if (size > 0) std::memcpy(bytes, at, size < 8 ? size : 8);
    return Load(bytes, 8);
  }
}

// A word of key bytes in memory order as a number that orders like the bytes.
inline uint64_t Ordered(uint64_t word) {
  return std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
}

// The first bytes of `key` (zero-padded to 8) as a number that orders like
// the bytes do: keys whose heads differ compare like their heads.
inline uint64_t KeyHead(std::string_view key) {
  return Ordered(LoadPrefix(key.data(), key.size()));
}

// Byte-wise order of two nodes' keys.
int CompareNodes(const StructureNode& a, const StructureNode& b);

// Sets the key of `node` when it is short enough to live inside it. The head
// is written as one word, so reading it back as one never waits on the store.
// REQUIRES: key.size() <= StructureNode::kInlineKey.
inline void SetInlineKey(StructureNode& node, std::string_view key) {
  const uint64_t word = LoadPrefix(key.data(), key.size());
  std::memcpy(node.head, &word, sizeof word);
  node.keyLength = static_cast<uint32_t>(key.size());
}

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
