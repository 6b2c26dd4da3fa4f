#include "binding/type_descriptor.h"

namespace Zorv {

const EnumValueDescriptor* TypeDescriptor::findValue(std::string_view valueName) const {
  const auto it = valueByName_.find(valueName);
  return it == valueByName_.end() ? nullptr : &values[it->second];
}

const EnumValueDescriptor* TypeDescriptor::findValue(int32_t value) const {
  const auto it = valueByNumber_.find(value);
  return it == valueByNumber_.end() ? nullptr : &values[it->second];
}

const FieldDescriptor* TypeDescriptor::findField(std::string_view fieldName) const {
  for (const FieldDescriptor& field : fields) {
    if (field.name == fieldName) return &field;
  }
  return nullptr;
}

}  // namespace Zorv
