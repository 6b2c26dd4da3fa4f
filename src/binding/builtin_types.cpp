#include "binding/builtin_types.h"

#include "binding/type_registration.h"

namespace Zorv {
namespace {

constexpr const char* kBuiltinTag = "$builtin";
constexpr const char* kAsyncTag = "async";
constexpr const char* kEventData = "Event data";
constexpr const char* kAsyncToken = "Asynchronous operation token";

}  // namespace

void RegisterBuiltinTypes(TypeRegistry& registry) {
  using State = BindingAsyncState;
  registry.Enum<State>("BindingAsyncState")
      .value("None", State::None, "Invalid state")
      .value("Running", State::Running, "The operation is in flight")
      .value("Cancelling", State::Cancelling, "A request to cancel the operation has been made")
      .value("Cancelled", State::Cancelled, "The operation was cancelled")
      .value("Succeeded", State::Succeeded, "The operation completed successfully")
      .value("Failed", State::Failed, "The operation encountered an error")
      .description("Possible states of an asynchronous operation.")
      .tag(kBuiltinTag)
      .tag(kAsyncTag)
      .finish();

  registry.Struct<BindingGenericEvent>("BindingGenericEvent")
      .field("data", &BindingGenericEvent::data, kEventData)
      .description("Represents generic data for an event.")
      .finish();

  registry.Struct<BindingCallbackEvent>("BindingCallbackEvent")
      .field("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .field("parameters", &BindingCallbackEvent::parameters, "Callback parameters")
      .description("Represents the parameters of a call to a provided callback.")
      .finish();

  registry.Struct<BindingGenericAsyncEvent>("BindingGenericAsyncEvent")
      .field("asyncToken", &BindingGenericAsyncEvent::asyncToken, kAsyncToken)
      .field("data", &BindingGenericAsyncEvent::data, kEventData)
      .description("Represents generic data for an asynchronous event.")
      .tag(kBuiltinTag)
      .tag(kAsyncTag)
      .finish();

  registry.Struct<BindingAsyncFailureEvent>("BindingAsyncFailureEvent")
      .field("asyncToken", &BindingAsyncFailureEvent::asyncToken, kAsyncToken)
      .field("error", &BindingAsyncFailureEvent::error, "Error message")
      .description("Represents a failed asynchronous operation.")
      .tag(kBuiltinTag)
      .tag(kAsyncTag)
      .finish();

  registry.Struct<BindingAsyncCancelEvent>("BindingAsyncCancelEvent")
      .field("asyncToken", &BindingAsyncCancelEvent::asyncToken, kAsyncToken)
      .description("Represents a cancelled asynchronous operation.")
      .tag(kBuiltinTag)
      .tag(kAsyncTag)
      .finish();
}

}  // namespace Zorv
