// The plug-in's own text forms match the shared ones, inside a stream that
// writes to the library's own string.
#include "replays/plugin/plugin_text.h"

#include <gtest/gtest.h>

#include "replays/api/replays_text.h"

namespace Zorv::Client::Replays {
namespace {

TEST(PluginTextTest, MatchesTheSharedTextForms) {
  using Api::MetadataState;
  const Api::ReplayMetadata metadata[] = {
      {MetadataState::unsupported, 42, 0},
      {MetadataState::downloading, 18446744073709551615u, 100},
      {static_cast<MetadataState>(-3), 1, 4294967295u},
  };
  for (const Api::ReplayMetadata& value : metadata) {
    EXPECT_EQ(PluginText(value), ToText(value));
  }
  EXPECT_EQ(PluginText(metadata[0]), "{ unsupported, 42, 0% }");
  for (int32_t status = -1; status <= 5; ++status) {
    const auto value = static_cast<LCDS::ReplayResponseStatus>(status);
    EXPECT_EQ(PluginText(value), ToText(value)) << status;
  }
  EXPECT_EQ(PluginText(LCDS::ReplayResponseStatus::INTERNAL_SERVER_ERROR), "internalServerError");
}

}  // namespace
}  // namespace Zorv::Client::Replays
