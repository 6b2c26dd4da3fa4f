// Registration and the three C callbacks the host drives a module with.
//
// Register answers the host's PluginRegistration: it checks the host's plug-in
// API version (an incompatible host ends the process), names the module,
// registers the framework's and the module's API and writes the seven words.
// The callbacks (InitializeCallback, ShutdownCallback, GetMemoryStatsCallback)
// take the module as their context pointer; no exception leaves any of them.
#pragma once

#include <cstdint>
#include <exception>

#include "zorv/plugin_abi.h"

namespace Zorv::Client {

class AppModule;

// Called once by the entry function; module may be null when it could not be
// allocated, which leaves words 3 to 6 at 0 for the host to see.
void Register(AppModule* module, PluginRegistration* registration, const char* shortName);

// Logs why a module could not be built.
void LogModuleCreationFailure(const char* shortName, const char* what);

// The entry function's work: builds a Module and registers it. A module whose
// allocation or constructor fails is registered as missing, so the host reads
// null callbacks instead of whatever it left in the record.
template <typename Module>
void CreateAndRegister(PluginRegistration* registration, const char* shortName) {
  AppModule* module = nullptr;
  try {
    module = new Module;
  } catch (const std::exception& error) {
    LogModuleCreationFailure(shortName, error.what());
  } catch (...) {
    LogModuleCreationFailure(shortName, "unknown exception");
  }
  Register(module, registration, shortName);
}

// Installs the host connection and calls Start; answers Start's result.
uint8_t InitializeModule(AppModule* module, const HostApi* hostApi);
// Sets finalizing, unregisters everything and destroys the module.
void ShutdownModule(AppModule* module);
// The six allocation counters as low and high words, then two zero words.
void FillMemoryStats(uint32_t out[ZORV_MEMORY_STATS_WORDS]);

uint8_t InitializeCallback(void* module, const HostApi* hostApi);
void ShutdownCallback(void* module);
void GetMemoryStatsCallback(void* module, uint32_t out[ZORV_MEMORY_STATS_WORDS]);

}  // namespace Zorv::Client
