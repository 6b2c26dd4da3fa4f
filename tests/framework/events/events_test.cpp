#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "binding/type_registration.h"
#include "framework/events/event_host_module.h"
#include "framework/events/event_name.h"

namespace Zorv::Client {
namespace {

using Testing::EventHostModule;
using Testing::FakeHostModule;

struct Login {
  std::string name;
  int32_t level = 0;
  bool operator==(const Login&) const = default;
};

struct Unregistered {
  int32_t x = 0;
};

BindingProperty Json(const char* text) {
  return FromJsonText(text).value;
}

TEST(EventNameForUrlTest, KeepsThreePiecesOrFiveUnderPlatformConfig) {
  const struct {
    const char* url;
    const char* name;
  } cases[] = {
      {"/pex-replays/v1/metadata/123", "OnJsonApiEvent_pex-replays_v1_metadata"},
      {"/pex-replays/v1/metadata/", "OnJsonApiEvent_pex-replays_v1_metadata"},
      {"pex-replays/v1/configuration", "OnJsonApiEvent_pex-replays_v1_configuration"},
      {"//pex-login//v1/login-data/x", "OnJsonApiEvent_pex-login_v1_login-data"},
      {"/x", "OnJsonApiEvent_x"},
      {"/pex-platform-config/v1/namespaces/Replays/Enabled/more",
       "OnJsonApiEvent_pex-platform-config_v1_namespaces_Replays_Enabled"},
      {"/pex-platform-config/v1", "OnJsonApiEvent_pex-platform-config_v1"},
      {"/a/pex-platform-config/b/c/d", "OnJsonApiEvent_a_pex-platform-config_b"},
  };
  for (const auto& c : cases) EXPECT_EQ(EventNameForUrl(c.url), c.name) << c.url;
}

TEST(UrlMatchesPatternTest, StarTakesOnePieceAndNeverAnEmptyLastOne) {
  const struct {
    const char* pattern;
    const char* uri;
    bool matches;
  } cases[] = {
      {"/pex-replays/v1/metadata/*", "/pex-replays/v1/metadata/123", true},
      {"/pex-replays/v1/metadata/*", "/pex-replays/v1/metadata/123/x", false},
      {"/pex-replays/v1/metadata/*", "/pex-replays/v1/metadata/", false},
      {"/pex-replays/v1/metadata/*", "/pex-replays/v1/metadata", false},
      {"/a/*/c", "/a/bbb/c", true},
      {"/a/*/c", "/a/b/d", false},
      {"/a/*/c", "/a//c", true},
      {"/a/*/*", "/a/b/c", true},
      {"/a/b", "/a/b", true},
      {"/a/b", "/a/bc", false},
      {"/a/b", "/a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlMatchesPattern(c.pattern, c.uri), c.matches) << c.pattern << " ~ " << c.uri;
  }
}

class EventsTest : public ::testing::Test {
 protected:
  EventsTest() {
    module.registry()
        .Struct<Login>("Login")
        .field("name", &Login::name)
        .field("level", &Login::level)
        .finish();
  }

  // Observes `url`, keeping every event it receives.
  void ObserveLogin(const std::string& url) {
    module.Observe<Login>(url,
                          [this](const ResourceEvent<Login>& event) { received.push_back(event); });
  }
  void AnswerGet(const char* json) {
    answer = Json(json);
    module.answerCall = [this](CallResult* result, const CallRecord*) {
      FakeHostModule::AnswerValue(result, answer);
    };
  }

  EventHostModule module;
  BindingProperty answer;
  std::vector<ResourceEvent<Login>> received;
};

TEST_F(EventsTest, UrlsOfOneEventShareOneHostSubscription) {
  module.Subscribe("/pex-replays/v1/metadata/123");
  module.Subscribe("/pex-replays/v1/metadata/456");
  ASSERT_EQ(module.subscriptions.size(), 1u);
  EXPECT_EQ(module.subscriptions[0].name, "OnJsonApiEvent_pex-replays_v1_metadata");
  EXPECT_EQ(module.subscriptions[0].hostHandle, 0x5150u);
  EXPECT_EQ(module.subscriptions[0].context, static_cast<void*>(&module));
  EXPECT_EQ(module.subscriptions[0].flag, 0u);

  module.Unsubscribe("/pex-replays/v1/metadata/123");
  EXPECT_TRUE(module.unsubscribed.empty());
  module.Unsubscribe("/pex-replays/v1/metadata/456");
  EXPECT_EQ(module.unsubscribed,
            std::vector<std::string>{"OnJsonApiEvent_pex-replays_v1_metadata"});

  // A surplus Unsubscribe leaves the count at zero: the next Subscribe is the first again.
  module.Unsubscribe("/pex-replays/v1/metadata/456");
  EXPECT_EQ(module.unsubscribed.size(), 1u);
  module.Subscribe("/pex-replays/v1/metadata/789");
  EXPECT_EQ(module.subscriptions.size(), 2u);
}

TEST_F(EventsTest, AnEndedSubscriptionNoLongerDelivers) {
  ObserveLogin("/pex-login/v1/login-data");
  module.Unsubscribe("/pex-login/v1/login-data");
  module.DeliverResource("OnJsonApiEvent_pex-login_v1_login-data", "/pex-login/v1/login-data",
                         "Update", Json(R"({"name":"a","level":1})"));
  EXPECT_TRUE(received.empty());
}

TEST_F(EventsTest, ExactObserverGetsTheCurrentValueThenEachChange) {
  AnswerGet(R"({"name":"ann","level":3})");
  ObserveLogin("/pex-login/v1/login-data");

  ASSERT_EQ(module.calls.size(), 1u);
  EXPECT_EQ(module.calls[0].method, HOST_METHOD_GET);
  EXPECT_EQ(module.calls[0].url, "/pex-login/v1/login-data");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].uri, "/pex-login/v1/login-data");
  EXPECT_EQ(received[0].eventType, PluginResourceEventType::Create);
  EXPECT_EQ(received[0].data, (Login{"ann", 3}));

  const std::string event = "OnJsonApiEvent_pex-login_v1_login-data";
  // The host may leave out the leading '/'.
  ASSERT_TRUE(module.DeliverResource(event, "pex-login/v1/login-data", "Update",
                                     Json(R"({"name":"bo","level":4})")));
  // Data that is not a Login is dropped.
  module.DeliverResource(event, "/pex-login/v1/login-data", "Update", Json(R"({"level":"x"})"));
  // A Delete carries a default Login whatever its data.
  module.DeliverResource(event, "/pex-login/v1/login-data", "Delete", Json(R"({"level":"x"})"));
  // Another resource of the same event has no observer.
  module.DeliverResource(event, "/pex-login/v1/login-data-other", "Update",
                         Json(R"({"name":"c","level":5})"));

  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[1].uri, "/pex-login/v1/login-data");
  EXPECT_EQ(received[1].eventType, PluginResourceEventType::Update);
  EXPECT_EQ(received[1].data, (Login{"bo", 4}));
  EXPECT_EQ(received[2].eventType, PluginResourceEventType::Delete);
  EXPECT_EQ(received[2].data, Login{});
}

TEST_F(EventsTest, AFailedFirstReadDeliversNothing) {
  module.answerCall = [](CallResult* result, const CallRecord*) {
    FakeHostModule::AnswerError(result, "not found", 404);
  };
  ObserveLogin("/pex-login/v1/login-data");
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(module.subscriptions.size(), 1u);
}

TEST_F(EventsTest, PatternObserverIsNotReadAndGetsOnlyMatchingUris) {
  ObserveLogin("/pex-replays/v1/metadata/*");
  EXPECT_TRUE(module.calls.empty());

  const std::string event = "OnJsonApiEvent_pex-replays_v1_metadata";
  const BindingProperty data = Json(R"({"name":"m","level":1})");
  module.DeliverResource(event, "/pex-replays/v1/metadata/123", "Update", data);
  module.DeliverResource(event, "/pex-replays/v1/metadata/123/x", "Update", data);
  module.DeliverResource(event, "/pex-replays/v1/metadata/", "Update", data);
  module.DeliverResource(event, "pex-replays/v1/metadata/456", "Create", data);

  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].uri, "/pex-replays/v1/metadata/123");
  EXPECT_EQ(received[1].uri, "/pex-replays/v1/metadata/456");
}

TEST_F(EventsTest, BrokenIncomingRecordsAreDropped) {
  ObserveLogin("/pex-replays/v1/metadata/*");
  const EventHostModule::Subscription subscription = module.subscriptions.at(0);

  subscription.callback(nullptr);
  IncomingEventRecord record{};
  record.context = subscription.context;
  subscription.callback(&record);  // no name
  record.name = subscription.name.c_str();
  record.payload.tag = HOST_VALUE_TEXT;
  record.payload.payload.text = {nullptr, 5};
  subscription.callback(&record);  // text without its bytes
  record.payload = HostValue{};
  subscription.callback(&record);  // null: not a PluginResourceEvent
  record.context = nullptr;
  subscription.callback(&record);  // no module

  EXPECT_TRUE(received.empty());
}

TEST_F(EventsTest, AHandlerReplacedWhileItRunsLivesUntilItReturns) {
  std::string seen;
  const std::string text(64, 'h');  // long enough to live on the heap
  module.RegisterEventHandler(
      "OnTest", ResourceEventHandler([this, text, &seen](const PluginResourceEvent&) {
        module.RegisterEventHandler("OnTest", ResourceEventHandler([](const auto&) {}), 0);
        seen = text;  // reads the capture of the replaced handler
      }),
      0);
  module.DeliverResource("OnTest", "/t", "Update");
  EXPECT_EQ(seen, text);
}

TEST_F(EventsTest, PublishSendsToTheGroupedEventAndToTheUrl) {
  ASSERT_TRUE(module.PublishResource("/pex-replays/v1/metadata/7", Login{"p", 2},
                                     PluginResourceEventType::Update));
  ASSERT_EQ(module.sent.size(), 2u);
  EXPECT_EQ(module.sent[0].name, "OnJsonApiEvent_pex-replays_v1_metadata");
  EXPECT_EQ(module.sent[1].name, "/pex-replays/v1/metadata/7");
  for (const auto& event : module.sent) {
    EXPECT_EQ(event.eventType, static_cast<uint32_t>(PluginResourceEventType::Update));
    EXPECT_EQ(ToJsonText(event.payload), R"({"level":2,"name":"p"})");
  }

  const MaybeType<Failure, void> failed =
      module.PublishResource("/x", Unregistered{}, PluginResourceEventType::Create);
  ASSERT_FALSE(failed);
  EXPECT_FALSE(failed.failure().message.empty());
  EXPECT_EQ(module.sent.size(), 2u);
}

TEST_F(EventsTest, UnregisterAllEndsEveryHandledEventAndForgetsObservers) {
  ObserveLogin("/pex-login/v1/login-data");
  ObserveLogin("/pex-replays/v1/metadata/*");
  module.RegisterEventHandler("OnOther", ResourceEventHandler([](const auto&) {}), 1);

  module.UnregisterAll();

  std::vector<std::string> ended = module.unsubscribed;
  std::sort(ended.begin(), ended.end());
  EXPECT_EQ(ended, (std::vector<std::string>{"OnJsonApiEvent_pex-login_v1_login-data",
                                             "OnJsonApiEvent_pex-replays_v1_metadata", "OnOther"}));
  module.DeliverResource("OnJsonApiEvent_pex-replays_v1_metadata", "/pex-replays/v1/metadata/1",
                         "Update", Json(R"({"name":"late","level":1})"));
  EXPECT_TRUE(received.empty());
}

}  // namespace
}  // namespace Zorv::Client
