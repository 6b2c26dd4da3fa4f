// BindingPropertyAccess: what the tree builder needs of a structure beyond the
// public interface, so that it can make a structure's fields first and shape
// its field tree once, at the end, instead of inserting them one by one.
//
// A field made by NewField() belongs to no structure until SetFields() links
// it in or DropField() frees it; its value is a child of the structure's tree
// and never moves.
#pragma once

#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"

namespace Zorv {

struct StructureNode;

class BindingPropertyAccess {
 public:
  // A detached node holding `key` and an empty value, from `structure`'s arena.
  static StructureNode* NewField(BindingProperty& structure, std::string_view key);
  // Frees a detached node and everything its value holds.
  static void DropField(BindingProperty& structure, StructureNode* node);
  // Makes the tree at `root` (of `count` nodes, valid as StructureTree::IsValid
  // says) the fields of `structure`, which must be an empty structure.
  static void SetFields(BindingProperty& structure, StructureNode* root, uint32_t count);
  // The root of a structure's field tree; null for no fields or another kind.
  static const StructureNode* Fields(const BindingProperty& structure);
};

}  // namespace Zorv
