#include "replays/api/replays_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>

namespace Zorv::Client::Replays {
namespace {

using Api::MetadataState;
using Api::ReplayMetadata;
using Api::ReplaysConfiguration;
using LCDS::ReplayResponseStatus;

TEST(ReplaysTextTest, ConfigurationText) {
  ReplaysConfiguration all;
  all.isReplaysEnabled = all.isReplaysForEndOfGameEnabled = all.isReplaysForMatchHistoryEnabled =
      all.isPatching = all.isInTournament = all.isPlayingGame = all.isPlayingReplay =
          all.isLoggedIn = true;
  all.gameVersion = "14.3.562.1";
  all.minServerVersion = "14.1.0.0";
  all.minutesUntilReplayConsideredLost = 12.25;

  // Each flag alone, to pin which flag prints under which name.
  ReplaysConfiguration tournament;
  tournament.isInTournament = true;
  ReplaysConfiguration loggedIn;
  loggedIn.isLoggedIn = true;

  struct Case {
    ReplaysConfiguration configuration;
    std::string text;
  };
  const auto minutes = [](double value) {
    ReplaysConfiguration c;
    c.minutesUntilReplayConsideredLost = value;
    return c;
  };
  const std::string falses =
      "{ replaysEnabled=false, endOfGameEnabled=false, matchHistoryEnabled=false, "
      "patching=false, isInTournament=false, playingGame=false, playingReplay=false, "
      "loggedIn=false, gameVersion=, minServerVersion=, replayConsideredLost=";
  const Case cases[] = {
      {ReplaysConfiguration{}, falses + "30 }"},
      {all,
       "{ replaysEnabled=true, endOfGameEnabled=true, matchHistoryEnabled=true, patching=true, "
       "isInTournament=true, playingGame=true, playingReplay=true, loggedIn=true, "
       "gameVersion=14.3.562.1, minServerVersion=14.1.0.0, replayConsideredLost=12.25 }"},
      {tournament,
       "{ replaysEnabled=false, endOfGameEnabled=false, matchHistoryEnabled=false, "
       "patching=false, isInTournament=true, playingGame=false, playingReplay=false, "
       "loggedIn=false, gameVersion=, minServerVersion=, replayConsideredLost=30 }"},
      {loggedIn,
       "{ replaysEnabled=false, endOfGameEnabled=false, matchHistoryEnabled=false, "
       "patching=false, isInTournament=false, playingGame=false, playingReplay=false, "
       "loggedIn=true, gameVersion=, minServerVersion=, replayConsideredLost=30 }"},
      {minutes(0.1234567), falses + "0.123457 }"},
      {minutes(1234567.0), falses + "1.23457e+06 }"},
      {minutes(0.00001), falses + "1e-05 }"},
      {minutes(-2.5), falses + "-2.5 }"},
      {minutes(std::numeric_limits<double>::quiet_NaN()), falses + "nan }"},
      {minutes(std::numeric_limits<double>::infinity()), falses + "inf }"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToText(c.configuration), c.text);
}

TEST(ReplaysTextTest, TextsIgnoreTheCallersStreamSettings) {
  std::ostringstream out;
  out << std::hex << std::fixed << std::showpos << std::setprecision(2);
  ReplaysConfiguration configuration;
  configuration.minutesUntilReplayConsideredLost = 0.1234567;
  out << configuration << "|" << ReplayMetadata{MetadataState::found, 255, 10};
  EXPECT_EQ(out.str(),
            "{ replaysEnabled=false, endOfGameEnabled=false, matchHistoryEnabled=false, "
            "patching=false, isInTournament=false, playingGame=false, playingReplay=false, "
            "loggedIn=false, gameVersion=, minServerVersion=, replayConsideredLost=0.123457 }"
            "|{ found, 255, 10% }");
}

TEST(ReplaysTextTest, MetadataText) {
  struct Case {
    ReplayMetadata metadata;
    std::string text;
  };
  const Case cases[] = {
      {{MetadataState::unsupported, 42, 0}, "{ unsupported, 42, 0% }"},
      {{MetadataState::error, 7, 100}, "{ error, 7, 100% }"},
      {{MetadataState::checking, 0, 0}, "{ checking, 0, 0% }"},
      {{MetadataState::missingOrExpired, std::numeric_limits<uint64_t>::max(),
        std::numeric_limits<uint32_t>::max()},
       "{ missingOrExpired, 18446744073709551615, 4294967295% }"},
      {{static_cast<MetadataState>(11), 1, 2}, "{ invalid_value(11), 1, 2% }"},
      {{static_cast<MetadataState>(-1), 1, 2}, "{ invalid_value(-1), 1, 2% }"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToText(c.metadata), c.text);

  const char* spellings[] = {
      "checking",         "found",         "watch", "download",    "downloading", "incompatible",
      "missingOrExpired", "retryDownload", "lost",  "unsupported", "error"};
  for (int32_t value = 0; value <= 10; ++value) {
    EXPECT_STREQ(Api::MetadataStateName(static_cast<MetadataState>(value)), spellings[value]);
  }
}

TEST(ReplaysTextTest, StatusText) {
  struct Case {
    int32_t value;
    std::string text;
  };
  const Case cases[] = {
      {0, "ok"}, {1, "notFound"}, {2, "expired"}, {3, "badRequest"}, {4, "internalServerError"},
      {5, ""},   {-1, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ToText(static_cast<ReplayResponseStatus>(c.value)), c.text) << c.value;
}

TEST(ReplaysTextTest, ConfigurationEquality) {
  using Change = std::function<void(ReplaysConfiguration&)>;
  const Change changes[] = {
      [](auto& c) { c.isReplaysEnabled = true; },
      [](auto& c) { c.isReplaysForEndOfGameEnabled = true; },
      [](auto& c) { c.isReplaysForMatchHistoryEnabled = true; },
      [](auto& c) { c.isPatching = true; },
      [](auto& c) { c.isInTournament = true; },
      [](auto& c) { c.isPlayingGame = true; },
      [](auto& c) { c.isPlayingReplay = true; },
      [](auto& c) { c.isLoggedIn = true; },
      [](auto& c) { c.gameVersion = "1.0.0.0"; },
      [](auto& c) { c.minServerVersion = "1.0.0.0"; },
      [](auto& c) { c.minutesUntilReplayConsideredLost = 30.000001; },
  };
  EXPECT_TRUE(ReplaysConfiguration{} == ReplaysConfiguration{});
  for (size_t i = 0; i < std::size(changes); ++i) {
    ReplaysConfiguration changed;
    changes[i](changed);
    EXPECT_FALSE(changed == ReplaysConfiguration{}) << "change " << i;
    EXPECT_TRUE(changed != ReplaysConfiguration{}) << "change " << i;
  }

  ReplaysConfiguration zero, negativeZero;
  zero.minutesUntilReplayConsideredLost = 0.0;
  negativeZero.minutesUntilReplayConsideredLost = -0.0;
  EXPECT_TRUE(zero == negativeZero);

  ReplaysConfiguration nan;
  nan.minutesUntilReplayConsideredLost = std::numeric_limits<double>::quiet_NaN();
  const ReplaysConfiguration& same = nan;
  EXPECT_FALSE(nan == same);
  EXPECT_TRUE(nan != same);
}

}  // namespace
}  // namespace Zorv::Client::Replays
