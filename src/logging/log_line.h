// Rendering of log records into text lines, and the clocks that lines show.
//
// A line format is copied character by character; '#' followed by a letter
// inserts a field of the record:
//   #D  local time, "2024-05-01T13:02:03.004"
//   #E  the program's executable file name
//   #G  category codes of the mask, "DBG;XTR"
//   #H  seconds since the process first asked, "000012.345"
//   #L  level display name, "  WARN"
//   #M  the message
//   #T  the calling thread's id, pointer-wide hexadecimal
// Any other character after '#' stands for itself ("##" gives "#"); a '#' that
// ends the format inserts nothing.
//
//   char line[kLogLineSize];
//   FormatLine(line, sizeof line, "#L| #M", record);   // "  WARN| disk full\n"
#pragma once

#include <cstddef>

#include "logging/log_record.h"
#include "logging/log_time.h"  // LocalLogTime

namespace Zorv {

// Size of every buffer on the log path: messages and rendered lines.
inline constexpr size_t kLogLineSize = 4096;

// Renders record with format into out. The rendered text is cut to size - 2
// characters, then ends in exactly one "\n" (a text that already ends in "\n"
// gets none added) and a terminating zero, so an empty or null format gives
// "\n". Returns the length without the terminating zero. Writes nothing when
// size is 0 and only the terminating zero when size is 1.
size_t FormatLine(char* out, size_t size, const char* format, const LogRecord& record);

// "%04d-%02d-%02dT%02d:%02d:%02d.%03d"; cut to size - 1 characters. Returns the
// length written.
size_t FormatTimestamp(char* out, size_t size, const LogTime& time);

// "%04d-%02d-%02dT%02d-%02d-%02d": no milliseconds and no ':', fit for file
// names. Cut to size - 1 characters. Returns the length written.
size_t FormatFileTimestamp(char* out, size_t size, const LogTime& time);

// Seconds of the monotonic clock since the first call in the process.
double SteadySeconds();

}  // namespace Zorv
