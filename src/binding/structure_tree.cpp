#include "binding/structure_tree.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace Zorv::StructureTree {

namespace {

// The first bytes of a node's key as a number that orders like the bytes do.
uint64_t HeadValue(const char* head) {
  return Ordered(Load(head, 8));
}

// A key being looked up, with its head computed once.
struct Probe {
  explicit Probe(std::string_view key) : key(key), head(KeyHead(key)) {}

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

int CompareNodes(const StructureNode& a, const StructureNode& b) {
  const uint64_t left = HeadValue(a.keyBytes());
  const uint64_t right = HeadValue(b.keyBytes());
  if (left != right) return left < right ? -1 : 1;
  if (a.keyIsInline() && b.keyIsInline()) {
    return a.keyLength < b.keyLength ? -1 : (a.keyLength > b.keyLength ? 1 : 0);
  }
  return Compare(a.name(), b.name());
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

bool IsValid(const StructureNode* root, uint32_t count) {
  // Post-order walk: a node's height is known once both subtrees are done.
  struct Frame {
    const StructureNode* node;
    int leftHeight;
    uint8_t stage;  // 0: descend left, 1: descend right, 2: check
  };
  Frame frames[kMaxHeight + 1];
  int depth = 0;
  int finished = 0;  // height of the subtree finished last
  uint32_t seen = 0;
  const StructureNode* previous = nullptr;  // in-order predecessor
  if (root) frames[depth++] = Frame{root, 0, 0};
  while (depth > 0) {
    Frame& frame = frames[depth - 1];
    const StructureNode* node = frame.node;
    if (frame.stage == 0) {
      frame.stage = 1;
      finished = 0;
      if (node->left) {
        if (depth > kMaxHeight) return false;
        frames[depth++] = Frame{node->left, 0, 0};
      }
    } else if (frame.stage == 1) {
      frame.stage = 2;
      frame.leftHeight = finished;
      if (previous && (previous->next != node || CompareNodes(*previous, *node) >= 0)) return false;
      previous = node;
      ++seen;
      finished = 0;
      if (node->right) {
        if (depth > kMaxHeight) return false;
        frames[depth++] = Frame{node->right, 0, 0};
      }
    } else {
      const int difference = finished - frame.leftHeight;
      if (difference != node->balance || difference < -1 || difference > 1) return false;
      finished = 1 + std::max(finished, frame.leftHeight);
      --depth;
    }
  }
  return seen == count && (!previous || previous->next == nullptr);
}

}  // namespace Zorv::StructureTree
