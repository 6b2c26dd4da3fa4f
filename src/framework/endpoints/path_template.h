// Path templates of API functions ("/pex-replays/v1/metadata/{gameId}") and the
// matchers built from them, shared by the module's dispatcher and the host's router.
//
//   PathMatcher matcher("/a/{id}/b/");        // stored template "/a/{id}/b"
//   std::vector<std::string> captures;
//   matcher.Match("/a/x%41/b", captures);      // true; captures == {"xA"} (URL-decoded)
//
// Parameters: {name} matches one segment, {+name} anything (slashes too),
// {#name} a '#' followed by anything. A template without '{' is a literal
// compared as a whole string. Any other template matches exactly the paths
// that its CompileTemplate expression matches as a whole, with the captures
// of a leftmost, greedy regular-expression match: each parameter takes the
// longest text that still lets the rest of the template match ("/a/{+x}/{+y}"
// on "/a/1/2/3" gives "1/2" and "3"). As in that expression, {+name} and
// {#name} never take a '\n' or '\r'.
//
// Promises: the template is compiled once, when the matcher is built; a match
// takes time and heap memory proportional to the path's length times the
// number of parameters (plus the template's length), uses a fixed amount of
// stack whatever the path, never throws except on allocation failure, and
// reads nothing past the given view. There is no limit on the path's length.
// This header depends on the standard library only, so the host can route
// with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Zorv::Client {

enum class TemplateParameterKind : uint8_t { Simple = 1, Reserved = 2, Fragment = 3 };

struct TemplateParameter {
  TemplateParameterKind kind = TemplateParameterKind::Simple;
  std::string name;

  bool operator==(const TemplateParameter&) const = default;
};

struct CompiledTemplate {
  std::string expression;  // regular-expression text, matched against the whole path
  std::vector<TemplateParameter> parameters;  // in order of appearance
};

CompiledTemplate CompileTemplate(std::string_view pathTemplate);

// The template as a function keeps it: one trailing '/' dropped when the
// template is longer than one character.
std::string NormalizeTemplate(std::string_view pathTemplate);

// '+' becomes a blank; '%' with two more characters becomes the byte
// (16 * first + second) & 0xFF, a non-hex character counting as 16; a '%' with
// fewer than two characters after it is dropped.
std::string UrlDecode(std::string_view text);

// The path of a URL: the text before the first '?'.
std::string_view UrlPath(std::string_view url);

class PathMatcher {
 public:
  explicit PathMatcher(std::string_view pathTemplate);

  const std::string& pathTemplate() const { return template_; }
  bool isLiteral() const { return literal_; }
  const std::vector<TemplateParameter>& parameters() const { return parameters_; }

  // True when the whole path matches; `captures` then holds one URL-decoded
  // value per parameter, in order. `capturedLength` receives the number of
  // characters the parameters captured before decoding.
  bool Match(std::string_view path, std::vector<std::string>& captures,
             size_t* capturedLength = nullptr) const;

 private:
  // One parameter of a compiled template and the literal text that follows it
  // up to the next parameter (a fragment's '#' belongs to the text before it).
  struct Group {
    bool stopsAtSlash = false;    // a {name}: no '/' inside the capture
    std::string after;            // literal text after the capture
    std::vector<uint32_t> table;  // KMP failure table of `after`
  };

  std::string template_;
  bool literal_ = true;
  std::vector<TemplateParameter> parameters_;
  std::string head_;  // literal text before the first parameter
  std::vector<Group> groups_;
};

// One way to reach a function: a matcher with the method it answers.
struct Route {
  uint32_t method = 0;       // HostMethod; 0 answers every method
  std::string customMethod;  // compared for method 8
  uint32_t getOnly = 0;      // not 0: considered for GET and HEAD calls only
  PathMatcher matcher;
};

struct RouteMatch {
  size_t index = 0;  // into the routes given to SelectRoute
  std::vector<std::string> captures;
};

// The route that answers a call: the first candidate in order, replaced by a
// later one only when that one captures fewer characters in total (the more
// specific template wins). `customMethod` is read only for method 8.
std::optional<RouteMatch> SelectRoute(std::span<const Route* const> routes, uint32_t method,
                                      std::string_view customMethod, std::string_view path);

}  // namespace Zorv::Client
