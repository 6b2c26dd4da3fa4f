#include "framework/endpoints/argument_binding.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <span>

#include "binding/json_reader.h"
#include "binding/msgpack_reader.h"
#include "binding/type_kind.h"
#include "binding/yaml_reader.h"
#include "framework/hostapi/host_value_codec.h"
#include "logging/format_string.h"

namespace Zorv::Client {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsStructured(TypeKind kind) {
  return kind == TypeKind::Object || kind == TypeKind::Vector || kind == TypeKind::Map ||
         kind == TypeKind::Struct;
}

std::string UnknownArgument(std::string_view argument, std::string_view function) {
  return FormatString("Unknown argument '%1' for '%2'.", std::string(argument),
                      std::string(function));
}

BindingResult Decoded(BindingResult decoded, const char* messageFormat, std::string_view parameter,
                      std::string_view function) {
  if (decoded.success) return decoded;
  BindingResult failed;
  failed.setFailure(FormatString(messageFormat, std::string(parameter), std::string(function),
                                 std::string(decoded.error())));
  return failed;
}

constexpr const char* kMsgPackFailure =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
constexpr const char* kJsonFailure =
    "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
constexpr const char* kYamlFailure =
    "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";

const uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// An element index: unsigned with "0x" and leading-"0" prefixes; empty when
// the segment is refused, with `error` set.
std::optional<size_t> ParseIndex(std::string_view segment, std::string& error) {
  const std::string text(segment);
  errno = 0;
  char* end = nullptr;
  const unsigned long long index = std::strtoull(text.c_str(), &end, 0);
  if (end != text.c_str() + text.size()) {
    error = FormatString("Index %1 is in an incorrect format", text);
    return std::nullopt;
  }
  if (errno == ERANGE || index > kMaxArgumentIndex) {
    error = FormatString("Index %1 is out of range", text);
    return std::nullopt;
  }
  return static_cast<size_t>(index);
}

}  // namespace

BindingResult DeserializeValueText(std::string_view text, std::string_view contentType,
                                   bool structured, std::string_view parameter,
                                   std::string_view functionName) {
  const bool sniff = structured && contentType.empty();
  if (StartsWithNoCase(contentType, "application/x-msgpack") ||
      (sniff && IsMsgPack(Bytes(text), text.size()))) {
    return Decoded(DecodeMsgPack(Bytes(text), text.size()).result, kMsgPackFailure, parameter,
                   functionName);
  }
  if (contentType == "application/json" || (sniff && IsJson(text))) {
    return Decoded(FromJsonText(text), kJsonFailure, parameter, functionName);
  }
  if (contentType == "text/x-yaml" || (sniff && IsYaml(text))) {
    return Decoded(ParseYaml(text), kYamlFailure, parameter, functionName);
  }
  BindingResult result;
  if (contentType == "application/octet-stream") {
    result.value.setBlob(std::span<const uint8_t>(Bytes(text), text.size()));
  } else {
    result.value = text;
  }
  return result;
}

ArgumentBinding::ArgumentBinding(const Endpoint& endpoint, size_t valueBudget)
    : endpoint_(endpoint),
      values_(endpoint.arguments.size()),
      valueLimit_(valueBudget),
      valueBudget_(valueBudget) {
  for (size_t i = 0; i < values_.size(); ++i) {
    if (endpoint.arguments[i].type.kind == TypeKind::Bool) values_[i] = false;
  }
}

void ArgumentBinding::Fail(std::string message) {
  if (failed_) return;
  failed_ = true;
  failure_ = std::move(message);
}

bool ArgumentBinding::Spend(size_t count, std::string_view key) {
  if (count <= valueBudget_) {
    valueBudget_ -= count;
    return true;
  }
  Fail(FormatString("Argument '%1' for '%2' would exceed the call's limit of %3 created values.",
                    std::string(key), endpoint_.name, static_cast<uint64_t>(valueLimit_)));
  return false;
}

void ArgumentBinding::BindArgument(std::string_view name, std::string_view valueText,
                                   uint32_t location) {
  if (failed_) return;
  const size_t dot = name.find('.');
  const std::string_view key = name.substr(0, dot);
  size_t index = 0;
  while (index < endpoint_.arguments.size() && endpoint_.arguments[index].name != key) ++index;
  if (index == endpoint_.arguments.size()) {
    Fail(UnknownArgument(key, endpoint_.name));
    return;
  }
  const ArgumentDeclaration& argument = endpoint_.arguments[index];
  if (argument.location != ARGUMENT_LOCATION_ANY && argument.location != location) {
    Fail(FormatString("Argument '%1' for '%2' was specified in an invalid location.",
                      std::string(key), endpoint_.name));
    return;
  }
  BindingProperty* target = &values_[index];
  if (dot != std::string_view::npos) {
    std::string_view rest = name.substr(dot + 1);
    while (true) {
      const size_t next = rest.find('.');
      const std::string_view segment = rest.substr(0, next);
      if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
        std::string error;
        const std::optional<size_t> element = ParseIndex(segment, error);
        if (!element) {
          Fail(std::move(error));
          return;
        }
        const size_t have = target->kind() == ValueKind::Collection ? target->size() : 0;
        if (have <= *element && !Spend(*element + 1 - have, key)) return;
        target->makeCollection();
        if (target->size() <= *element) target->reserve(*element + 1);
        while (target->size() <= *element) target->append();
        target = &target->element(*element);
      } else {
        if (!target->has(segment) && !Spend(1, key)) return;
        target = &target->field(segment);
      }
      if (next == std::string_view::npos) break;
      rest = rest.substr(next + 1);
    }
    BindingResult plain =
        DeserializeValueText(valueText, argument.contentType, false, argument.name, endpoint_.name);
    if (!plain.success) {
      Fail(std::string(plain.error()));
      return;
    }
    *target = std::move(plain.value);
    return;
  }
  if (valueText.empty()) {
    switch (argument.type.kind) {
      case TypeKind::Bool:
        *target = true;
        return;
      case TypeKind::Object:
      case TypeKind::Struct:
      case TypeKind::Map:
        target->clear();
        target->makeStructure();
        return;
      case TypeKind::Vector:
        target->clear();
        target->makeCollection();
        return;
      default:
        Fail(FormatString("Expected value for argument '%1'.", argument.name));
        return;
    }
  }
  BindingResult value =
      DeserializeValueText(valueText, argument.contentType, IsStructured(argument.type.kind),
                           argument.name, endpoint_.name);
  if (!value.success) {
    Fail(std::string(value.error()));
    return;
  }
  *target = std::move(value.value);
}

void ArgumentBinding::BindCallArgument(const char* name, size_t position, const HostValue& value) {
  if (failed_) return;
  size_t index = endpoint_.arguments.size();
  if (name != nullptr) {
    for (size_t i = 0; i < endpoint_.arguments.size(); ++i) {
      if (endpoint_.arguments[i].name == name) {
        index = i;
        break;
      }
    }
    if (index == endpoint_.arguments.size()) {
      Fail(UnknownArgument(name, endpoint_.name));
      return;
    }
  } else if (position < endpoint_.arguments.size()) {
    index = position;
  } else {
    Fail(UnknownArgument(std::to_string(position), endpoint_.name));
    return;
  }
  BindingResult decoded = DecodeHostValue(value);
  if (!decoded.success) {
    Fail(std::string(decoded.error()));
    return;
  }
  values_[index] = std::move(decoded.value);
}

void ArgumentBinding::BindBody(const char* contentType, std::string_view body) {
  if (failed_) return;
  size_t index = 0;
  while (index < endpoint_.arguments.size() &&
         endpoint_.arguments[index].location != ARGUMENT_LOCATION_BODY) {
    ++index;
  }
  if (index == endpoint_.arguments.size()) return;
  const std::string_view type = contentType != nullptr ? contentType : "";
  const std::string& parameter = endpoint_.arguments[index].name;
  BindingResult decoded;
  if (StartsWithNoCase(type, "application/x-msgpack")) {
    MsgPackDecodeResult read = DecodeMsgPack(Bytes(body), body.size());
    if (read.result.success && read.bytesUsed < body.size()) {
      Fail("Extra MessgePack data found in body");
      return;
    }
    decoded = Decoded(std::move(read.result), kMsgPackFailure, parameter, endpoint_.name);
  } else if (StartsWithNoCase(type, "application/json") ||
             StartsWithNoCase(type, "application/vnd.api+json")) {
    decoded = Decoded(FromJsonText(body), kJsonFailure, parameter, endpoint_.name);
  } else if (StartsWithNoCase(type, "application/x-yaml")) {
    decoded = Decoded(ParseYaml(body), kYamlFailure, parameter, endpoint_.name);
  } else {
    Fail("Unsupported body content type");
    return;
  }
  if (!decoded.success) {
    Fail(std::string(decoded.error()));
    return;
  }
  values_[index] = std::move(decoded.value);
}

}  // namespace Zorv::Client
