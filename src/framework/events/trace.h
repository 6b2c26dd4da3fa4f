// Trace: the framework's trace points. They name what the framework is doing
// at places where a diagnostic build could report it; this build reports
// nothing, so a trace point takes its format and arguments and does no work
// with them (nothing is formatted, copied or allocated).
//
//   Trace("%s: Sending event: %s", moduleName().c_str(), name.c_str());
#pragma once

namespace Zorv::Client {

template <typename... Args>
inline void Trace(const char* /*format*/, const Args&... /*arguments*/) {}

}  // namespace Zorv::Client
