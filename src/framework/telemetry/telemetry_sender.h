// TelemetrySender: posts the module's telemetry events to the host's
// telemetry resource, one named event with its fields per call.
//
//   module.telemetrySender()->Send("tnk-be-pex-replays.watchingReplay", fields);
//
// Send blocks for the host call and returns a future that is already
// satisfied: success, or the host call's failure. Nothing is logged; callers
// may drop the future unread. Virtual so that tests can stand in for it.
#pragma once

#include <future>
#include <string_view>

#include "binding/binding_property.h"
#include "framework/hostapi/failure.h"
#include "framework/hostapi/maybe_type.h"

namespace Zorv::Client {

class AppModule;

class TelemetrySender {
 public:
  // REQUIRES: module outlives the sender.
  explicit TelemetrySender(AppModule* module);
  virtual ~TelemetrySender();
  TelemetrySender(const TelemetrySender&) = delete;
  TelemetrySender& operator=(const TelemetrySender&) = delete;

  // POSTs fields, a structure of named values (empty: no fields), to
  // "/telemetry/v1/events/" followed by eventName as it is.
  virtual std::future<MaybeType<Failure, void>> Send(std::string_view eventName,
                                                     const BindingProperty& fields);

 private:
  AppModule* module_;
};

}  // namespace Zorv::Client
