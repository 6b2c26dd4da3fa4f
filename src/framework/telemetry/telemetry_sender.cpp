#include "framework/telemetry/telemetry_sender.h"

#include <string>

#include "framework/module/app_module.h"

namespace Zorv::Client {

TelemetrySender::TelemetrySender(AppModule* module) : module_(module) {}

TelemetrySender::~TelemetrySender() = default;

std::future<MaybeType<Failure, void>> TelemetrySender::Send(std::string_view eventName,
                                                            const BindingProperty& fields) {
  std::string url = "/telemetry/v1/events/";
  url.append(eventName);
  MaybeType<Failure, void> result;
  if (fields.isEmpty()) {
    // The host expects a map even for an event without fields.
    BindingProperty empty;
    empty.makeStructure();
    result = module_->Call<void>(HOST_METHOD_POST, url, empty);
  } else {
    result = module_->Call<void>(HOST_METHOD_POST, url, fields);
  }
  std::promise<MaybeType<Failure, void>> promise;
  promise.set_value(std::move(result));
  return promise.get_future();
}

}  // namespace Zorv::Client
