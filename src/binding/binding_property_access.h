// BindingPropertyAccess: what the tree builder needs of values beyond the
// public interface, so that a reader fills fresh values directly and shapes a
// structure's field tree once, at its end, instead of inserting the fields one
// by one.
//
// A field made by NewField() belongs to no structure until SetFields() links
// it in or DropField() frees it; its value is a child of the structure's tree
// and never moves.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/structure_tree.h"
#include "binding/value_arena.h"

namespace Zorv {

class BindingPropertyAccess {
 public:
  // An element array starts with its capacity, padded to this many bytes.
  static constexpr size_t kArrayHeader = 8;

  // A detached node holding `key` and an empty value, from `structure`'s arena.
  static StructureNode* NewField(BindingProperty& structure, std::string_view key) {
    return NewNode(ArenaOf(structure), key);
  }
  // The same from an arena: the node's value is a child of that arena's tree.
  static StructureNode* NewNode(ValueArena& arena, std::string_view key);
  // Frees a detached node and everything its value holds.
  static void DropField(BindingProperty& structure, StructureNode* node);
  // Makes the tree at `root` (of `count` nodes, valid as StructureTree::IsValid
  // says) the fields of `structure`, which must be an empty structure.
  static void SetFields(BindingProperty& structure, StructureNode* root, uint32_t count);
  // The root of a structure's field tree; null for no fields or another kind.
  static const StructureNode* Fields(const BindingProperty& structure);

  // Setters for a value that is empty (a new element, field or root): there
  // is no old payload to free. Bool, Signed, Unsigned and Float take the bits
  // of their payload; String and Blob copy `size` bytes into the tree's arena.
  static void SetFreshScalar(BindingProperty& value, ValueKind kind, uint64_t bits);
  // Makes an empty value an empty collection or structure.
  static void SetFreshContainer(BindingProperty& value, ValueKind kind);
  static void SetFreshBytes(BindingProperty& value, ValueKind kind, const void* data, size_t size);
  // The same by kind, for the values the readers type.
  static void SetFreshBool(BindingProperty& value, bool flag) {
    SetFreshScalar(value, ValueKind::Bool, flag ? 1 : 0);
  }
  static void SetFreshSigned(BindingProperty& value, int64_t number) {
    SetFreshScalar(value, ValueKind::Signed, static_cast<uint64_t>(number));
  }
  static void SetFreshUnsigned(BindingProperty& value, uint64_t number) {
    SetFreshScalar(value, ValueKind::Unsigned, number);
  }
  static void SetFreshFloat(BindingProperty& value, double number) {
    SetFreshScalar(value, ValueKind::Float, std::bit_cast<uint64_t>(number));
  }
  static void SetFreshString(BindingProperty& value, std::string_view text) {
    SetFreshBytes(value, ValueKind::String, text.data(), text.size());
  }
  // A new empty element at the end of a collection (which must be one).
  static BindingProperty& AppendFresh(BindingProperty& collection);

 private:
  static ValueArena& ArenaOf(BindingProperty& value) {
    return value.arena_ ? *value.arena_ : CreateArena(value);
  }
  static ValueArena& CreateArena(BindingProperty& root);
  [[noreturn]] static void TooLarge();
};

// Inline: a reader calls these once per token.

inline void BindingPropertyAccess::SetFreshScalar(BindingProperty& value, ValueKind kind,
                                                  uint64_t bits) {
  assert(value.kind_ == ValueKind::Empty);
  value.payload_ = bits;
  value.kind_ = kind;
}

inline void BindingPropertyAccess::SetFreshContainer(BindingProperty& value, ValueKind kind) {
  assert(value.kind_ == ValueKind::Empty);
  assert(kind == ValueKind::Collection || kind == ValueKind::Structure);
  value.kind_ = kind;
}

// Copies `size` bytes. Short texts, the usual keys and values, are copied by
// two overlapping fixed-size moves instead of a call.
inline void CopyBytes(void* to, const void* from, size_t size) {
  auto* out = static_cast<char*>(to);
  const auto* in = static_cast<const char*>(from);
  if (size >= 8 && size <= 16) {
    uint64_t head, tail;
    std::memcpy(&head, in, 8);
    std::memcpy(&tail, in + size - 8, 8);
    std::memcpy(out, &head, 8);
    std::memcpy(out + size - 8, &tail, 8);
  } else if (size >= 4 && size < 8) {
    uint32_t head, tail;
    std::memcpy(&head, in, 4);
    std::memcpy(&tail, in + size - 4, 4);
    std::memcpy(out, &head, 4);
    std::memcpy(out + size - 4, &tail, 4);
  } else if (size < 4) {
    for (size_t i = 0; i < size; ++i) out[i] = in[i];
  } else {
    std::memcpy(out, in, size);
  }
}

inline void BindingPropertyAccess::SetFreshBytes(BindingProperty& value, ValueKind kind,
                                                 const void* data, size_t size) {
  assert(value.kind_ == ValueKind::Empty);
  if (size > UINT32_MAX) TooLarge();
  if (size > 0) {
    void* block = ArenaOf(value).allocate(size);
    CopyBytes(block, data, size);
    value.payload_ = reinterpret_cast<uintptr_t>(block);
    value.size_ = static_cast<uint32_t>(size);
  }
  value.kind_ = kind;
}

inline StructureNode* BindingPropertyAccess::NewNode(ValueArena& arena, std::string_view key) {
  if (key.size() > UINT32_MAX) TooLarge();
  const auto length = static_cast<uint32_t>(key.size());
  char* text = nullptr;
  if (length > StructureNode::kInlineKey) {
    text = static_cast<char*>(arena.allocate(length));
    CopyBytes(text, key.data(), length);
  }
  auto* node = static_cast<StructureNode*>(arena.allocate(sizeof(StructureNode)));
  BindingProperty* value = new (&node->value) BindingProperty();
  value->arena_ = &arena;
  value->ownsArena_ = false;
  if (text) {
    node->text = text;
    node->keyLength = length;
  } else {
    StructureTree::SetInlineKey(*node, key);
  }
  return node;
}

inline BindingProperty& BindingPropertyAccess::AppendFresh(BindingProperty& collection) {
  assert(collection.kind_ == ValueKind::Collection);
  if (collection.payload_ != 0) {
    uint32_t capacity;
    std::memcpy(&capacity, reinterpret_cast<const void*>(collection.payload_), sizeof capacity);
    if (collection.size_ < capacity) {
      auto* element =
          reinterpret_cast<BindingProperty*>(collection.payload_ + kArrayHeader) + collection.size_;
      new (element) BindingProperty();
      element->arena_ = collection.arena_;
      element->ownsArena_ = false;
      ++collection.size_;
      return *element;
    }
  }
  return collection.append();
}

}  // namespace Zorv
