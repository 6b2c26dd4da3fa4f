#include "logging/log_line.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "logging/log_category.h"
#include "logging/logger.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace Zorv {
namespace {

// Clamps an snprintf result to what actually landed in a buffer of size bytes.
size_t Written(int result, size_t size) {
  if (result < 0 || size == 0) return 0;
  return static_cast<size_t>(result) < size ? static_cast<size_t>(result) : size - 1;
}

bool InRange(int32_t value, int32_t highest) {
  return value >= 0 && value <= highest;
}

// Writes value as count decimal digits, zero-padded; value has at most count.
void PutDigits(char* out, int32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// Appends to a line while keeping two bytes free for the newline and the zero.
class LineWriter {
 public:
  LineWriter(char* out, size_t size) : out_(out), limit_(size - 2) {}

  void put(char c) {
    if (length_ < limit_) out_[length_++] = c;
  }
  void append(const char* text) {
    while (*text && length_ < limit_) out_[length_++] = *text++;
  }
  size_t finish() {
    if (length_ == 0 || out_[length_ - 1] != '\n') out_[length_++] = '\n';
    out_[length_] = '\0';
    return length_;
  }

 private:
  char* out_;
  size_t limit_;
  size_t length_ = 0;
};

void AppendField(LineWriter& line, char token, const LogRecord& record) {
  char field[kLogCategorySlots * 4 + 1];
  switch (token) {
    case 'D':
      FormatTimestamp(field, sizeof field, record.time);
      line.append(field);
      return;
    case 'E':
      line.append(Logger::ProgramName());
      return;
    case 'G':
      LogCategoryNames(field, sizeof field, record.categoryMask);
      line.append(field);
      return;
    case 'H': {
      const double seconds = SteadySeconds();
      const int whole = static_cast<int>(seconds);
      const int millis = static_cast<int>((seconds - whole) * 1000);
      std::snprintf(field, sizeof field, "%06d.%03d", whole, millis);
      line.append(field);
      return;
    }
    case 'L':
      line.append(LogLevelName(record.level));
      return;
    case 'M':
      line.append(record.message ? record.message : "");
      return;
    case 'T':
      std::snprintf(field, sizeof field, "%p",
                    reinterpret_cast<void*>(static_cast<uintptr_t>(Platform::CurrentThreadId())));
      line.append(field);
      return;
    default:
      line.put(token);
  }
}

}  // namespace

size_t FormatLine(char* out, size_t size, const char* format, const LogRecord& record) {
  if (size == 0) return 0;
  if (size == 1) {
    out[0] = '\0';
    return 0;
  }
  LineWriter line(out, size);
  for (const char* p = format ? format : ""; *p; ++p) {
    if (*p != '#') {
      line.put(*p);
    } else if (p[1]) {
      AppendField(line, *++p, record);
    }
  }
  return line.finish();
}

size_t FormatTimestamp(char* out, size_t size, const LogTime& t) {
  // Every line of the default format carries one: the usual fields are
  // written directly, anything else (a record from another module may hold
  // any numbers) goes through snprintf, which pads and signs them.
  if (size > 0 && InRange(t.year, 9999) && InRange(t.month, 99) && InRange(t.day, 99) &&
      InRange(t.hour, 99) && InRange(t.minute, 99) && InRange(t.second, 99) &&
      InRange(t.millisecond, 999)) {
    char text[] = "0000-00-00T00:00:00.000";
    PutDigits(text, t.year, 4);
    PutDigits(text + 5, t.month, 2);
    PutDigits(text + 8, t.day, 2);
    PutDigits(text + 11, t.hour, 2);
    PutDigits(text + 14, t.minute, 2);
    PutDigits(text + 17, t.second, 2);
    PutDigits(text + 20, t.millisecond, 3);
    const size_t length = std::min(sizeof text - 1, size - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
    return length;
  }
  return Written(std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month,
                               t.day, t.hour, t.minute, t.second, t.millisecond),
                 size);
}

size_t FormatFileTimestamp(char* out, size_t size, const LogTime& t) {
  return Written(std::snprintf(out, size, "%04d-%02d-%02dT%02d-%02d-%02d", t.year, t.month, t.day,
                               t.hour, t.minute, t.second),
                 size);
}

double SteadySeconds() {
  static const int64_t origin = Platform::MonotonicNanoseconds();
  return static_cast<double>(Platform::MonotonicNanoseconds() - origin) / 1e9;
}

}  // namespace Zorv
