#include "binding/tree_builder.h"

namespace Zorv {

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

}  // namespace Zorv
