// BindingProperty: the dynamic, tree-shaped value in which every argument, body,
// event payload and configuration travels.
//
//   BindingProperty body;
//   body.field("gameId") = uint64_t{42};
//   body.field("tags").append() = "ranked";
//   body.find("gameId").asUnsigned();   // 42
//   body.find("missing").kind();        // ValueKind::Empty, nothing is added
//
// A value tree keeps every block of its strings, blobs, enumerators,
// collections and structures in one ValueArena owned by the root value;
// elements and fields use their root's arena. One tree is used by one thread at
// a time. Clearing, copying and destroying are iterative: any nesting depth is
// safe.
//
// References returned by element(), append(), field() stay valid until the
// containing collection grows (append, reserve) or the containing structure is
// cleared; a structure's fields do not move when other fields are added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Zorv {

class ValueArena;
struct StructureNode;

enum class ValueKind : uint8_t {
  Empty = 0,
  Bool = 1,
  Signed = 2,
  Unsigned = 3,
  Float = 4,
  String = 5,
  Blob = 6,
  Enum = 7,
  Collection = 8,
  Structure = 9,
};

// "empty", "bool", ..., "structure"; the empty text for a kind outside 0-9.
std::string_view ValueKindName(ValueKind kind);

// An enumerator: its 32-bit value and the StaticType id of its enumeration.
struct EnumValue {
  int32_t value = 0;
  uint32_t typeId = 0;
  bool operator==(const EnumValue&) const = default;
};

class BindingProperty {
 public:
  // An empty root value. It creates its arena on its first allocation.
  BindingProperty() = default;
  ~BindingProperty();

  // Deep copy into a new tree.
  BindingProperty(const BindingProperty& other);
  // Deep copy into this value's tree, replacing the previous payload; copying
  // a value into itself, an ancestor or one of its own descendants is safe.
  BindingProperty& operator=(const BindingProperty& other);
  // A root takes the other root's whole tree, and a value takes another one's
  // payload within the same tree; otherwise this is a deep copy followed by
  // clearing the source. Either way the source ends empty (moving a value into
  // its own descendant therefore leaves nothing of either). Copying into
  // another tree may allocate: running out of memory there terminates.
  BindingProperty(BindingProperty&& other) noexcept;
  BindingProperty& operator=(BindingProperty&& other) noexcept;

  explicit BindingProperty(bool v) { *this = v; }
  explicit BindingProperty(int64_t v) { *this = v; }
  explicit BindingProperty(uint64_t v) { *this = v; }
  explicit BindingProperty(double v) { *this = v; }
  explicit BindingProperty(std::string_view v) { *this = v; }
  explicit BindingProperty(const char* v) { *this = std::string_view(v); }
  explicit BindingProperty(std::vector<uint8_t>&& v) { *this = std::move(v); }
  explicit BindingProperty(EnumValue v) { *this = v; }

  BindingProperty& operator=(bool v);
  BindingProperty& operator=(int32_t v) { return *this = int64_t{v}; }
  BindingProperty& operator=(int64_t v);
  BindingProperty& operator=(uint32_t v) { return *this = uint64_t{v}; }
  BindingProperty& operator=(uint64_t v);
  BindingProperty& operator=(double v);
  BindingProperty& operator=(std::string_view v);
  BindingProperty& operator=(const std::string& v) { return *this = std::string_view(v); }
  BindingProperty& operator=(const char* v) { return *this = std::string_view(v); }
  // The bytes are copied into the arena; the source vector is left empty.
  BindingProperty& operator=(std::vector<uint8_t>&& v);
  BindingProperty& setBlob(std::span<const uint8_t> bytes);
  BindingProperty& operator=(EnumValue v);

  ValueKind kind() const { return kind_; }
  std::string_view kindName() const { return ValueKindName(kind_); }
  bool isEmpty() const { return kind_ == ValueKind::Empty; }

  // Empty, collection and structure: the empty text; bool "true"/"false";
  // integers in decimal; float with "%f"; a string itself; a blob in Base64
  // (standard alphabet, '=' padding); an enumerator its value in decimal.
  std::string displayText() const;

  // The payload when the kind matches, otherwise a fixed default.
  bool asBool() const;
  int64_t asSigned() const;
  uint64_t asUnsigned() const;
  double asDouble() const;
  std::string_view asString() const;
  std::span<const uint8_t> asBlob() const;
  EnumValue asEnum() const;

  // Collections. makeCollection() keeps an existing collection and clears any
  // other kind first. element() of a non-collection or out of range is an
  // empty value that belongs to no tree: the shared EmptyValue() when const,
  // else DiscardedValue(). append() makes the value a collection first.
  void makeCollection();
  void reserve(size_t count);
  size_t size() const;  // elements of a collection, fields of a structure, else 0
  const BindingProperty& element(size_t index) const;
  BindingProperty& element(size_t index);
  BindingProperty& append();

  // Structures. field() is get-or-create (makes the value a structure first);
  // find() never creates and answers a shared empty value when absent.
  void makeStructure();
  BindingProperty& field(std::string_view name);
  const BindingProperty& find(std::string_view name) const;
  bool has(std::string_view name) const;

  // Fields in byte-wise name order.
  struct FieldEntry {
    std::string_view name;
    const BindingProperty& value;
  };
  class FieldIterator;
  struct FieldRange {
    const BindingProperty* owner;
    FieldIterator begin() const;
    FieldIterator end() const;
  };
  FieldRange fields() const { return FieldRange{this}; }

  // Frees the payload back to the arena (recursively) and makes the value empty.
  void clear();

  // Structural equality: same kinds and payloads, same elements in order, same
  // field names and values (float compared by value).
  bool operator==(const BindingProperty& other) const;

  // The shared empty value, returned by element() and find() on a miss.
  static const BindingProperty& EmptyValue();
  // An empty value of this thread, returned by the non-const element() on a
  // miss: writes into it change no tree and are dropped at its next hand-out.
  static BindingProperty& DiscardedValue();

  // The tree's arena; null until the tree's first allocation.
  const ValueArena* arena() const { return arena_; }

 private:
  friend class ValueArena;
  friend class BindingPropertyAccess;
  struct Impl;

  // String and blob: the bytes (null when empty). Collection: the element
  // array (null before the first element). Structure: the root node of the
  // field tree (null when there are no fields). Else the scalar's bits.
  uint64_t payload_ = 0;
  ValueArena* arena_ = nullptr;
  ValueKind kind_ = ValueKind::Empty;
  bool ownsArena_ = true;  // a root; elements and fields clear this
  // Bytes of a string or blob, elements of a collection, fields of a structure.
  uint32_t size_ = 0;
};

static_assert(sizeof(BindingProperty) == 24);

// Walks a structure's fields in byte-wise name order. Stays valid until the
// structure is cleared; a field added meanwhile may or may not be visited.
class BindingProperty::FieldIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = FieldEntry;
  using difference_type = std::ptrdiff_t;
  using reference = FieldEntry;
  using pointer = void;

  FieldIterator() = default;
  FieldEntry operator*() const;
  FieldIterator& operator++();
  FieldIterator operator++(int) {
    FieldIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const FieldIterator&) const = default;

 private:
  friend struct BindingProperty::FieldRange;
  explicit FieldIterator(const StructureNode* node) : node_(node) {}

  const StructureNode* node_ = nullptr;
};

inline BindingProperty::FieldIterator BindingProperty::FieldRange::end() const {
  return FieldIterator();
}

// What a conversion or decoder answers: a value and a success flag. A failure
// clears the value and makes it a structure with the one string field "error".
struct BindingResult {
  BindingProperty value;
  bool success = true;

  void setFailure(std::string_view message);
  // The "error" text of a failed result (the empty text otherwise).
  std::string_view error() const;
};

}  // namespace Zorv
