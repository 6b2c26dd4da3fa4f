#include "framework/module/registration.h"

#include <exception>
#include <string>

#include "framework/module/api_registry.h"
#include "framework/module/app_module.h"
#include "framework/module/framework_types.h"
#include "framework/telemetry/plugin_log_target.h"
#include "framework/telemetry/telemetry_sender.h"
#include "logging/allocator.h"
#include "logging/diagnostics.h"
#include "logging/format_string.h"
#include "logging/log.h"
#include "logging/logger.h"

namespace Zorv::Client {

namespace {

constexpr const char* kPluginLogTargetName = "PluginLogTarget";
constexpr const char* kPluginLineFormat = "#D| #L| #G| #M";

void LogFailure(const char* operation, const char* what) {
  Log(LogLevel::Error, kLogDBG, "%s failed: %s", operation, what);
}

void WriteVersion(PluginRegistration* registration, const PluginVersion& version) {
  registration->major = version.major;
  registration->minor = version.minor;
  registration->patch = version.patch;
}

// The answer of a registration without a module: the version, and nothing for
// the host to call.
void WriteRefusal(PluginRegistration* registration, const PluginVersion& version) {
  WriteVersion(registration, version);
  registration->callbacks = nullptr;
  registration->module = nullptr;
  registration->shortName = nullptr;
  registration->apiDescription = nullptr;
}

// A module that failed to register never reaches the host, which therefore
// never shuts it down: it is destroyed here, and the host sees no callbacks.
void Discard(AppModule* module, PluginRegistration* registration, const PluginVersion& version) {
  delete module;
  WriteRefusal(registration, version);
}

// Ends the process: a host that speaks another plug-in API would misread
// every record the module hands out. Nothing may keep it from the stop.
[[noreturn]] void RefuseHost(const char* shortName, const PluginVersion& module,
                             const PluginVersion& host) {
  try {
    const std::string message =
        FormatString("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
                     shortName, module.ToString(), host.ToString());
    Log(LogLevel::Error, kLogDBG, "%s", message.c_str());
  } catch (...) {
  }
  FatalAssertion("ALE-EECF0606", nullptr, __FILE__, __LINE__, __func__);
}

// The first module of the process routes the logger to the host; later
// modules find the target installed and leave the logger as it is.
void InstallLogTarget(const HostFunctions* functions, std::unique_ptr<PluginLogTarget>& slot) {
  std::lock_guard lock(Logger::Lock());
  Logger* logger = Logger::Get();
  if (logger == nullptr || logger->findTarget(kPluginLogTargetName) != nullptr) {
    return;
  }
  logger->stdErrTarget().detach();
  logger->stdOutTarget().detach();
  logger->debuggerTarget().detach();
  logger->setLevel(LogLevel::Okay);
  logger->setSuppressedCategories(kLogXTR);
  slot = std::make_unique<PluginLogTarget>(functions);
  slot->Configure(LogTargetSettings{logger->level(), 0, 0, kPluginLineFormat});
}

}  // namespace

void Register(AppModule* module, PluginRegistration* registration, const char* shortName) {
  if (registration == nullptr) {
    Log(LogLevel::Error, kLogDBG, "Register called without a registration record");
    delete module;
    return;
  }
  const PluginVersion moduleVersion = ModulePluginVersion();
  const PluginVersion hostVersion{
      registration->major, registration->minor, registration->patch, {}, {}};
  const char* name = shortName != nullptr ? shortName : "";
  if (!IsCompatible(moduleVersion, hostVersion)) {
    RefuseHost(name, moduleVersion, hostVersion);
  }
  if (module == nullptr) {
    Log(LogLevel::Error, kLogDBG, "%s could not be created; the host receives no callbacks for it",
        name);
    WriteRefusal(registration, moduleVersion);
    return;
  }
  try {
    module->hostVersion_ = hostVersion;
    module->identity_ = GetFullNameFromShortNameAndType(name, BackendPluginType());
    module->tags_ = {"Plugins", std::string("Plugin ") + name};
    module->typePrefix_ = MakeIdentifier("", name);
    RegisterFrameworkTypes(*module->apiRegistry_);
    module->RegisterApi();
    module->apiDescription_ = module->apiRegistry_->BuildApiDescription();
  } catch (const std::exception& error) {
    LogFailure("Register", error.what());
    Discard(module, registration, moduleVersion);
    return;
  } catch (...) {
    LogFailure("Register", "unknown exception");
    Discard(module, registration, moduleVersion);
    return;
  }
  WriteVersion(registration, moduleVersion);
  registration->callbacks = &module->callbacks_;
  registration->module = static_cast<void*>(module->self_);
  registration->shortName = module->identity_.shortName.c_str();
  registration->apiDescription = &module->apiDescription_;
}

void LogModuleCreationFailure(const char* shortName, const char* what) {
  Log(LogLevel::Error, kLogDBG, "%s could not be created: %s", shortName ? shortName : "", what);
}

uint8_t InitializeModule(AppModule* module, const HostApi* hostApi) {
  if (module == nullptr || hostApi == nullptr || hostApi->functions == nullptr) {
    Log(LogLevel::Error, kLogDBG, "Initialize called without a module or a host function table");
    return 0;
  }
  module->hostApi_ = hostApi;
  InstallLogTarget(hostApi->functions, module->logTarget_);
  module->hostHandle_ = hostApi->hostHandle;
  module->userAgent_ = FormatString("ZorvClient/%1 (%2)", module->hostVersion_.ToString(),
                                    module->identity_.shortName);
  module->moduleName_ = module->identity_.shortName;
  module->telemetrySender_ = std::make_unique<TelemetrySender>(module);
  module->RegisterServiceProxyHandlers();
  return module->Start() ? 1 : 0;
}

void ShutdownModule(AppModule* module) {
  if (module == nullptr) {
    return;
  }
  module->finalizing_ = true;
  module->UnregisterAll();
  delete module;
}

void FillMemoryStats(uint32_t out[ZORV_MEMORY_STATS_WORDS]) {
  const MemoryCounters counters = GetMemoryCounters();
  const uint64_t values[] = {counters.peakLiveBytes,  counters.liveAllocationsAtPeak,
                             counters.bytesAllocated, counters.allocations,
                             counters.bytesFreed,     counters.frees};
  size_t word = 0;
  for (uint64_t value : values) {
    out[word++] = static_cast<uint32_t>(value);
    out[word++] = static_cast<uint32_t>(value >> 32);
  }
  while (word < ZORV_MEMORY_STATS_WORDS) {
    out[word++] = 0;
  }
}

uint8_t InitializeCallback(void* module, const HostApi* hostApi) {
  try {
    return InitializeModule(static_cast<AppModule*>(module), hostApi);
  } catch (const std::exception& error) {
    LogFailure("Initialize", error.what());
  } catch (...) {
    LogFailure("Initialize", "unknown exception");
  }
  return 0;
}

void ShutdownCallback(void* module) {
  try {
    ShutdownModule(static_cast<AppModule*>(module));
  } catch (const std::exception& error) {
    LogFailure("Shutdown", error.what());
  } catch (...) {
    LogFailure("Shutdown", "unknown exception");
  }
}

void GetMemoryStatsCallback(void*, uint32_t out[ZORV_MEMORY_STATS_WORDS]) {
  if (out == nullptr) {
    return;
  }
  try {
    FillMemoryStats(out);
  } catch (...) {
    LogFailure("GetMemoryStats", "unknown exception");
  }
}

}  // namespace Zorv::Client
