#include "replays/store/download_file_name.h"

namespace Zorv::Client::Replays {

std::optional<std::string_view> ExtractDownloadFileName(std::string_view url) {
  const size_t pathEnd = url.find_first_of("?#");
  if (pathEnd != std::string_view::npos &&
      url.find_first_of("\n\r", pathEnd) != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view path = url.substr(0, pathEnd);
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || slash + 1 == path.size()) return std::nullopt;
  return path.substr(slash + 1);
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

std::optional<std::string_view> DownloadFileName(std::string_view url) {
  const std::optional<std::string_view> name = ExtractDownloadFileName(url);
  if (!name || !IsPlainFileName(*name)) return std::nullopt;
  return name;
}

}  // namespace Zorv::Client::Replays
