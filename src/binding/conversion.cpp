#include "binding/conversion.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "binding/conversion_messages.h"

namespace Zorv {
namespace {

namespace Message = ConversionMessage;

// 2^63 and 2^64: the first doubles that no int64 / uint64 holds. Bounds given
// as integers round up to them when compared as doubles, so a float input is
// tested against them too before it is truncated.
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

bool Failed(const BindingResult& result) {
  return !result.success;
}

void Fail(BindingResult& result, const std::string& message) {
  result.setFailure(message);
}

// Number parsing shared by the string forms of ToSigned, ToUnsigned and
// ToDouble: the whole text must be the number.
struct Parsed {
  bool complete = false;  // something was read and nothing remains
  bool overflow = false;  // ERANGE
};

template <typename Value, typename Parse>
Parsed ParseWhole(const std::string& text, Value& value, Parse parse) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  value = parse(begin, &end);
  Parsed parsed;
  parsed.overflow = errno == ERANGE;
  parsed.complete = end != begin && end == begin + text.size();
  return parsed;
}

bool HasMinusSign(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i < text.size() && text[i] == '-';
}

int DecodeBase64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard alphabet; the '=' padding may be left out.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out) {
  size_t length = text.size();
  if (length % 4 == 0 && length >= 2 && text[length - 1] == '=') {
    length -= text[length - 2] == '=' ? 2 : 1;
  }
  if (length % 4 == 1) return false;
  out.clear();
  out.reserve(length / 4 * 3 + 2);
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = 0; i < length; ++i) {
    const int digit = DecodeBase64Digit(text[i]);
    if (digit < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(digit);
    if (++count == 4) {
      out.push_back(static_cast<uint8_t>(bits >> 16));
      out.push_back(static_cast<uint8_t>(bits >> 8));
      out.push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 2) out.push_back(static_cast<uint8_t>(bits >> 4));
  if (count == 3) {
    out.push_back(static_cast<uint8_t>(bits >> 10));
    out.push_back(static_cast<uint8_t>(bits >> 2));
  }
  return true;
}

// Flag 1 leaves out values that carry nothing.
bool IsEmptyOrZero(const BindingProperty& value) {
  switch (value.kind()) {
    case ValueKind::Empty:
      return true;
    case ValueKind::Bool:
      return !value.asBool();
    case ValueKind::Signed:
      return value.asSigned() == 0;
    case ValueKind::Unsigned:
      return value.asUnsigned() == 0;
    case ValueKind::Float:
      return value.asDouble() == 0.0;
    case ValueKind::String:
      return value.asString().empty();
    case ValueKind::Blob:
      return value.asBlob().empty();
    case ValueKind::Enum:
      return value.asEnum().value == 0;
    case ValueKind::Collection:
    case ValueKind::Structure:
      return value.size() == 0;
  }
  return false;
}

// An enumerator number given as a 64-bit value: its low 32 bits, when the
// number has no more than 32 bits (as int32 or uint32).
bool EnumNumber(int64_t number, int32_t& value) {
  if (number < INT32_MIN || number > int64_t{UINT32_MAX}) return false;
  value = static_cast<int32_t>(static_cast<uint32_t>(number));
  return true;
}

}  // namespace

bool ToBool(BindingResult& result, const BindingProperty& input, std::string_view name) {
  if (Failed(result)) return false;
  switch (input.kind()) {
    case ValueKind::Empty:
      Fail(result, Message::Required(name));
      return false;
    case ValueKind::Bool:
      return input.asBool();
    case ValueKind::String: {
      const std::string_view text = input.asString();
      if (text == "1" || text == "true") return true;
      if (text == "0" || text == "false") return false;
      Fail(result, Message::BoolFormat(text, name));
      return false;
    }
    default:
      Fail(result, Message::BoolInvalidType(name, input.kindName()));
      return false;
  }
}

int64_t ToSigned(BindingResult& result, const BindingProperty& input, std::string_view name,
                 int64_t minimum, int64_t maximum, const char* typeName) {
  if (Failed(result)) return 0;
  switch (input.kind()) {
    case ValueKind::Empty:
      Fail(result, Message::Required(name));
      return 0;
    case ValueKind::Signed: {
      const int64_t value = input.asSigned();
      if (value >= minimum && value <= maximum) return value;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    case ValueKind::Unsigned: {
      const uint64_t value = input.asUnsigned();
      if (maximum >= 0 && value <= static_cast<uint64_t>(maximum) &&
          static_cast<int64_t>(value) >= minimum) {
        return static_cast<int64_t>(value);
      }
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    case ValueKind::Float: {
      const double value = input.asDouble();
      if (value >= static_cast<double>(minimum) && value <= static_cast<double>(maximum) &&
          value < kTwoPow63) {
        return static_cast<int64_t>(value);
      }
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    case ValueKind::String: {
      const std::string text(input.asString());
      long long value = 0;
      const Parsed parsed =
          ParseWhole(text, value, [](const char* s, char** e) { return std::strtoll(s, e, 0); });
      if (!parsed.complete) {
        Fail(result, Message::IncorrectFormat(text, name, typeName));
      } else if (parsed.overflow || value < minimum || value > maximum) {
        Fail(result, Message::OutOfRange(std::string_view(text), name, typeName));
      } else {
        return value;
      }
      return 0;
    }
    case ValueKind::Enum: {
      const int64_t value = input.asEnum().value;
      if (value >= minimum && value <= maximum) return value;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    default:
      Fail(result, Message::InvalidType(name, typeName, input.kindName()));
      return 0;
  }
}

uint64_t ToUnsigned(BindingResult& result, const BindingProperty& input, std::string_view name,
                    uint64_t maximum, const char* typeName) {
  if (Failed(result)) return 0;
  switch (input.kind()) {
    case ValueKind::Empty:
      Fail(result, Message::Required(name));
      return 0;
    case ValueKind::Signed: {
      const int64_t value = input.asSigned();
      if (value >= 0 && static_cast<uint64_t>(value) <= maximum) return value;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    case ValueKind::Unsigned: {
      const uint64_t value = input.asUnsigned();
      if (value <= maximum) return value;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    case ValueKind::Float: {
      const double value = input.asDouble();
      if (value >= 0 && value <= static_cast<double>(maximum) && value < kTwoPow64) {
        return static_cast<uint64_t>(value);
      }
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    case ValueKind::String: {
      const std::string text(input.asString());
      unsigned long long value = 0;
      const Parsed parsed =
          ParseWhole(text, value, [](const char* s, char** e) { return std::strtoull(s, e, 0); });
      // strtoull accepts a minus sign and negates in unsigned arithmetic: "-1"
      // would read as the greatest value.
      const bool negative = HasMinusSign(text) && value != 0;
      if (!parsed.complete) {
        Fail(result, Message::IncorrectFormat(text, name, typeName));
      } else if (parsed.overflow || negative || value > maximum) {
        Fail(result, Message::OutOfRange(std::string_view(text), name, typeName));
      } else {
        return value;
      }
      return 0;
    }
    case ValueKind::Enum: {
      const int64_t value = input.asEnum().value;
      if (value >= 0 && static_cast<uint64_t>(value) <= maximum) return value;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0;
    }
    default:
      Fail(result, Message::InvalidType(name, typeName, input.kindName()));
      return 0;
  }
}

double ToDouble(BindingResult& result, const BindingProperty& input, std::string_view name,
                double minimum, double maximum, const char* typeName) {
  if (Failed(result)) return 0.0;
  switch (input.kind()) {
    case ValueKind::Empty:
      Fail(result, Message::Required(name));
      return 0.0;
    case ValueKind::Signed: {
      const int64_t value = input.asSigned();
      const double converted = static_cast<double>(value);
      if (converted >= minimum && converted <= maximum) return converted;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0.0;
    }
    case ValueKind::Unsigned: {
      const uint64_t value = input.asUnsigned();
      const double converted = static_cast<double>(value);
      if (converted >= minimum && converted <= maximum) return converted;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0.0;
    }
    case ValueKind::Float: {
      // Written as "not outside" so that NaN passes.
      const double value = input.asDouble();
      if (!(value < minimum || value > maximum)) return value;
      Fail(result, Message::OutOfRange(value, name, typeName));
      return 0.0;
    }
    case ValueKind::String: {
      const std::string text(input.asString());
      double value = 0.0;
      const Parsed parsed =
          ParseWhole(text, value, [](const char* s, char** e) { return std::strtod(s, e); });
      if (!parsed.complete) {
        Fail(result, Message::IncorrectFormat(text, name, typeName));
      } else if (parsed.overflow || value < minimum || value > maximum) {
        Fail(result, Message::OutOfRange(std::string_view(text), name, typeName));
      } else {
        return value;
      }
      return 0.0;
    }
    case ValueKind::Enum:
      return input.asEnum().value;
    default:
      Fail(result, Message::InvalidType(name, typeName, input.kindName()));
      return 0.0;
  }
}

int32_t ToEnum(BindingResult& result, const BindingProperty& input, std::string_view name,
               const TypeDescriptor& enumType) {
  return internal::ToEnum(result, input, name, &enumType, enumType.name.c_str());
}

int32_t internal::ToEnum(BindingResult& result, const BindingProperty& input, std::string_view name,
                         const TypeDescriptor* enumType, const char* enumName) {
  if (Failed(result)) return 0;
  if (enumType && !enumType->isEnum) enumType = nullptr;
  if (enumType) enumName = enumType->name.c_str();
  const auto isValue = [enumType](int32_t value) {
    return enumType != nullptr && enumType->hasValue(value);
  };
  int32_t value = 0;
  switch (input.kind()) {
    case ValueKind::Empty:
      Fail(result, Message::Required(name));
      return 0;
    case ValueKind::Signed: {
      const int64_t number = input.asSigned();
      if (EnumNumber(number, value) && isValue(value)) return value;
      Fail(result, Message::NotEnumValue(number, enumName, name));
      return 0;
    }
    case ValueKind::Unsigned: {
      const uint64_t number = input.asUnsigned();
      if (number <= UINT32_MAX && EnumNumber(static_cast<int64_t>(number), value) &&
          isValue(value)) {
        return value;
      }
      Fail(result, Message::NotEnumValue(number, enumName, name));
      return 0;
    }
    case ValueKind::String: {
      const std::string_view text = input.asString();
      if (enumType) {
        if (const EnumValueDescriptor* named = enumType->findValue(text)) return named->value;
      }
      BindingResult number;
      const int64_t parsed =
          ToSigned(number, input, name, INT64_MIN, INT64_MAX, TypeKindName(TypeKind::Int64));
      if (number.success && EnumNumber(parsed, value) && isValue(value)) return value;
      Fail(result, Message::NotEnumValue(text, enumName, name));
      return 0;
    }
    case ValueKind::Enum: {
      value = input.asEnum().value;
      if (isValue(value)) return value;
      Fail(result, Message::NotEnumValue(int64_t{value}, enumName, name));
      return 0;
    }
    default:
      Fail(result, Message::EnumInvalidType(name, input.kindName()));
      return 0;
  }
}

std::string ToString(BindingResult& result, const BindingProperty& input, std::string_view name,
                     const TypeRegistry& registry) {
  if (Failed(result)) return {};
  switch (input.kind()) {
    case ValueKind::String:
      return std::string(input.asString());
    case ValueKind::Enum: {
      const EnumValue value = input.asEnum();
      if (const std::string* enumerator = registry.enumeratorName(value.value, value.typeId)) {
        return *enumerator;
      }
      Fail(result, Message::UnknownEnumerator(value.value, name));
      return {};
    }
    case ValueKind::Empty:
      Fail(result, Message::Required(name));
      return {};
    default:
      Fail(result, Message::NotString(name));
      return {};
  }
}

std::vector<uint8_t> ToBlob(BindingResult& result, const BindingProperty& input,
                            std::string_view name) {
  if (Failed(result)) return {};
  const char* typeName = TypeKindName(TypeKind::Blob);
  switch (input.kind()) {
    case ValueKind::Blob: {
      const std::span<const uint8_t> bytes = input.asBlob();
      return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }
    case ValueKind::String: {
      std::vector<uint8_t> bytes;
      if (DecodeBase64(input.asString(), bytes)) return bytes;
      Fail(result, Message::IncorrectFormat(input.asString(), name, typeName));
      return {};
    }
    case ValueKind::Empty:
      Fail(result, Message::Required(name));
      return {};
    default:
      Fail(result, Message::InvalidType(name, typeName, input.kindName()));
      return {};
  }
}

bool StructToProperty(BindingProperty& out, const void* object, const TypeDescriptor* type,
                      const TypeRegistry& registry, std::string& error) {
  if (!type || type->isEnum) {
    error = Message::UnregisteredStructureNative();
    return false;
  }
  out.clear();
  out.makeStructure();
  for (const FieldDescriptor& field : type->fields) {
    if ((field.flags & kFieldOmitEmpty) == 0) {
      if (!field.converter->write(out.field(field.name), object, registry, error)) return false;
      continue;
    }
    BindingProperty value;
    if (!field.converter->write(value, object, registry, error)) return false;
    if (!IsEmptyOrZero(value)) out.field(field.name) = value;
  }
  return true;
}

void StructToProperty(BindingResult& result, const void* object, const TypeDescriptor* type,
                      const TypeRegistry& registry) {
  if (Failed(result)) return;
  std::string error;
  if (!StructToProperty(result.value, object, type, registry, error)) result.setFailure(error);
}

void StructFromProperty(BindingResult& result, const BindingProperty& input, void* object,
                        const TypeDescriptor* type, std::string_view name,
                        const TypeRegistry& registry) {
  if (Failed(result)) return;
  if (!type || type->isEnum) {
    Fail(result, Message::UnregisteredStructureInput(name));
    return;
  }
  if (input.kind() != ValueKind::Structure) {
    Fail(result, Message::NotStructure(name, type->name));
    return;
  }
  for (const FieldDescriptor& field : type->fields) {
    const BindingProperty& value = input.find(field.name);
    if (!value.isEmpty()) {
      field.converter->read(result, value, object, field.name, registry);
    } else if (field.flags & kFieldRequired) {
      Fail(result, Message::MissingRequiredField(name, type->name, field.name));
    }
    if (Failed(result)) return;
  }
}

}  // namespace Zorv
