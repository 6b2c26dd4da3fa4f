// Formatting of a log call's message with the C printf rules.
//
// The conversions that log messages use ("%s", "%.*s", "%d", "%u", "%llu",
// "%zu", "%x", "%c" and "%%", with the length modifiers hh, h, l, ll, z, j
// and t) are written directly: no stream set up per call and no locale
// consulted. Any other placeholder (flags, a width, floating point, "%p",
// positional arguments, wide characters, a null string) hands the whole
// message to vsnprintf, so the text is always exactly what vsnprintf gives.
//
//   char message[kLogLineSize];
//   FormatLogMessage(message, sizeof message, format, args);
#pragma once

#include <cstdarg>
#include <cstddef>

namespace Zorv {

// Formats format with args into out: the text is cut to size - 1 characters
// and zero-terminated (nothing is written when size is 0). args is left as it
// was given. Returns the length written, without the terminating zero.
size_t FormatLogMessage(char* out, size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

}  // namespace Zorv
