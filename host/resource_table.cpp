#include "host/resource_table.h"

#include "binding/json_reader.h"
#include "framework/events/event_name.h"

namespace Zorv::Host {
namespace {

const char* EventTypeName(uint32_t eventType) {
  switch (eventType) {
    case PLUGIN_RESOURCE_EVENT_CREATE:
      return "Create";
    case PLUGIN_RESOURCE_EVENT_UPDATE:
      return "Update";
    default:
      return "Delete";
  }
}

}  // namespace

BindingProperty ResourceEventPayload(std::string_view url, uint32_t eventType,
                                     const BindingProperty& data) {
  BindingProperty payload;
  payload.field("uri") = url;
  payload.field("eventType") = EventTypeName(eventType);
  payload.field("data") = data;
  return payload;
}

void ResourceTable::Handle(uint32_t method, std::string path, Handler handler) {
  handlers_[{method, std::move(path)}] = std::move(handler);
}

void ResourceTable::HandlePrefix(uint32_t method, std::string prefix, Handler handler) {
  prefixHandlers_.push_back({{method, std::move(prefix)}, std::move(handler)});
}

bool ResourceTable::SetResource(const std::string& path, std::string_view json) {
  BindingResult parsed = FromJsonText(json);
  if (!parsed.success) return false;
  Store(path, std::move(parsed.value));
  return true;
}

void ResourceTable::SetResourceValue(const std::string& path, BindingProperty value) {
  Store(path, std::move(value));
}

bool ResourceTable::RemoveResource(const std::string& path) {
  if (resources_.erase(path) == 0) return false;
  Announce(path, PLUGIN_RESOURCE_EVENT_DELETE, BindingProperty());
  return true;
}

const BindingProperty* ResourceTable::Resource(const std::string& path) const {
  const auto it = resources_.find(path);
  return it == resources_.end() ? nullptr : &it->second;
}

CallAnswer ResourceTable::Route(const CallRequest& request) {
  calls_.push_back(request);
  auto it = handlers_.find({request.method, request.path});
  if (it == handlers_.end()) it = handlers_.find({0u, request.path});
  if (it != handlers_.end()) {
    // A copy: the handler may replace itself while it runs.
    const Handler handler = it->second;
    return handler(request);
  }
  for (const auto& [key, prefixHandler] : prefixHandlers_) {
    if ((key.first == 0 || key.first == request.method) && request.path.starts_with(key.second)) {
      const Handler handler = prefixHandler;
      return handler(request);
    }
  }
  return ServeResource(request);
}

void ResourceTable::Store(const std::string& path, BindingProperty value) {
  const bool existed = resources_.count(path) != 0;
  BindingProperty& stored = resources_[path];
  stored = std::move(value);
  // Announced from a copy: a sink that changes the table must not see the
  // stored value move under it.
  const BindingProperty data = stored;
  Announce(path, existed ? PLUGIN_RESOURCE_EVENT_UPDATE : PLUGIN_RESOURCE_EVENT_CREATE, data);
}

void ResourceTable::Announce(const std::string& path, uint32_t eventType,
                             const BindingProperty& data) {
  if (sink_) sink_(Client::EventNameForUrl(path), ResourceEventPayload(path, eventType, data));
}

CallAnswer ResourceTable::ServeResource(const CallRequest& request) {
  const std::string& path = request.path;
  const auto it = resources_.find(path);
  const bool creates = request.method == HOST_METHOD_POST || request.method == HOST_METHOD_PUT;
  if (it == resources_.end() && !creates) {
    return CallAnswer::Error("Not found: " + request.methodText + " " + path, 404);
  }
  const BindingProperty& argument =
      request.arguments.empty() ? BindingProperty::EmptyValue() : request.arguments.front();
  switch (request.method) {
    case HOST_METHOD_GET:
      return CallAnswer::Value(it->second);
    case HOST_METHOD_POST:
    case HOST_METHOD_PUT: {
      const bool created = it == resources_.end();
      Store(path, argument);
      return CallAnswer::Value(BindingProperty(), created ? 201 : 200);
    }
    case HOST_METHOD_PATCH: {
      if (it->second.kind() != ValueKind::Structure || argument.kind() != ValueKind::Structure) {
        Store(path, argument);
      } else {
        BindingProperty merged = it->second;
        for (const auto& field : argument.fields()) merged.field(field.name) = field.value;
        Store(path, std::move(merged));
      }
      return CallAnswer::Value(BindingProperty());
    }
    case HOST_METHOD_DELETE:
      RemoveResource(path);
      return CallAnswer::Value(BindingProperty(), 204);
    default:
      return CallAnswer::Error("Method not allowed: " + request.methodText + " " + path, 405);
  }
}

}  // namespace Zorv::Host
