#include "binding/binding_property.h"

#include <bit>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "binding/base64.h"
#include "binding/binding_property_access.h"
#include "binding/structure_tree.h"
#include "binding/value_arena.h"
#include "binding/work_stack.h"
#include "logging/allocator.h"

namespace Zorv {

namespace {

// An element array is its capacity, padded to 8 bytes, then the elements.
constexpr size_t kArrayHeader = BindingPropertyAccess::kArrayHeader;
constexpr uint32_t kFirstCapacity = 2;

static_assert(sizeof(StructureNode) == 64);

constexpr size_t ArrayBytes(uint32_t capacity) {
  return kArrayHeader + size_t{capacity} * sizeof(BindingProperty);
}

constexpr bool IsContainer(ValueKind kind) {
  return kind == ValueKind::Collection || kind == ValueKind::Structure;
}

// Kinds whose payload may point into the arena.
constexpr bool HasStorage(ValueKind kind) {
  return kind == ValueKind::String || kind == ValueKind::Blob || IsContainer(kind);
}

uint32_t CheckedSize(size_t size) {
  if (size > UINT32_MAX) throw std::length_error("value larger than 4 GiB");
  return static_cast<uint32_t>(size);
}

}  // namespace

struct BindingProperty::Impl {
  // A value's payload detached from the value.
  struct Bits {
    uint64_t payload;
    uint32_t size;
    ValueKind kind;
  };

  static Bits Take(BindingProperty& value) {
    const Bits bits{value.payload_, value.size_, value.kind_};
    value.payload_ = 0;
    value.size_ = 0;
    value.kind_ = ValueKind::Empty;
    return bits;
  }

  static void Install(BindingProperty& value, Bits bits) {
    value.payload_ = bits.payload;
    value.size_ = bits.size;
    value.kind_ = bits.kind;
  }

  // A payload that owns blocks of the arena.
  static bool OwnsBlocks(Bits bits) { return HasStorage(bits.kind) && bits.payload != 0; }

  // The arena of `value`'s tree, created by the root when it has none yet.
  static ValueArena& ArenaOf(BindingProperty& value) {
    if (!value.arena_) {
      assert(value.ownsArena_);
      value.arena_ = ValueArena::Create();
    }
    return *value.arena_;
  }

  static void InitChild(BindingProperty* slot, ValueArena* arena) {
    new (slot) BindingProperty();
    slot->arena_ = arena;
    slot->ownsArena_ = false;
  }

  static BindingProperty* Elements(uint64_t payload) {
    return reinterpret_cast<BindingProperty*>(reinterpret_cast<char*>(payload) + kArrayHeader);
  }
  static uint32_t Capacity(uint64_t payload) {
    if (payload == 0) return 0;
    uint32_t capacity;
    std::memcpy(&capacity, reinterpret_cast<void*>(payload), sizeof capacity);
    return capacity;
  }
  static StructureNode* Root(uint64_t payload) { return reinterpret_cast<StructureNode*>(payload); }
  static uint64_t Address(const void* block) { return reinterpret_cast<uintptr_t>(block); }

  // Elements move byte by byte: no value points at itself or at its slot.
  static void Grow(BindingProperty& value, uint32_t capacity) {
    ValueArena& arena = ArenaOf(value);
    const uint32_t old = Capacity(value.payload_);
    void* block = value.payload_ == 0 ? arena.allocate(ArrayBytes(capacity))
                                      : arena.reallocate(reinterpret_cast<void*>(value.payload_),
                                                         ArrayBytes(old), ArrayBytes(capacity));
    std::memcpy(block, &capacity, sizeof capacity);
    value.payload_ = Address(block);
  }

  static StructureNode* NewNode(ValueArena& arena, std::string_view key) {
    return BindingPropertyAccess::NewNode(arena, key);
  }

  static void FreeNode(ValueArena& arena, StructureNode* node) {
    if (!node->keyIsInline()) arena.deallocate(const_cast<char*>(node->text), node->keyLength);
    arena.deallocate(node, sizeof(StructureNode));
  }

  // Replaces `value`'s payload with `fresh`, then frees the old one. Built
  // first, freed last: `fresh` may have been made from parts of the old one.
  static void Replace(BindingProperty& value, Bits fresh) {
    const Bits old = Take(value);
    Install(value, fresh);
    if (OwnsBlocks(old)) Release(old, *value.arena_);
  }

  static void SetBytes(BindingProperty& value, ValueKind kind, const void* data, size_t size) {
    const uint32_t length = CheckedSize(size);
    uint64_t payload = 0;
    if (length > 0) {
      void* block = ArenaOf(value).allocate(length);
      std::memcpy(block, data, length);
      payload = Address(block);
    }
    Replace(value, Bits{payload, length, kind});
  }

  static void SetScalar(BindingProperty& value, ValueKind kind, uint64_t bits) {
    if (HasStorage(value.kind_)) value.clear();
    value.payload_ = bits;
    value.size_ = 0;
    value.kind_ = kind;
  }

  // Frees a detached payload, without recursion.
  static void Release(Bits top, ValueArena& arena) {
    WorkStack<Bits> pending;
    // Strings and blobs go at once; nested containers wait on the stack.
    auto drop = [&](const BindingProperty& child) {
      const Bits bits{child.payload_, child.size_, child.kind_};
      if (!OwnsBlocks(bits)) return;
      if (IsContainer(bits.kind)) {
        pending.push(bits);
      } else {
        arena.deallocate(reinterpret_cast<void*>(bits.payload), bits.size);
      }
    };
    pending.push(top);
    while (!pending.empty()) {
      const Bits bits = pending.pop();
      if (bits.kind == ValueKind::Collection) {
        BindingProperty* elements = Elements(bits.payload);
        for (uint32_t i = 0; i < bits.size; ++i) drop(elements[i]);
        arena.deallocate(reinterpret_cast<void*>(bits.payload), ArrayBytes(Capacity(bits.payload)));
      } else if (bits.kind == ValueKind::Structure) {
        StructureNode* node = const_cast<StructureNode*>(StructureTree::First(Root(bits.payload)));
        while (node) {
          StructureNode* next = node->next;
          drop(node->value);
          FreeNode(arena, node);
          node = next;
        }
      } else {
        arena.deallocate(reinterpret_cast<void*>(bits.payload), bits.size);
      }
    }
  }

  // Sets an empty `to` to a copy of `from`, not a container. `to.arena_` is
  // the arena of the copy.
  static void CopyLeaf(BindingProperty& to, const BindingProperty& from) {
    to.kind_ = from.kind_;
    to.size_ = from.size_;
    to.payload_ = from.payload_;
    if ((from.kind_ == ValueKind::String || from.kind_ == ValueKind::Blob) && from.size_ > 0) {
      void* block = to.arena_->allocate(from.size_);
      std::memcpy(block, reinterpret_cast<const void*>(from.payload_), from.size_);
      to.payload_ = Address(block);
    }
  }

  // Whether copying `from` takes blocks from the arena.
  static bool CopyAllocates(const BindingProperty& from) {
    return HasStorage(from.kind_) && from.size_ > 0;
  }

  // Sets an empty `to` (of an arena, when CopyAllocates(from)) to a deep copy
  // of `from`, without recursion. Element arrays are made at their final
  // size and nodes never move, so the pending targets stay put.
  static void CopyInto(BindingProperty& to, const BindingProperty& from) {
    struct Task {
      const BindingProperty* from;
      BindingProperty* to;
    };
    WorkStack<Task> pending;
    pending.push(Task{&from, &to});
    while (!pending.empty()) {
      const Task task = pending.pop();
      const BindingProperty& source = *task.from;
      BindingProperty& target = *task.to;
      if (!IsContainer(source.kind_) || source.size_ == 0) {
        CopyLeaf(target, source);
        if (IsContainer(source.kind_)) target.payload_ = 0;
        continue;
      }
      ValueArena& arena = *target.arena_;
      target.kind_ = source.kind_;
      target.size_ = source.size_;
      if (source.kind_ == ValueKind::Collection) {
        const uint32_t count = source.size_;
        void* block = arena.allocate(ArrayBytes(count));
        std::memcpy(block, &count, sizeof count);
        target.payload_ = Address(block);
        const BindingProperty* sourceElements = Elements(source.payload_);
        BindingProperty* targetElements = Elements(target.payload_);
        for (uint32_t i = 0; i < count; ++i) {
          InitChild(&targetElements[i], &arena);
          if (IsContainer(sourceElements[i].kind_)) {
            pending.push(Task{&sourceElements[i], &targetElements[i]});
          } else {
            CopyLeaf(targetElements[i], sourceElements[i]);
          }
        }
        continue;
      }
      // The source's nodes come in key order, so the copy's list is built by
      // appending and its tree shaped once at the end.
      StructureNode* head = nullptr;
      StructureNode* tail = nullptr;
      for (const StructureNode* node = StructureTree::First(Root(source.payload_)); node;
           node = node->next) {
        StructureNode* copy = NewNode(arena, node->name());
        copy->next = nullptr;
        (tail ? tail->next : head) = copy;
        tail = copy;
        if (IsContainer(node->value.kind_)) {
          pending.push(Task{&node->value, &copy->value});
        } else {
          CopyLeaf(copy->value, node->value);
        }
      }
      target.payload_ = Address(StructureTree::BuildBalanced(head, source.size_));
    }
  }

  // A deep copy of `from` in `arena`, not yet attached to any value.
  static Bits Copy(const BindingProperty& from, ValueArena* arena) {
    // Built in a detached value that owns nothing, so a failure half-way
    // leaves the target untouched.
    BindingProperty shell;
    shell.arena_ = arena;
    shell.ownsArena_ = false;
    CopyInto(shell, from);
    return Take(shell);
  }

  static bool LeafEqual(const BindingProperty& a, const BindingProperty& b) {
    switch (a.kind_) {
      case ValueKind::Empty:
        return true;
      case ValueKind::Float:
        return a.asDouble() == b.asDouble();
      case ValueKind::String:
      case ValueKind::Blob:
        return a.size_ == b.size_ &&
               (a.size_ == 0 ||
                std::memcmp(reinterpret_cast<const void*>(a.payload_),
                            reinterpret_cast<const void*>(b.payload_), a.size_) == 0);
      default:
        return a.payload_ == b.payload_;
    }
  }

  static bool Equal(const BindingProperty& left, const BindingProperty& right) {
    struct Pair {
      const BindingProperty* a;
      const BindingProperty* b;
    };
    WorkStack<Pair> pending;
    // Leaves compare at once; nested containers wait on the stack.
    auto same = [&](const BindingProperty& a, const BindingProperty& b) {
      if (a.kind_ != b.kind_) return false;
      if (!IsContainer(a.kind_)) return LeafEqual(a, b);
      if (a.size_ != b.size_) return false;
      if (a.size_ > 0) pending.push(Pair{&a, &b});
      return true;
    };
    if (!same(left, right)) return false;
    while (!pending.empty()) {
      const Pair pair = pending.pop();
      if (pair.a->kind_ == ValueKind::Collection) {
        const BindingProperty* a = Elements(pair.a->payload_);
        const BindingProperty* b = Elements(pair.b->payload_);
        for (uint32_t i = 0; i < pair.a->size_; ++i) {
          if (!same(a[i], b[i])) return false;
        }
        continue;
      }
      const StructureNode* a = StructureTree::First(Root(pair.a->payload_));
      const StructureNode* b = StructureTree::First(Root(pair.b->payload_));
      for (; a && b; a = a->next, b = b->next) {
        if (a->name() != b->name() || !same(a->value, b->value)) return false;
      }
    }
    return true;
  }

  // Whether `target` is a value somewhere below `tree`.
  static bool Contains(const BindingProperty& tree, const BindingProperty* target) {
    WorkStack<const BindingProperty*> pending;
    auto visit = [&](const BindingProperty& child) {
      if (&child == target) return true;
      if (IsContainer(child.kind_) && child.size_ > 0) pending.push(&child);
      return false;
    };
    if (IsContainer(tree.kind_) && tree.size_ > 0) pending.push(&tree);
    while (!pending.empty()) {
      const BindingProperty* value = pending.pop();
      if (value->kind_ == ValueKind::Collection) {
        const BindingProperty* elements = Elements(value->payload_);
        for (uint32_t i = 0; i < value->size_; ++i) {
          if (visit(elements[i])) return true;
        }
        continue;
      }
      for (const StructureNode* node = StructureTree::First(Root(value->payload_)); node;
           node = node->next) {
        if (visit(node->value)) return true;
      }
    }
    return false;
  }

  // Moves `from`'s whole tree, arena included, into the empty root `to`.
  static void Adopt(BindingProperty& to, BindingProperty& from) {
    to.arena_ = from.arena_;
    Install(to, Take(from));
    from.arena_ = nullptr;
  }
};

ValueArena& BindingPropertyAccess::CreateArena(BindingProperty& root) {
  return BindingProperty::Impl::ArenaOf(root);
}

void BindingPropertyAccess::TooLarge() {
  throw std::length_error("value larger than 4 GiB");
}

void BindingPropertyAccess::DropField(BindingProperty& structure, StructureNode* node) {
  node->value.clear();
  BindingProperty::Impl::FreeNode(*structure.arena_, node);
}

void BindingPropertyAccess::SetFields(BindingProperty& structure, StructureNode* root,
                                      uint32_t count) {
  assert(structure.kind_ == ValueKind::Structure && structure.size_ == 0);
  structure.payload_ = BindingProperty::Impl::Address(root);
  structure.size_ = count;
}

const StructureNode* BindingPropertyAccess::Fields(const BindingProperty& structure) {
  if (structure.kind_ != ValueKind::Structure) return nullptr;
  return BindingProperty::Impl::Root(structure.payload_);
}

std::string_view ValueKindName(ValueKind kind) {
  static constexpr std::string_view kNames[] = {"empty",      "bool",     "signed", "unsigned",
                                                "float",      "string",   "blob",   "enum",
                                                "collection", "structure"};
  const auto index = static_cast<size_t>(kind);
  return index < std::size(kNames) ? kNames[index] : std::string_view();
}

BindingProperty::~BindingProperty() {
  if (ownsArena_ && arena_) ValueArena::Destroy(arena_);
}

BindingProperty::BindingProperty(const BindingProperty& other) {
  if (!Impl::CopyAllocates(other)) {
    Impl::CopyLeaf(*this, other);
    if (IsContainer(kind_)) payload_ = 0;
    return;
  }
  arena_ = ValueArena::Create();
  try {
    Impl::Install(*this, Impl::Copy(other, arena_));
  } catch (...) {
    ValueArena::Destroy(arena_);
    throw;
  }
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  if (this == &other) return *this;
  if (arena_ && other.arena_ == arena_) {
    // `other` is in this tree, maybe inside this value or around it.
    Impl::Replace(*this, Impl::Copy(other, arena_));
    return *this;
  }
  clear();
  ValueArena* arena = Impl::CopyAllocates(other) ? &Impl::ArenaOf(*this) : arena_;
  Impl::Install(*this, Impl::Copy(other, arena));
  return *this;
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept {
  if (other.ownsArena_) {
    Impl::Adopt(*this, other);
    return;
  }
  *this = other;
  other.clear();
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
  if (this == &other) return *this;
  if (ownsArena_ && other.ownsArena_) {
    if (arena_) ValueArena::Destroy(arena_);
    arena_ = nullptr;
    Impl::Adopt(*this, other);
    return *this;
  }
  if (arena_ && other.arena_ == arena_) {
    // Within one tree the payload changes hands, unless this value lies
    // inside `other`: clearing the source then takes this value with it.
    if (!ownsArena_ && Impl::Contains(other, this)) {
      other.clear();
      return *this;
    }
    Impl::Replace(*this, Impl::Take(other));
    return *this;
  }
  *this = other;
  other.clear();
  return *this;
}

BindingProperty& BindingProperty::operator=(bool v) {
  Impl::SetScalar(*this, ValueKind::Bool, v ? 1 : 0);
  return *this;
}

BindingProperty& BindingProperty::operator=(int64_t v) {
  Impl::SetScalar(*this, ValueKind::Signed, static_cast<uint64_t>(v));
  return *this;
}

BindingProperty& BindingProperty::operator=(uint64_t v) {
  Impl::SetScalar(*this, ValueKind::Unsigned, v);
  return *this;
}

BindingProperty& BindingProperty::operator=(double v) {
  Impl::SetScalar(*this, ValueKind::Float, std::bit_cast<uint64_t>(v));
  return *this;
}

BindingProperty& BindingProperty::operator=(EnumValue v) {
  Impl::SetScalar(*this, ValueKind::Enum,
                  uint64_t{static_cast<uint32_t>(v.value)} | uint64_t{v.typeId} << 32);
  return *this;
}

BindingProperty& BindingProperty::operator=(std::string_view v) {
  Impl::SetBytes(*this, ValueKind::String, v.data(), v.size());
  return *this;
}

BindingProperty& BindingProperty::operator=(std::vector<uint8_t>&& v) {
  Impl::SetBytes(*this, ValueKind::Blob, v.data(), v.size());
  std::vector<uint8_t>().swap(v);
  return *this;
}

BindingProperty& BindingProperty::setBlob(std::span<const uint8_t> bytes) {
  Impl::SetBytes(*this, ValueKind::Blob, bytes.data(), bytes.size());
  return *this;
}

std::string BindingProperty::displayText() const {
  switch (kind_) {
    case ValueKind::Bool:
      return asBool() ? "true" : "false";
    case ValueKind::Signed:
      return std::to_string(asSigned());
    case ValueKind::Unsigned:
      return std::to_string(asUnsigned());
    case ValueKind::Float: {
      // "%f" of the largest double is 316 characters.
      char text[330];
      const int length = std::snprintf(text, sizeof text, "%f", asDouble());
      return std::string(text, static_cast<size_t>(length));
    }
    case ValueKind::String:
      return std::string(asString());
    case ValueKind::Blob:
      return Base64Encode(asBlob());
    case ValueKind::Enum:
      return std::to_string(asEnum().value);
    default:
      return std::string();
  }
}

bool BindingProperty::asBool() const {
  return kind_ == ValueKind::Bool && payload_ != 0;
}

int64_t BindingProperty::asSigned() const {
  return kind_ == ValueKind::Signed ? static_cast<int64_t>(payload_) : 0;
}

uint64_t BindingProperty::asUnsigned() const {
  return kind_ == ValueKind::Unsigned ? payload_ : 0;
}

double BindingProperty::asDouble() const {
  return kind_ == ValueKind::Float ? std::bit_cast<double>(payload_) : 0.0;
}

std::string_view BindingProperty::asString() const {
  if (kind_ != ValueKind::String || size_ == 0) return std::string_view();
  return std::string_view(reinterpret_cast<const char*>(payload_), size_);
}

std::span<const uint8_t> BindingProperty::asBlob() const {
  if (kind_ != ValueKind::Blob || size_ == 0) return {};
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(payload_), size_);
}

EnumValue BindingProperty::asEnum() const {
  if (kind_ != ValueKind::Enum) return EnumValue{};
  return EnumValue{static_cast<int32_t>(static_cast<uint32_t>(payload_)),
                   static_cast<uint32_t>(payload_ >> 32)};
}

void BindingProperty::makeCollection() {
  if (kind_ == ValueKind::Collection) return;
  clear();
  kind_ = ValueKind::Collection;
}

void BindingProperty::reserve(size_t count) {
  makeCollection();
  if (count > Impl::Capacity(payload_)) Impl::Grow(*this, CheckedSize(count));
}

size_t BindingProperty::size() const {
  return IsContainer(kind_) ? size_ : 0;
}

const BindingProperty& BindingProperty::element(size_t index) const {
  if (kind_ != ValueKind::Collection || index >= size_) return EmptyValue();
  return Impl::Elements(payload_)[index];
}

BindingProperty& BindingProperty::element(size_t index) {
  if (kind_ != ValueKind::Collection || index >= size_) return DiscardedValue();
  return Impl::Elements(payload_)[index];
}

BindingProperty& BindingProperty::append() {
  makeCollection();
  const uint32_t capacity = Impl::Capacity(payload_);
  if (size_ == capacity) {
    if (capacity == UINT32_MAX) throw std::length_error("collection of 2^32 elements");
    Impl::Grow(*this, capacity == 0               ? kFirstCapacity
                      : capacity > UINT32_MAX / 2 ? UINT32_MAX
                                                  : capacity * 2);
  }
  BindingProperty* element = Impl::Elements(payload_) + size_;
  Impl::InitChild(element, arena_);
  ++size_;
  return *element;
}

void BindingProperty::makeStructure() {
  if (kind_ == ValueKind::Structure) return;
  clear();
  kind_ = ValueKind::Structure;
}

BindingProperty& BindingProperty::field(std::string_view name) {
  if (kind_ != ValueKind::Structure) {
    // The name may be this value's own text, which makeStructure() frees.
    if (Impl::OwnsBlocks(Impl::Bits{payload_, size_, kind_})) {
      const std::string copy(name);
      makeStructure();
      return field(copy);
    }
    makeStructure();
  }
  StructureNode* root = Impl::Root(payload_);
  StructureTree::Path path;
  if (StructureNode* found = StructureTree::Search(root, name, path)) return found->value;
  if (size_ == UINT32_MAX) throw std::length_error("structure of 2^32 fields");
  StructureNode* node = Impl::NewNode(Impl::ArenaOf(*this), name);
  StructureTree::Link(root, path, node);
  payload_ = Impl::Address(root);
  ++size_;
  return node->value;
}

const BindingProperty& BindingProperty::find(std::string_view name) const {
  if (kind_ != ValueKind::Structure) return EmptyValue();
  const StructureNode* node = StructureTree::Find(Impl::Root(payload_), name);
  return node ? node->value : EmptyValue();
}

bool BindingProperty::has(std::string_view name) const {
  return kind_ == ValueKind::Structure && StructureTree::Find(Impl::Root(payload_), name);
}

BindingProperty::FieldIterator BindingProperty::FieldRange::begin() const {
  if (owner->kind_ != ValueKind::Structure) return FieldIterator();
  return FieldIterator(StructureTree::First(Impl::Root(owner->payload_)));
}

BindingProperty::FieldEntry BindingProperty::FieldIterator::operator*() const {
  return FieldEntry{node_->name(), node_->value};
}

BindingProperty::FieldIterator& BindingProperty::FieldIterator::operator++() {
  node_ = node_->next;
  return *this;
}

void BindingProperty::clear() {
  const Impl::Bits old = Impl::Take(*this);
  if (!Impl::OwnsBlocks(old)) return;
  if (ownsArena_) {
    arena_->reset();  // every block of the arena is this tree's
  } else {
    Impl::Release(old, *arena_);
  }
}

bool BindingProperty::operator==(const BindingProperty& other) const {
  return Impl::Equal(*this, other);
}

const BindingProperty& BindingProperty::EmptyValue() {
  static const BindingProperty empty;
  return empty;
}

BindingProperty& BindingProperty::DiscardedValue() {
  // Per thread, since trees are not shared between threads; emptied on every
  // hand-out, so what an earlier caller wrote into it never shows.
  thread_local BindingProperty discarded;
  discarded.clear();
  return discarded;
}

void BindingResult::setFailure(std::string_view message) {
  const std::string text(message);  // it may be a text of this very value
  value.clear();
  success = false;
  value.field("error") = std::string_view(text);
}

std::string_view BindingResult::error() const {
  return success ? std::string_view() : value.find("error").asString();
}

}  // namespace Zorv
