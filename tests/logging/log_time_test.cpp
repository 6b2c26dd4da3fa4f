#include "logging/log_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include "logging/log.h"
#include "logging/log_category.h"
#include "logging/log_line.h"
#include "logging/logger_api.h"
#include "support/capture_log_target.h"

namespace Zorv {
namespace {

// Central European time with its daylight-saving rule, spelled out so that no
// time-zone database is needed.
constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";

WallClockReading gNow{};

WallClockReading FakeClock() {
  return gNow;
}

// Runs each test in kZone on the fake clock, and restores both afterwards.
class LocalLogTimeTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) savedZone_ = tz;
    SetZone(kZone);
    SetLogWallClock(&FakeClock);
  }
  void TearDown() override {
    SetLogWallClock(nullptr);
    if (savedZone_) {
      setenv("TZ", savedZone_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void SetZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  static std::string Line(const LogTime& time) {
    char line[kLogLineSize];
    FormatLine(line, sizeof line, "#D| #L| #G| #M", LogRecord{time, LogLevel::Warn, kLogGEN, "m"});
    return line;
  }

 private:
  std::optional<std::string> savedZone_;
};

TEST_F(LocalLogTimeTest, LinesMatchAFreshBreakdownAcrossEveryBoundary) {
  struct Boundary {
    const char* what;
    int64_t second;        // the first second after the boundary, UTC
    const char* expected;  // its line at .000 local time
  };
  const Boundary boundaries[] = {
      {"second", 1714561379, "2024-05-01T13:02:59.000|   WARN| GEN| m\n"},
      {"minute", 1714561380, "2024-05-01T13:03:00.000|   WARN| GEN| m\n"},
      {"hour", 1714561200, "2024-05-01T13:00:00.000|   WARN| GEN| m\n"},
      {"day and year", 1735686000, "2025-01-01T00:00:00.000|   WARN| GEN| m\n"},
      {"summer time starts", 1711846800, "2024-03-31T03:00:00.000|   WARN| GEN| m\n"},
      {"summer time ends", 1729990800, "2024-10-27T02:00:00.000|   WARN| GEN| m\n"},
  };
  // Readings on both sides of each boundary, in order, then the clock set back.
  const WallClockReading offsets[] = {
      {-2, 999'999'999}, {-1, 0}, {-1, 500'000'000}, {-1, 999'000'000},
      {-1, 999'999'999}, {0, 0},  {0, 999'999},      {0, 1'000'000},
      {0, 999'999'999},  {1, 0},  {-1, 998'000'000}, {0, 0}};
  for (const Boundary& b : boundaries) {
    gNow = {b.second, 0};
    EXPECT_EQ(Line(LocalLogTime()), b.expected) << b.what;
    for (const WallClockReading& offset : offsets) {
      gNow = {b.second + offset.seconds, offset.nanoseconds};
      EXPECT_EQ(Line(LocalLogTime()), Line(LocalLogTimeAt(gNow)))
          << b.what << " at " << gNow.seconds << "." << gNow.nanoseconds;
    }
  }
}

TEST_F(LocalLogTimeTest, EachThreadKeepsItsOwnSecond) {
  gNow = {1735685999, 999'000'000};
  const std::string before = Line(LocalLogTime());
  gNow = {1735686000, 0};
  std::string other;
  std::thread([&] { other = Line(LocalLogTime()); }).join();
  EXPECT_EQ(other, "2025-01-01T00:00:00.000|   WARN| GEN| m\n");
  EXPECT_EQ(Line(LocalLogTime()), other);
  EXPECT_EQ(before, "2024-12-31T23:59:59.999|   WARN| GEN| m\n");
}

TEST_F(LocalLogTimeTest, ATimeZoneChangeShowsFromTheNextSecond) {
  gNow = {1714561379, 100'000'000};
  EXPECT_EQ(Line(LocalLogTime()), "2024-05-01T13:02:59.100|   WARN| GEN| m\n");
  SetZone("UTC0");
  gNow.nanoseconds = 200'000'000;
  EXPECT_EQ(Line(LocalLogTime()), "2024-05-01T13:02:59.200|   WARN| GEN| m\n");
  gNow = {1714561380, 0};
  EXPECT_EQ(Line(LocalLogTime()), "2024-05-01T11:03:00.000|   WARN| GEN| m\n");
}

TEST_F(LocalLogTimeTest, TheLogCallAndTheApiStampWithIt) {
  const LoggerApi* api = GetLoggerApi();
  api->acquire();
  Testing::CaptureLogTarget capture("#D| #M");
  capture.attach();
  gNow = {1735685999, 999'500'000};
  Log(LogLevel::Warn, kLogGEN, "last");
  gNow = {1735686000, 1'000'000};
  Log(LogLevel::Warn, kLogGEN, "first");
  LogTime time{};
  api->localTime(&time);
  capture.detach();
  api->release();

  ASSERT_EQ(capture.lines().size(), 2u);
  EXPECT_EQ(capture.lines()[0], "2024-12-31T23:59:59.999| last\n");
  EXPECT_EQ(capture.lines()[1], "2025-01-01T00:00:00.001| first\n");
  EXPECT_EQ(Line(time), "2025-01-01T00:00:00.001|   WARN| GEN| m\n");
}

}  // namespace
}  // namespace Zorv
