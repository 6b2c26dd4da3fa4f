#include "binding/structure_tree.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace Zorv::StructureTree {

namespace {

// The first bytes of a key as a number that orders like the bytes do.
uint64_t HeadValue(const char* head) {
  uint64_t value;
  std::memcpy(&value, head, sizeof value);
  return std::endian::native == std::endian::little ? __builtin_bswap64(value) : value;
}

// A key being looked up, with its head computed once.
struct Probe {
  explicit Probe(std::string_view key) : key(key) {
    char bytes[StructureNode::kInlineKey] = {};
    if (!key.empty()) std::memcpy(bytes, key.data(), std::min(key.size(), sizeof bytes));
    head = HeadValue(bytes);
  }

  int compare(const StructureNode& node) const {
    const uint64_t other = HeadValue(node.keyBytes());
    if (head != other) return head < other ? -1 : 1;
    // Equal heads: both keys start alike, or one is the other plus zero bytes.
    if (key.size() <= StructureNode::kInlineKey && node.keyIsInline()) {
      return key.size() < node.keyLength ? -1 : (key.size() > node.keyLength ? 1 : 0);
    }
    return Compare(key, node.name());
  }

  std::string_view key;
  uint64_t head;
};

// Restores balance at `node` (balance +2 or -2 after an insertion below it)
// and returns the new root of its subtree, whose height is as before.
StructureNode* Rebalance(StructureNode* node) {
  if (node->balance > 0) {
    StructureNode* child = node->right;
    if (child->balance > 0) {
      node->right = child->left;
      child->left = node;
      node->balance = 0;
      child->balance = 0;
      return child;
    }
    StructureNode* grand = child->left;
    child->left = grand->right;
    node->right = grand->left;
    grand->left = node;
    grand->right = child;
    node->balance = grand->balance > 0 ? -1 : 0;
    child->balance = grand->balance < 0 ? 1 : 0;
    grand->balance = 0;
    return grand;
  }
  StructureNode* child = node->left;
  if (child->balance < 0) {
    node->left = child->right;
    child->right = node;
    node->balance = 0;
    child->balance = 0;
    return child;
  }
  StructureNode* grand = child->right;
  child->right = grand->left;
  node->left = grand->right;
  grand->right = node;
  grand->left = child;
  node->balance = grand->balance < 0 ? 1 : 0;
  child->balance = grand->balance > 0 ? -1 : 0;
  grand->balance = 0;
  return grand;
}

}  // namespace

int Compare(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  if (common > 0) {
    if (const int order = std::memcmp(a.data(), b.data(), common)) return order;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

void SetInlineKey(StructureNode& node, std::string_view key) {
  std::memset(node.head, 0, sizeof node.head);
  if (!key.empty()) std::memcpy(node.head, key.data(), key.size());
  node.keyLength = static_cast<uint32_t>(key.size());
}

const StructureNode* Find(const StructureNode* root, std::string_view key) {
  const Probe probe(key);
  while (root) {
    const int order = probe.compare(*root);
    if (order == 0) return root;
    root = order < 0 ? root->left : root->right;
  }
  return nullptr;
}

StructureNode* Search(StructureNode* root, std::string_view key, Path& path) {
  path.depth = 0;
  const Probe probe(key);
  while (root) {
    const int order = probe.compare(*root);
    if (order == 0) return root;
    path.nodes[path.depth] = root;
    path.right[path.depth] = order > 0;
    ++path.depth;
    root = order < 0 ? root->left : root->right;
  }
  return nullptr;
}

void Link(StructureNode*& root, const Path& path, StructureNode* node) {
  node->left = nullptr;
  node->right = nullptr;
  node->balance = 0;
  node->next = nullptr;
  // The nearest ancestor left of the new node precedes it in key order, the
  // nearest one right of it follows it.
  for (int i = path.depth - 1; i >= 0; --i) {
    if (!path.right[i]) {
      node->next = path.nodes[i];
      break;
    }
  }
  for (int i = path.depth - 1; i >= 0; --i) {
    if (path.right[i]) {
      path.nodes[i]->next = node;
      break;
    }
  }
  if (path.depth == 0) {
    root = node;
    return;
  }
  StructureNode* parent = path.nodes[path.depth - 1];
  (path.right[path.depth - 1] ? parent->right : parent->left) = node;
  for (int i = path.depth - 1; i >= 0; --i) {
    StructureNode* at = path.nodes[i];
    at->balance = static_cast<int8_t>(at->balance + (path.right[i] ? 1 : -1));
    if (at->balance == 0) return;  // the subtree kept its height
    if (at->balance == 1 || at->balance == -1) continue;
    StructureNode* top = Rebalance(at);
    if (i == 0) {
      root = top;
    } else {
      (path.right[i - 1] ? path.nodes[i - 1]->right : path.nodes[i - 1]->left) = top;
    }
    return;
  }
}

const StructureNode* First(const StructureNode* root) {
  if (!root) return nullptr;
  while (root->left) root = root->left;
  return root;
}

StructureNode* BuildBalanced(StructureNode* head, uint32_t count) {
  // In-order construction: each frame builds a subtree of `count` nodes as
  // left half, middle node, right half. Halves differ by at most one node, so
  // the frames nest about log2(count) deep.
  struct Frame {
    uint32_t count;
    uint8_t stage;  // 0: build left, 1: take middle, 2: attach right
    StructureNode* middle;
  };
  Frame frames[kMaxHeight];
  int depth = 0;
  frames[depth++] = Frame{count, 0, nullptr};
  StructureNode* cursor = head;
  StructureNode* built = nullptr;  // the subtree the last finished frame built
  while (depth > 0) {
    Frame& frame = frames[depth - 1];
    const uint32_t leftCount = frame.count == 0 ? 0 : (frame.count - 1) / 2;
    const uint32_t rightCount = frame.count == 0 ? 0 : frame.count - 1 - leftCount;
    if (frame.count == 0) {
      built = nullptr;
      --depth;
    } else if (frame.stage == 0) {
      frame.stage = 1;
      frames[depth++] = Frame{leftCount, 0, nullptr};
    } else if (frame.stage == 1) {
      frame.stage = 2;
      frame.middle = cursor;
      cursor = cursor->next;
      frame.middle->left = built;
      frames[depth++] = Frame{rightCount, 0, nullptr};
    } else {
      StructureNode* middle = frame.middle;
      middle->right = built;
      // A balanced subtree of n nodes is bit_width(n) levels high.
      middle->balance = static_cast<int8_t>(std::bit_width(rightCount) - std::bit_width(leftCount));
      built = middle;
      --depth;
    }
  }
  return built;
}

}  // namespace Zorv::StructureTree
