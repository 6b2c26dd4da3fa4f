// JoinPath: joins path parts into a caller's fixed-size buffer, the way every
// replay-folder path of the plug-in is built.
//
//   std::array<char, kMaxPathChars> buffer{};
//   if (JoinPath(buffer, {documents, "Vellmoor", "Replays"})) use(buffer.data());
//
// Rules, part by part: an empty part is skipped; a part starting with "/" or
// "\", or whose second character is ":", is absolute and restarts the path; a
// "/" goes between parts unless the path already ends in a separator or fewer
// than two characters of room are left; every "\" of a part is written as
// "/". The join fails (false) when a part is not shorter than the room left, so
// the result with its terminating NUL always fits. After a failure the
// buffer's content means nothing.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace Zorv::Platform {

// The path bound of the plug-in's joins, terminating NUL included.
inline constexpr size_t kMaxPathChars = 260;

bool JoinPath(std::span<char> buffer, std::initializer_list<std::string_view> parts);

// The join into a buffer of `bufferSize` characters, or no value when it does not fit.
std::optional<std::string> JoinPath(std::initializer_list<std::string_view> parts,
                                    size_t bufferSize = kMaxPathChars);

}  // namespace Zorv::Platform
