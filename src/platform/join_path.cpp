#include "platform/join_path.h"

#include <algorithm>
#include <vector>

namespace Zorv::Platform {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsAbsolute(std::string_view part) {
  return IsSeparator(part[0]) || (part.size() > 1 && part[1] == ':');
}

}  // namespace

bool JoinPath(std::span<char> buffer, std::initializer_list<std::string_view> parts) {
  if (buffer.empty()) return false;
  size_t used = 0;
  for (std::string_view part : parts) {
    if (part.empty()) continue;
    if (IsAbsolute(part)) used = 0;
    if (used > 0 && !IsSeparator(buffer[used - 1]) && buffer.size() - used >= 2) {
      buffer[used++] = '/';
    }
    if (part.size() >= buffer.size() - used) return false;
    std::replace_copy(part.begin(), part.end(), buffer.begin() + static_cast<ptrdiff_t>(used), '\\',
                      '/');
    used += part.size();
  }
  buffer[used] = '\0';
  return true;
}

std::optional<std::string> JoinPath(std::initializer_list<std::string_view> parts,
                                    size_t bufferSize) {
  std::vector<char> buffer(bufferSize, '\0');
  if (!JoinPath(std::span<char>(buffer), parts)) return std::nullopt;
  return std::string(buffer.data());
}

}  // namespace Zorv::Platform
