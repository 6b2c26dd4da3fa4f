// FieldConverter: moves one field of a registered structure between its native
// form and a BindingProperty. The registration creates one converter per field,
// typed after the field's C++ type (MemberFieldConverter, type_registration.h);
// the structure conversion calls it with the address of the whole structure.
#pragma once

#include <string>
#include <string_view>

namespace Zorv {

class BindingProperty;
struct BindingResult;
class TypeRegistry;

class FieldConverter {
 public:
  virtual ~FieldConverter();

  // Writes the field of the structure at `object` into `out` (an empty value).
  // On failure returns false with `error` set to the message.
  virtual bool write(BindingProperty& out, const void* object, const TypeRegistry& registry,
                     std::string& error) const = 0;

  // Reads `input` into the field of the structure at `object`. Does nothing
  // when `result` has failed already; records the first failure on it.
  virtual void read(BindingResult& result, const BindingProperty& input, void* object,
                    std::string_view name, const TypeRegistry& registry) const = 0;
};

}  // namespace Zorv
