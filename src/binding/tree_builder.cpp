#include "binding/tree_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace Zorv {

namespace {

// Links fields in key order into a balanced tree: the middle one is the
// root, each half a subtree. Recursion is as deep as the tree is high, which
// is log2 of the count, whatever the input.
StructureNode* LinkBalanced(const TreeBuilder::Field* fields, size_t count) {
  if (count == 0) return nullptr;
  const size_t leftCount = (count - 1) / 2;
  const size_t rightCount = count - 1 - leftCount;
  StructureNode* middle = fields[leftCount].node;
  middle->left = LinkBalanced(fields, leftCount);
  middle->right = LinkBalanced(fields + leftCount + 1, rightCount);
  // A balanced subtree of n nodes is bit_width(n) levels high.
  middle->balance = static_cast<int8_t>(std::bit_width(rightCount) - std::bit_width(leftCount));
  return middle;
}

}  // namespace

TreeBuilder::TreeBuilder(BindingProperty& root) : root_(&root) {
  root.clear();
}

void TreeBuilder::blob(std::span<const uint8_t> bytes) {
  BindingPropertyAccess::SetFreshBytes(target(), ValueKind::Blob, bytes.data(), bytes.size());
  finishScalar();
}

void TreeBuilder::closeAll() {
  while (!stack_.empty()) {
    if (stack_.back().value->kind() == ValueKind::Structure) {
      endObject();
    } else {
      endArray();
    }
  }
}

int TreeBuilder::Order(const Field& a, const Field& b) {
  if (a.head != b.head) return a.head < b.head ? -1 : 1;
  return StructureTree::CompareNodes(*a.node, *b.node);
}

bool TreeBuilder::Shape::matches(const Field* fields, size_t count) const {
  if (count != this->count) return false;
  size_t longAt = 0;
  for (size_t i = 0; i < count; ++i) {
    const StructureNode& node = *fields[i].node;
    if (fields[i].head != heads[i] || node.keyLength != lengths[i]) return false;
    if (!node.keyIsInline()) {
      if (std::memcmp(node.text, longKeys + longAt, node.keyLength) != 0) return false;
      longAt += node.keyLength;
    }
  }
  return true;
}

void TreeBuilder::Shape::record(const Field* fields, size_t count, const uint8_t* sorted) {
  this->count = 0;
  size_t longAt = 0;
  for (size_t i = 0; i < count; ++i) {
    const StructureNode& node = *fields[i].node;
    heads[i] = fields[i].head;
    lengths[i] = node.keyLength;
    if (!node.keyIsInline()) {
      if (node.keyLength > kLongKeyBytes - longAt) return;  // too long to keep
      std::memcpy(longKeys + longAt, node.text, node.keyLength);
      longAt += node.keyLength;
    }
  }
  std::copy(sorted, sorted + count, order);
  this->count = count;
}

// Puts a small structure's fields in key order. Structures of one shape (the
// records of a list) come one after another, so the order found for one is
// kept and reused while the next ones have the same keys in the same order.
// Answers whether keys may repeat.
bool TreeBuilder::sortSmall(Field* fields, size_t count) {
  uint8_t sorted[kShapeFields] = {};
  bool mayRepeat = false;
  if (shape_.matches(fields, count)) {
    std::copy(shape_.order, shape_.order + count, sorted);
  } else {
    // Insertion sort of indices; stable, so of repeated keys the last stays last.
    for (size_t i = 0; i < count; ++i) {
      size_t to = i;
      for (; to > 0 && Order(fields[sorted[to - 1]], fields[i]) > 0; --to)
        sorted[to] = sorted[to - 1];
      sorted[to] = static_cast<uint8_t>(i);
    }
    for (size_t k = 1; k < count && !mayRepeat; ++k) {
      mayRepeat = Order(fields[sorted[k - 1]], fields[sorted[k]]) == 0;
    }
    if (!mayRepeat) shape_.record(fields, count, sorted);
  }
  Field inOrder[kShapeFields];
  for (size_t k = 0; k < count; ++k) inOrder[k] = fields[sorted[k]];
  std::copy(inOrder, inOrder + count, fields);
  return mayRepeat;
}

void TreeBuilder::arrangeFields(BindingProperty& structure, size_t first) {
  Field* const begin = fields_.data() + first;
  Field* const end = fields_.data() + fields_.size();
  const auto order = Order;
  // Input written in key order, as this system writes it, needs no sorting.
  bool ascending = true;
  for (Field* at = begin + 1; at < end && ascending; ++at) ascending = order(at[-1], *at) < 0;
  bool mayRepeat = false;
  if (!ascending) {
    if (end - begin <= static_cast<std::ptrdiff_t>(kShapeFields)) {
      mayRepeat = sortSmall(begin, static_cast<size_t>(end - begin));
    } else {
      // Stable: of repeated keys the one that came last stays last.
      std::stable_sort(begin, end, [&](const Field& a, const Field& b) { return order(a, b) < 0; });
      mayRepeat = true;
    }
  }
  // Keep only the last of each run of equal keys, packed at the front, and
  // chain them in key order.
  Field* kept = begin;
  for (Field* at = begin; at < end; ++at) {
    if (mayRepeat && at + 1 < end && order(*at, at[1]) == 0) {
      BindingPropertyAccess::DropField(structure, at->node);
      continue;
    }
    if (kept != begin) kept[-1].node->next = at->node;
    *kept++ = *at;
  }
  kept[-1].node->next = nullptr;
  const size_t count = static_cast<size_t>(kept - begin);
  if (count > UINT32_MAX) throw std::length_error("structure of 2^32 fields");
  StructureNode* root = LinkBalanced(begin, count);
  fields_.truncate(first);
  BindingPropertyAccess::SetFields(structure, root, static_cast<uint32_t>(count));
}

}  // namespace Zorv
