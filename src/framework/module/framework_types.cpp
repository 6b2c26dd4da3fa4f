#include "framework/module/framework_types.h"

#include "binding/type_registration.h"
#include "framework/module/api_registry.h"
#include "logging/log_category.h"

namespace Zorv::Client {

const uint64_t kLogLOC = RegisterLogCategory("LOC");

namespace {

constexpr const char* kNameSpace = "zclient";

void AddEvent(ApiRegistry& registry, const char* name, const char* payloadTypeName,
              const char* description) {
  registry.addEvent(EventDescription{name, payloadTypeName, description, kNameSpace, {}});
}

}  // namespace

void RegisterFrameworkTypes(ApiRegistry& registry) {
  TypeRegistry& types = registry.types();
  types.Enum<PluginManagerState>("PluginManagerState")
      .value("NotReady", PluginManagerState::NotReady)
      .value("PluginsInitialized", PluginManagerState::PluginsInitialized)
      .nameSpace(kNameSpace)
      .finish();
  types.Struct<PluginManagerResource>("PluginManagerResource")
      .field("state", &PluginManagerResource::state)
      .nameSpace(kNameSpace)
      .finish();
  types.Enum<PluginResourceEventType>("PluginResourceEventType")
      .value("Create", PluginResourceEventType::Create)
      .value("Update", PluginResourceEventType::Update)
      .value("Delete", PluginResourceEventType::Delete)
      .nameSpace(kNameSpace)
      .finish();
  types.Struct<PluginResourceEvent>("PluginResourceEvent")
      .field("uri", &PluginResourceEvent::uri)
      .field("eventType", &PluginResourceEvent::eventType)
      .field("data", &PluginResourceEvent::data)
      .nameSpace(kNameSpace)
      .finish();
  types.Struct<PluginLcdsEvent>("PluginLcdsEvent")
      .field("clientId", &PluginLcdsEvent::clientId)
      .field("subtopic", &PluginLcdsEvent::subtopic)
      .field("typeName", &PluginLcdsEvent::typeName)
      .field("body", &PluginLcdsEvent::body)
      .nameSpace(kNameSpace)
      .finish();
  types.Struct<PluginLcdsResponse>("PluginLcdsResponse")
      .field("typeName", &PluginLcdsResponse::typeName)
      .field("body", &PluginLcdsResponse::body)
      .nameSpace(kNameSpace)
      .finish();
  types.Struct<PluginServiceProxyResponse>("PluginServiceProxyResponse")
      .field("uuid", &PluginServiceProxyResponse::uuid)
      .field("serviceName", &PluginServiceProxyResponse::serviceName)
      .field("methodName", &PluginServiceProxyResponse::methodName)
      .field("payload", &PluginServiceProxyResponse::payload)
      .field("status", &PluginServiceProxyResponse::status)
      .field("error", &PluginServiceProxyResponse::error)
      .nameSpace(kNameSpace)
      .finish();

  AddEvent(registry, "OnJsonApiEvent", "PluginResourceEvent", "Fired when a resource is changed.");
  AddEvent(registry, "OnLcdsEvent", "PluginLcdsEvent",
           "Fired when a message is received over the LCDS connection.");
  AddEvent(registry, "OnServiceProxyUuidEvent", "PluginServiceProxyResponse",
           "Fired when a uuid-based service proxy message is received.");
  AddEvent(registry, "OnServiceProxyMethodEvent", "PluginServiceProxyResponse",
           "Fired when a method-based service proxy message is received.");
  AddEvent(registry, "OnServiceProxyAsyncEvent", "PluginServiceProxyResponse",
           "Fired when an async service proxy message is received.");
}

}  // namespace Zorv::Client
