// How the HTTP front writes its answers: JSON values, failures as
// {"httpStatus", "message"}, and the JSON forms of the plug-in's API
// description, the host's log and the telemetry it received.
#pragma once

#include <string>

#include "binding/binding_property.h"
#include "host/module_api.h"
#include "host/plugin_host.h"
#include "host/ring_buffer.h"

namespace httplib {
struct Response;
}

namespace Zorv::Host {

struct TelemetryEntry;

inline constexpr char kTelemetryPrefix[] = "/telemetry/v1/events/";

void SetJson(httplib::Response& response, int status, const BindingProperty& value);
void SetFailure(httplib::Response& response, int status, const std::string& message);

// {"functions": [{name, method, path, description, arguments: [{name, type,
// location, description}], returns}], "types": [...], "events": [...]}.
BindingProperty HelpJson(const ModuleApi& api);
// [{seq, level, message}], oldest first.
BindingProperty LogJson(const RingBuffer<LogEntry>& logs);
// [{seq, name, fields}], oldest first.
BindingProperty TelemetryJson(const RingBuffer<TelemetryEntry>& telemetry);

}  // namespace Zorv::Host
