// The failure messages of value conversion, one function per message, so that
// every converter (and the host-value codec) words a failure the same way.
// `name` is what was being assigned: a field, argument or key name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Zorv::ConversionMessage {

std::string Required(std::string_view name);
std::string BoolFormat(std::string_view input, std::string_view name);
std::string BoolInvalidType(std::string_view name, std::string_view inputKind);
// `value` is the input as printed: a number's text or the input string.
std::string OutOfRange(int64_t value, std::string_view name, std::string_view typeName);
std::string OutOfRange(uint64_t value, std::string_view name, std::string_view typeName);
std::string OutOfRange(double value, std::string_view name, std::string_view typeName);
std::string OutOfRange(std::string_view value, std::string_view name, std::string_view typeName);
std::string IncorrectFormat(std::string_view input, std::string_view name,
                            std::string_view typeName);
std::string InvalidType(std::string_view name, std::string_view typeName,
                        std::string_view inputKind);
std::string NotEnumValue(int64_t value, std::string_view enumName, std::string_view name);
std::string NotEnumValue(uint64_t value, std::string_view enumName, std::string_view name);
std::string NotEnumValue(std::string_view value, std::string_view enumName, std::string_view name);
std::string EnumInvalidType(std::string_view name, std::string_view inputKind);
std::string UnknownEnumerator(int32_t value, std::string_view name);
std::string NotString(std::string_view name);
std::string UnregisteredStructureInput(std::string_view name);
std::string NotStructure(std::string_view name, std::string_view typeName);
std::string MissingRequiredField(std::string_view name, std::string_view typeName,
                                 std::string_view fieldName);
std::string VectorNotCollection(std::string_view name);
std::string MapNotStructure(std::string_view name);
std::string UnregisteredStructureNative();
std::string IncompatibleObject(std::string_view name, std::string_view inputKind);

}  // namespace Zorv::ConversionMessage
