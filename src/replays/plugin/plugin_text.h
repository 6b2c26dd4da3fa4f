// PluginText: the text form of a value (replays_text.h, operator<<) for the
// plug-in's log lines, built in a string that this library allocates.
//
//   Log(LogLevel::Okay, kLogDBG | kLogXTR, "... %s", PluginText(metadata).c_str());
//
// Why not ToText: std::ostringstream grows its string inside the C++ runtime
// library, with the runtime's operator new, and the string is then freed here
// with this library's own operator delete. With plain malloc underneath that
// is harmless; under AddressSanitizer it is an allocation mismatch that stops
// the process. Writing through a stream buffer of this library keeps every
// allocation of the text on one side.
#pragma once

#include <string>

#include "replays/api/lcds_types.h"
#include "replays/api/replays_types.h"

namespace Zorv::Client::Replays {

template <typename T>
std::string PluginText(const T& value);

extern template std::string PluginText(const Api::ReplayMetadata&);
extern template std::string PluginText(const LCDS::ReplayResponseStatus&);

}  // namespace Zorv::Client::Replays
