// Resource URLs and the host events that carry them.
//
//   EventNameForUrl("/pex-replays/v1/metadata/123")  // "OnJsonApiEvent_pex-replays_v1_metadata"
//   UrlMatchesPattern("/pex-replays/v1/metadata/*", "/pex-replays/v1/metadata/123")  // true
//
// Every resource below the same three path pieces shares one host event (five
// pieces below "pex-platform-config", whose keys are told apart deeper).
#pragma once

#include <string>
#include <string_view>

namespace Zorv::Client {

// "OnJsonApiEvent" followed by "_" and the kept non-empty pieces of `url`
// joined by "_"; a URL with fewer pieces gives a shorter name.
std::string EventNameForUrl(std::string_view url);

// A '*' in `pattern` stands for the characters of `uri` up to the next '/';
// at the end of the pattern it needs at least one (an empty last piece does
// not match). Every other character stands for itself.
bool UrlMatchesPattern(std::string_view pattern, std::string_view uri);

// Whether `url` is a pattern: it holds a '*'.
inline bool IsUrlPattern(std::string_view url) {
  return url.find('*') != std::string_view::npos;
}

// `uri` with a '/' put in front when it does not start with one.
std::string WithLeadingSlash(std::string_view uri);

}  // namespace Zorv::Client
