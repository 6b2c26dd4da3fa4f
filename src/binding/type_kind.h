// TypeKind: the kind of a native type as the registry and the converters see
// it. Its name is the native type name that conversion messages print.
#pragma once

#include <cstdint>

namespace Zorv {

enum class TypeKind : int32_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,  // any BindingProperty
  Blob = 14,    // std::vector<uint8_t>
  Vector = 15,
  Enum = 16,
  Struct = 17,
  Callback = 18,
  Map = 19,  // string keys
};

// "bool", "int8", ..., "map"; the empty text for any other value. Zero-terminated.
const char* TypeKindName(TypeKind kind);

}  // namespace Zorv
