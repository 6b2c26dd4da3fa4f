// AppModule::Observe and AppModule::PublishResource: following host resources
// as typed values and publishing the module's own resources.
// (Definitions of the templates; included by app_module.h.)
//
//   Observe<LoginData>("/pex-login/v1/login-data", [this](const ResourceEvent<LoginData>& e) {
//     OnLogin(e.data);
//   });
//   MaybeType<Failure, void> sent =
//       PublishResource("/pex-replays/v1/configuration", configuration,
//                       PluginResourceEventType::Update);
//
// Promises: an observer of an exact URL gets the resource's current value as a
// Create event before Observe returns (nothing when it cannot be read); events
// whose data does not convert to T are dropped; a Delete reaches the observer
// with a default T and its data is never read.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "binding/conversion.h"
#include "binding/static_type.h"
#include "framework/events/event_name.h"
#include "framework/events/resource_event.h"
#include "framework/events/trace.h"
#include "framework/hostapi/failure.h"
#include "framework/hostapi/host_call.h"
#include "framework/module/app_module.h"

namespace Zorv::Client {

template <typename T>
void AppModule::Observe(const std::string& url,
                        std::function<void(const ResourceEvent<T>&)> callback) {
  auto typed = std::make_shared<std::function<void(const ResourceEvent<T>&)>>(std::move(callback));
  ResourceEventHandler wrapper = [this, typed](const PluginResourceEvent& event) {
    ResourceEvent<T> converted{event.uri, event.eventType, T{}};
    if (event.eventType != PluginResourceEventType::Delete) {
      const BindingResult result = FromProperty(event.data, converted.data, "data", registry());
      if (!result.success) {
        Trace("Couldn't convert resource %s to C++ while handling update for URL: %s",
              StaticTypeName<T>(), event.uri.c_str());
        return;
      }
    }
    (*typed)(converted);
  };
  AddObserver(url, std::move(wrapper));
  Subscribe(url);
  if (IsUrlPattern(url)) return;
  MaybeType<Failure, T> current = Call<T>(HOST_METHOD_GET, url);
  if (!current) return;
  (*typed)(ResourceEvent<T>{url, PluginResourceEventType::Create, std::move(current).value()});
}

template <typename T>
MaybeType<Failure, void> AppModule::PublishResource(std::string_view url, const T& value,
                                                    PluginResourceEventType eventType) {
  BindingResult converted = ToProperty(value, registry());
  if (!converted.success) {
    Trace("%s: Couldn't convert resource %s for event uri \"%s\"", moduleName().c_str(),
          StaticTypeName<T>(), url);
    return MakeFailureText(0, std::string(converted.error()));
  }
  return PublishProperty(url, converted.value, eventType);
}

}  // namespace Zorv::Client
