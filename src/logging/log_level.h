// Severity of a log event. Higher is more severe; levels are compared as signed
// 32-bit numbers, so any value that crosses the C boundary orders sensibly.
#pragma once

#include <cstdint>

namespace Zorv {

enum class LogLevel : int32_t { Okay = 0, Warn = 1, Error = 2, Always = 3 };

// The six-character display name of a level ("  OKAY", "  WARN", " ERROR",
// "ALWAYS"); a value outside the four levels gets "   ???". The text is static.
const char* LogLevelName(LogLevel level);

}  // namespace Zorv
