// ArgumentBinding: the values of one call's declared arguments, bound from the
// call's headers, path parameters, query entries, argument array and body.
//
//   ArgumentBinding binding(endpoint);
//   binding.BindArgument("ids.3", "42", ARGUMENT_LOCATION_QUERY);  // element 3 of "ids"
//   if (binding.failed()) answer(binding.failure());
//
// Promises:
// - Every declared argument starts empty, a bool argument false.
// - The first failure wins: it is kept, and every later Bind call does nothing.
// - An element index above kMaxArgumentIndex is refused ("Index %1 is out of
//   range"), and all dotted names of one call together create at most
//   `valueBudget` elements and members: a name that would create more fails
//   ("Argument '%1' for '%2' would exceed the call's limit of %3 created
//   values.") before anything is created for it. A few bytes of name can ask for thousands of
//   elements; the budget keeps a call's memory in proportion to its size.
// - Texts are only read within the given views; nothing here throws except
//   on allocation failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "framework/endpoints/endpoint.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Client {

inline constexpr uint64_t kMaxArgumentIndex = 10000;

// What every call may create through dotted names, whatever its size; the
// dispatcher adds one value per byte of the call's URL and headers.
inline constexpr size_t kBaseValueBudget = 100000;

class ArgumentBinding {
 public:
  ArgumentBinding(const Endpoint& endpoint, size_t valueBudget);

  bool failed() const { return failed_; }
  const std::string& failure() const { return failure_; }
  void Fail(std::string message);

  // Binds one text by (dotted) name, as a header, path or query value does.
  void BindArgument(std::string_view name, std::string_view valueText, uint32_t location);
  // Binds one element of the call's argument array: by name, or by position
  // when `name` is null.
  void BindCallArgument(const char* name, size_t position, const HostValue& value);
  // Decodes the body into the first argument declared with the body location;
  // does nothing when there is none.
  void BindBody(const char* contentType, std::string_view body);

  std::vector<BindingProperty>& values() { return values_; }

 private:
  const Endpoint& endpoint_;
  std::vector<BindingProperty> values_;
  size_t valueLimit_;   // elements and members dotted names may create in all
  size_t valueBudget_;  // what remains of it
  bool failed_ = false;
  std::string failure_;

  // Takes `count` values from the budget; false (and the call failed) when
  // fewer remain.
  bool Spend(size_t count, std::string_view key);
};

// Deserializes one value text. `contentType` is the argument's content type
// (empty for path, query and header values); a structured argument (object,
// vector, map, struct) lets the text's first bytes choose MessagePack, JSON or
// YAML. Anything else is a string value, converted to the argument's type when
// the handler is called.
BindingResult DeserializeValueText(std::string_view text, std::string_view contentType,
                                   bool structured, std::string_view parameter,
                                   std::string_view functionName);

}  // namespace Zorv::Client
