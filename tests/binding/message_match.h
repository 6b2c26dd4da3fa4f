// Matching failure messages against their templates in tests: "%1", "%2", ...
// stand for any text, everything else must be there as written.
#pragma once

#include <cctype>
#include <cstddef>
#include <string_view>

namespace Zorv {

inline bool MatchesTemplate(std::string_view text, std::string_view pattern) {
  // Glob matching with one backtracking point: the last placeholder seen.
  size_t t = 0, p = 0;
  size_t resumePattern = std::string_view::npos, resumeText = 0;
  auto isPlaceholder = [&](size_t at) {
    return at + 1 < pattern.size() && pattern[at] == '%' &&
           std::isdigit(static_cast<unsigned char>(pattern[at + 1]));
  };
  while (t < text.size()) {
    if (p < pattern.size() && isPlaceholder(p)) {
      p += 2;
      resumePattern = p;
      resumeText = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (resumePattern != std::string_view::npos) {
      p = resumePattern;
      t = ++resumeText;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && isPlaceholder(p)) p += 2;
  return p == pattern.size();
}

}  // namespace Zorv
