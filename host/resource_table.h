// ResourceTable: the host resources that a plug-in reaches with CallFunction.
//
// Two kinds of resource answer a call, looked up in this order:
// - handlers, registered by method and exact path (method 0 takes every
//   method), which get the decoded call and answer a value, an error or a
//   stream;
// - plain JSON-valued resources by exact path: GET reads, POST creates (or
//   replaces), PUT replaces, PATCH merges the fields of an object into the
//   stored object (replaces anything else) and DELETE removes. Every change is
//   handed to the event sink as a resource event (see ResourceEventPayload)
//   under the event name that followers of the path subscribe to (the
//   framework's EventNameForUrl, so host and plug-in agree by construction).
// Any other path answers an error with status 404. The query of a URL takes no
// part in routing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "host/call_answer.h"
#include "host/ring_buffer.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Host {

// The payload of a resource event: {"uri": url, "eventType": "Create" |
// "Update" | "Delete", "data": value}.
BindingProperty ResourceEventPayload(std::string_view url, uint32_t eventType,
                                     const BindingProperty& data);

class ResourceTable {
 public:
  using Handler = std::function<CallAnswer(const CallRequest&)>;
  // Gets the event name and the payload of each change.
  using EventSink = std::function<void(const std::string& name, const BindingProperty& payload)>;

  explicit ResourceTable(EventSink sink) : sink_(std::move(sink)) {}

  // A later handler for the same method and path replaces the earlier one.
  void Handle(uint32_t method, std::string path, Handler handler);
  // A handler for every path that starts with `prefix` (a family such as
  // "/telemetry/v1/events/"), consulted after the exact handlers.
  void HandlePrefix(uint32_t method, std::string prefix, Handler handler);

  // Stores the value at `path`, announcing it as created or updated. False,
  // and nothing changes, when `json` is not JSON.
  bool SetResource(const std::string& path, std::string_view json);
  void SetResourceValue(const std::string& path, BindingProperty value);
  // Removes the value, announcing the deletion; false when there was none.
  bool RemoveResource(const std::string& path);
  // The stored value, or null.
  const BindingProperty* Resource(const std::string& path) const;

  // Routes a decoded call and records it.
  CallAnswer Route(const CallRequest& request);
  // The newest calls routed (kDefaultKeep unless SetKeep says otherwise).
  const RingBuffer<CallRequest>& Calls() const { return calls_; }
  void SetKeep(size_t calls) { calls_.SetCapacity(calls); }

 private:
  void Store(const std::string& path, BindingProperty value);
  void Announce(const std::string& path, uint32_t eventType, const BindingProperty& data);
  CallAnswer ServeResource(const CallRequest& request);

  EventSink sink_;
  std::map<std::pair<uint32_t, std::string>, Handler> handlers_;
  std::vector<std::pair<std::pair<uint32_t, std::string>, Handler>> prefixHandlers_;
  std::map<std::string, BindingProperty> resources_;
  RingBuffer<CallRequest> calls_;
};

}  // namespace Zorv::Host
