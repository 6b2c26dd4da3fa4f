#include "framework/endpoints/path_template.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace Zorv::Client {
namespace {

using Kind = TemplateParameterKind;

TEST(CompileTemplateTest, BuildsTheExpressionAndTheParametersInOrder) {
  const CompiledTemplate compiled = CompileTemplate("/a.b/{x}/{+rest}{#frag}/(c)");
  EXPECT_EQ(compiled.expression, "/a\\.b/([^/]*)/(.*)#(.*)/\\(c\\)");
  const std::vector<TemplateParameter> expected = {
      {Kind::Simple, "x"}, {Kind::Reserved, "rest"}, {Kind::Fragment, "frag"}};
  EXPECT_EQ(compiled.parameters, expected);
  // A '}' outside a parameter is an ordinary character.
  EXPECT_EQ(CompileTemplate("/a}/{x}").expression, "/a}/([^/]*)");
}

TEST(CompileTemplateTest, PlusOrHashOnlyChangeTheKindWhenTheyComeFirst) {
  const CompiledTemplate compiled = CompileTemplate("{a+b}{#c#}");
  const std::vector<TemplateParameter> expected = {{Kind::Simple, "a+b"}, {Kind::Fragment, "c#"}};
  EXPECT_EQ(compiled.parameters, expected);
}

TEST(CompileTemplateTest, ABraceInsideAParameterStartsItAgain) {
  const CompiledTemplate compiled = CompileTemplate("/{+a{b}/c");
  EXPECT_EQ(compiled.expression, "/([^/]*)/c");
  EXPECT_EQ(compiled.parameters, (std::vector<TemplateParameter>{{Kind::Simple, "b"}}));
}

struct MatchCase {
  const char* pathTemplate;
  const char* path;
  bool matches;
  std::vector<std::string> captures;
};

TEST(PathMatcherTest, MatchesWholePathsAndDecodesCaptures) {
  const MatchCase cases[] = {
      {"/a/{x}/b", "/a/1/b", true, {"1"}},
      {"/a/{x}/b", "/a/1/2/b", false, {}},
      {"/a/{x}/b", "/a/1/b/c", false, {}},
      {"/a/{x}/b", "x/a/1/b", false, {}},
      {"/a/{x}/b", "/a//b", true, {""}},
      {"/a/{+x}", "/a/1/2", true, {"1/2"}},
      {"/a/{#x}", "/a/#top", true, {"top"}},
      {"/a/{#x}", "/a/top", false, {}},
      {"/v1.0/{x}", "/v1.0/y", true, {"y"}},
      {"/v1.0/{x}", "/v1x0/y", false, {}},
      {"/a}/{x}", "/a}/y", true, {"y"}},
      {"/a/{x}/", "/a/1", true, {"1"}},
      {"/a/{x}/", "/a/1/", false, {}},
      {"/a/{x}", "/a/%41+b%4", true, {"A b4"}},
      {"/literal.path/", "/literal.path", true, {}},
      {"/literal.path", "/literalxpath", false, {}},
      {"/", "/", true, {}},
      {"/", "", false, {}},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(std::string(c.pathTemplate) + " with " + c.path);
    PathMatcher matcher(c.pathTemplate);
    std::vector<std::string> captures;
    EXPECT_EQ(matcher.Match(c.path, captures), c.matches);
    if (c.matches) {
      EXPECT_EQ(captures, c.captures);
    }
  }
}

TEST(PathMatcherTest, KeepsTheTemplateLessOneTrailingSlash) {
  EXPECT_EQ(PathMatcher("/a/b/").pathTemplate(), "/a/b");
  EXPECT_EQ(PathMatcher("/a/b//").pathTemplate(), "/a/b/");
  EXPECT_EQ(PathMatcher("/").pathTemplate(), "/");
  EXPECT_TRUE(PathMatcher("/a/b").isLiteral());
  EXPECT_FALSE(PathMatcher("/a/{b}").isLiteral());
}

// Captures as the leftmost greedy match of the template's expression gives
// them: each parameter takes the longest text that lets the rest match.
TEST(PathMatcherTest, AmbiguousTemplatesCaptureLikeTheirExpression) {
  const MatchCase cases[] = {
      {"/a/{+x}/{+y}", "/a/1/2/3", true, {"1/2", "3"}},
      {"/a/{x}{y}", "/a/12", true, {"12", ""}},
      {"/a/{+x}{+y}", "/a/1/2", true, {"1/2", ""}},
      {"/a/{+x}.{y}", "/a/b.c.d", true, {"b.c", "d"}},
      {"/a/{x}.{+y}", "/a/b.c/d.e", true, {"b", "c/d.e"}},
      {"/a/{+x}/{y}/{+z}", "/a/1/2/3/4", true, {"1/2", "3", "4"}},
      {"/a/{+x}/{y}/{+z}", "/a/1//", true, {"1", "", ""}},
      {"/a/{+x}/b", "/a/1/b/b", true, {"1/b"}},
      {"/a/{x}b{y}b", "/a/bbbbb", true, {"bbb", ""}},
      {"/a/{+x}ab", "/a/abab", true, {"ab"}},
      {"/f/{#frag}", "/f/#a#b", true, {"a#b"}},
      {"/f/{+p}{#frag}", "/f/x#a#b", true, {"x#a", "b"}},
      // An unclosed '{' is dropped: the template is "/a" but not a literal.
      {"/a{b", "/a", true, {}},
      // A segment may hold line ends; '.' in the expression may not.
      {"/a/{x}", "/a/1\n", true, {"1\n"}},
      {"/a/{+x}", "/a/1\n", false, {}},
      {"/a/{+x}", "/a/1\r", false, {}},
      {"/a/{#x}", "/a/#1\n", false, {}},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(std::string(c.pathTemplate) + " with " + c.path);
    std::vector<std::string> captures;
    size_t length = 0;
    ASSERT_EQ(PathMatcher(c.pathTemplate).Match(c.path, captures, &length), c.matches);
    EXPECT_EQ(captures, c.captures);
    size_t captured = 0;
    for (const std::string& capture : captures) captured += capture.size();
    EXPECT_EQ(length, captured);
  }
}

TEST(PathMatcherTest, LongPathsMatchWithoutALengthLimitOrBacktracking) {
  // Several reserved parameters before a literal that never comes would take
  // time growing as a power of the length in a backtracking matcher.
  PathMatcher matcher("/t/{+a}/{+b}/{+c}/x");
  std::string segments;
  size_t last = 0;
  for (; segments.size() < (size_t{1} << 20); ++last) {
    segments += "s" + std::to_string(last) + "/";
  }
  --last;
  std::vector<std::string> captures;
  EXPECT_FALSE(matcher.Match("/t/" + segments + "y", captures));
  EXPECT_TRUE(captures.empty());

  ASSERT_TRUE(matcher.Match("/t/" + segments + "x", captures));
  // The first parameter takes all it can, leaving one segment to each other.
  const std::vector<std::string> expected = {
      segments.substr(0, segments.rfind("/s" + std::to_string(last - 1) + "/")),
      "s" + std::to_string(last - 1), "s" + std::to_string(last)};
  EXPECT_EQ(captures, expected);
}

TEST(UrlDecodeTest, DecodesPlusAndPercentEscapes) {
  const std::pair<const char*, std::string> cases[] = {
      {"%41%62", "Ab"},
      {"a+b", "a b"},
      {"%2f%2F", "//"},
      {"100%", "100"},
      {"%4", "4"},
      {"x%4", "x4"},
      {"%zz", std::string(1, static_cast<char>((16 * 16 + 16) & 0xFF))},
      {"%g1", std::string(1, static_cast<char>(16 * 16 + 1))},
      {"%00", std::string(1, '\0')},
      {"plain", "plain"},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(UrlDecode(input), expected) << input;
  }
}

class SelectRouteTest : public ::testing::Test {
 protected:
  const Route& Add(uint32_t method, const char* pathTemplate, const char* custom = "",
                   uint32_t getOnly = 0) {
    owned.push_back(
        std::make_unique<Route>(Route{method, custom, getOnly, PathMatcher(pathTemplate)}));
    routes.push_back(owned.back().get());
    return *owned.back();
  }
  std::optional<RouteMatch> Select(uint32_t method, const char* path, const char* custom = "") {
    return SelectRoute(routes, method, custom, path);
  }

  std::vector<std::unique_ptr<Route>> owned;
  std::vector<const Route*> routes;
};

TEST_F(SelectRouteTest, PrefersTheCandidateThatCapturesFewerCharacters) {
  Add(2, "/files/{+path}");
  Add(2, "/files/{name}/raw");
  Add(2, "/files/{a}/{b}");
  Add(2, "/files/{other}/raw");
  // Captured: 10, 6, 9 and 6 characters; of the two shortest the first stays.
  const auto match = Select(2, "/files/report/raw");
  ASSERT_TRUE(match);
  EXPECT_EQ(match->index, 1u);
  EXPECT_EQ(match->captures, std::vector<std::string>{"report"});
  const auto other = Select(2, "/files/ab/c");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->index, 2u);
  EXPECT_EQ(other->captures, (std::vector<std::string>{"ab", "c"}));
}

TEST_F(SelectRouteTest, FiltersByMethodCustomMethodAndGetOnlyMark) {
  Add(6, "/x");
  Add(8, "/y", "PURGE");
  Add(0, "/z", "", 1);
  Add(0, "/any");
  EXPECT_FALSE(Select(2, "/x"));
  EXPECT_TRUE(Select(6, "/x"));
  EXPECT_TRUE(Select(8, "/y", "PURGE"));
  EXPECT_FALSE(Select(8, "/y", "purge"));
  EXPECT_TRUE(Select(2, "/z"));
  EXPECT_TRUE(Select(3, "/z"));
  EXPECT_FALSE(Select(6, "/z"));
  EXPECT_TRUE(Select(1, "/any"));
  EXPECT_FALSE(Select(2, "/nothing"));
}

}  // namespace
}  // namespace Zorv::Client
