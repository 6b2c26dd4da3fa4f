#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/static_type.h"
#include "binding/type_registration.h"
#include "framework/events/event_host_module.h"
#include "logging/logger_api.h"
#include "support/capture_log_target.h"

namespace Zorv::Client {
namespace {

using Testing::FakeHostModule;

struct UrlRequest {
  uint64_t gameId = 0;
};

struct UrlResponse {
  std::string url;
};

struct Unregistered {
  int32_t x = 0;
};

using Answer = MaybeType<Failure, UrlResponse>;

// The module with its service-proxy handlers installed and its tables in reach.
class ProxyModule : public Testing::EventHostModule {
 public:
  using AppModule::ProcessArrivedAnswers;

  ProxyModule() {
    RegisterServiceProxyHandlers();
    registry().Struct<UrlRequest>("UrlRequest").field("gameId", &UrlRequest::gameId).finish();
    registry().Struct<UrlResponse>("UrlResponse").field("url", &UrlResponse::url).finish();
  }

  void BeginShutdown() { finalizing_ = true; }
  // Fill the tables without processing, as when requests and answers meet
  // from two threads.
  void AddPending(const std::string& id, std::vector<std::string>* done) {
    ASSERT_TRUE(proxyTables_.AddPending(
        id, [id, done](const PluginServiceProxyResponse&) { done->push_back(id); }));
  }
  void AddArrived(const std::string& id) {
    PluginServiceProxyResponse answer;
    answer.uuid = id;
    proxyTables_.AddAnswer(id, answer);
  }
  size_t answerCount() const { return proxyTables_.answerCount(); }
};

bool Ready(const std::future<Answer>& future) {
  return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

BindingProperty ProxyAnswer(const char* uuid, const char* payload, const char* error = "",
                            const char* service = "replays.retrieval",
                            const char* method = "getDownloadUrl") {
  BindingProperty answer;
  answer.field("uuid") = uuid;
  answer.field("serviceName") = service;
  answer.field("methodName") = method;
  answer.field("payload") = payload;
  answer.field("status") = "200";
  answer.field("error") = error;
  return answer;
}

class ServiceProxyTest : public ::testing::Test {
 protected:
  ServiceProxyTest() {
    api_->acquire();
    api_->setLevel(0);
    capture.attach();
    AnswerUuids();
  }
  ~ServiceProxyTest() override {
    capture.detach();
    api_->release();
  }

  // The host answers each request with the next uuid ("uuid-1", ...), after
  // running `duringCall` when set.
  void AnswerUuids() {
    module.answerCall = [this](CallResult* result, const CallRecord*) {
      if (duringCall) duringCall();
      const std::string uuid = "uuid-" + std::to_string(++uuids);
      FakeHostModule::AnswerValue(result, BindingProperty(std::string_view(uuid)));
    };
  }
  std::future<Answer> Start(uint64_t gameId = 7) {
    return module.CallServiceProxy<UrlRequest, UrlResponse>("replays.retrieval", "getDownloadUrl",
                                                            UrlRequest{gameId});
  }
  void Deliver(const char* event, const BindingProperty& answer) {
    ASSERT_TRUE(module.Deliver(event, answer)) << event;
  }
  static std::string FailureOf(std::future<Answer>& future) {
    Answer answer = future.get();
    return answer ? "(no failure)" : answer.failure().message;
  }

  const LoggerApi* api_ = GetLoggerApi();
  Testing::CaptureLogTarget capture;
  ProxyModule module;
  std::function<void()> duringCall;
  int uuids = 0;
};

TEST_F(ServiceProxyTest, HandlersAreRegisteredWithFlagOne) {
  ASSERT_EQ(module.subscriptions.size(), 3u);
  EXPECT_EQ(module.subscriptions[0].name, "OnServiceProxyUuidEvent");
  EXPECT_EQ(module.subscriptions[1].name, "OnServiceProxyMethodEvent");
  EXPECT_EQ(module.subscriptions[2].name, "OnServiceProxyAsyncEvent");
  for (const auto& subscription : module.subscriptions) EXPECT_EQ(subscription.flag, 1u);
}

TEST_F(ServiceProxyTest, RequestIsSentAndItsAnswerCompletesIt) {
  std::future<Answer> future = Start(42);

  ASSERT_EQ(module.calls.size(), 1u);
  const auto& call = module.calls[0];
  EXPECT_EQ(call.method, HOST_METHOD_POST);
  EXPECT_EQ(call.url, "/pex-login/v1/service-proxy-uuid-requests");
  ASSERT_EQ(call.arguments.size(), 4u);
  EXPECT_EQ(call.named, std::vector<bool>(4, false));
  EXPECT_EQ(call.arguments[0], BindingProperty("replays.retrieval"));
  EXPECT_EQ(call.arguments[1], BindingProperty("getDownloadUrl"));
  EXPECT_EQ(call.arguments[2], BindingProperty(uint64_t{0x5150}));
  EXPECT_EQ(call.arguments[3], BindingProperty(R"({"gameId":42})"));
  EXPECT_FALSE(Ready(future));

  Deliver("OnServiceProxyUuidEvent", ProxyAnswer("uuid-other", R"({"url":"x"})"));
  EXPECT_FALSE(Ready(future));
  Deliver("OnServiceProxyUuidEvent", ProxyAnswer("uuid-1", R"({"url":"https://r/1"})"));
  ASSERT_TRUE(Ready(future));
  Answer answer = future.get();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer.value().url, "https://r/1");

  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "ALWAYS| DBG| pex-replays: Preparing service proxy request: "
                "replays.retrieval.getDownloadUrl\n",
                "ALWAYS| DBG| pex-replays: Started service proxy request: "
                "replays.retrieval.getDownloadUrl (uuid-1)\n",
                "ALWAYS| DBG| pex-replays: Fulfilled service proxy request: uuid-1\n"}));
}

TEST_F(ServiceProxyTest, AnAnswerBeforeTheRequestIsStoredStillCompletesIt) {
  duringCall = [this] {
    Deliver("OnServiceProxyUuidEvent", ProxyAnswer("uuid-1", R"({"url":"early"})"));
  };
  std::future<Answer> future = Start();
  ASSERT_TRUE(Ready(future));
  EXPECT_EQ(future.get().value().url, "early");
}

// Two answers arriving together: each processing completes one more request,
// the one whose answer arrived first.
TEST_F(ServiceProxyTest, EachProcessingCompletesAtMostOneRequest) {
  std::vector<std::string> done;
  module.AddPending("a", &done);
  module.AddPending("b", &done);
  module.AddPending("c", &done);
  module.AddArrived("b");
  module.AddArrived("z");
  module.AddArrived("a");

  module.ProcessArrivedAnswers();
  EXPECT_EQ(done, std::vector<std::string>{"b"});
  module.ProcessArrivedAnswers();
  EXPECT_EQ(done, (std::vector<std::string>{"b", "a"}));
  module.ProcessArrivedAnswers();
  EXPECT_EQ(done.size(), 2u);

  // The answer without a request stayed; its request completes on arrival.
  module.AddPending("z", &done);
  module.ProcessArrivedAnswers();
  EXPECT_EQ(done, (std::vector<std::string>{"b", "a", "z"}));
  EXPECT_EQ(module.answerCount(), 0u);
}

TEST_F(ServiceProxyTest, UnclaimedAnswersAreBoundedOldestDroppedFirst) {
  constexpr size_t kBound = ServiceProxyTables::kMaxUnclaimedAnswers;
  static_assert(kBound == 1000);
  const auto stray = [](size_t i) { return "stray-" + std::to_string(i); };
  for (size_t i = 0; i < kBound + 3; ++i) {
    Deliver("OnServiceProxyUuidEvent", ProxyAnswer(stray(i).c_str(), R"({"url":"s"})"));
  }
  EXPECT_EQ(module.answerCount(), kBound);
  std::vector<std::string> warnings;
  for (size_t i = 0; i < 3; ++i) {
    warnings.push_back("  WARN| DBG| pex-replays: Dropped unclaimed service proxy answer " +
                       stray(i) + " (over 1000 answers without a request)\n");
  }
  EXPECT_EQ(capture.lines(), warnings);

  // The host hands out the identifiers of a dropped and of a kept answer:
  // only the kept one completes its (later) request.
  std::string nextUuid = stray(2);
  module.answerCall = [&nextUuid](CallResult* result, const CallRecord*) {
    FakeHostModule::AnswerValue(result, BindingProperty(std::string_view(nextUuid)));
  };
  std::future<Answer> dropped = Start();
  nextUuid = stray(3);
  std::future<Answer> kept = Start();
  EXPECT_FALSE(Ready(dropped));
  ASSERT_TRUE(Ready(kept));
  EXPECT_EQ(kept.get().value().url, "s");
  EXPECT_EQ(module.answerCount(), kBound - 1);
}

// Repeated and claimed answers, at the tables themselves.
TEST(ServiceProxyTablesTest, BoundCountsOnlyUnclaimedAnswersByLatestArrival) {
  constexpr size_t kBound = ServiceProxyTables::kMaxUnclaimedAnswers;
  ServiceProxyTables tables;
  PluginServiceProxyResponse answer;
  int completed = 0;
  ASSERT_TRUE(
      tables.AddPending("asked", [&completed](const PluginServiceProxyResponse&) { ++completed; }));
  EXPECT_FALSE(tables.AddPending("asked", [](const PluginServiceProxyResponse&) {}));
  EXPECT_EQ(tables.AddAnswer("asked", answer), std::nullopt);
  EXPECT_EQ(tables.AddAnswer("first", answer), std::nullopt);
  for (size_t i = 1; i < kBound; ++i) {
    EXPECT_EQ(tables.AddAnswer("n" + std::to_string(i), answer), std::nullopt);
  }
  // "first" arrives again: it is now the newest, so "n1" is the oldest.
  answer.payload = "again";
  EXPECT_EQ(tables.AddAnswer("first", answer), std::nullopt);
  EXPECT_EQ(tables.AddAnswer("late", answer), "n1");
  EXPECT_EQ(tables.answerCount(), kBound + 1);  // the bound plus the claimed one

  std::optional<ServiceProxyTables::Match> match = tables.TakeMatch();
  ASSERT_TRUE(match);
  EXPECT_EQ(match->identifier, "asked");
  match->completion(match->answer);
  EXPECT_EQ(completed, 1);
  EXPECT_FALSE(tables.TakeMatch());

  ASSERT_TRUE(tables.AddPending("first", [](const PluginServiceProxyResponse&) {}));
  match = tables.TakeMatch();
  ASSERT_TRUE(match);
  EXPECT_EQ(match->answer.payload, "again");
  EXPECT_EQ(tables.pendingCount(), 0u);
}

TEST_F(ServiceProxyTest, AnswersBecomeFailuresByTheirText) {
  const std::string type = StaticTypeName<UrlResponse>();
  const struct {
    const char* payload;
    const char* error;
    std::string failure;
  } cases[] = {
      {R"({"url":"fine"})", "server says no", "server says no"},
      {"", "", "Failed to deserialize response payload \"\" to a " + type},
      {"{broken", "", "Failed to deserialize response payload \"{broken\" to a " + type},
      {R"({"url":5})", "", "Failed to deserialize response payload \"{\"url\":5}\" to a " + type},
  };
  for (const auto& c : cases) {
    std::future<Answer> future = Start();
    const std::string uuid = "uuid-" + std::to_string(uuids);
    Deliver("OnServiceProxyUuidEvent", ProxyAnswer(uuid.c_str(), c.payload, c.error));
    ASSERT_TRUE(Ready(future)) << c.payload;
    EXPECT_EQ(FailureOf(future), c.failure) << c.payload;
  }
}

TEST_F(ServiceProxyTest, RequestsThatCannotBeSentFailAtOnce) {
  module.answerCall = [](CallResult* result, const CallRecord*) {
    FakeHostModule::AnswerError(result, "login plug-in is gone", 503);
  };
  std::future<Answer> refused = Start();
  ASSERT_TRUE(Ready(refused));
  EXPECT_EQ(FailureOf(refused),
            "Error response for POST /pex-login/v1/service-proxy-uuid-requests: "
            "login plug-in is gone");

  std::future<Answer> unconvertible =
      module.CallServiceProxy<Unregistered, UrlResponse>("s", "m", Unregistered{});
  ASSERT_TRUE(Ready(unconvertible));
  EXPECT_EQ(FailureOf(unconvertible), "Failed to convert type " +
                                          std::string(StaticTypeName<Unregistered>()) +
                                          " to BindingProperty for serialization");

  module.BeginShutdown();
  std::future<Answer> late = Start();
  ASSERT_TRUE(Ready(late));
  EXPECT_EQ(FailureOf(late), "Finalizing");
  EXPECT_EQ(module.calls.size(), 1u);
}

TEST_F(ServiceProxyTest, SyncCallYieldsUntilTheAnswerArrives) {
  module.onYield = [this] {
    Deliver("OnServiceProxyUuidEvent", ProxyAnswer("uuid-1", R"({"url":"later"})"));
  };
  Answer answer = module.CallServiceProxySync<UrlRequest, UrlResponse>(
      "replays.retrieval", "getDownloadUrl", UrlRequest{1});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer.value().url, "later");
  EXPECT_EQ(module.yields, 1);
  EXPECT_EQ(module.waits.size(), 1u);
  EXPECT_EQ(module.endWaits, 1);
}

// The first request keeps its completion: the second fails at once instead
// of waiting for (and taking) the first one's answer.
TEST_F(ServiceProxyTest, ARepeatedUuidFailsTheLaterRequestOnly) {
  module.answerCall = [](CallResult* result, const CallRecord*) {
    FakeHostModule::AnswerValue(result, BindingProperty("uuid-1"));
  };
  std::future<Answer> first = Start(1);
  capture.clear();
  module.onYield = [this] {
    Deliver("OnServiceProxyUuidEvent", ProxyAnswer("uuid-1", R"({"url":"taken"})"));
  };
  Answer second = module.CallServiceProxySync<UrlRequest, UrlResponse>(
      "replays.retrieval", "getDownloadUrl", UrlRequest{2});
  ASSERT_FALSE(second);
  EXPECT_EQ(second.failure().message, "Request identifier uuid-1 is already in flight");
  EXPECT_EQ(module.yields, 0);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "ALWAYS| DBG| pex-replays: Preparing service proxy request: "
                "replays.retrieval.getDownloadUrl\n",
                "  WARN| DBG| pex-replays: Could not start service proxy request "
                "replays.retrieval.getDownloadUrl: identifier uuid-1 is already in flight\n"}));

  ASSERT_FALSE(Ready(first));
  module.onYield = nullptr;
  Deliver("OnServiceProxyUuidEvent", ProxyAnswer("uuid-1", R"({"url":"first"})"));
  ASSERT_TRUE(Ready(first));
  EXPECT_EQ(first.get().value().url, "first");
}

TEST_F(ServiceProxyTest, AsyncEventWithoutHandlerIsAnError) {
  Deliver("OnServiceProxyAsyncEvent", ProxyAnswer("", "{}", "", "chat", "presence"));
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0],
            " ERROR| DBG| pex-replays: Could not find registered handler for async service "
            "proxy event chat.presence\n");
}

TEST_F(ServiceProxyTest, MethodFormAllowsOneRequestPerServiceMethod) {
  module.answerCall = nullptr;
  std::vector<std::string> done;
  auto completion = [&done](const PluginServiceProxyResponse& answer) {
    done.push_back(answer.payload);
  };
  EXPECT_EQ(module.InvokeServiceProxy("chat", "send", UrlRequest{3}, "room", "7", completion), "");
  ASSERT_EQ(module.calls.size(), 1u);
  EXPECT_EQ(module.calls[0].url, "/pex-login/v1/service-proxy-method-requests");
  EXPECT_EQ(module.calls[0].arguments,
            (std::vector<BindingProperty>{BindingProperty("chat"), BindingProperty("send"),
                                          BindingProperty("room"), BindingProperty("7"),
                                          BindingProperty(uint64_t{0x5150}),
                                          BindingProperty(R"({"gameId":3})")}));

  capture.clear();
  EXPECT_EQ(module.InvokeServiceProxy("chat", "send", UrlRequest{4}, "room", "7", completion),
            "Request already in flight");
  EXPECT_EQ(module.calls.size(), 1u);
  EXPECT_TRUE(capture.contains(
      "pex-replays: Could not invoke service proxy as request is already in flight"));

  Deliver("OnServiceProxyMethodEvent", ProxyAnswer("", "sent", "", "chat", "send"));
  EXPECT_EQ(done, std::vector<std::string>{"sent"});
  EXPECT_EQ(module.InvokeServiceProxy("chat", "send", UrlRequest{5}, "room", "7", completion), "");
}

}  // namespace
}  // namespace Zorv::Client
