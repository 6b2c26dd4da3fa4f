// Conversion between native values and BindingProperty trees, driven by the
// TypeRegistry.
//
//   BindingResult out = ToProperty(configuration, registry);   // native -> value
//   ReplaysConfiguration back;
//   BindingResult in = FromProperty(out.value, back, "configuration", registry);
//   if (!in.success) Log(..., in.error());
//
// Supported native types: bool, 8- to 64-bit integers, float, double,
// std::string, BindingProperty (an "object": deep-copied), std::vector<uint8_t>
// (a blob), registered enums and structs (looked up by StaticType id at
// conversion time), and std::vector / std::map / std::unordered_map with
// std::string keys of any of these.
//
// Structure conversion recurses once per level of native nesting, so the depth
// is fixed by the native types; a type that contains itself (through a vector
// or map) would let the input choose it, and is not to be registered.
//
// Conversions never throw and never fail hard on bad input: the first failure
// is recorded on the BindingResult (success false, one "error" field with the
// message) and every later step does nothing. A native value being read may be
// partly assigned when a failure stops the conversion.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "binding/binding_property.h"
#include "binding/conversion_messages.h"
#include "binding/static_type.h"
#include "binding/type_identifier.h"
#include "binding/type_registry.h"

namespace Zorv {

// Scalar readers. Each returns the native value (0, false or empty on failure)
// and records a failure on `result`; none does anything when `result` has
// failed already. `typeName` is the native type's name printed by messages.
bool ToBool(BindingResult& result, const BindingProperty& input, std::string_view name);
double ToDouble(BindingResult& result, const BindingProperty& input, std::string_view name,
                double minimum, double maximum, const char* typeName);
int64_t ToSigned(BindingResult& result, const BindingProperty& input, std::string_view name,
                 int64_t minimum, int64_t maximum, const char* typeName);
uint64_t ToUnsigned(BindingResult& result, const BindingProperty& input, std::string_view name,
                    uint64_t maximum, const char* typeName);
int32_t ToEnum(BindingResult& result, const BindingProperty& input, std::string_view name,
               const TypeDescriptor& enumType);
std::string ToString(BindingResult& result, const BindingProperty& input, std::string_view name,
                     const TypeRegistry& registry);
// A blob from a blob, or from a string holding Base64 (the text form of a blob).
std::vector<uint8_t> ToBlob(BindingResult& result, const BindingProperty& input,
                            std::string_view name);

// Structures by descriptor (null: unregistered). Writing fills `out` and
// answers false with `error` set on failure; the BindingResult form records the
// failure instead.
bool StructToProperty(BindingProperty& out, const void* object, const TypeDescriptor* type,
                      const TypeRegistry& registry, std::string& error);
void StructToProperty(BindingResult& result, const void* object, const TypeDescriptor* type,
                      const TypeRegistry& registry);
void StructFromProperty(BindingResult& result, const BindingProperty& input, void* object,
                        const TypeDescriptor* type, std::string_view name,
                        const TypeRegistry& registry);

namespace internal {

template <typename>
inline constexpr bool kUnsupported = false;

// ToEnum with a descriptor that may be missing (an unregistered enum accepts no
// value); messages name a registered enumeration by its registry name, an
// unregistered one by `enumName`.
int32_t ToEnum(BindingResult& result, const BindingProperty& input, std::string_view name,
               const TypeDescriptor* enumType, const char* enumName);

template <typename T>
bool WriteValue(BindingProperty& out, const T& native, const TypeRegistry& registry,
                std::string& error);
template <typename T>
void ReadValue(BindingResult& result, const BindingProperty& input, T& native,
               std::string_view name, const TypeRegistry& registry);

}  // namespace internal

// Native -> value into `out`; false with `error` set on failure.
template <typename T>
bool ToProperty(BindingProperty& out, const T& native, const TypeRegistry& registry,
                std::string& error) {
  return internal::WriteValue(out, native, registry, error);
}

template <typename T>
BindingResult ToProperty(const T& native, const TypeRegistry& registry) {
  BindingResult result;
  std::string error;
  if (!internal::WriteValue(result.value, native, registry, error)) result.setFailure(error);
  return result;
}

// Value -> native, recording the failure on `result`.
template <typename T>
void FromProperty(BindingResult& result, const BindingProperty& input, T& native,
                  std::string_view name, const TypeRegistry& registry) {
  internal::ReadValue(result, input, native, name, registry);
}

template <typename T>
BindingResult FromProperty(const BindingProperty& input, T& native, std::string_view name,
                           const TypeRegistry& registry) {
  BindingResult result;
  internal::ReadValue(result, input, native, name, registry);
  return result;
}

namespace internal {

template <typename T>
bool WriteValue(BindingProperty& out, const T& native, const TypeRegistry& registry,
                std::string& error) {
  constexpr TypeKind kind = TypeKindOf<T>();
  if constexpr (kind == TypeKind::Bool) {
    out = native;
  } else if constexpr (kind == TypeKind::Int8 || kind == TypeKind::Int16 ||
                       kind == TypeKind::Int32 || kind == TypeKind::Int64) {
    out = static_cast<int64_t>(native);
  } else if constexpr (kind == TypeKind::UInt8 || kind == TypeKind::UInt16 ||
                       kind == TypeKind::UInt32 || kind == TypeKind::UInt64) {
    out = static_cast<uint64_t>(native);
  } else if constexpr (kind == TypeKind::Float || kind == TypeKind::Double) {
    out = static_cast<double>(native);
  } else if constexpr (kind == TypeKind::String) {
    out = std::string_view(native);
  } else if constexpr (kind == TypeKind::Object) {
    out = native;
  } else if constexpr (kind == TypeKind::Blob) {
    out.setBlob(native);
  } else if constexpr (kind == TypeKind::Enum) {
    out = EnumValue{static_cast<int32_t>(native), StaticTypeId<T>()};
  } else if constexpr (kind == TypeKind::Vector) {
    using Element = typename T::value_type;
    out.clear();
    out.makeCollection();
    out.reserve(native.size());
    for (const auto& element : native) {
      if (!WriteValue<Element>(out.append(), element, registry, error)) return false;
    }
  } else if constexpr (kind == TypeKind::Map) {
    out.clear();
    out.makeStructure();
    for (const auto& [key, element] : native) {
      if (!WriteValue(out.field(key), element, registry, error)) return false;
    }
  } else if constexpr (kind == TypeKind::Struct) {
    return StructToProperty(out, &native, registry.findById(StaticTypeId<T>()), registry, error);
  } else {
    static_assert(kUnsupported<T>, "this native type cannot be converted");
  }
  return true;
}

template <typename T>
void ReadValue(BindingResult& result, const BindingProperty& input, T& native,
               std::string_view name, const TypeRegistry& registry) {
  if (!result.success) return;
  constexpr TypeKind kind = TypeKindOf<T>();
  if constexpr (kind == TypeKind::Bool) {
    const bool value = ToBool(result, input, name);
    if (result.success) native = value;
  } else if constexpr (kind == TypeKind::Int8 || kind == TypeKind::Int16 ||
                       kind == TypeKind::Int32 || kind == TypeKind::Int64) {
    const int64_t value = ToSigned(result, input, name, std::numeric_limits<T>::min(),
                                   std::numeric_limits<T>::max(), TypeKindName(kind));
    if (result.success) native = static_cast<T>(value);
  } else if constexpr (kind == TypeKind::UInt8 || kind == TypeKind::UInt16 ||
                       kind == TypeKind::UInt32 || kind == TypeKind::UInt64) {
    const uint64_t value =
        ToUnsigned(result, input, name, std::numeric_limits<T>::max(), TypeKindName(kind));
    if (result.success) native = static_cast<T>(value);
  } else if constexpr (kind == TypeKind::Float || kind == TypeKind::Double) {
    const double value = ToDouble(result, input, name, std::numeric_limits<T>::lowest(),
                                  std::numeric_limits<T>::max(), TypeKindName(kind));
    if (result.success) native = static_cast<T>(value);
  } else if constexpr (kind == TypeKind::String) {
    std::string value = ToString(result, input, name, registry);
    if (result.success) native = std::move(value);
  } else if constexpr (kind == TypeKind::Object) {
    native = input;
  } else if constexpr (kind == TypeKind::Blob) {
    std::vector<uint8_t> value = ToBlob(result, input, name);
    if (result.success) native = std::move(value);
  } else if constexpr (kind == TypeKind::Enum) {
    const int32_t value = internal::ToEnum(
        result, input, name, registry.findById(StaticTypeId<T>()), StaticTypeName<T>());
    if (result.success) native = static_cast<T>(value);
  } else if constexpr (kind == TypeKind::Vector) {
    using Element = typename T::value_type;
    if (input.kind() != ValueKind::Collection) {
      result.setFailure(ConversionMessage::VectorNotCollection(name));
      return;
    }
    const size_t count = input.size();
    native.clear();
    native.resize(count);
    for (size_t i = 0; i < count && result.success; ++i) {
      const BindingProperty& element = input.element(i);
      if (element.isEmpty()) continue;
      if constexpr (std::is_same_v<Element, bool>) {  // std::vector<bool> has no element references
        bool value = false;
        ReadValue(result, element, value, name, registry);
        if (result.success) native[i] = value;
      } else {
        ReadValue(result, element, native[i], name, registry);
      }
    }
  } else if constexpr (kind == TypeKind::Map) {
    if (input.kind() != ValueKind::Structure) {
      result.setFailure(ConversionMessage::MapNotStructure(name));
      return;
    }
    native.clear();
    for (const auto& [key, element] : input.fields()) {
      ReadValue(result, element, native[std::string(key)], key, registry);
      if (!result.success) return;
    }
  } else if constexpr (kind == TypeKind::Struct) {
    StructFromProperty(result, input, &native, registry.findById(StaticTypeId<T>()), name,
                       registry);
  } else {
    static_assert(kUnsupported<T>, "this native type cannot be converted");
  }
}

}  // namespace internal
}  // namespace Zorv
