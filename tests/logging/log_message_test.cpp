#include "logging/log_message.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace Zorv {
namespace {

// Formats with FormatLogMessage and with vsnprintf into buffers of size bytes
// filled alike beforehand; every byte of the two buffers and the lengths must
// agree.
void ExpectSameAsVsnprintf(size_t size, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void ExpectSameAsVsnprintf(size_t size, const char* format, ...) {
  std::string ours(size, '\x7f');
  std::string theirs(size, '\x7f');
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const size_t length = FormatLogMessage(ours.data(), size, format, args);
  const int result = std::vsnprintf(theirs.data(), size, format, copy);
  va_end(copy);
  va_end(args);
  ASSERT_GE(result, 0) << format;
  const size_t expected = size == 0 ? 0 : std::min(static_cast<size_t>(result), size - 1);
  EXPECT_EQ(length, expected) << "format \"" << format << "\", size " << size;
  EXPECT_EQ(ours, theirs) << "format \"" << format << "\", size " << size;
}

TEST(FormatLogMessage, WritesWhatVsnprintfWrites) {
  const size_t kBig = 4096;
  // Written directly.
  ExpectSameAsVsnprintf(kBig, "plain text");
  ExpectSameAsVsnprintf(kBig, "100%% done, %%d stays");
  ExpectSameAsVsnprintf(kBig, "replay %s: %d frames, %llu bytes", "a.rep", 48213, 9812345678ull);
  ExpectSameAsVsnprintf(kBig, "%d %d %d %d %i", 0, -1, INT_MIN, INT_MAX, -42);
  ExpectSameAsVsnprintf(kBig, "%u %u %x %X %x", 0u, UINT_MAX, 0xbeefu, 0xbeefu, 0u);
  ExpectSameAsVsnprintf(kBig, "%hhd %hhd %hhu %hhx", 300, -129, 300, 511);
  ExpectSameAsVsnprintf(kBig, "%hd %hd %hu %hX", 70000, -32769, 70000, 0x12345);
  ExpectSameAsVsnprintf(kBig, "%ld %ld %lu %lx", LONG_MIN, LONG_MAX, ULONG_MAX, ULONG_MAX);
  ExpectSameAsVsnprintf(kBig, "%lld %llu %llX", LLONG_MIN, ULLONG_MAX, 0xABCDEF0123ull);
  ExpectSameAsVsnprintf(kBig, "%zu %zd %zx", SIZE_MAX, static_cast<ptrdiff_t>(-5), size_t{255});
  ExpectSameAsVsnprintf(kBig, "%jd %ju %td %tu", INTMAX_MIN, UINTMAX_MAX, PTRDIFF_MIN,
                        static_cast<ptrdiff_t>(-1));
  ExpectSameAsVsnprintf(kBig, "[%c%c%c]", 'a', 'Z', 0x141);
  ExpectSameAsVsnprintf(kBig, "[%s][%s]", "", "text");
  ExpectSameAsVsnprintf(kBig, "[%.3s][%.10s][%.0s][%.s]", "abcdef", "abc", "abc", "abc");
  ExpectSameAsVsnprintf(kBig, "[%.*s][%.*s][%.*s]", 2, "abcdef", -1, "abcdef", 0, "abc");
  ExpectSameAsVsnprintf(kBig, "[%.*s]", 3, "ab\0cd");
  ExpectSameAsVsnprintf(kBig, "nul %c inside", 0);
  // Handed to vsnprintf whole, including what came before the placeholder.
  ExpectSameAsVsnprintf(kBig, "%s then %5d|%-4s|%05u|%+d|% d|%#x|%o", "x", 42, "ab", 7u, 3, 3, 255u,
                        8u);
  ExpectSameAsVsnprintf(kBig, "%d %f %.2f %g %e", 1, 1.5, 2.345, 0.1, 1e10);
  ExpectSameAsVsnprintf(kBig, "%2$s %1$s", "a", "b");
  ExpectSameAsVsnprintf(kBig, "%*d|%-*s", 5, 42, 4, "ab");
  ExpectSameAsVsnprintf(kBig, "%.5d %.0d %.3x", 42, 0, 1u);
  ExpectSameAsVsnprintf(kBig, "%p %ls %lc", static_cast<void*>(nullptr), L"wide", L'w');
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-overflow"
#pragma GCC diagnostic ignored "-Wformat-zero-length"
  ExpectSameAsVsnprintf(kBig, "");
  ExpectSameAsVsnprintf(kBig, "%s and %.3s and %.8s", nullptr, nullptr, nullptr);
#pragma GCC diagnostic pop
}

TEST(FormatLogMessage, CutsToTheBufferLikeVsnprintf) {
  for (size_t size : {1u, 2u, 5u, 6u, 7u, 8u, 11u, 12u, 13u, 30u}) {
    ExpectSameAsVsnprintf(size, "ab %s cd %llu %%", "xyz", 12345678ull);
    ExpectSameAsVsnprintf(size, "%d|%x|%.*s|%c", -98765, 0xfedcu, 4, "abcdefgh", 'q');
    ExpectSameAsVsnprintf(size, "%5d then more text", 42);  // through vsnprintf
  }
  const std::string longText(5000, 'x');
  ExpectSameAsVsnprintf(4096, "%s", longText.c_str());
  ExpectSameAsVsnprintf(4096, "%s%d", std::string(4094, 'x').c_str(), 123);

  char untouched[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(FormatLogMessage(untouched, 0, "text", nullptr), 0u);
  EXPECT_EQ(std::string(untouched, 4), "abcd");
}

}  // namespace
}  // namespace Zorv
