#include "logging/format_string.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "logging/format_placeholder.h"

namespace Zorv {
namespace {

// Widths and precisions handed to the C library stay below this, so that no
// format text can make it pad or compute digits without end.
constexpr int64_t kMaxPrintNumber = int64_t{1} << 30;
// Room for the digits of any double ("%f" of the largest one has 309 before
// the point) or integer, beyond the space that is left.
constexpr int64_t kValueRoom = 1100;

bool Contains(std::string_view set, char c) {
  return set.find(c) != std::string_view::npos;
}

bool IsSigned(char conversion) {
  return conversion == 'd' || conversion == 'i';
}

int ToInt(const FormatArg& arg) {
  auto clamp = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); };
  switch (arg.kind) {
    case FormatArgKind::String:
      return 0;
    case FormatArgKind::Int32:
      return arg.i32;
    case FormatArgKind::UInt32:
      return clamp(arg.u32);
    case FormatArgKind::Int64:
      return clamp(arg.i64);
    case FormatArgKind::UInt64:
      return static_cast<int>(std::min<uint64_t>(arg.u64, INT_MAX));
    case FormatArgKind::Double:
      if (std::isnan(arg.d)) return 0;
      return static_cast<int>(std::clamp(arg.d, double{INT_MIN}, double{INT_MAX}));
    case FormatArgKind::Char:
      return arg.c;
  }
  return 0;
}

// The bits of an integer-like argument as printf would see them after promotion.
int64_t IntegerBits(const FormatArg& arg) {
  switch (arg.kind) {
    case FormatArgKind::Int32:
      return arg.i32;
    case FormatArgKind::UInt32:
      return arg.u32;
    case FormatArgKind::Int64:
      return arg.i64;
    case FormatArgKind::UInt64:
      return static_cast<int64_t>(arg.u64);
    case FormatArgKind::Char:
      return arg.c;
    default:
      return 0;
  }
}

// Whether one more digit of precision makes the printed value one character
// longer: every numeric conversion but "g" without '#', which drops the
// trailing zeros that a precision beyond the exact digits would add.
bool GrowsWithPrecision(char conversion, std::string_view flags) {
  if (conversion == 'g' || conversion == 'G') return Contains(flags, '#');
  return true;
}

bool Is64Bit(FormatArgKind kind) {
  return kind == FormatArgKind::Int64 || kind == FormatArgKind::UInt64;
}

const char* Text(const FormatArg& arg) {
  return arg.s != nullptr ? arg.s : "";
}

template <typename T>
size_t Print(char* dst, size_t size, const char* spec, T value) {
  const int n = std::snprintf(dst, size, spec, value);
  if (n < 0) return 0;
  return std::min(static_cast<size_t>(n), size - 1);
}

// One placeholder's printf directive, rebuilt from what was read so that
// only well-defined combinations reach the C library.
class Spec {
 public:
  void Flags(std::string_view flags, char conversion, bool leftAlign) {
    for (char f : flags) {
      if (f == '#' && !Contains("oxXaAeEfFgG", conversion)) continue;
      if (f == '0' && (conversion == 's' || conversion == 'c')) continue;
      Put(f);
    }
    if (leftAlign) Put('-');
  }
  void Number(int64_t n) {
    auto [end, ec] = std::to_chars(buffer_ + size_, buffer_ + sizeof(buffer_) - 8, n);
    if (ec == std::errc()) size_ = static_cast<size_t>(end - buffer_);
  }
  void Put(char c) {
    if (size_ + 8 < sizeof(buffer_)) buffer_[size_++] = c;
  }
  void Put(std::string_view s) {
    for (char c : s) Put(c);
  }
  const char* Finish(char conversion) {
    buffer_[size_++] = conversion;
    buffer_[size_] = '\0';
    return buffer_;
  }

 private:
  char buffer_[128] = {'%'};
  size_t size_ = 1;
};

class Formatter {
 public:
  Formatter(const FormatArg* args, size_t argCount) : args_(args), argCount_(argCount) {}

  // Prints one placeholder into dst (size bytes, at least 1). False when an
  // argument it needs is missing, which ends the output.
  bool Print(const Placeholder& ph, char* dst, size_t size, size_t* written) {
    *written = 0;
    bool leftAlign = false;
    int64_t width = -1;
    int64_t precision = -1;
    if (!Number(ph.width, &width)) return false;
    if (width < 0 && ph.width.form == PlaceholderNumber::Form::Star) {
      leftAlign = true;  // a negative '*' width means left alignment
      width = -width;
    }
    if (!Number(ph.precision, &precision)) return false;
    const FormatArg* arg = Take(ph.argNumber);
    if (arg == nullptr) return false;
    if (ph.conversion == 'n' && !ph.bare) return true;

    const char conversion = ResolveConversion(arg->kind, ph.bare ? '\0' : ph.conversion);
    const int64_t room = std::min<int64_t>(
        static_cast<int64_t>(std::min<size_t>(size - 1, INT_MAX)), kMaxPrintNumber);
    Spec spec;
    spec.Flags(ph.flags, conversion, leftAlign);

    if (conversion == 's') {
      const char* text = Text(*arg);
      const size_t shown =
          precision >= 0 ? strnlen(text, static_cast<size_t>(precision)) : std::strlen(text);
      Width(spec, width, room + static_cast<int64_t>(std::min<size_t>(shown, kMaxPrintNumber)));
      if (precision >= 0) {
        spec.Put('.');
        spec.Number(std::min(precision, kMaxPrintNumber));
      }
      *written = Zorv::Print(dst, size, spec.Finish(conversion), text);
      return true;
    }
    if (conversion == 'c') {
      Width(spec, width, room + 1);
      const int c = static_cast<unsigned char>(IntegerBits(*arg));
      // A zero character would end the text early: it prints as nothing.
      *written = c != 0 ? Zorv::Print(dst, size, spec.Finish('c'), c)
                        : Zorv::Print(dst, size, spec.Finish('s'), "");
      return true;
    }
    if (precision > room + kValueRoom) {
      // Only zeros (or exact digits that end in zeros) lie beyond the cut
      // precision. Where the value's text grows with the precision, the width
      // shrinks by as much, so that the padding keeps its size and the cut
      // output is a prefix of the uncut one.
      const int64_t cut = precision - (room + kValueRoom);
      precision -= cut;
      if (GrowsWithPrecision(conversion, ph.flags)) width = std::max<int64_t>(width - cut, 0);
    }
    Width(spec, width, room + kValueRoom + std::max<int64_t>(precision, 0));
    if (precision >= 0) {
      spec.Put('.');
      spec.Number(precision);
    }
    if (arg->kind == FormatArgKind::Double) {
      *written = Zorv::Print(dst, size, spec.Finish(conversion), arg->d);
      return true;
    }
    const int64_t bits = IntegerBits(*arg);
    const bool narrowed = ph.length == "h" || ph.length == "hh";
    if (narrowed || !Is64Bit(arg->kind)) {
      if (narrowed) spec.Put(ph.length);
      const char* s = spec.Finish(conversion);
      *written = IsSigned(conversion) ? Zorv::Print(dst, size, s, static_cast<int>(bits))
                                      : Zorv::Print(dst, size, s, static_cast<unsigned>(bits));
      return true;
    }
    spec.Put("ll");
    const char* s = spec.Finish(conversion);
    *written = IsSigned(conversion)
                   ? Zorv::Print(dst, size, s, static_cast<long long>(bits))
                   : Zorv::Print(dst, size, s, static_cast<unsigned long long>(bits));
    return true;
  }

 private:
  const FormatArg* Take(size_t number) {
    const size_t index = number != 0 ? number - 1 : next_++;
    return index < argCount_ ? &args_[index] : nullptr;
  }

  bool Number(const PlaceholderNumber& number, int64_t* value) {
    switch (number.form) {
      case PlaceholderNumber::Form::None:
        return true;
      case PlaceholderNumber::Form::Digits:
        *value = number.value;
        return true;
      case PlaceholderNumber::Form::Star: {
        const FormatArg* arg = Take(number.argNumber);
        if (arg == nullptr) return false;
        *value = ToInt(*arg);
        return true;
      }
    }
    return true;
  }

  // A width beyond the space left plus the longest the value itself can be
  // shows only padding, whatever its size, so it is cut there.
  static void Width(Spec& spec, int64_t width, int64_t limit) {
    if (width <= 0) return;  // a written 0 would read as the zero flag
    spec.Number(std::min({width, limit, kMaxPrintNumber}));
  }

  const FormatArg* args_;
  size_t argCount_;
  size_t next_ = 0;
};

}  // namespace

size_t FormatString(char* out, size_t outSize, const char* format, const FormatArg* args,
                    size_t argCount) {
  if (out == nullptr || outSize == 0) return 0;
  const size_t last = outSize - 1;
  size_t length = 0;
  Formatter formatter(args, argCount);
  const char* p = format != nullptr ? format : "";
  while (*p != '\0' && length < last) {
    if (*p != '%') {
      out[length++] = *p++;
      continue;
    }
    if (p[1] == '%') {
      out[length++] = '%';
      p += 2;
      continue;
    }
    Placeholder ph;
    if (ReadPlaceholder(p + 1, argCount, &ph) != PlaceholderRead::Ok) break;
    p += 1 + ph.size;
    size_t written = 0;
    if (!formatter.Print(ph, out + length, outSize - length, &written)) break;
    length += written;
  }
  out[length] = '\0';
  return length;
}

namespace {

constexpr size_t kMessageSize = 4096;

std::string FormatMessage(const char* format, const FormatArg* args, size_t count) {
  char buffer[kMessageSize];
  const size_t n = FormatString(buffer, sizeof(buffer), format, args, count);
  return std::string(buffer, n);
}

}  // namespace

std::string FormatString(const char* format) {
  return FormatMessage(format, nullptr, 0);
}

std::string FormatString(const char* format, FormatArg a1) {
  return FormatMessage(format, &a1, 1);
}

std::string FormatString(const char* format, FormatArg a1, FormatArg a2) {
  const FormatArg args[] = {a1, a2};
  return FormatMessage(format, args, 2);
}

std::string FormatString(const char* format, FormatArg a1, FormatArg a2, FormatArg a3) {
  const FormatArg args[] = {a1, a2, a3};
  return FormatMessage(format, args, 3);
}

}  // namespace Zorv
