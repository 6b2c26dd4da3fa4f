// FormatTemplate: messages written with named placeholders, turned into a
// positional format for FormatString plus the named, typed fields that travel
// with the message (failure details, telemetry).
//
//   const TemplateArg args[] = {"GET", "/v1/x", "timed out"};
//   TemplateMessage m = FormatTemplateMessage("Error response for {method} {url}: {error}", args);
//   // m.text   == "Error response for GET /v1/x: timed out"
//   // m.fields == {method_str "GET", url_str "/v1/x", error_str "timed out"}
//
// Template text:
// - "{{" and "}}" are literal braces; a lone '}' is copied.
// - "{name!conversion:spec?alternative}" is a placeholder; every part but the
//   name is optional and the parts may come in any order. A backslash inside
//   takes the next character literally. Placeholders take the arguments in
//   order, one each; a placeholder beyond the last argument is dropped.
//   - conversion "str" prints the argument as text: bool as "true"/"false",
//     integers in decimal, doubles as "%f". Conversion "hex" prints an integer
//     as sixteen upper-case hexadecimal digits (two's complement for negative
//     ones). Both make the field a string; other words are ignored.
//   - spec is a printf directive without '%' ("5d", "-8s", ".2f"); one
//     that stops before its conversion gets the kind's default conversion
//     ("5" prints like "5d" for an integer), and one that is not a single such
//     directive (trailing text, '*') is ignored.
//   - alternative is written instead of the value when the argument is
//     false, 0, 0.0 or the empty text.
//   - '#' right after '{' is accepted and has no effect.
//   - '@' anywhere inside trims the blanks (spaces and tabs) written right
//     before the placeholder, whether or not it prints: "Size: {@n?}" gives
//     "Size:" when n is 0.
// - printf placeholders ("%d", "%5.1f", "%*d") take arguments in the same
//   order ('*' takes one too; explicit "%N$" numbers take none); "%%" is a
//   percent sign. One that cannot be read stays literal text.
//
// Each named placeholder adds a field: the name, with the suffix of the
// argument's kind appended ("_bool"; "_int" for signed and unsigned; "_float";
// "_str") unless it already ends in one of "_bool", "_int", "_long", "_float",
// "_str", "_time", "_ip". Bools print as 1 and 0 without "str".
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

namespace Zorv {

enum class TemplateArgKind : uint8_t { Bool = 1, Int64 = 2, UInt64 = 3, Double = 4, String = 5 };

// One argument; a string argument is borrowed and must outlive the call (a
// null one is the empty text).
struct TemplateArg {
  TemplateArgKind kind;
  union {
    bool b;
    int64_t i64;
    uint64_t u64;
    double d;
    const char* s;
  };

  TemplateArg(bool v) : kind(TemplateArgKind::Bool), b(v) {}
  TemplateArg(int v) : kind(TemplateArgKind::Int64), i64(v) {}
  TemplateArg(long v) : kind(TemplateArgKind::Int64), i64(v) {}
  TemplateArg(long long v) : kind(TemplateArgKind::Int64), i64(v) {}
  TemplateArg(unsigned v) : kind(TemplateArgKind::UInt64), u64(v) {}
  TemplateArg(unsigned long v) : kind(TemplateArgKind::UInt64), u64(v) {}
  TemplateArg(unsigned long long v) : kind(TemplateArgKind::UInt64), u64(v) {}
  TemplateArg(double v) : kind(TemplateArgKind::Double), d(v) {}
  TemplateArg(const char* v) : kind(TemplateArgKind::String), s(v) {}
  TemplateArg(const std::string& v) : kind(TemplateArgKind::String), s(v.c_str()) {}
};

// An argument's value, owned; the alternative's index is its kind minus one.
using TemplateValue = std::variant<bool, int64_t, uint64_t, double, std::string>;

struct TemplateField {
  std::string name;  // with its kind suffix
  TemplateValue value;

  TemplateArgKind kind() const { return static_cast<TemplateArgKind>(value.index() + 1); }
  bool operator==(const TemplateField&) const = default;
};

struct TemplateFormat {
  std::string format;  // for FormatString with the same arguments
  std::vector<TemplateField> fields;
};

struct TemplateMessage {
  std::string text;  // at most 4095 characters, like every FormatString message
  std::vector<TemplateField> fields;
};

TemplateFormat FormatTemplate(const char* text, const TemplateArg* args, size_t count);

// Formats the message too, printing each argument as its placeholder
// converted it ("str", "hex").
TemplateMessage FormatTemplateMessage(const char* text, const TemplateArg* args, size_t count);
TemplateMessage FormatTemplateMessage(const char* text, std::initializer_list<TemplateArg> args);

template <size_t N>
TemplateMessage FormatTemplateMessage(const char* text, const TemplateArg (&args)[N]) {
  return FormatTemplateMessage(text, args, N);
}

}  // namespace Zorv
