// Game versions as texts of four decimal numbers joined by '.', such as
// 10.3.311.3581.
//
//   ParseGameVersion("10.3.311.3581 (build)")  // {10, 3, 311, 3581}: the rest is ignored
//   ParseGameVersion("10.3.311")               // no value, after a WARN line naming the text
//
// Each number may follow blanks and a '+'; the four are joined by '.' alone.
// A negative number or one past 4294967295 is refused instead of wrapping.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace Zorv::Client::Replays {

using GameVersionNumbers = std::array<uint32_t, 4>;

std::optional<GameVersionNumbers> ParseGameVersion(const std::string& text);

}  // namespace Zorv::Client::Replays
