// Declarative registration of native structs and enums: one line per field or
// enumerator; offsets, type identifiers and field converters come from the
// member pointer's C++ type.
//
//   registry.Struct<ReplaysConfiguration>("ReplaysConfiguration")
//       .field("isReplaysEnabled", &ReplaysConfiguration::isReplaysEnabled)
//       .field("gameVersion", &ReplaysConfiguration::gameVersion, "Installed version")
//       .description("The effective replay configuration.")
//       .finish();
//   registry.Enum<MetadataState>("MetadataState")
//       .value("checking", MetadataState::checking)
//       .value("found", MetadataState::found)
//       .finish();
//
// A registration enters the type when finish() is called, or when it goes out
// of scope unfinished. Registered structs must be default-constructible (the
// readers create elements, and the registration measures field offsets on one
// default-constructed instance); fields may be any type conversion.h supports.
// Converters reach a field through its member pointer, so offsets serve only
// as a description.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>

#include "binding/conversion.h"
#include "binding/field_converter.h"
#include "binding/type_registry.h"

namespace Zorv {

// The converter of one field `member` of structure S.
template <typename S, typename F>
class MemberFieldConverter final : public FieldConverter {
 public:
  explicit MemberFieldConverter(F S::*member) : member_(member) {}

  bool write(BindingProperty& out, const void* object, const TypeRegistry& registry,
             std::string& error) const override {
    return ToProperty(out, static_cast<const S*>(object)->*member_, registry, error);
  }

  void read(BindingResult& result, const BindingProperty& input, void* object,
            std::string_view name, const TypeRegistry& registry) const override {
    FromProperty(result, input, static_cast<S*>(object)->*member_, name, registry);
  }

 private:
  F S::*member_;
};

// What struct and enum registrations share: the builder, the type's
// description, tags and name space, and entering the type once.
template <typename Derived>
class TypeRegistration {
 public:
  TypeRegistration(const TypeRegistration&) = delete;
  TypeRegistration& operator=(const TypeRegistration&) = delete;
  ~TypeRegistration() { finish(); }

  Derived& description(std::string_view text) {
    builder_.setDescription(text);
    return self();
  }
  Derived& tag(std::string_view text) {
    builder_.addTag(text);
    return self();
  }
  Derived& nameSpace(std::string_view text) {
    builder_.setNameSpace(text);
    return self();
  }

  void finish() {
    if (finished_) return;
    finished_ = true;
    registry_.finishType(std::move(builder_));
  }

 protected:
  TypeRegistration(TypeRegistry& registry, TypeBuilder builder)
      : registry_(registry), builder_(std::move(builder)) {}
  Derived& self() { return static_cast<Derived&>(*this); }

  TypeRegistry& registry_;
  TypeBuilder builder_;
  bool finished_ = false;
};

template <typename S>
class StructRegistration : public TypeRegistration<StructRegistration<S>> {
  static_assert(TypeKindOf<S>() == TypeKind::Struct,
                "a registered struct is a default-constructible class");

 public:
  StructRegistration(TypeRegistry& registry, std::string_view name)
      : TypeRegistration<StructRegistration<S>>(
            registry, registry.beginType(sizeof(S), name, StaticTypeOf<S>(), false)) {}

  // `member` may belong to a base class of S. `flags`: kFieldOmitEmpty,
  // kFieldRequired.
  template <typename F, typename C>
  StructRegistration& field(std::string_view name, F C::*member, std::string_view description = {},
                            uint32_t flags = 0) {
    static_assert(std::is_base_of_v<C, S>, "the member belongs to another structure");
    static_assert(TypeKindOf<F>() != TypeKind::None, "this field type cannot be converted");
    if (this->finished_ || this->builder_.alreadyRegistered()) return *this;
    F S::*own = member;
    this->builder_.addField(name, description, offsetOf(own), StaticTypeId<F>(),
                            TypeIdentifierOf<F>(), ElementTypeIdentifierOf<F>(), flags,
                            std::make_unique<MemberFieldConverter<S, F>>(own));
    return *this;
  }

 private:
  // The distance of the member from the start of a live instance: defined for
  // any class, unlike offsetof on a member pointer or a null object.
  template <typename F>
  uint32_t offsetOf(F S::*member) {
    if (!probe_) probe_ = std::make_unique<S>();
    const auto base = reinterpret_cast<uintptr_t>(std::addressof(*probe_));
    const auto address = reinterpret_cast<uintptr_t>(std::addressof((*probe_).*member));
    return static_cast<uint32_t>(address - base);
  }

  std::unique_ptr<S> probe_;
};

template <typename E>
class EnumRegistration : public TypeRegistration<EnumRegistration<E>> {
  static_assert(TypeKindOf<E>() == TypeKind::Enum, "a registered enum fits in 32 bits");

 public:
  EnumRegistration(TypeRegistry& registry, std::string_view name)
      : TypeRegistration<EnumRegistration<E>>(
            registry, registry.beginType(sizeof(E), name, StaticTypeOf<E>(), true)) {}

  EnumRegistration& value(std::string_view name, E enumerator, std::string_view description = {}) {
    if (!this->finished_)
      this->builder_.addEnumValue(name, static_cast<int32_t>(enumerator), description);
    return *this;
  }
};

template <typename T>
StructRegistration<T> TypeRegistry::Struct(std::string_view name) {
  return StructRegistration<T>(*this, name);
}

template <typename T>
EnumRegistration<T> TypeRegistry::Enum(std::string_view name) {
  return EnumRegistration<T>(*this, name);
}

}  // namespace Zorv
