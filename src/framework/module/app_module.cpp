#include "framework/module/app_module.h"

#include "framework/module/api_registry.h"
#include "framework/module/registration.h"
#include "framework/telemetry/plugin_log_target.h"
#include "framework/telemetry/telemetry_sender.h"

namespace Zorv::Client {

void EventSource::Subscribe(const std::string&) {}

void EventSource::Unsubscribe(const std::string&) {}

AppModule::AppModule() : apiRegistry_(std::make_unique<ApiRegistry>()) {
  callbacks_.Initialize = &InitializeCallback;
  callbacks_.Shutdown = &ShutdownCallback;
  callbacks_.GetMemoryStats = &GetMemoryStatsCallback;
}

AppModule::~AppModule() = default;

// Timers and subscription counts outlive this call on purpose. Nothing
// pending is completed: the module is about to be destroyed.
void AppModule::UnregisterAll() {
  std::vector<std::string> names;
  names.reserve(eventHandlers_.size());
  for (const auto& entry : eventHandlers_) names.push_back(entry.first);
  for (const std::string& name : names) UnsubscribeEvent(name.c_str(), hostHandle_);
  eventHandlers_ = decltype(eventHandlers_)(8);
  {
    std::lock_guard lock(proxyMutex_);
    proxyTables_.Clear();
    asyncHandlers_.clear();
  }
  exactObservers_.clear();
  patternObservers_.clear();
}

TypeRegistry& AppModule::registry() {
  return apiRegistry_->types();
}

void AppModule::CallFunction(CallResult* result, const CallRecord* call) {
  hostApi_->functions->CallFunction(hostApi_->functions, result, call);
}

void AppModule::SendRequest(const HostRequestRecord* request, HostResponseRecord* response) {
  hostApi_->functions->SendRequest(hostApi_->functions, request, response);
}

void AppModule::SendEvent(const EventRecord* event) {
  hostApi_->functions->SendEvent(hostApi_->functions, event);
}

void AppModule::SubscribeEvent(const char* name, uint32_t hostHandle, HostEventCallback callback,
                               void* context, uint32_t flag) {
  hostApi_->functions->SubscribeEvent(hostApi_->functions, name, hostHandle, callback, context,
                                      flag);
}

void AppModule::UnsubscribeEvent(const char* name, uint32_t hostHandle) {
  hostApi_->functions->UnsubscribeEvent(hostApi_->functions, name, hostHandle);
}

void AppModule::ScheduleCallback(const char* name, HostTimerCallback callback, void* context,
                                 double delaySeconds, uint32_t zero) {
  hostApi_->functions->ScheduleCallback(hostApi_->functions, name, callback, context, delaySeconds,
                                        zero);
}

void AppModule::YieldToHost() {
  hostApi_->functions->YieldToHost(hostApi_->functions);
}

void AppModule::BeginWait(const std::string& description) {
  hostApi_->functions->BeginWait(hostApi_->functions, description.c_str(), 0);
}

void AppModule::EndWait() {
  hostApi_->functions->EndWait(hostApi_->functions);
}

}  // namespace Zorv::Client
