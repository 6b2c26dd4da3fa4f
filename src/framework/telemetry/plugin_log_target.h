// PluginLogTarget: the log target that hands the module's log events to the
// host's log function, so that the plug-in's lines end up in the host's log.
//
// The host receives each event's level and raw message and renders its own
// line: the target's line format is never applied. Writing never fails. The
// target leaves the logger before it is destroyed, so no event reaches the
// host through it afterwards.
#pragma once

#include "logging/log_target.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Client {

class PluginLogTarget : public LogTarget {
 public:
  // REQUIRES: functions stays valid while the target is attached.
  explicit PluginLogTarget(const HostFunctions* functions);
  ~PluginLogTarget() override;

  const char* className() const override { return "PluginLogTarget"; }
  bool write(const LogRecord& record) override;

 private:
  const HostFunctions* functions_;
};

}  // namespace Zorv::Client
