#include "logging/log_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "logging/log_category.h"
#include "logging/logger.h"
#include "platform/process.h"

namespace Zorv {
namespace {

constexpr LogTime kTime{2024, 5, 1, 13, 2, 3, 4};

std::string Render(const char* format, const LogRecord& record, size_t size = kLogLineSize) {
  std::string out(size, '\x7f');
  const size_t length = FormatLine(out.data(), size, format, record);
  EXPECT_EQ(out[length], '\0') << format;
  return out.substr(0, length);
}

struct LineCase {
  const char* format;
  LogLevel level;
  uint64_t mask;
  const char* message;
  const char* expected;
};

TEST(FormatLine, RendersTokensAndEndsInExactlyOneNewline) {
  const LineCase cases[] = {
      {"#D| #L| #G| #M", LogLevel::Okay, kLogGEN, "scan done",
       "2024-05-01T13:02:03.004|   OKAY| GEN| scan done\n"},
      {"#D", LogLevel::Warn, 0, "", "2024-05-01T13:02:03.004\n"},
      {"#L", LogLevel::Okay, 0, "", "  OKAY\n"},
      {"#L", LogLevel::Warn, 0, "", "  WARN\n"},
      {"#L", LogLevel::Error, 0, "", " ERROR\n"},
      {"#L", LogLevel::Always, 0, "", "ALWAYS\n"},
      {"#L", static_cast<LogLevel>(7), 0, "", "   ???\n"},
      {"[#G]", LogLevel::Warn, kLogDBG | kLogXTR, "", "[DBG;XTR]\n"},
      {"[#G]", LogLevel::Warn, 0, "", "[]\n"},
      {"#G", LogLevel::Warn, 0xFF, "", "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST\n"},
      {"#M", LogLevel::Warn, 0, "disk full", "disk full\n"},
      {"##M", LogLevel::Warn, 0, "x", "#M\n"},
      {"#x#", LogLevel::Warn, 0, "x", "x\n"},
      {"50%#", LogLevel::Warn, 0, "x", "50%\n"},
      {"", LogLevel::Warn, 0, "ignored", "\n"},
      {"#M", LogLevel::Warn, 0, "", "\n"},
      {"#M", LogLevel::Warn, 0, "done\n", "done\n"},
      {"#M\n", LogLevel::Warn, 0, "done", "done\n"},
      {"#M", LogLevel::Warn, 0, "two\n\n", "two\n\n"},
  };
  for (const LineCase& c : cases) {
    const LogRecord record{kTime, c.level, c.mask, c.message};
    EXPECT_EQ(Render(c.format, record), c.expected) << "format \"" << c.format << "\"";
  }
  EXPECT_EQ(Render(nullptr, LogRecord{kTime, LogLevel::Warn, 0, "x"}), "\n");
  EXPECT_EQ(Render("#M", LogRecord{kTime, LogLevel::Warn, 0, nullptr}), "\n");
}

TEST(FormatLine, InsertsProgramNameThreadIdAndSteadySeconds) {
  ASSERT_NE(Logger::Get(), nullptr);  // the first Logger reads the program name
  EXPECT_STREQ(Logger::ProgramName(), "logging_tests");

  char thread[32];
  std::snprintf(thread, sizeof thread, "%p",
                reinterpret_cast<void*>(static_cast<uintptr_t>(Platform::CurrentThreadId())));
  const LogRecord record{kTime, LogLevel::Warn, kLogDBG, "boom"};
  EXPECT_EQ(Render("#E(#T): #L| #M", record),
            std::string("logging_tests(") + thread + "):   WARN| boom\n");

  EXPECT_TRUE(testing::internal::RE::FullMatch(Render("#H", record), "[0-9]{6}\\.[0-9]{3}\n"))
      << Render("#H", record);
}

TEST(FormatLine, CutsLongTextKeepingRoomForTheNewline) {
  const std::string longMessage(5000, 'x');
  const LogRecord record{kTime, LogLevel::Warn, 0, longMessage.c_str()};
  EXPECT_EQ(Render("#M", record), std::string(4094, 'x') + "\n");
  EXPECT_EQ(Render("ab#M", record, 8), "abxxxx\n");
  EXPECT_EQ(Render("#D", record, 12), "2024-05-01\n");

  // A cut that lands just after a newline adds none.
  const LogRecord twoLines{kTime, LogLevel::Warn, 0, "abc\nxyz"};
  EXPECT_EQ(Render("#M", twoLines, 6), "abc\n");

  EXPECT_EQ(Render("#M", record, 2), "\n");
  EXPECT_EQ(Render("#M", record, 1), "");
  EXPECT_EQ(FormatLine(nullptr, 0, "#M", record), 0u);
}

TEST(FormatTimestamp, WritesBothFormsAndCutsToTheBuffer) {
  char out[64];
  EXPECT_EQ(FormatTimestamp(out, sizeof out, kTime), 23u);
  EXPECT_STREQ(out, "2024-05-01T13:02:03.004");
  EXPECT_EQ(FormatFileTimestamp(out, sizeof out, kTime), 19u);
  EXPECT_STREQ(out, "2024-05-01T13-02-03");
  EXPECT_EQ(FormatTimestamp(out, 5, kTime), 4u);
  EXPECT_STREQ(out, "2024");
}

TEST(FormatTimestamp, WritesWhatSnprintfWritesForAnyFields) {
  const LogTime times[] = {
      kTime,
      {0, 1, 1, 0, 0, 0, 0},
      {9999, 12, 31, 23, 59, 60, 999},
      {10000, 1, 1, 0, 0, 0, 0},
      {-1, 1, 1, 0, 0, 0, 0},
      {2024, 5, 1, 13, 2, 3, 1000},
      {2024, -5, 100, 13, 2, 3, -1},
      {INT32_MIN, INT32_MAX, 0, 0, 0, 0, INT32_MIN},
  };
  for (const LogTime& t : times) {
    for (size_t size : {1u, 2u, 5u, 11u, 23u, 24u, 64u}) {
      std::string ours(size, '\x7f');
      std::string theirs(size, '\x7f');
      const size_t length = FormatTimestamp(ours.data(), size, t);
      const int result =
          std::snprintf(theirs.data(), size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month,
                        t.day, t.hour, t.minute, t.second, t.millisecond);
      EXPECT_EQ(ours, theirs) << t.year << " " << t.millisecond << ", size " << size;
      EXPECT_EQ(length, std::min(static_cast<size_t>(result), size - 1)) << size;
    }
  }
}

TEST(LogCategoryNames, CutsToTheBuffer) {
  char out[8];
  EXPECT_EQ(LogCategoryNames(out, sizeof out, kLogDBG | kLogGEN | kLogXTR), 7u);
  EXPECT_STREQ(out, "DBG;GEN");
  EXPECT_EQ(LogCategoryNames(out, 1, kLogDBG), 0u);
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace Zorv
