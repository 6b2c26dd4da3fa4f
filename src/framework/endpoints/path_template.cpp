#include "framework/endpoints/path_template.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace Zorv::Client {

namespace {

constexpr const char* kEscapedCharacters = "^$.*+?()[]|\\";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 16;
}

// Walks a template: `literal(c)` for each character outside a parameter,
// `parameter(kind, name)` at each closing '}'. A '{' always starts a
// parameter, so an unclosed one is dropped; a '}' outside a parameter is an
// ordinary character; a '+' or '#' first in a parameter sets its kind.
template <typename OnLiteral, typename OnParameter>
void WalkTemplate(std::string_view pathTemplate, OnLiteral literal, OnParameter parameter) {
  int state = 0;
  std::string name;
  for (const char c : pathTemplate) {
    if (c == '{') {
      state = 1;
      name.clear();
    } else if (state == 0) {
      literal(c);
    } else if (c == '}') {
      parameter(static_cast<TemplateParameterKind>(state), std::move(name));
      name.clear();
      state = 0;
    } else if (state == 1 && name.empty() && (c == '+' || c == '#')) {
      state = c == '+' ? 2 : 3;
    } else {
      name += c;
    }
  }
}

// The failure table of Knuth-Morris-Pratt for `pattern`: entry i is the length
// of the longest proper border of pattern[0..i].
std::vector<uint32_t> FailureTable(std::string_view pattern) {
  std::vector<uint32_t> table(pattern.size(), 0);
  uint32_t border = 0;
  for (size_t i = 1; i < pattern.size(); ++i) {
    while (border > 0 && pattern[i] != pattern[border]) border = table[border - 1];
    if (pattern[i] == pattern[border]) ++border;
    table[i] = border;
  }
  return table;
}

// at[p] is set for every p in [0, text.size()] where `pattern` occurs in `text`
// (every p for an empty pattern). Linear in the text's length.
void MarkOccurrences(std::string_view text, std::string_view pattern,
                     const std::vector<uint32_t>& table, std::vector<bool>& at) {
  at.assign(text.size() + 1, pattern.empty());
  if (pattern.empty()) return;
  size_t matched = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    while (matched > 0 && text[i] != pattern[matched]) matched = table[matched - 1];
    if (text[i] == pattern[matched]) ++matched;
    if (matched == pattern.size()) {
      at[i + 1 - matched] = true;
      matched = table[matched - 1];
    }
  }
}

// A character that a capture cannot hold: '/' for a segment; for the others
// the line terminators that the expression's '.' does not match.
bool Stops(bool stopsAtSlash, char c) {
  return stopsAtSlash ? c == '/' : c == '\n' || c == '\r';
}

}  // namespace

CompiledTemplate CompileTemplate(std::string_view pathTemplate) {
  CompiledTemplate out;
  WalkTemplate(
      pathTemplate,
      [&](char c) {
        if (c != '\0' && std::strchr(kEscapedCharacters, c) != nullptr) out.expression += '\\';
        out.expression += c;
      },
      [&](TemplateParameterKind kind, std::string name) {
        static constexpr const char* kGroups[] = {"([^/]*)", "(.*)", "#(.*)"};
        out.expression += kGroups[static_cast<int>(kind) - 1];
        out.parameters.push_back({kind, std::move(name)});
      });
  return out;
}

std::string NormalizeTemplate(std::string_view pathTemplate) {
  if (pathTemplate.size() > 1 && pathTemplate.back() == '/') pathTemplate.remove_suffix(1);
  return std::string(pathTemplate);
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (text.size() - i > 2) {
        out += static_cast<char>((16 * HexValue(text[i + 1]) + HexValue(text[i + 2])) & 0xFF);
        i += 2;
      }
    } else {
      out += c;
    }
  }
  return out;
}

std::string_view UrlPath(std::string_view url) {
  return url.substr(0, url.find('?'));
}

PathMatcher::PathMatcher(std::string_view pathTemplate)
    : template_(NormalizeTemplate(pathTemplate)) {
  if (template_.find('{') == std::string::npos) return;
  literal_ = false;
  WalkTemplate(
      template_, [this](char c) { (groups_.empty() ? head_ : groups_.back().after) += c; },
      [this](TemplateParameterKind kind, std::string name) {
        if (kind == TemplateParameterKind::Fragment) {
          (groups_.empty() ? head_ : groups_.back().after) += '#';
        }
        groups_.push_back(Group{kind == TemplateParameterKind::Simple, {}, {}});
        parameters_.push_back({kind, std::move(name)});
      });
  for (Group& group : groups_) group.table = FailureTable(group.after);
}

bool PathMatcher::Match(std::string_view path, std::vector<std::string>& captures,
                        size_t* capturedLength) const {
  captures.clear();
  if (capturedLength != nullptr) *capturedLength = 0;
  if (literal_) return path == template_;
  if (!path.starts_with(head_)) return false;
  const size_t n = path.size();
  const size_t k = groups_.size();
  if (k == 0) return n == head_.size();
  if (k == 1 && groups_[0].after.empty()) {
    // One parameter that ends the template ("/items/{id}"), the common case:
    // it takes the rest of the path, unless a character there stops it.
    const std::string_view rest = path.substr(head_.size());
    for (const char c : rest) {
      if (Stops(groups_[0].stopsAtSlash, c)) return false;
    }
    captures.push_back(UrlDecode(rest));
    if (capturedLength != nullptr) *capturedLength = rest.size();
    return true;
  }

  // Right to left: ends[i][e] is set when capture i may end at e, that is the
  // text after it occurs at e and the rest of the template can match from
  // there; `starts` holds the positions from which parameter i onwards can
  // match (the path's end for "after the last parameter").
  std::vector<std::vector<bool>> ends(k);
  std::vector<bool> starts(n + 1, false);
  starts[n] = true;
  std::vector<bool> occurs;
  for (size_t i = k; i-- > 0;) {
    const Group& group = groups_[i];
    const size_t literal = group.after.size();
    MarkOccurrences(path, group.after, group.table, occurs);
    std::vector<bool>& end = ends[i];
    end.assign(n + 1, false);
    for (size_t e = 0; e + literal <= n; ++e) end[e] = occurs[e] && starts[e + literal];
    // A capture may start at s when the first possible end at or after s
    // comes no later than the first character the capture cannot hold.
    constexpr size_t kNone = SIZE_MAX;
    size_t nextEnd = kNone;
    size_t nextStop = kNone;
    for (size_t s = n + 1; s-- > 0;) {
      if (end[s]) nextEnd = s;
      if (s < n && Stops(group.stopsAtSlash, path[s])) nextStop = s;
      starts[s] = nextEnd != kNone && nextEnd <= nextStop;
    }
  }
  if (!starts[head_.size()]) return false;

  // Left to right, each parameter takes the longest capture that lets the
  // rest match, as the leftmost greedy match of the expression does.
  size_t position = head_.size();
  size_t length = 0;
  captures.reserve(k);
  for (size_t i = 0; i < k; ++i) {
    const Group& group = groups_[i];
    size_t stop = position;
    while (stop < n && !Stops(group.stopsAtSlash, path[stop])) ++stop;
    size_t end = stop;
    while (!ends[i][end]) --end;  // ends at or after `position` exist: starts[position]
    captures.push_back(UrlDecode(path.substr(position, end - position)));
    length += end - position;
    position = end + group.after.size();
  }
  if (capturedLength != nullptr) *capturedLength = length;
  return true;
}

std::optional<RouteMatch> SelectRoute(std::span<const Route* const> routes, uint32_t method,
                                      std::string_view customMethod, std::string_view path) {
  std::optional<RouteMatch> best;
  size_t bestLength = 0;
  std::vector<std::string> captures;
  for (size_t i = 0; i < routes.size(); ++i) {
    const Route& route = *routes[i];
    if (route.getOnly != 0 && method != 2 && method != 3) continue;
    if (route.method != 0) {
      if (route.method != method) continue;
      if (method == 8 && route.customMethod != customMethod) continue;
    }
    size_t length = 0;
    if (!route.matcher.Match(path, captures, &length)) continue;
    if (!best || length < bestLength) {
      best = RouteMatch{i, std::move(captures)};
      bestLength = length;
    }
  }
  return best;
}

}  // namespace Zorv::Client
