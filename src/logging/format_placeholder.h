// Reading one printf-style placeholder: the grammar that FormatString prints
// and FormatTemplate rewrites into argument references.
//
//   %[N$][flags][width][.precision][length]conversion      or     %N
//
// N is an argument number (1..argCount); width and precision are digits or
// '*' with an optional "M$" naming the argument that holds them. A leading
// number above argCount is no argument number: it is read again as a width,
// so "%10d" stays an ordinary placeholder when there are fewer than ten
// arguments. The conversion is any single character; which ones are printed
// is the caller's business (ResolveConversion).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "logging/format_string.h"

namespace Zorv {

// The longest placeholder read, from its '%' to its conversion character.
inline constexpr size_t kMaxPlaceholderLength = 60;

// A width or a precision.
struct PlaceholderNumber {
  enum class Form : uint8_t { None, Digits, Star };
  Form form = Form::None;
  uint32_t value = 0;    // Digits: the number, saturated at one billion
  size_t argNumber = 0;  // Star: 1-based argument named by "M$", 0 for the next in sequence
};

struct Placeholder {
  size_t argNumber = 0;  // 1-based; 0 when the value is the next argument in sequence
  bool bare = false;     // "%N" without '$': printed with the kind's defaults
  std::string_view flags;
  PlaceholderNumber width;
  PlaceholderNumber precision;  // "." alone reads as precision 0
  std::string_view length;
  char conversion = 0;
  size_t size = 0;  // characters read after the '%'
};

enum class PlaceholderRead : uint8_t {
  Ok,
  TooLong,  // more than kMaxPlaceholderLength characters
  Cut,      // the text ends before the conversion character
};

// Reads the placeholder whose '%' is right before text (zero-terminated).
// Reads nothing past the terminating zero.
PlaceholderRead ReadPlaceholder(const char* text, size_t argCount, Placeholder* out);

bool HasStar(const Placeholder& placeholder);

// The conversion an argument of this kind prints with when asked for
// conversion: conversion itself if the kind allows it, else its default.
char ResolveConversion(FormatArgKind kind, char conversion);
char DefaultConversion(FormatArgKind kind);

}  // namespace Zorv
