// Whether a replay recorded with one game version can be played with the
// installed game and the server's minimum version of a configuration.
//
//   configuration.gameVersion = "10.5.9.9";
//   IsCompatible(configuration, "10.5.1.2")  // true: both are 10.5
//   configuration.minServerVersion = "10.5.1.3";
//   IsCompatible(configuration, "10.5.1.2")  // false: below the minimum
//
// An empty installed version or minimum skips its test. A version that does
// not parse as four numbers passes the minimum test (after a WARN line); a
// minimum that does not parse leaves the replay's version unparsed.
#pragma once

#include <string>
#include <string_view>

#include "replays/api/replays_types.h"

namespace Zorv::Client::Replays {

// The text up to, not including, its second '.'; the search for the first
// '.' starts at index 1. A text with fewer than two '.' is taken whole.
std::string_view MajorMinorPrefix(std::string_view version);

bool IsCompatible(const Api::ReplaysConfiguration& configuration, const std::string& replayVersion);

}  // namespace Zorv::Client::Replays
