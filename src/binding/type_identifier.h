// TypeIdentifier: how the registry describes the type of a field, and
// TypeIdentifierOf<T>(), which derives it from the C++ type.
//
//   TypeIdentifierOf<std::vector<Api::ReplayMetadata>>()
//     == {TypeKind::Vector, TypeKind::Struct, StaticTypeId<Api::ReplayMetadata>()}
//
// Enums and structs are named by their StaticType id; the descriptor is looked
// up in the registry when a value is converted, so types may be registered in
// any order. Containers are vectors and maps with std::string keys; a
// std::vector<uint8_t> is a blob, not a vector.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/static_type.h"
#include "binding/type_kind.h"

namespace Zorv {

class BindingProperty;

struct TypeIdentifier {
  TypeKind kind = TypeKind::None;
  // Vector and map: the kind of the elements or mapped values; otherwise None.
  TypeKind elementKind = TypeKind::None;
  // Enum and struct, and vector or map of them: the StaticType id of that
  // named type; otherwise 0.
  uint32_t namedTypeId = 0;

  bool operator==(const TypeIdentifier&) const = default;
};

namespace internal {

template <typename T>
struct ContainerTraits {
  static constexpr bool kVector = false;
  static constexpr bool kMap = false;
  using Element = void;
};

template <typename E, typename A>
struct ContainerTraits<std::vector<E, A>> {
  static constexpr bool kVector = true;
  static constexpr bool kMap = false;
  using Element = E;
};

template <typename V, typename C, typename A>
struct ContainerTraits<std::map<std::string, V, C, A>> {
  static constexpr bool kVector = false;
  static constexpr bool kMap = true;
  using Element = V;
};

template <typename V, typename H, typename E, typename A>
struct ContainerTraits<std::unordered_map<std::string, V, H, E, A>> {
  static constexpr bool kVector = false;
  static constexpr bool kMap = true;
  using Element = V;
};

template <typename T>
constexpr TypeKind IntegerKind() {
  constexpr bool s = std::is_signed_v<T>;
  if constexpr (sizeof(T) == 1) return s ? TypeKind::Int8 : TypeKind::UInt8;
  if constexpr (sizeof(T) == 2) return s ? TypeKind::Int16 : TypeKind::UInt16;
  if constexpr (sizeof(T) == 4) return s ? TypeKind::Int32 : TypeKind::UInt32;
  if constexpr (sizeof(T) == 8) return s ? TypeKind::Int64 : TypeKind::UInt64;
  return TypeKind::None;
}

}  // namespace internal

// The kind of a native type; None for a type that cannot be converted.
template <typename T>
constexpr TypeKind TypeKindOf() {
  using U = std::remove_cv_t<T>;
  using Traits = internal::ContainerTraits<U>;
  if constexpr (std::is_same_v<U, bool>) {
    return TypeKind::Bool;
  } else if constexpr (std::is_integral_v<U>) {
    return internal::IntegerKind<U>();
  } else if constexpr (std::is_same_v<U, float>) {
    return TypeKind::Float;
  } else if constexpr (std::is_same_v<U, double>) {
    return TypeKind::Double;
  } else if constexpr (std::is_same_v<U, std::string>) {
    return TypeKind::String;
  } else if constexpr (std::is_same_v<U, BindingProperty>) {
    return TypeKind::Object;
  } else if constexpr (std::is_same_v<U, std::vector<uint8_t>>) {
    return TypeKind::Blob;
  } else if constexpr (Traits::kVector) {
    return TypeKindOf<typename Traits::Element>() == TypeKind::None ? TypeKind::None
                                                                    : TypeKind::Vector;
  } else if constexpr (Traits::kMap) {
    return TypeKindOf<typename Traits::Element>() == TypeKind::None ? TypeKind::None
                                                                    : TypeKind::Map;
  } else if constexpr (std::is_enum_v<U>) {
    return sizeof(U) <= sizeof(int32_t) ? TypeKind::Enum : TypeKind::None;
  } else if constexpr (std::is_class_v<U> && std::is_default_constructible_v<U>) {
    return TypeKind::Struct;
  } else {
    return TypeKind::None;
  }
}

template <typename T>
constexpr TypeIdentifier TypeIdentifierOf() {
  constexpr TypeKind kind = TypeKindOf<T>();
  if constexpr (kind == TypeKind::Vector || kind == TypeKind::Map) {
    using Element = typename internal::ContainerTraits<std::remove_cv_t<T>>::Element;
    constexpr TypeKind element = TypeKindOf<Element>();
    const bool named = element == TypeKind::Enum || element == TypeKind::Struct;
    return {kind, element, named ? StaticTypeId<Element>() : 0};
  } else if constexpr (kind == TypeKind::Enum || kind == TypeKind::Struct) {
    return {kind, TypeKind::None, StaticTypeId<T>()};
  } else {
    return {kind, TypeKind::None, 0};
  }
}

// The identifier of a container's elements; the empty identifier otherwise.
template <typename T>
constexpr TypeIdentifier ElementTypeIdentifierOf() {
  constexpr TypeKind kind = TypeKindOf<T>();
  if constexpr (kind == TypeKind::Vector || kind == TypeKind::Map) {
    return TypeIdentifierOf<typename internal::ContainerTraits<std::remove_cv_t<T>>::Element>();
  } else {
    return {};
  }
}

}  // namespace Zorv
