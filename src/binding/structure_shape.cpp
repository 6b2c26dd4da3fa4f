#include "binding/structure_shape.h"

#include <bit>
#include <cstring>

namespace Zorv {
namespace {

// Whether `size` bytes at `a` and `b` are the same; keys of up to 16 bytes
// compare as two overlapping words.
bool SameBytes(const char* a, const char* b, size_t size) {
  if (size < 8 || size > 16) return std::memcmp(a, b, size) == 0;
  uint64_t a0, a1, b0, b1;
  std::memcpy(&a0, a, 8);
  std::memcpy(&b0, b, 8);
  std::memcpy(&a1, a + size - 8, 8);
  std::memcpy(&b1, b + size - 8, 8);
  return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

}  // namespace

void StructureShape::record(const BuiltField* fields, size_t count, const uint8_t* sorted) {
  count_ = 0;
  if (count == 0 || count > kMaxFields) return;
  size_t longAt = 0;
  for (size_t i = 0; i < count; ++i) {
    const StructureNode& node = *fields[i].node;
    heads_[i] = fields[i].head;
    lengths_[i] = node.keyLength;
    if (!node.keyIsInline()) {
      if (node.keyLength > kLongKeyBytes - longAt) return;  // too long to keep
      std::memcpy(longKeys_ + longAt, node.text, node.keyLength);
      longAt += node.keyLength;
    }
  }
  for (size_t k = 0; k < count; ++k) {
    next_[sorted[k]] = k + 1 < count ? static_cast<int8_t>(sorted[k + 1]) : -1;
  }
  root_ = place(sorted, 0, count);
  count_ = count;
}

// The balanced tree of sorted[from, from + count): the middle one is the
// root, each half a subtree. As deep as the tree is high: at most 5 levels.
int8_t StructureShape::place(const uint8_t* sorted, size_t from, size_t count) {
  if (count == 0) return -1;
  const size_t leftCount = (count - 1) / 2;
  const size_t rightCount = count - 1 - leftCount;
  const uint8_t middle = sorted[from + leftCount];
  left_[middle] = place(sorted, from, leftCount);
  right_[middle] = place(sorted, from + leftCount + 1, rightCount);
  balance_[middle] = static_cast<int8_t>(std::bit_width(rightCount) - std::bit_width(leftCount));
  return static_cast<int8_t>(middle);
}

StructureNode* StructureShape::linkIfSame(const BuiltField* fields, size_t count) const {
  if (count != count_) return nullptr;
  auto at = [fields](int8_t index) { return index < 0 ? nullptr : fields[index].node; };
  size_t longAt = 0;
  for (size_t i = 0; i < count; ++i) {
    StructureNode* node = fields[i].node;
    if (fields[i].head != heads_[i] || node->keyLength != lengths_[i]) return nullptr;
    if (!node->keyIsInline()) {
      if (!SameBytes(node->text, longKeys_ + longAt, node->keyLength)) return nullptr;
      longAt += node->keyLength;
    }
    node->left = at(left_[i]);
    node->right = at(right_[i]);
    node->next = at(next_[i]);
    node->balance = balance_[i];
  }
  return at(root_);
}

}  // namespace Zorv
