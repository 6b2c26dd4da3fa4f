#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "binding/json_reader.h"
#include "framework/telemetry/plugin_log_target.h"
#include "framework/telemetry/telemetry_sender.h"
#include "logging/log.h"
#include "logging/logger_api.h"
#include "support/fake_host_module.h"

namespace Zorv::Client {
namespace {

using Testing::FakeHostModule;

TEST(TelemetrySenderTest, PostsTheFieldsAsOneMapToTheEventUrlAsGiven) {
  FakeHostModule module;
  module.answerCall = [](CallResult*, const CallRecord*) {};
  TelemetrySender sender(&module);
  const BindingProperty fields =
      FromJsonText(R"({"step":"click","gameId":"42","sequence":"1"})").value;
  auto sent = sender.Send("tnk-be-pex-replays.a b/%20?x=1&y#z", fields);
  ASSERT_EQ(sent.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(sent.get().ok());

  ASSERT_EQ(module.calls.size(), 1u);
  EXPECT_EQ(module.calls[0].method, 6u);
  EXPECT_EQ(module.calls[0].url, "/telemetry/v1/events/tnk-be-pex-replays.a b/%20?x=1&y#z");
  ASSERT_EQ(module.calls[0].arguments.size(), 1u);
  EXPECT_EQ(module.calls[0].arguments[0], fields);
}

TEST(TelemetrySenderTest, AnEventWithoutFieldsSendsAnEmptyMap) {
  FakeHostModule module;
  TelemetrySender sender(&module);
  (void)sender.Send("e", BindingProperty());
  ASSERT_EQ(module.calls.size(), 1u);
  EXPECT_EQ(module.calls[0].arguments.at(0).kind(), ValueKind::Structure);
  EXPECT_EQ(module.calls[0].arguments[0].size(), 0u);
}

TEST(TelemetrySenderTest, AFailedCallIsTheFuturesFailure) {
  FakeHostModule module;
  module.answerCall = [](CallResult* result, const CallRecord*) {
    FakeHostModule::AnswerError(result, "telemetry is off", 503);
  };
  TelemetrySender sender(&module);
  MaybeType<Failure, void> result = sender.Send("e", FromJsonText("{}").value).get();
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.failure().code, 503);
  EXPECT_EQ(result.failure().message,
            "Error response for POST /telemetry/v1/events/e: telemetry is off");
}

// The host's log function, recording what it is given.
std::vector<std::pair<int32_t, std::string>> gHostLog;
void HostLog(const HostFunctions*, int32_t level, const char* message) {
  gHostLog.emplace_back(level, message);
}

TEST(PluginLogTargetTest, HandsLevelAndRawMessageToTheHostUntilDestroyed) {
  gHostLog.clear();
  HostFunctions functions{};
  functions.Log = &HostLog;
  const LoggerApi* api = GetLoggerApi();
  api->acquire();
  api->setLevel(0);
  {
    PluginLogTarget target(&functions);
    EXPECT_STREQ(target.className(), "PluginLogTarget");
    target.Configure({LogLevel::Okay, 0, 0, "#D| #L| #G| #M"});
    Log(LogLevel::Warn, kLogDBG, "MetadataStore: no record for '%llu'", 42ull);
    Log(LogLevel::Okay, kLogGEN, "Plugin %s", "watch");
  }
  Log(LogLevel::Error, kLogDBG, "after the target is gone");
  api->release();
  EXPECT_EQ(gHostLog, (std::vector<std::pair<int32_t, std::string>>{
                          {1, "MetadataStore: no record for '42'"}, {0, "Plugin watch"}}));
}

}  // namespace
}  // namespace Zorv::Client
