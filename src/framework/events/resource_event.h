// The shapes in which events reach a module: the typed resource event that an
// observer receives, and the handlers that RegisterEventHandler installs for
// host events (resource events, service-proxy answers).
//
//   Observe<LoginData>("/pex-login/v1/login-data",
//                      [](const ResourceEvent<LoginData>& event) { use(event.data); });
#pragma once

#include <functional>
#include <string>
#include <variant>

#include "framework/module/framework_types.h"

namespace Zorv::Client {

// A resource change with its data converted to T; a Delete carries a
// default-constructed T.
template <typename T>
struct ResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  T data{};
};

using ResourceEventHandler = std::function<void(const PluginResourceEvent&)>;
using ServiceProxyEventHandler = std::function<void(const PluginServiceProxyResponse&)>;
// One host event's handler; the alternative decides how its payload is read.
using EventHandler = std::variant<ResourceEventHandler, ServiceProxyEventHandler>;

}  // namespace Zorv::Client
