#include "logging/format_template.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "logging/format_placeholder.h"

namespace Zorv {

void PrintTo(const TemplateField& field, std::ostream* os) {
  *os << field.name << "=";
  std::visit([os](const auto& v) { *os << v; }, field.value);
}

namespace {

TemplateField Str(const char* name, const char* value) {
  return {name, std::string(value)};
}
TemplateField Int(const char* name, int64_t value) {
  return {name, value};
}
TemplateField UInt(const char* name, uint64_t value) {
  return {name, value};
}
TemplateField Float(const char* name, double value) {
  return {name, value};
}
TemplateField Bool(const char* name, bool value) {
  return {name, value};
}

struct Case {
  const char* name;
  const char* text;
  std::vector<TemplateArg> args;
  std::string format;
  std::string message;
  std::vector<TemplateField> fields;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"payload and type",
       "Failed to deserialize response payload \"{payload}\" to a {type}",
       {"{\"a\":1}", "ReplayMetadata"},
       "Failed to deserialize response payload \"%1\" to a %2",
       "Failed to deserialize response payload \"{\"a\":1}\" to a ReplayMetadata",
       {Str("payload_str", "{\"a\":1}"), Str("type_str", "ReplayMetadata")}},
      {"error response",
       "Error response for {method} {url}: {error}",
       {"GET", "/v1/x", "timed out"},
       "Error response for %1 %2: %3",
       "Error response for GET /v1/x: timed out",
       {Str("method_str", "GET"), Str("url_str", "/v1/x"), Str("error_str", "timed out")}},
      // Field names.
      {"kind suffixes",
       "{b} {i} {u} {d} {s}",
       {true, -3, 7u, 0.5, "x"},
       "%1 %2 %3 %4 %5",
       "1 -3 7 0.5 x",
       {Bool("b_bool", true), Int("i_int", -3), UInt("u_int", 7), Float("d_float", 0.5),
        Str("s_str", "x")}},
      {"known suffixes kept",
       "{errorCode_int}{at_time}{from_ip}{size_long}{ok_bool}{r_float}{t_str}",
       {404, 1u, "10.0.0.1", int64_t{5}, 1, 2, 3},
       "%1%2%3%4%5%6%7",
       "404110.0.0.15123",
       {Int("errorCode_int", 404), UInt("at_time", 1), Str("from_ip", "10.0.0.1"),
        Int("size_long", 5), Int("ok_bool", 1), Int("r_float", 2), Int("t_str", 3)}},
      {"suffix must end the name", "{x_int_count}", {1}, "%1", "1", {Int("x_int_count_int", 1)}},
      {"unnamed placeholder takes an argument",
       "{}-{:3d}-{n}",
       {1, 2, 3},
       "%1-%2$3d-%3",
       "1-  2-3",
       {Int("n_int", 3)}},
      // Braces and escapes.
      {"doubled braces",
       "{{literal}} {v} }}",
       {1},
       "{literal} %1 }",
       "{literal} 1 }",
       {Int("v_int", 1)}},
      {"lone closing brace", "a}b", {}, "a}b", "a}b", {}},
      {"escapes inside a placeholder",
       R"({a\:b\}c\\?\?\}})",
       {0},
       "?}",
       "?}",
       {Int("a:b}c\\_int", 0)}},
      {"backslash outside is text",
       R"(C:\dir {n})",
       {1},
       R"(C:\dir %1)",
       R"(C:\dir 1)",
       {Int("n_int", 1)}},
      {"unterminated placeholder is text", "50%% of {x", {}, "50%% of {x", "50% of {x", {}},
      {"unterminated escape is text", "a{x\\", {1}, "a{x\\", "a{x\\", {}},
      // Conversions.
      {"str of each kind",
       "{b!str} {i!str} {u!str} {d!str} {s!str}",
       {false, -12, UINT64_MAX, 2.5, "t"},
       "%1 %2 %3 %4 %5",
       "false -12 18446744073709551615 2.500000 t",
       {Str("b_str", "false"), Str("i_str", "-12"), Str("u_str", "18446744073709551615"),
        Str("d_str", "2.500000"), Str("s_str", "t")}},
      {"hex of integers",
       "{id!hex} {neg!hex} {flag!hex}",
       {255u, -1, true},
       "%1$016llX %2$016llX %3",
       "00000000000000FF FFFFFFFFFFFFFFFF 1",
       {Str("id_str", "00000000000000FF"), Str("neg_str", "FFFFFFFFFFFFFFFF"),
        Bool("flag_bool", true)}},
      {"unknown conversion word ignored", "{n!oct}", {8}, "%1", "8", {Int("n_int", 8)}},
      // Printf directives.
      {"spec",
       "{n:5d}|{s:-4s}|{d:.2f}",
       {42, "ab", 3.14159},
       "%1$5d|%2$-4s|%3$.2f",
       "   42|ab  |3.14",
       {Int("n_int", 42), Str("s_str", "ab"), Float("d_float", 3.14159)}},
      {"spec completed with the default",
       "{n:5}|{s:-3}|",
       {42, "a"},
       "%1$5d|%2$-3s|",
       "   42|a  |",
       {Int("n_int", 42), Str("s_str", "a")}},
      {"spec with trailing text ignored", "{n:5d x}", {42}, "%1", "42", {Int("n_int", 42)}},
      {"spec with a star ignored", "{n:*d}", {42}, "%1", "42", {Int("n_int", 42)}},
      {"spec conversion not for the kind",
       "{s:5d}",
       {"ab"},
       "%1$5d",
       "   ab",
       {Str("s_str", "ab")}},
      {"hex replaces the directive",
       "{n!hex:5d}",
       {1},
       "%1$016llX",
       "0000000000000001",
       {Str("n_str", "0000000000000001")}},
      // Alternative texts.
      {"alternative for empty values",
       "{b?no}/{i?zero}/{d?none}/{s?-}",
       {false, 0, 0.0, ""},
       "no/zero/none/-",
       "no/zero/none/-",
       {Bool("b_bool", false), Int("i_int", 0), Float("d_float", 0.0), Str("s_str", "")}},
      {"alternative unused for other values",
       "{b?no}/{i?zero}/{s?-}",
       {true, -1, "x"},
       "%1/%2/%3",
       "1/-1/x",
       {Bool("b_bool", true), Int("i_int", -1), Str("s_str", "x")}},
      {"alternative with a percent sign", "{n?100%}", {0u}, "100%%", "100%", {UInt("n_int", 0)}},
      {"alternative after str", "{n!str?none}", {0}, "%1", "0", {Str("n_str", "0")}},
      {"empty alternative", "[{n?}]", {0}, "[]", "[]", {Int("n_int", 0)}},
      // Numbering and dropping.
      {"placeholders beyond the count dropped",
       "{a} {b} {c}",
       {1},
       "%1  ",
       "1  ",
       {Int("a_int", 1)}},
      {"printf placeholders take part in the numbering",
       "%d items in {where} (%.1f%%)",
       {3, "box", 99.5},
       "%1$d items in %2 (%3$.1f%%)",
       "3 items in box (99.5%)",
       {Str("where_str", "box")}},
      {"star numbered", "%*d|{x}", {4, 2, "y"}, "%2$*1$d|%3", "   2|y", {Str("x_str", "y")}},
      {"printf placeholder conversion fitted to the kind",
       "%d %3 |",
       {"a", "b"},
       "%1$s %2$3s|",
       "a   b|",
       {}},
      {"explicit printf number takes no argument",
       "%2$s %s {a}",
       {"x", "y", "z"},
       "%2$s %1$s %2",
       "y x y",
       {Str("a_str", "y")}},
      {"printf placeholder beyond the count dropped", "a%db%dc", {1}, "a%1$dbc", "a1bc", {}},
      {"unreadable printf placeholder is text", "100%", {}, "100%%", "100%", {}},
      {"n prints nothing", "a%nb", {1}, "a%1$nb", "ab", {}},
      // References followed by digits or '$' stay references.
      {"digit after a reference",
       "{a}5 {b}$ {c}0",
       {"x", 7, 1.5},
       "%1$s5 %2$d$ %3$g0",
       "x5 7$ 1.50",
       {Str("a_str", "x"), Int("b_int", 7), Float("c_float", 1.5)}},
      {"digit from an alternative",
       "{a}{b?9}",
       {1, 0},
       "%1$d9",
       "19",
       {Int("a_int", 1), Int("b_int", 0)}},
      {"digit after doubled braces", "{a}{{", {1}, "%1{", "1{", {Int("a_int", 1)}},
      // Flags.
      {"hash flag has no effect", "{#a}", {"x"}, "%1", "x", {Str("a_str", "x")}},
      {"at trims blanks before", "Size: \t{@n?}.", {0}, "Size:.", "Size:.", {Int("n_int", 0)}},
      {"at trims before a reference", "a  {n@}", {1}, "a%1", "a1", {Int("n_int", 1)}},
      {"at trims even when dropped", "a  {n@}", {}, "a", "a", {}},
      {"at then digit after a reference",
       "{a} {@b?5}",
       {1, 0},
       "%1$d5",
       "15",
       {Int("a_int", 1), Int("b_int", 0)}},
  };
  return cases;
}

TEST(FormatTemplate, Cases) {
  for (const Case& c : Cases()) {
    const TemplateFormat f = FormatTemplate(c.text, c.args.data(), c.args.size());
    EXPECT_EQ(f.format, c.format) << c.name;
    EXPECT_EQ(f.fields, c.fields) << c.name;
    const TemplateMessage m = FormatTemplateMessage(c.text, c.args.data(), c.args.size());
    EXPECT_EQ(m.text, c.message) << c.name;
    EXPECT_EQ(m.fields, c.fields) << c.name;
  }
}

TEST(FormatTemplate, FieldsOwnTheirStrings) {
  std::string value = "before";
  const TemplateArg args[] = {value, static_cast<const char*>(nullptr)};
  TemplateMessage m = FormatTemplateMessage("{v}{n}", args);
  value.assign("after, and long enough to move the buffer");
  EXPECT_EQ(m.text, "before");
  EXPECT_EQ(m.fields, (std::vector<TemplateField>{Str("v_str", "before"), Str("n_str", "")}));
  EXPECT_EQ(m.fields[0].kind(), TemplateArgKind::String);
}

TEST(FormatTemplate, ConvenienceTakesAnArgumentList) {
  const TemplateMessage m =
      FormatTemplateMessage("Request not sent: {code} {error}", {400, std::string("bad")});
  EXPECT_EQ(m.text, "Request not sent: 400 bad");
  EXPECT_EQ(m.fields, (std::vector<TemplateField>{Int("code_int", 400), Str("error_str", "bad")}));
}

TEST(FormatTemplate, MessageIsCutLikeEveryMessage) {
  const std::string big(5000, 'x');
  EXPECT_EQ(FormatTemplateMessage("{big}", {big}).text, std::string(4095, 'x'));
}

// Every placeholder of a template's format names its arguments, and every
// one it names exists: FormatString never meets one it cannot read.
void ExpectOnlyReferences(const std::string& format, size_t count) {
  for (const char* p = format.c_str(); (p = std::strchr(p, '%')) != nullptr;) {
    if (p[1] == '%') {
      p += 2;
      continue;
    }
    Placeholder ph;
    ASSERT_EQ(ReadPlaceholder(p + 1, count, &ph), PlaceholderRead::Ok) << format;
    EXPECT_TRUE(ph.argNumber >= 1 && ph.argNumber <= count) << format;
    for (const PlaceholderNumber* n : {&ph.width, &ph.precision}) {
      if (n->form == PlaceholderNumber::Form::Star) {
        EXPECT_TRUE(n->argNumber >= 1 && n->argNumber <= count) << format;
      }
    }
    p += 1 + ph.size;
  }
}

TEST(FormatTemplate, RandomTemplatesGiveOnlyReferences) {
  static const char kAlphabet[] = "{{{}}}%%%$*.5-0#@?!:\\abs tr hx dfn123";
  std::mt19937 random(7);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const std::vector<TemplateArg> pool = {true,  0,  -9,     UINT64_MAX,
                                         1e300, "", "text", static_cast<const char*>(nullptr)};
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (size_t n = pick(40); n > 0; --n) text += kAlphabet[pick(sizeof(kAlphabet) - 1)];
    if (pick(4) == 0) text += "{x!str}{y!hex}";
    std::vector<TemplateArg> args;
    for (size_t n = pick(5); n > 0; --n) args.push_back(pool[pick(pool.size())]);
    ExpectOnlyReferences(FormatTemplate(text.c_str(), args.data(), args.size()).format,
                         args.size());
    const TemplateMessage m = FormatTemplateMessage(text.c_str(), args.data(), args.size());
    EXPECT_EQ(std::strlen(m.text.c_str()), m.text.size()) << text;
  }
}

}  // namespace
}  // namespace Zorv
