// TreeBuilder: turns the event stream of a text reader (JSON, MessagePack,
// YAML) into a BindingProperty tree, so the readers share one way of placing
// values: a value lands in the root, as a new element of the open collection,
// or in the field that the last key() selected in the open structure.
//
//   BindingProperty root;
//   TreeBuilder builder(root);
//   builder.beginObject();
//   builder.key("ids");
//   builder.beginArray();
//   builder.unsignedInteger(7);
//   builder.endArray();
//   builder.endObject();   // root is {"ids": [7]}, builder.complete() is true
//
// Open containers are kept on an explicit stack (one pointer per level), so
// nesting depth costs heap memory, never call stack. Strings, keys and blobs
// are copied once, into the root's arena.
//
// A structure's fields are collected as they arrive and arranged once, when it
// ends: sorted by key (byte-wise), the later of repeated keys kept and the
// earlier ones freed, and the field tree linked balanced in one pass. Until
// endObject() the structure shows no fields; a builder given up with
// structures still open leaves their collected fields out of them, in the
// tree's arena until the tree is cleared (the readers clear it on failure).
//
// REQUIRES: the events form one well-nested value: each end matches the open
// container, key() comes only directly inside a structure and before each of
// its member values, and no event follows the completed root. The readers
// guarantee this from their own grammar; it is never up to the input.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/binding_property_access.h"
#include "binding/structure_assembler.h"
#include "binding/work_stack.h"

namespace Zorv {

class TreeBuilder {
 public:
  // Empties `root` and builds into it; `root` must outlive the builder.
  explicit TreeBuilder(BindingProperty& root);

  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  void null();
  void boolean(bool value);
  void signedInteger(int64_t value);
  void unsignedInteger(uint64_t value);
  void floating(double value);
  void string(std::string_view value);
  void blob(std::span<const uint8_t> bytes);

  // `sizeHint` reserves room for that many elements, up to a fixed cap: a
  // count read from the input is only a claim until the elements arrive.
  void beginArray(size_t sizeHint = 0);
  void endArray();
  void beginObject();
  void key(std::string_view name);
  void endObject();

  // Ends every open container as if its end had arrived, completing the root.
  void closeAll();

  // Containers currently open.
  size_t depth() const { return stack_.size(); }
  // The root value is finished (a scalar was set or its container closed).
  bool complete() const { return complete_; }

 private:
  // Larger collections grow as their elements arrive, so a lying count in the
  // input can reserve no more than this.
  static constexpr size_t kMaxReservedElements = 4096;

  BindingProperty& target();
  void finishScalar() { complete_ = stack_.empty(); }
  void close();

  struct Open {
    BindingProperty* value;
    size_t mark;  // of its fields in fields_
  };

  BindingProperty* root_;
  BindingProperty* pendingField_ = nullptr;  // selected by key()
  WorkStack<Open, 32> stack_;
  StructureAssembler fields_;  // of the open structures
  bool complete_ = false;
};

// The per-value events are inline: a reader calls them once per token.

inline BindingProperty& TreeBuilder::target() {
  assert(!complete_);
  if (stack_.empty()) return *root_;
  BindingProperty* open = stack_.back().value;
  if (open->kind() == ValueKind::Collection) return BindingPropertyAccess::AppendFresh(*open);
  assert(pendingField_ != nullptr);
  return *pendingField_;
}

// Every target() is a new element, a new field or the emptied root.

inline void TreeBuilder::null() {
  target();
  finishScalar();
}

inline void TreeBuilder::boolean(bool value) {
  BindingPropertyAccess::SetFreshBool(target(), value);
  finishScalar();
}

inline void TreeBuilder::signedInteger(int64_t value) {
  BindingPropertyAccess::SetFreshSigned(target(), value);
  finishScalar();
}

inline void TreeBuilder::unsignedInteger(uint64_t value) {
  BindingPropertyAccess::SetFreshUnsigned(target(), value);
  finishScalar();
}

inline void TreeBuilder::floating(double value) {
  BindingPropertyAccess::SetFreshFloat(target(), value);
  finishScalar();
}

inline void TreeBuilder::string(std::string_view value) {
  BindingPropertyAccess::SetFreshString(target(), value);
  finishScalar();
}

inline void TreeBuilder::beginArray(size_t sizeHint) {
  BindingProperty& collection = target();
  BindingPropertyAccess::SetFreshContainer(collection, ValueKind::Collection);
  if (sizeHint > 0)
    collection.reserve(sizeHint < kMaxReservedElements ? sizeHint : kMaxReservedElements);
  stack_.push(Open{&collection, 0});
}

inline void TreeBuilder::endArray() {
  assert(!stack_.empty() && stack_.back().value->kind() == ValueKind::Collection);
  close();
}

inline void TreeBuilder::beginObject() {
  BindingProperty& structure = target();
  BindingPropertyAccess::SetFreshContainer(structure, ValueKind::Structure);
  stack_.push(Open{&structure, fields_.open()});
}

inline void TreeBuilder::key(std::string_view name) {
  assert(!stack_.empty() && stack_.back().value->kind() == ValueKind::Structure);
  pendingField_ = &fields_.add(*stack_.back().value, name);
}

inline void TreeBuilder::endObject() {
  assert(!stack_.empty() && stack_.back().value->kind() == ValueKind::Structure);
  const Open open = stack_.back();
  fields_.close(*open.value, open.mark);
  close();
}

inline void TreeBuilder::close() {
  stack_.pop();
  complete_ = stack_.empty();
}

}  // namespace Zorv
