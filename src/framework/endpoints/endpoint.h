// Endpoint: one function that a module serves under an HTTP method and a path
// template, as its registration declared it: name, routes, arguments with their
// locations and types, result type, and the handler that runs it.
//
// FunctionResult is what a handler gives back and what the dispatcher encodes
// into the host's CallResult (invoke.h).
//
// Endpoints live in the module's ApiRegistry; their address is the context of
// their FunctionRecord, so they never move once registered. After RegisterApi
// they are only read, which is why dispatch takes no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "binding/type_identifier.h"
#include "framework/endpoints/path_template.h"

namespace Zorv {
class TypeRegistry;
}

namespace Zorv::Client {

// A body that a handler streams to the host instead of a value. The host reads
// it through the module's stream functions and closes it once; closing destroys
// the object.
class ResponseStream {
 public:
  virtual ~ResponseStream() = default;
  // The expected length in bytes (a hint for the reader).
  virtual uint32_t size() const = 0;
  // Fills up to `size` bytes of `buffer`, sets `size` to the bytes written and
  // `more` while data follows; false on a read error.
  virtual bool read(void* buffer, uint32_t& size, bool& more) = 0;
};

struct FunctionResult {
  BindingResult value;
  uint8_t responseFlag = 0;
  uint32_t responseKind = 0;  // 1, 2 or 3; anything else counts as 0
  int32_t status = 200;
  std::string responseText;
  std::vector<std::pair<std::string, std::string>> responseHeaders;
  std::unique_ptr<ResponseStream> stream;

  // A failed result with `message` and `status`.
  static FunctionResult Failed(std::string_view message, int32_t status);
};

// The call's context word (the host's word at offset 40 of the call record).
// A handler whose last parameter has this type receives it there; that
// parameter is not one of the function's arguments.
struct CallContext {
  uint32_t word = 0;
};

struct ArgumentDeclaration {
  std::string name;
  std::string description;
  uint32_t location = 0;  // ArgumentLocation
  TypeIdentifier type;    // from the handler's parameter
  std::string contentType;
};

// Runs the handler with the bound argument values (one per declared argument,
// in order) and the call's context word.
using EndpointHandler =
    std::function<FunctionResult(std::span<BindingProperty> arguments, uint32_t contextWord)>;

struct Endpoint {
  std::string name;  // MakeIdentifier(method text, path)
  std::string description;
  std::string nameSpace;
  std::vector<std::string> tags;
  uint32_t method = 0;
  std::string customMethod;
  std::vector<std::unique_ptr<Route>> routes;  // the first one was registered with the endpoint
  std::vector<ArgumentDeclaration> arguments;
  TypeIdentifier resultType;
  std::string moduleName;                  // the module's short name, first in log lines
  const TypeRegistry* registry = nullptr;  // names enumerators when results are encoded
  EndpointHandler handler;

  const std::string& pathTemplate() const { return routes.front()->matcher.pathTemplate(); }
  // The declared argument with this name, or null.
  ArgumentDeclaration* findArgument(std::string_view argumentName);
};

// The text that describes a type to the host: a registered enum's or struct's
// name, the kind's name otherwise ("uint64", "string", ...), and for vectors and
// maps the kind followed by the element's text in angle brackets.
std::string TypeNameText(const TypeRegistry& registry, const TypeIdentifier& type);

}  // namespace Zorv::Client
