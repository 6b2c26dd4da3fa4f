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

TEST(PathMatcherTest, AnOverlongPathMatchesNothingInsteadOfExhaustingTheStack) {
  PathMatcher matcher("/a/{+rest}");
  std::vector<std::string> captures;
  EXPECT_TRUE(matcher.Match("/a/" + std::string(8000, 'x'), captures));
  EXPECT_FALSE(matcher.Match("/a/" + std::string(1000000, 'x'), captures));
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
