// StructureAssembler: makes structures whose fields arrive one by one, as a
// reader sees them, by collecting the fields of each open structure and
// arranging them once, when the structure ends: sorted by key (or linked from
// the shape of the previous structure with the same keys), the last of
// repeated keys kept and the earlier ones freed, the field tree linked
// balanced. Structures nest: an inner one opens and closes while the outer one
// collects its fields.
//
//   const size_t mark = assembler.open();
//   assembler.add(structure, "b") = uint64_t{2};
//   assembler.add(structure, "a") = uint64_t{1};
//   assembler.close(structure, mark);   // structure is {"a": 1, "b": 2}
//
// A field belongs to no structure between add() and close(): its value never
// moves, but find() and fields() of the structure do not see it yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/binding_property_access.h"
#include "binding/structure_shape.h"
#include "binding/structure_tree.h"
#include "binding/work_stack.h"

namespace Zorv {

class StructureAssembler {
 public:
  // Where the fields of a structure opened now start.
  size_t open() const { return fields_.size(); }
  // A new empty field of `structure` (an empty structure, open since `mark`).
  BindingProperty& add(BindingProperty& structure, std::string_view key);
  // Makes the fields added since `mark` the fields of `structure`.
  void close(BindingProperty& structure, size_t mark);

 private:
  using Field = BuiltField;

  static int Order(const Field& a, const Field& b);
  bool sortSmall(Field* fields, size_t count);

  // The fields of every open structure, the innermost one's last.
  WorkStack<Field, 64> fields_;
  StructureShape shape_;
};

inline BindingProperty& StructureAssembler::add(BindingProperty& structure, std::string_view key) {
  StructureNode* node = BindingPropertyAccess::NewField(structure, key);
  fields_.push(Field{StructureTree::KeyHead(key), node});
  return node->value;
}

}  // namespace Zorv
