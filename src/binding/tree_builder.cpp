#include "binding/tree_builder.h"

#include <algorithm>
#include <stdexcept>

namespace Zorv {

namespace {
constexpr std::ptrdiff_t kInsertionSortFields = 24;
}  // namespace

TreeBuilder::TreeBuilder(BindingProperty& root) : root_(&root) {
  root.clear();
}

void TreeBuilder::blob(std::span<const uint8_t> bytes) {
  target().setBlob(bytes);
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

void TreeBuilder::arrangeFields(BindingProperty& structure, size_t first) {
  const auto begin = fields_.begin() + static_cast<std::ptrdiff_t>(first);
  const auto end = fields_.end();
  auto order = [](const Field& a, const Field& b) {
    if (a.head != b.head) return a.head < b.head ? -1 : 1;
    return StructureTree::CompareNodes(*a.node, *b.node);
  };
  // Input written in key order, as this system writes it, needs no sorting.
  bool ascending = true;
  for (auto at = begin + 1; at < end && ascending; ++at) ascending = order(at[-1], *at) < 0;
  if (!ascending) {
    // Stable: of repeated keys the one that came last stays last. Most
    // structures are small, and insertion sort needs no buffer for them.
    if (end - begin <= kInsertionSortFields) {
      for (auto at = begin + 1; at < end; ++at) {
        const Field moving = *at;
        auto to = at;
        for (; to > begin && order(to[-1], moving) > 0; --to) *to = to[-1];
        *to = moving;
      }
    } else {
      std::stable_sort(begin, end, [&](const Field& a, const Field& b) { return order(a, b) < 0; });
    }
  }
  // Chain the nodes in key order, keeping only the last of each run of equal keys.
  StructureNode* head = nullptr;
  StructureNode* tail = nullptr;
  size_t count = 0;
  for (auto at = begin; at < end; ++at) {
    if (!ascending && at + 1 < end && order(*at, at[1]) == 0) {
      BindingPropertyAccess::DropField(structure, at->node);
      continue;
    }
    at->node->next = nullptr;
    (tail ? tail->next : head) = at->node;
    tail = at->node;
    ++count;
  }
  fields_.erase(begin, end);
  if (count > UINT32_MAX) throw std::length_error("structure of 2^32 fields");
  const auto fieldCount = static_cast<uint32_t>(count);
  BindingPropertyAccess::SetFields(structure, StructureTree::BuildBalanced(head, fieldCount),
                                   fieldCount);
}

}  // namespace Zorv
