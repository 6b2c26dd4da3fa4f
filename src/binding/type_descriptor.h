// TypeDescriptor: what the registry knows of one registered struct or enum:
// its size, names, tags, fields (structs) and enumerators (enums).
//
// Descriptors are built through a TypeBuilder (type_registry.h) and never
// change once the registry has entered them, so a pointer to one stays valid
// and may be read from any thread for as long as the registry lives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/field_converter.h"
#include "binding/static_type.h"
#include "binding/type_identifier.h"

namespace Zorv {

// FieldDescriptor flags.
inline constexpr uint32_t kFieldOmitEmpty = 1;  // writing: leave out an empty or zero value
inline constexpr uint32_t kFieldRequired = 2;   // reading: fail when missing or empty

struct EnumValueDescriptor {
  std::string name;
  int32_t value = 0;
  std::string description;
};

struct FieldDescriptor {
  std::string name;
  std::string description;
  uint32_t offset = 0;  // bytes from the start of the native structure
  uint32_t typeId = 0;  // StaticType id of the field's native type
  TypeIdentifier type;
  TypeIdentifier elementType;  // the element of a vector or map; empty otherwise
  uint32_t flags = 0;
  std::unique_ptr<FieldConverter> converter;
};

struct TypeDescriptor {
  uint32_t size = 0;  // native size in bytes
  bool isEnum = false;
  std::string name;  // unique in the registry
  StaticType staticType;
  std::string description;
  std::string nameSpace;
  std::vector<std::string> tags;
  std::vector<EnumValueDescriptor> values;  // enums, in registration order
  std::vector<FieldDescriptor> fields;      // structs, in registration order

  // The first enumerator registered with this name or value, or null.
  const EnumValueDescriptor* findValue(std::string_view valueName) const;
  const EnumValueDescriptor* findValue(int32_t value) const;
  bool hasValue(int32_t value) const { return findValue(value) != nullptr; }
  const FieldDescriptor* findField(std::string_view fieldName) const;

 private:
  friend class TypeBuilder;
  std::map<std::string, size_t, std::less<>> valueByName_;  // index into values
  std::map<int32_t, size_t> valueByNumber_;
};

}  // namespace Zorv
