// Which replays the plug-in lets the store offer: the support check by game
// type and queue, the compatibility check by game version, and the parser of
// four-number versions under it.
#include "replays/plugin/compatibility.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "logging/log.h"
#include "logging/logger_api.h"
#include "replays/plugin/support_checker.h"
#include "support/capture_log_target.h"

namespace Zorv::Client::Replays {
namespace {

class CompatibilityTest : public ::testing::Test {
 protected:
  CompatibilityTest() {
    api->acquire();
    api->setLevel(0);
    api->setSuppressedCategories(0, 0);
    capture.attach();
  }
  ~CompatibilityTest() override { api->release(); }

  // The WARN lines of unparsable versions, in order.
  std::vector<std::string> ParseWarnings() const {
    std::vector<std::string> lines;
    for (const auto& entry : capture.entries()) {
      if (entry.level == LogLevel::Warn && entry.categoryMask == kLogDBG) {
        lines.push_back(entry.message);
      }
    }
    return lines;
  }

  const LoggerApi* api = GetLoggerApi();
  Zorv::Testing::CaptureLogTarget capture;
};

TEST_F(CompatibilityTest, SupportTurnsOnGameTypeThenQueue) {
  const ReplaysSupportChecker checker;
  struct Case {
    const char* gameType;
    int32_t queueId;
    bool supported;
  };
  const Case cases[] = {
      {"TUTORIAL_GAME", 420, false},
      {"TUTORIAL_GAME", -1, false},
      {"TUTORIAL_GAME", 850, false},
      {"tutorial_game", 420, true},
      {"TUTORIAL_GAME ", 420, true},
      {"MATCHED_GAME", 850, false},
      {"MATCHED_GAME", 420, true},
      {"", 31, false},
      {"", 961, false},
      {"", 30, true},
      {"", 962, true},
      {"", -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.gameType) + " " + std::to_string(c.queueId));
    EXPECT_EQ(checker.IsSupported(c.gameType, c.queueId), c.supported);
  }
  EXPECT_EQ(UnsupportedQueueIds(),
            (std::set<int32_t>{31,  32,  33,  52,  67,  90,  91,  92,  93,  94,
                               95,  800, 801, 810, 811, 820, 821, 830, 831, 832,
                               840, 841, 842, 850, 851, 852, 950, 951, 960, 961}));
}

TEST_F(CompatibilityTest, MajorMinorPrefixEndsBeforeTheSecondDot) {
  struct Case {
    const char* version;
    const char* prefix;
  };
  const Case cases[] = {
      {"10.5.1.2", "10.5"}, {"10.5", "10.5"}, {"10", "10"},   {"", ""},
      {".5.1", ".5.1"},     {"..1.2", "..1"}, {"1..2", "1."}, {"10.5.", "10.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(MajorMinorPrefix(c.version), c.prefix);
  }
}

TEST_F(CompatibilityTest, ReplayVersionsAgainstInstalledAndMinimum) {
  struct Case {
    const char* installed;
    const char* minimum;
    const char* replay;
    bool compatible;
    std::vector<std::string> warnings;
  };
  const std::string warn = "Plugin could not parse full game version ";
  const Case cases[] = {
      {"", "", "10.5.1.2", true, {}},
      {"10.5.9.9", "", "10.5.1.2", true, {}},
      {"10.6.1.1", "", "10.5.1.2", false, {}},
      {"10.50.1.1", "", "10.5.1.2", false, {}},
      {"10", "", "10.5.1.2", false, {}},
      {"10", "", "10", true, {}},
      {"10.5", "", "10.5.1.2", true, {}},
      {"10.5.9.9", "", "", false, {}},
      {"", "10.5.1.3", "10.5.1.2", false, {}},
      {"", "10.5.1.2", "10.5.1.2", true, {}},
      {"", "9.99.99.99", "10.0.0.0", true, {}},
      {"", "10.5.1.3", "11.0.0.0", true, {}},
      {"", "10.5.1.3", "10.5.2.0", true, {}},
      // The minimum does not parse: the replay's version is never parsed.
      {"", "10.5", "10.5.1.2", true, {warn + "'10.5'"}},
      {"", "10.5", "junk", true, {warn + "'10.5'"}},
      // The replay's version does not parse: it passes the minimum test.
      {"", "10.5.1.3", "unknown_version", true, {warn + "'unknown_version'"}},
      // A differing major-minor prefix decides before the minimum is read.
      {"10.6.0.0", "10.5", "10.5.1.2", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.installed) + " | " + c.minimum + " | " + c.replay);
    capture.clear();
    Api::ReplaysConfiguration configuration;
    configuration.gameVersion = c.installed;
    configuration.minServerVersion = c.minimum;
    EXPECT_EQ(IsCompatible(configuration, c.replay), c.compatible);
    EXPECT_EQ(ParseWarnings(), c.warnings);
  }
}

}  // namespace
}  // namespace Zorv::Client::Replays
