// The framework's built-in types: the state of an asynchronous operation and
// the payloads of generic, callback and asynchronous events. Every module
// registers them into its registry (RegisterBuiltinTypes) when it is built.
#pragma once

#include <cstdint>
#include <string>

#include "binding/binding_property.h"

namespace Zorv {

class TypeRegistry;

enum class BindingAsyncState : int32_t {
  None = 0,
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};

struct BindingGenericEvent {
  BindingProperty data;
};

struct BindingCallbackEvent {
  uint64_t id = 0;
  BindingProperty parameters;
};

struct BindingGenericAsyncEvent {
  uint64_t asyncToken = 0;
  BindingProperty data;
};

struct BindingAsyncFailureEvent {
  uint64_t asyncToken = 0;
  std::string error;
};

struct BindingAsyncCancelEvent {
  uint64_t asyncToken = 0;
};

void RegisterBuiltinTypes(TypeRegistry& registry);

}  // namespace Zorv
