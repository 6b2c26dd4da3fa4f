// FormatString: the positional "%1"-style formatter behind every user-facing
// message of the framework.
//
//   FormatString("Value %1 for '%2' of type %3 is out of range", int64_t{128}, "f", "int8")
//     == "Value 128 for 'f' of type int8 is out of range"
//
// Arguments carry a kind; "%N" prints argument N with its kind's default
// conversion, "%N$spec" with a printf directive, and plain printf
// placeholders take the arguments in sequence ('*' widths and precisions
// too, or "*M$" for argument M). A leading number above the argument count
// is a width, so "%10d" with fewer arguments prints the next one ten wide.
// Output is cut to the buffer and always zero-terminated; a placeholder that
// cannot be read (over 60 characters, cut by the end of the format, or naming
// a missing argument) ends the output.
//
// The format is text, never trusted: each argument is printed only the way
// its kind allows. A conversion the kind does not take becomes the kind's
// default (string s; signed d; unsigned u; double g; char c), "%n" prints
// nothing, the length modifier is the kind's own ("ll" for 64-bit kinds;
// "h" and "hh" narrow integers as printf does; any other is ignored), flags
// and precisions meaningless for a conversion are dropped, a zero character
// prints as nothing, and widths and precisions beyond the buffer are cut to
// what the buffer can show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Zorv {

enum class FormatArgKind : uint8_t { String, Int32, UInt32, Int64, UInt64, Double, Char };

struct FormatArg {
  FormatArgKind kind;
  union {
    const char* s;  // zero-terminated; null prints as the empty text
    int32_t i32;
    uint32_t u32;
    int64_t i64;
    uint64_t u64;
    double d;
    char c;
  };

  FormatArg(const char* v) : kind(FormatArgKind::String), s(v ? v : "") {}
  FormatArg(const std::string& v) : kind(FormatArgKind::String), s(v.c_str()) {}
  FormatArg(int32_t v) : kind(FormatArgKind::Int32), i32(v) {}
  FormatArg(uint32_t v) : kind(FormatArgKind::UInt32), u32(v) {}
  FormatArg(long v) : kind(FormatArgKind::Int64), i64(v) {}
  FormatArg(unsigned long v) : kind(FormatArgKind::UInt64), u64(v) {}
  FormatArg(long long v) : kind(FormatArgKind::Int64), i64(v) {}
  FormatArg(unsigned long long v) : kind(FormatArgKind::UInt64), u64(v) {}
  FormatArg(double v) : kind(FormatArgKind::Double), d(v) {}
  FormatArg(char v) : kind(FormatArgKind::Char), c(v) {}
};

// Formats into out (outSize bytes, outSize > 0) and returns the length written,
// excluding the terminating zero (at most outSize - 1).
size_t FormatString(char* out, size_t outSize, const char* format, const FormatArg* args,
                    size_t argCount);

// The thin wrappers: format into a 4096-byte buffer and return the text.
// Arguments must outlive the call (a std::string_view is not accepted: copy it
// into a std::string first, the formatter reads zero-terminated texts).
std::string FormatString(const char* format);
std::string FormatString(const char* format, FormatArg a1);
std::string FormatString(const char* format, FormatArg a1, FormatArg a2);
std::string FormatString(const char* format, FormatArg a1, FormatArg a2, FormatArg a3);

}  // namespace Zorv
