// StructureShape: the key order and field-tree shape of the last small
// structure the tree builder sorted. The records of a list come one after
// another with the same keys in the same order; each one whose keys match the
// kept shape exactly is linked from it, without sorting.
//
// Only shapes of up to kMaxFields keys, none repeated, whose keys longer than
// the inline bound fit in kLongKeyBytes, are kept.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binding/structure_tree.h"

namespace Zorv {

// A field of a structure being built, with the head of its key for sorting.
struct BuiltField {
  uint64_t head;  // StructureTree::KeyHead() of the key
  StructureNode* node;
};

class StructureShape {
 public:
  static constexpr size_t kMaxFields = 16;
  static constexpr size_t kLongKeyBytes = 256;

  // Keeps the shape of `fields` (in the order they came), whose keys are all
  // different; `sorted[k]` is the index in `fields` of the k-th key in order.
  void record(const BuiltField* fields, size_t count, const uint8_t* sorted);
  // When `fields` (in the order they came) have exactly the kept keys, links
  // them into a balanced tree chained in key order, the same tree as
  // StructureTree::BuildBalanced would make, and answers its root. Otherwise
  // answers null, having overwritten the links of some of the nodes.
  StructureNode* linkIfSame(const BuiltField* fields, size_t count) const;

 private:
  int8_t place(const uint8_t* sorted, size_t from, size_t count);

  size_t count_ = 0;  // 0: none kept
  uint64_t heads_[kMaxFields];
  uint32_t lengths_[kMaxFields];
  // The keys longer than the inline bound, one after another.
  char longKeys_[kLongKeyBytes];
  // By input index: the input indices of the left and right child and of the
  // next field in key order (-1: none), and the balance.
  int8_t left_[kMaxFields];
  int8_t right_[kMaxFields];
  int8_t next_[kMaxFields];
  int8_t balance_[kMaxFields];
  int8_t root_ = -1;
};

}  // namespace Zorv
