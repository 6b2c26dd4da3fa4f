#include "binding/tree_builder.h"

namespace Zorv {

TreeBuilder::TreeBuilder(BindingProperty& root) : root_(&root) {
  root.clear();
}

void TreeBuilder::blob(std::span<const uint8_t> bytes) {
  target().setBlob(bytes);
  finishScalar();
}

}  // namespace Zorv
