#include "logging/log_message.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace Zorv {
namespace {

// A va_list that can be passed by reference whatever the platform makes of
// the va_list type.
struct Arguments {
  va_list list;
};

// Appends to out while keeping one byte for the terminating zero.
class MessageWriter {
 public:
  MessageWriter(char* out, size_t size) : out_(out), limit_(size - 1) {}

  void put(char c) {
    if (length_ < limit_) out_[length_++] = c;
  }
  void append(const char* text, size_t count) {
    if (count > limit_ - length_) count = limit_ - length_;
    std::memcpy(out_ + length_, text, count);
    length_ += count;
  }
  size_t finish() {
    out_[length_] = '\0';
    return length_;
  }

 private:
  char* out_;
  size_t limit_;
  size_t length_ = 0;
};

enum class Length { None, Char, Short, Long, LongLong, Size, Max, PtrDiff };

const char* ReadLength(const char* p, Length& length) {
  switch (*p) {
    case 'h':
      if (p[1] == 'h') {
        length = Length::Char;
        return p + 2;
      }
      length = Length::Short;
      return p + 1;
    case 'l':
      if (p[1] == 'l') {
        length = Length::LongLong;
        return p + 2;
      }
      length = Length::Long;
      return p + 1;
    case 'z':
      length = Length::Size;
      return p + 1;
    case 'j':
      length = Length::Max;
      return p + 1;
    case 't':
      length = Length::PtrDiff;
      return p + 1;
    default:
      length = Length::None;
      return p;
  }
}

// The argument of a signed conversion, widened as printf converts it.
int64_t SignedArgument(Arguments& args, Length length) {
  switch (length) {
    case Length::Char:
      return static_cast<signed char>(va_arg(args.list, int));
    case Length::Short:
      return static_cast<short>(va_arg(args.list, int));
    case Length::Long:
      return va_arg(args.list, long);
    case Length::LongLong:
      return va_arg(args.list, long long);
    case Length::Size:
      return static_cast<int64_t>(va_arg(args.list, size_t));
    case Length::Max:
      return va_arg(args.list, intmax_t);
    case Length::PtrDiff:
      return va_arg(args.list, ptrdiff_t);
    case Length::None:
      break;
  }
  return va_arg(args.list, int);
}

uint64_t UnsignedArgument(Arguments& args, Length length) {
  switch (length) {
    case Length::Char:
      return static_cast<unsigned char>(va_arg(args.list, unsigned));
    case Length::Short:
      return static_cast<unsigned short>(va_arg(args.list, unsigned));
    case Length::Long:
      return va_arg(args.list, unsigned long);
    case Length::LongLong:
      return va_arg(args.list, unsigned long long);
    case Length::Size:
      return va_arg(args.list, size_t);
    case Length::Max:
      return va_arg(args.list, uintmax_t);
    case Length::PtrDiff:
      return static_cast<uint64_t>(va_arg(args.list, ptrdiff_t));
    case Length::None:
      break;
  }
  return va_arg(args.list, unsigned);
}

void AppendDecimal(MessageWriter& out, uint64_t value) {
  // Two digits per step: a division by a constant is a multiplication.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char text[24];
  char* const end = text + sizeof text;
  char* p = end;
  while (value >= 100) {
    const size_t pair = static_cast<size_t>(value % 100) * 2;
    value /= 100;
    *--p = kPairs[pair + 1];
    *--p = kPairs[pair];
  }
  if (value >= 10) {
    *--p = kPairs[value * 2 + 1];
    *--p = kPairs[value * 2];
  } else {
    *--p = static_cast<char>('0' + value);
  }
  out.append(p, static_cast<size_t>(end - p));
}

void AppendHex(MessageWriter& out, uint64_t value, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char text[16];
  char* const end = text + sizeof text;
  char* p = end;
  do {
    *--p = digits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  out.append(p, static_cast<size_t>(end - p));
}

// Writes the message for the placeholders listed in log_message.h; false at
// the first placeholder it leaves to vsnprintf.
bool FormatDirectly(MessageWriter& out, const char* format, Arguments& args) {
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      const char* percent = std::strchr(p, '%');
      const size_t count = percent ? static_cast<size_t>(percent - p) : std::strlen(p);
      out.append(p, count);
      p += count;
      continue;
    }
    ++p;
    if (*p == '%') {
      out.put('%');
      ++p;
      continue;
    }
    int precision = -1;
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        ++p;
        precision = va_arg(args.list, int);
        if (precision < 0) precision = -1;  // as if there were none
      } else {
        precision = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
          precision = precision * 10 + (*p - '0');
          if (precision > 1'000'000) return false;
        }
      }
    }
    Length length;
    p = ReadLength(p, length);
    const char conversion = *p++;
    switch (conversion) {
      case 'd':
      case 'i': {
        if (precision != -1) return false;
        const int64_t value = SignedArgument(args, length);
        if (value < 0) out.put('-');
        const uint64_t magnitude = static_cast<uint64_t>(value);
        AppendDecimal(out, value < 0 ? 0 - magnitude : magnitude);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
        if (precision != -1) return false;
        if (conversion == 'u') {
          AppendDecimal(out, UnsignedArgument(args, length));
        } else {
          AppendHex(out, UnsignedArgument(args, length), conversion == 'X');
        }
        break;
      case 'c':
        if (precision != -1 || length != Length::None) return false;
        out.put(static_cast<char>(static_cast<unsigned char>(va_arg(args.list, int))));
        break;
      case 's': {
        if (length != Length::None) return false;
        const char* text = va_arg(args.list, const char*);
        if (!text) return false;
        out.append(text, precision < 0 ? std::strlen(text)
                                       : strnlen(text, static_cast<size_t>(precision)));
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

size_t FormatLogMessage(char* out, size_t size, const char* format, va_list args) {
  if (size == 0) return 0;
  Arguments direct;
  va_copy(direct.list, args);
  MessageWriter writer(out, size);
  const bool done = FormatDirectly(writer, format, direct);
  va_end(direct.list);
  if (done) return writer.finish();

  va_list copy;
  va_copy(copy, args);
  const int result = std::vsnprintf(out, size, format, copy);
  va_end(copy);
  if (result < 0) {
    // What vsnprintf left stands, as far as it is terminated.
    const size_t length = strnlen(out, size);
    if (length == size) out[size - 1] = '\0';
    return length == size ? size - 1 : length;
  }
  return static_cast<size_t>(result) < size ? static_cast<size_t>(result) : size - 1;
}

}  // namespace Zorv
