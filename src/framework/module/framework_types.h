// The framework's own types and events, which every module registers before
// its own API: the plug-in manager's state, resource and LCDS events and the
// service-proxy responses, all under the namespace "zclient".
#pragma once

#include <cstdint>
#include <string>

#include "binding/binding_property.h"

namespace Zorv::Client {

class ApiRegistry;

// The log category of the framework's location-related lines; registered when
// the library loads.
extern const uint64_t kLogLOC;

enum class PluginManagerState : int32_t {
  NotReady = 0,
  PluginsInitialized = 1,
};

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : int32_t {
  Create = 0,
  Update = 1,
  Delete = 2,
};

struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingProperty data;
};

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingProperty body;
};

struct PluginLcdsResponse {
  std::string typeName;
  BindingProperty body;
};

struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

void RegisterFrameworkTypes(ApiRegistry& registry);

}  // namespace Zorv::Client
