#include "binding/structure_assembler.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace Zorv {

namespace {

// Links fields in key order into a balanced tree: the middle one is the
// root, each half a subtree. Recursion is as deep as the tree is high, which
// is log2 of the count, whatever the input.
StructureNode* LinkBalanced(const BuiltField* fields, size_t count) {
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

int StructureAssembler::Order(const Field& a, const Field& b) {
  if (a.head != b.head) return a.head < b.head ? -1 : 1;
  return StructureTree::CompareNodes(*a.node, *b.node);
}

// Sorts a small structure's fields into key order; answers whether keys
// repeat. A shape without repeats is kept for the structures that follow.
bool StructureAssembler::sortSmall(Field* fields, size_t count) {
  uint8_t sorted[StructureShape::kMaxFields] = {};
  // Insertion sort of indices; stable, so of repeated keys the last stays last.
  for (size_t i = 0; i < count; ++i) {
    size_t to = i;
    for (; to > 0 && Order(fields[sorted[to - 1]], fields[i]) > 0; --to) {
      sorted[to] = sorted[to - 1];
    }
    sorted[to] = static_cast<uint8_t>(i);
  }
  bool repeats = false;
  for (size_t k = 1; k < count && !repeats; ++k) {
    repeats = Order(fields[sorted[k - 1]], fields[sorted[k]]) == 0;
  }
  if (!repeats) shape_.record(fields, count, sorted);
  Field inOrder[StructureShape::kMaxFields];
  for (size_t k = 0; k < count; ++k) inOrder[k] = fields[sorted[k]];
  std::copy(inOrder, inOrder + count, fields);
  return repeats;
}

void StructureAssembler::close(BindingProperty& structure, size_t mark) {
  if (mark == fields_.size()) return;  // no fields: it stays an empty structure
  Field* const begin = fields_.data() + mark;
  Field* const end = fields_.data() + fields_.size();
  const auto size = static_cast<size_t>(end - begin);
  // The same keys in the same order as the last structure sorted: a list's
  // records after the first.
  if (StructureNode* root = shape_.linkIfSame(begin, size)) {
    fields_.truncate(mark);
    BindingPropertyAccess::SetFields(structure, root, static_cast<uint32_t>(size));
    return;
  }
  // Input written in key order, as this system writes it, needs no sorting.
  bool ascending = true;
  for (Field* at = begin + 1; at < end && ascending; ++at) ascending = Order(at[-1], *at) < 0;
  bool mayRepeat = false;
  if (!ascending) {
    if (size <= StructureShape::kMaxFields) {
      mayRepeat = sortSmall(begin, size);
    } else {
      // Stable: of repeated keys the one that came last stays last.
      std::stable_sort(begin, end, [](const Field& a, const Field& b) { return Order(a, b) < 0; });
      mayRepeat = true;
    }
  }
  // Keep only the last of each run of equal keys, packed at the front, and
  // chain them in key order.
  Field* kept = begin;
  for (Field* at = begin; at < end; ++at) {
    if (mayRepeat && at + 1 < end && Order(*at, at[1]) == 0) {
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
  fields_.truncate(mark);
  BindingPropertyAccess::SetFields(structure, root, static_cast<uint32_t>(count));
}

}  // namespace Zorv
