#include "framework/telemetry/plugin_log_target.h"

#include <cstdint>

namespace Zorv::Client {

PluginLogTarget::PluginLogTarget(const HostFunctions* functions) : functions_(functions) {}

PluginLogTarget::~PluginLogTarget() {
  leaveLogger();
}

bool PluginLogTarget::write(const LogRecord& record) {
  if (functions_ && functions_->Log) {
    functions_->Log(functions_, static_cast<int32_t>(record.level),
                    record.message ? record.message : "");
  }
  return true;
}

}  // namespace Zorv::Client
