#include "zorv-host/front_answers.h"

#include <httplib.h>

#include "binding/json_writer.h"
#include "binding/type_kind.h"
#include "zorv-host/http_front.h"

namespace Zorv::Host {

namespace {

std::string_view MethodText(uint32_t method, const std::string& custom) {
  switch (method) {
    case HOST_METHOD_DELETE:
      return "DELETE";
    case HOST_METHOD_GET:
      return "GET";
    case HOST_METHOD_HEAD:
      return "HEAD";
    case HOST_METHOD_OPTIONS:
      return "OPTIONS";
    case HOST_METHOD_PATCH:
      return "PATCH";
    case HOST_METHOD_POST:
      return "POST";
    case HOST_METHOD_PUT:
      return "PUT";
    case HOST_METHOD_CUSTOM:
      return custom;
    default:
      return "any";
  }
}

std::string_view LocationText(uint32_t location) {
  switch (location) {
    case ARGUMENT_LOCATION_QUERY:
      return "query";
    case ARGUMENT_LOCATION_PATH:
      return "path";
    case ARGUMENT_LOCATION_HEADER:
      return "header";
    case ARGUMENT_LOCATION_BODY:
      return "body";
    default:
      return "any";
  }
}

}  // namespace

void SetJson(httplib::Response& response, int status, const BindingProperty& value) {
  response.status = status;
  response.set_content(ToJsonText(value), "application/json");
}

void SetFailure(httplib::Response& response, int status, const std::string& message) {
  BindingProperty body;
  body.field("httpStatus") = int64_t{status};
  body.field("message") = std::string_view(message);
  SetJson(response, status, body);
}

BindingProperty HelpJson(const ModuleApi& api) {
  BindingProperty help;
  BindingProperty& functions = help.field("functions");
  functions.reserve(api.functions.size());
  for (const ModuleFunction& function : api.functions) {
    BindingProperty& out = functions.append();
    out.field("name") = std::string_view(function.name);
    out.field("method") = MethodText(function.method, function.customMethod);
    out.field("path") = std::string_view(function.pathTemplate);
    out.field("description") = std::string_view(function.description);
    BindingProperty& arguments = out.field("arguments");
    arguments.reserve(function.arguments.size());
    for (const ModuleArgument& argument : function.arguments) {
      BindingProperty& a = arguments.append();
      a.field("name") = std::string_view(argument.name);
      a.field("type") = std::string_view(argument.typeName);
      a.field("location") = LocationText(argument.location);
      a.field("description") = std::string_view(argument.description);
    }
    out.field("returns") = std::string_view(function.resultTypeName);
  }
  BindingProperty& types = help.field("types");
  types.reserve(api.types.size());
  for (const ModuleType& type : api.types) {
    BindingProperty& out = types.append();
    out.field("name") = std::string_view(type.name);
    out.field("description") = std::string_view(type.description);
    if (type.isEnum) {
      BindingProperty& values = out.field("values");
      values.reserve(type.enumerators.size());
      for (const auto& [name, value] : type.enumerators) {
        BindingProperty& v = values.append();
        v.field("name") = std::string_view(name);
        v.field("value") = int64_t{value};
      }
      continue;
    }
    BindingProperty& fields = out.field("fields");
    fields.reserve(type.fields.size());
    for (const ModuleTypeField& field : type.fields) {
      BindingProperty& f = fields.append();
      f.field("name") = std::string_view(field.name);
      f.field("type") = field.typeName.empty()
                            ? std::string_view(TypeKindName(static_cast<TypeKind>(field.kind)))
                            : std::string_view(field.typeName);
      f.field("required") = field.required;
    }
  }
  BindingProperty& events = help.field("events");
  events.reserve(api.events.size());
  for (const ModuleEvent& event : api.events) {
    BindingProperty& out = events.append();
    out.field("name") = std::string_view(event.name);
    out.field("type") = std::string_view(event.payloadTypeName);
    out.field("description") = std::string_view(event.description);
  }
  return help;
}

BindingProperty LogJson(const RingBuffer<LogEntry>& logs) {
  BindingProperty out;
  out.reserve(logs.size());
  for (size_t i = 0; i < logs.size(); ++i) {
    BindingProperty& entry = out.append();
    entry.field("seq") = uint64_t{logs.FirstSequence() + i};
    entry.field("level") = int64_t{logs[i].level};
    entry.field("message") = std::string_view(logs[i].message);
  }
  return out;
}

BindingProperty TelemetryJson(const RingBuffer<TelemetryEntry>& telemetry) {
  BindingProperty out;
  out.reserve(telemetry.size());
  for (size_t i = 0; i < telemetry.size(); ++i) {
    BindingProperty& entry = out.append();
    entry.field("seq") = uint64_t{telemetry.FirstSequence() + i};
    entry.field("name") = std::string_view(telemetry[i].name);
    entry.field("fields") = telemetry[i].fields;
  }
  return out;
}

}  // namespace Zorv::Host
