// The replay file (.trec) layout and the reader of its metadata block.
//
// A replay file starts with the four bytes "ZORV"; at byte 268 two unsigned
// 32-bit little-endian words give the absolute offset and the length of a
// JSON metadata block, which may lie anywhere in the file. Nothing else of the
// file is read: the header bytes between the magic and position 268 and the
// recorded game data are opaque here.
//
//   std::array<char, kTrecReadBufferSize> buffer{};
//   std::string text = ReadMetadataText("/replays/42.trec", buffer);
//   if (text.empty()) { ... }  // no metadata (or an empty block); already logged
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace Zorv::Client::Replays {

inline constexpr char kTrecMagic[4] = {'Z', 'O', 'R', 'V'};
inline constexpr uint32_t kTrecMetadataOffsetPosition = 268;
inline constexpr uint32_t kTrecMetadataLengthPosition = 272;
inline constexpr uint32_t kTrecHeaderSize = 276;
// Longer blocks are refused unread: one malformed file costs at most this much memory.
inline constexpr uint32_t kTrecMaxMetadataLength = 1048576;
// The read buffer a folder scan hands to every ReadMetadataText call.
inline constexpr size_t kTrecReadBufferSize = 32768;

// Returns the metadata block of the replay file at `path` (UTF-8), exactly
// as many bytes as its header says, or the empty string on failure. Every
// failure is logged once at WARN (DBG) with the path and nothing is thrown,
// allocation failures included.
//
// `readBuffer` is the file's read buffer for the duration of the call; it must
// not be shared with a concurrent call (an empty span reads through a small
// buffer of the reader's own). Only the regular file that `path` names is read: opening
// never waits, so a FIFO or a device named like a replay is refused as a
// file that cannot be opened. The file is closed before the call returns.
std::string ReadMetadataText(const std::string& path, std::span<char> readBuffer);

// ReadMetadataText for callers that must tell a file whose metadata cannot be
// read (no value, after the WARN line) from one whose block is empty ("").
std::optional<std::string> ReadMetadataBlock(const std::string& path, std::span<char> readBuffer);

}  // namespace Zorv::Client::Replays
