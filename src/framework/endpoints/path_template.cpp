// GCC 12 reports std::function members inside <regex> as maybe-uninitialized
// at -O2; the warning is about the library's code, not this file's.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "framework/endpoints/path_template.h"

#include <cstring>
#include <regex>

namespace Zorv::Client {

namespace {

// The standard library's regex matcher recurses once per character of the
// subject, so an unbounded path could exhaust the stack. No real path comes
// near this; a longer one matches no template.
constexpr size_t kMaxMatchedPathLength = 8192;

constexpr const char* kEscapedCharacters = "^$.*+?()[]|\\";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 16;
}

}  // namespace

struct PathMatcher::Expression {
  std::regex regex;
};

CompiledTemplate CompileTemplate(std::string_view pathTemplate) {
  CompiledTemplate out;
  int state = 0;
  std::string name;
  for (const char c : pathTemplate) {
    // A '{' always starts a parameter, so an unclosed one is dropped; a '}'
    // outside a parameter is an ordinary character.
    if (c == '{') {
      state = 1;
      name.clear();
      continue;
    }
    if (state == 0) {
      if (c != '\0' && std::strchr(kEscapedCharacters, c) != nullptr) out.expression += '\\';
      out.expression += c;
      continue;
    }
    if (c == '}') {
      static constexpr const char* kGroups[] = {"([^/]*)", "(.*)", "#(.*)"};
      out.expression += kGroups[state - 1];
      out.parameters.push_back({static_cast<TemplateParameterKind>(state), std::move(name)});
      name.clear();
      state = 0;
    } else if (state == 1 && name.empty() && (c == '+' || c == '#')) {
      state = c == '+' ? 2 : 3;
    } else {
      name += c;
    }
  }
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
  CompiledTemplate compiled = CompileTemplate(template_);
  literal_ = false;
  parameters_ = std::move(compiled.parameters);
  expression_ = std::make_shared<const Expression>(
      Expression{std::regex(compiled.expression, std::regex::ECMAScript | std::regex::optimize)});
}

bool PathMatcher::Match(std::string_view path, std::vector<std::string>& captures,
                        size_t* capturedLength) const {
  captures.clear();
  if (capturedLength != nullptr) *capturedLength = 0;
  if (literal_) return path == template_;
  if (path.size() > kMaxMatchedPathLength) return false;
  std::match_results<std::string_view::const_iterator> groups;
  if (!std::regex_match(path.begin(), path.end(), groups, expression_->regex)) return false;
  size_t length = 0;
  for (size_t i = 1; i < groups.size(); ++i) {
    const auto& group = groups[i];
    const size_t offset = static_cast<size_t>(group.first - path.begin());
    const size_t size = group.matched ? static_cast<size_t>(group.length()) : 0;
    length += size;
    captures.push_back(UrlDecode(path.substr(offset, size)));
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
      best = RouteMatch{i, captures};
      bestLength = length;
    }
  }
  return best;
}

}  // namespace Zorv::Client
