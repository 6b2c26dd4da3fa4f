#include "binding/type_kind.h"

namespace Zorv {

const char* TypeKindName(TypeKind kind) {
  static constexpr const char* kNames[] = {
      "",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
      "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
      "blob",   "vector", "enum",   "struct", "callback", "map",
  };
  const auto index = static_cast<uint32_t>(kind);
  return index < sizeof(kNames) / sizeof(kNames[0]) ? kNames[index] : "";
}

}  // namespace Zorv
