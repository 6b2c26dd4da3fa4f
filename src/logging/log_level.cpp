#include "logging/log_level.h"

namespace Zorv {

const char* LogLevelName(LogLevel level) {
  switch (level) {
    case LogLevel::Okay:
      return "  OKAY";
    case LogLevel::Warn:
      return "  WARN";
    case LogLevel::Error:
      return " ERROR";
    case LogLevel::Always:
      return "ALWAYS";
  }
  return "   ???";
}

}  // namespace Zorv
