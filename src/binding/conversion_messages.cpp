#include "binding/conversion_messages.h"

#include "logging/format_string.h"

namespace Zorv::ConversionMessage {
namespace {

// FormatString reads zero-terminated texts.
std::string Z(std::string_view text) {
  return std::string(text);
}

}  // namespace

std::string Required(std::string_view name) {
  return FormatString("A value for '%1' is required.", Z(name));
}

std::string BoolFormat(std::string_view input, std::string_view name) {
  return FormatString(
      "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", "
      "\"false\", \"1\", \"0\".",
      Z(input), Z(name));
}

std::string BoolInvalidType(std::string_view name, std::string_view inputKind) {
  return FormatString(
      "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.",
      Z(name), Z(inputKind));
}

std::string OutOfRange(int64_t value, std::string_view name, std::string_view typeName) {
  return FormatString("Value %1 for '%2' of type %3 is out of range", value, Z(name), Z(typeName));
}

std::string OutOfRange(uint64_t value, std::string_view name, std::string_view typeName) {
  return FormatString("Value %1 for '%2' of type %3 is out of range", value, Z(name), Z(typeName));
}

std::string OutOfRange(double value, std::string_view name, std::string_view typeName) {
  return FormatString("Value %1 for '%2' of type %3 is out of range", value, Z(name), Z(typeName));
}

std::string OutOfRange(std::string_view value, std::string_view name, std::string_view typeName) {
  return FormatString("Value %1 for '%2' of type %3 is out of range", Z(value), Z(name),
                      Z(typeName));
}

std::string IncorrectFormat(std::string_view input, std::string_view name,
                            std::string_view typeName) {
  return FormatString("Value %1 for '%2' of type %3 is in an incorrect format", Z(input), Z(name),
                      Z(typeName));
}

std::string InvalidType(std::string_view name, std::string_view typeName,
                        std::string_view inputKind) {
  return FormatString(
      "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
      Z(name), Z(typeName), Z(inputKind));
}

std::string NotEnumValue(int64_t value, std::string_view enumName, std::string_view name) {
  return FormatString("%1 is not a valid %2 enumeration value for '%3'.", value, Z(enumName),
                      Z(name));
}

std::string NotEnumValue(uint64_t value, std::string_view enumName, std::string_view name) {
  return FormatString("%1 is not a valid %2 enumeration value for '%3'.", value, Z(enumName),
                      Z(name));
}

std::string NotEnumValue(std::string_view value, std::string_view enumName, std::string_view name) {
  return FormatString("%1 is not a valid %2 enumeration value for '%3'.", Z(value), Z(enumName),
                      Z(name));
}

std::string EnumInvalidType(std::string_view name, std::string_view inputKind) {
  return FormatString(
      "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.",
      Z(name), Z(inputKind));
}

std::string UnknownEnumerator(int32_t value, std::string_view name) {
  return FormatString("%1 is not a valid enumeration value for '%2'.", value, Z(name));
}

std::string NotString(std::string_view name) {
  return FormatString("Couldn't assign value to '%1' because the input is not a string.", Z(name));
}

std::string UnregisteredStructureInput(std::string_view name) {
  return FormatString(
      "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
      "structure at all.",
      Z(name));
}

std::string NotStructure(std::string_view name, std::string_view typeName) {
  return FormatString("Couldn't assign value to '%1' of type %2 because the input not a structure.",
                      Z(name), Z(typeName));
}

std::string MissingRequiredField(std::string_view name, std::string_view typeName,
                                 std::string_view fieldName) {
  return FormatString(
      "Couldn't assign value to '%1' of type %2 because the input structure doesn't have "
      "required field '%3'.",
      Z(name), Z(typeName), Z(fieldName));
}

std::string VectorNotCollection(std::string_view name) {
  return FormatString(
      "Couldn't assign value to '%1' of type vector because the input not a collection.", Z(name));
}

std::string MapNotStructure(std::string_view name) {
  return FormatString(
      "Couldn't assign value to '%1' of type map because the input not a structure.", Z(name));
}

std::string UnregisteredStructureNative() {
  return FormatString("Couldn't convert native value because it's an unregistered structure.");
}

std::string IncompatibleObject(std::string_view name, std::string_view inputKind) {
  return FormatString(
      "Couldn't assign value to '%1' of type object because the input is of an incompatible "
      "type '%2'.",
      Z(name), Z(inputKind));
}

}  // namespace Zorv::ConversionMessage
