#include "framework/events/event_name.h"

#include <cstddef>

namespace Zorv::Client {

namespace {

constexpr std::string_view kEventPrefix = "OnJsonApiEvent";
constexpr std::string_view kPlatformConfig = "pex-platform-config";
constexpr size_t kPiecesKept = 3;
constexpr size_t kPlatformConfigPiecesKept = 5;

}  // namespace

std::string EventNameForUrl(std::string_view url) {
  std::string name(kEventPrefix);
  name += '_';
  size_t kept = 0;
  size_t limit = kPiecesKept;
  size_t start = 0;
  while (start <= url.size() && kept < limit) {
    size_t end = url.find('/', start);
    if (end == std::string_view::npos) end = url.size();
    const std::string_view piece = url.substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    if (kept == 0 && piece == kPlatformConfig) limit = kPlatformConfigPiecesKept;
    if (kept > 0) name += '_';
    name += piece;
    ++kept;
  }
  return name;
}

bool UrlMatchesPattern(std::string_view pattern, std::string_view uri) {
  size_t p = 0;
  size_t u = 0;
  while (p < pattern.size() && u < uri.size()) {
    if (pattern[p] == '*') {
      if (uri[u] == '/') {
        ++p;
      } else if (++u == uri.size()) {
        ++p;
      }
    } else if (pattern[p] == uri[u]) {
      ++p;
      ++u;
    } else {
      return false;
    }
  }
  return p == pattern.size() && u == uri.size();
}

std::string WithLeadingSlash(std::string_view uri) {
  if (!uri.empty() && uri.front() == '/') return std::string(uri);
  std::string out;
  out.reserve(uri.size() + 1);
  out += '/';
  out += uri;
  return out;
}

}  // namespace Zorv::Client
