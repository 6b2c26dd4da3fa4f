#include "replays/plugin/game_version_text.h"

#include <cctype>
#include <limits>

#include "logging/log.h"

namespace Zorv::Client::Replays {

namespace {

// One unsigned number at `position`, after optional blanks and a '+'; moves
// `position` past it.
std::optional<uint32_t> ReadNumber(const std::string& text, size_t& position) {
  while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) {
    ++position;
  }
  if (position < text.size() && text[position] == '+') ++position;
  const size_t first = position;
  uint64_t value = 0;
  while (position < text.size() && std::isdigit(static_cast<unsigned char>(text[position]))) {
    value = value * 10 + static_cast<uint64_t>(text[position] - '0');
    if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    ++position;
  }
  if (position == first) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<GameVersionNumbers> ReadVersion(const std::string& text) {
  GameVersionNumbers numbers{};
  size_t position = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      if (position >= text.size() || text[position] != '.') return std::nullopt;
      ++position;
    }
    const std::optional<uint32_t> number = ReadNumber(text, position);
    if (!number) return std::nullopt;
    numbers[i] = *number;
  }
  return numbers;
}

}  // namespace

std::optional<GameVersionNumbers> ParseGameVersion(const std::string& text) {
  std::optional<GameVersionNumbers> numbers = ReadVersion(text);
  if (!numbers) {
    Log(LogLevel::Warn, kLogDBG, "Plugin could not parse full game version '%s'", text.c_str());
  }
  return numbers;
}

}  // namespace Zorv::Client::Replays
