#include "host/plugin_host.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/json_writer.h"
#include "framework/hostapi/host_value_codec.h"

namespace Zorv::Host {
namespace {

// ---- A fake plug-in: C callbacks over the host's function table ---------------------------------

struct FakePlugin {
  const HostApi* api = nullptr;
  int shutdowns = 0;
  PluginRegistration answer{};  // what the entry function answers
  std::string hostVersion;      // words 0-2 as the entry function found them
};
FakePlugin plugin;

uint8_t FakeInitialize(void* module, const HostApi* api) {
  static_cast<FakePlugin*>(module)->api = api;
  return 1;
}
void FakeShutdown(void* module) {
  ++static_cast<FakePlugin*>(module)->shutdowns;
}
void FakeMemoryStats(void*, uint32_t out[ZORV_MEMORY_STATS_WORDS]) {
  out[0] = 7;
}
const PluginCallbacks kFakeCallbacks{FakeInitialize, FakeShutdown, FakeMemoryStats};

void FakeEntry(PluginRegistration* registration) {
  plugin.hostVersion = std::to_string(registration->major) + "." +
                       std::to_string(registration->minor) + "." +
                       std::to_string(registration->patch);
  registration->major = plugin.answer.major;
  registration->minor = plugin.answer.minor;
  registration->patch = plugin.answer.patch;
  registration->callbacks = plugin.answer.callbacks;
  registration->module = plugin.answer.module;
  registration->shortName = "fake";
}

struct Received {
  std::string name;
  std::string payload;  // as JSON
};

void Capture(const IncomingEventRecord* event) {
  BindingResult payload = DecodeHostValue(event->payload);
  static_cast<std::vector<Received>*>(event->context)
      ->push_back(Received{event->name, ToJsonText(payload.value)});
}

struct Answer {
  std::string error;  // "" on success
  int32_t status = 0;
  std::string json;  // the result value
};

HostValue ResultValue(const CallResult& result) {
  HostValue value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(&result) + offsetof(CallResult, value),
              sizeof(value));
  return value;
}

class PluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin = FakePlugin{};
    plugin.answer.major = 18;
    plugin.answer.callbacks = &kFakeCallbacks;
    plugin.answer.module = &plugin;
  }

  // Registers and initialises the fake plug-in.
  void Load() {
    ASSERT_EQ(host.Attach(FakeEntry), "");
    ASSERT_TRUE(host.Initialize(5));
    ASSERT_NE(plugin.api, nullptr);
  }
  const HostFunctions* Functions() const { return plugin.api->functions; }

  // The plug-in's CallFunction with positional arguments given as JSON texts;
  // the result is released exactly once.
  Answer Call(uint32_t method, const char* url, std::vector<std::string> arguments = {}) {
    std::vector<HostArgument> encoded(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
      encoded[i].name = nullptr;
      EXPECT_TRUE(EncodeHostValue(FromJson(arguments[i]), nullptr, encoded[i].value).success);
    }
    CallRecord call{};
    call.method = method;
    call.url = url;
    call.arguments = encoded.data();
    call.argumentCount = static_cast<uint32_t>(encoded.size());
    call.hostHandle = plugin.api->hostHandle;
    CallResult result;
    std::memset(static_cast<void*>(&result), 0, sizeof(result));
    Functions()->CallFunction(Functions(), &result, &call);

    Answer answer;
    answer.error = result.error ? result.error : "";
    answer.status = result.status;
    answer.json = ToJsonText(DecodeHostValue(ResultValue(result)).value);
    if (result.release) result.release(&result);
    for (HostArgument& argument : encoded) ReleaseHostValue(argument.value);
    return answer;
  }

  static BindingProperty FromJson(const std::string& json) {
    return std::move(CallAnswer::Json(json).value);
  }

  void Subscribe(const char* name) {
    Functions()->SubscribeEvent(Functions(), name, plugin.api->hostHandle, Capture, &received, 0);
  }

  PluginHost host;
  std::vector<Received> received;
};

// ---- Handshake ----------------------------------------------------------------------------------

TEST_F(PluginHostTest, RegistrationWritesTheHostVersionAndChecksTheAnswer) {
  struct Case {
    const char* name;
    uint32_t major, minor, patch;
    bool callbacks, module;
    const char* error;  // "" when accepted
  };
  const Case cases[] = {
      {"same version", 18, 0, 0, true, true, ""},
      {"older patch", 18, 0, 2, true, true, ""},
      {"newer minor", 18, 1, 0, true, true,
       "the plug-in's API 18.1.0 does not fit the host's 18.0.3"},
      {"newer patch", 18, 0, 4, true, true,
       "the plug-in's API 18.0.4 does not fit the host's 18.0.3"},
      {"other major", 17, 0, 0, true, true,
       "the plug-in's API 17.0.0 does not fit the host's 18.0.3"},
      {"no callbacks", 18, 0, 0, false, true, "the plug-in answered no callbacks"},
      {"no module", 18, 0, 0, true, false, "the plug-in answered no module"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plugin.shutdowns = 0;
    plugin.answer.major = c.major;
    plugin.answer.minor = c.minor;
    plugin.answer.patch = c.patch;
    plugin.answer.callbacks = c.callbacks ? &kFakeCallbacks : nullptr;
    plugin.answer.module = c.module ? &plugin : nullptr;
    PluginHost local;
    EXPECT_EQ(local.Attach(FakeEntry, HostVersion{18, 0, 3}), c.error);
    EXPECT_EQ(plugin.hostVersion, "18.0.3");
    if (*c.error) {
      // A refused plug-in that has a module gets it freed; nothing else is called.
      EXPECT_EQ(plugin.shutdowns, c.callbacks && c.module ? 1 : 0);
      EXPECT_FALSE(local.Initialize());
    } else {
      EXPECT_EQ(local.Registration().module, &plugin);
      EXPECT_EQ(local.MemoryStats()[0], 7u);
    }
  }
}

TEST_F(PluginHostTest, ShutdownRunsOnceAndEndsEveryHostService) {
  Load();
  Subscribe("OnJsonApiEvent_a_b_c");
  host.Shutdown();
  host.Shutdown();
  EXPECT_EQ(plugin.shutdowns, 1);
  EXPECT_FALSE(host.Bus().IsSubscribed("OnJsonApiEvent_a_b_c"));
  EXPECT_EQ(host.Registration().callbacks, nullptr);

  // A plug-in that calls on after Shutdown gets failures, never a crash.
  const Answer answer = Call(HOST_METHOD_GET, "/a/b/c");
  EXPECT_EQ(answer.status, 503);
  EXPECT_FALSE(host.Faults().empty());
}

// ---- CallFunction -------------------------------------------------------------------------------

TEST_F(PluginHostTest, CallsRouteToHandlersThenResourcesThenNotFound) {
  Load();
  host.SetResource("/res/v1/item", R"({"from":"resource"})");
  host.Handle(HOST_METHOD_POST, "/res/v1/item", [](const CallRequest& request) {
    EXPECT_EQ(request.url, "/res/v1/item?x=1");
    EXPECT_EQ(request.arguments.size(), 2u);
    BindingProperty echo;
    echo.field("first") = request.arguments.at(0);
    echo.field("second") = request.arguments.at(1);
    return CallAnswer::Value(std::move(echo));
  });
  host.Handle(0, "/any", [](const CallRequest& request) {
    return CallAnswer::Error("refused " + request.methodText, 409);
  });

  const Answer posted = Call(HOST_METHOD_POST, "/res/v1/item?x=1", {"[1,2]", R"({"k":"v"})"});
  EXPECT_EQ(posted.error, "");
  EXPECT_EQ(posted.status, 200);
  EXPECT_EQ(posted.json, R"({"first":[1,2],"second":{"k":"v"}})");

  EXPECT_EQ(Call(HOST_METHOD_GET, "/res/v1/item").json, R"({"from":"resource"})");

  const Answer any = Call(HOST_METHOD_DELETE, "/any");
  EXPECT_EQ(any.error, "refused DELETE");
  EXPECT_EQ(any.status, 409);

  // A handler that throws answers an error, never an empty success.
  host.Handle(HOST_METHOD_GET, "/throws",
              [](const CallRequest&) -> CallAnswer { throw std::runtime_error("boom"); });
  const Answer thrown = Call(HOST_METHOD_GET, "/throws");
  EXPECT_EQ(thrown.error, "host failure: boom");
  EXPECT_EQ(thrown.status, 500);

  const Answer missing = Call(HOST_METHOD_GET, "/nothing/here");
  EXPECT_EQ(missing.error, "Not found: GET /nothing/here");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(host.Resources().Calls().size(), 5u);
  EXPECT_EQ(host.Ledger().issued, host.Ledger().released);
}

TEST_F(PluginHostTest, ResourceChangesReachFollowersAsResourceEvents) {
  Load();
  Subscribe("OnJsonApiEvent_pex-settings_v1_local");

  // A change made by the test reaches followers at once.
  host.SetResource("/pex-settings/v1/local/x", R"({"a":1,"b":2})");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].name, "OnJsonApiEvent_pex-settings_v1_local");
  EXPECT_EQ(received[0].payload,
            R"({"data":{"a":1,"b":2},"eventType":"Create","uri":"/pex-settings/v1/local/x"})");

  // One made by the plug-in is queued until the host runs its pending work.
  EXPECT_EQ(Call(HOST_METHOD_PATCH, "/pex-settings/v1/local/x", {R"({"b":3})"}).error, "");
  EXPECT_EQ(received.size(), 1u);
  host.RunPending();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].payload,
            R"({"data":{"a":1,"b":3},"eventType":"Update","uri":"/pex-settings/v1/local/x"})");

  EXPECT_EQ(Call(HOST_METHOD_PUT, "/pex-settings/v1/local/x", {"5"}).status, 200);
  EXPECT_EQ(Call(HOST_METHOD_DELETE, "/pex-settings/v1/local/x").status, 204);
  EXPECT_EQ(Call(HOST_METHOD_GET, "/pex-settings/v1/local/x").status, 404);
  EXPECT_EQ(Call(HOST_METHOD_POST, "/pex-settings/v1/local/y", {"true"}).status, 201);
  host.RunPending();
  ASSERT_EQ(received.size(), 5u);
  EXPECT_EQ(received[2].payload,
            R"({"data":5,"eventType":"Update","uri":"/pex-settings/v1/local/x"})");
  EXPECT_EQ(received[3].payload,
            R"({"data":null,"eventType":"Delete","uri":"/pex-settings/v1/local/x"})");
  EXPECT_EQ(received[4].payload,
            R"({"data":true,"eventType":"Create","uri":"/pex-settings/v1/local/y"})");

  // After unsubscribing nothing arrives.
  Functions()->UnsubscribeEvent(Functions(), "OnJsonApiEvent_pex-settings_v1_local", 5);
  host.SetResource("/pex-settings/v1/local/x", "1");
  EXPECT_EQ(received.size(), 5u);
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(PluginHostTest, StreamedResultsReadChunkByChunkAndReleaseOnce) {
  Load();
  host.Handle(HOST_METHOD_GET, "/stream", [](const CallRequest&) {
    return CallAnswer::Stream({"abcdef", "", "gh"});
  });
  host.Handle(HOST_METHOD_GET, "/broken", [](const CallRequest&) {
    return CallAnswer::Stream({"ab", "cd"}, 1);
  });

  auto read = [&](const char* url) {
    CallRecord call{};
    call.method = HOST_METHOD_GET;
    call.url = url;
    call.hostHandle = 5;
    CallResult result;
    std::memset(static_cast<void*>(&result), 0, sizeof(result));
    Functions()->CallFunction(Functions(), &result, &call);
    // Packed members are copied before gtest takes references to them.
    const HostStreamReadFunction streamRead = result.streamRead;
    const uint32_t streamSize = result.streamSize;
    EXPECT_NE(streamRead, nullptr);
    EXPECT_EQ(streamSize, std::string(url) == "/stream" ? 8u : 4u);
    std::vector<std::string> reads;  // bytes read, then "+" while more follows, "!" on failure
    for (int guard = 0; guard < 10; ++guard) {
      char buffer[4];
      uint32_t size = sizeof(buffer);
      uint8_t more = 0;
      if (!result.streamRead(result.streamHandle, buffer, &size, &more)) {
        reads.push_back("!");
        break;
      }
      reads.push_back(std::string(buffer, size) + (more ? "+" : ""));
      if (!more) break;
    }
    result.streamClose(result.streamHandle);
    result.release(&result);
    return reads;
  };
  EXPECT_EQ(read("/stream"), (std::vector<std::string>{"abcd+", "ef+", "+", "gh"}));
  EXPECT_EQ(read("/broken"), (std::vector<std::string>{"ab+", "!"}));
  EXPECT_EQ(host.Ledger().streams, 2u);
  EXPECT_EQ(host.Ledger().streamCloses, 2u);
  EXPECT_EQ(host.Ledger().released, 2u);
}

TEST_F(PluginHostTest, RawAnswersKeepTheCallersMemory) {
  Load();
  // A heap block the test owns: a host that freed or overwrote it would show
  // here (and as a double free under the sanitizers when the test frees it).
  auto text = std::make_unique<char[]>(9);
  std::memcpy(text.get(), "borrowed", 9);
  HostValue raw{};
  raw.tag = HOST_VALUE_TEXT;
  raw.payload.text.data = text.get();
  raw.payload.text.length = 8;
  host.Handle(HOST_METHOD_GET, "/raw", [&](const CallRequest&) { return CallAnswer::Raw(raw); });
  EXPECT_EQ(Call(HOST_METHOD_GET, "/raw").json, R"("borrowed")");
  EXPECT_EQ(Call(HOST_METHOD_GET, "/raw").json, R"("borrowed")");
  EXPECT_STREQ(text.get(), "borrowed");
}

// ---- Service proxy ------------------------------------------------------------------------------

TEST_F(PluginHostTest, ServiceAnswersArriveAsUuidEventsWithTheirScriptedTiming) {
  Load();
  Subscribe("OnServiceProxyUuidEvent");
  ServiceProxyServer& server = host.ServiceProxy();
  server.Answer("svc", "later",
                ServiceAnswer::Payload(R"({"a":1})").After(std::chrono::seconds(2)));
  server.Answer("svc", "yield", ServiceAnswer::Error("refused").OnNextYield());
  server.Answer("svc", "now", ServiceAnswer::Payload("1").DuringRequest());
  server.Answer("svc", "never", ServiceAnswer::NoAnswer());
  auto request = [&](const char* method) {
    const Answer answer =
        Call(HOST_METHOD_POST, "/pex-login/v1/service-proxy-uuid-requests",
             {R"("svc")", std::string("\"") + method + "\"", "5", R"("{\"q\":2}")"});
    EXPECT_EQ(answer.error, "");
    return answer.json;
  };

  EXPECT_EQ(request("later"), R"("00000000-0000-4000-8000-000000000001")");
  host.Advance(std::chrono::milliseconds(1999));
  EXPECT_TRUE(received.empty());
  host.Advance(std::chrono::milliseconds(1));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].name, "OnServiceProxyUuidEvent");
  EXPECT_EQ(received[0].payload,
            R"({"error":"","methodName":"later","payload":"{\"a\":1}","serviceName":"svc",)"
            R"("status":"200","uuid":"00000000-0000-4000-8000-000000000001"})");

  request("yield");
  host.RunPending();
  EXPECT_EQ(received.size(), 1u);
  Functions()->YieldToHost(Functions());
  ASSERT_EQ(received.size(), 2u);
  EXPECT_NE(received[1].payload.find(R"("error":"refused")"), std::string::npos);

  // Delivered before the request call returns its uuid.
  request("now");
  ASSERT_EQ(received.size(), 3u);
  EXPECT_NE(received[2].payload.find(R"("uuid":"00000000-0000-4000-8000-000000000003")"),
            std::string::npos);

  const std::string never = request("never");
  host.Advance(std::chrono::hours(1));
  EXPECT_EQ(received.size(), 3u);
  EXPECT_TRUE(server.Respond(never.substr(1, never.size() - 2), ServiceAnswer::Payload("late")));
  EXPECT_FALSE(server.Respond("no-such-uuid", ServiceAnswer::Payload("late")));
  host.RunPending();
  ASSERT_EQ(received.size(), 4u);
  EXPECT_NE(received[3].payload.find(R"("payload":"late")"), std::string::npos);

  request("unscripted");
  host.RunPending();
  ASSERT_EQ(received.size(), 5u);
  EXPECT_NE(received[4].payload.find(R"("error":"No service answers svc.unscripted")"),
            std::string::npos);
  EXPECT_NE(received[4].payload.find(R"("status":"404")"), std::string::npos);

  ASSERT_EQ(server.Requests().size(), 5u);
  EXPECT_EQ(server.Requests()[0].payload, R"({"q":2})");
  EXPECT_EQ(server.Requests()[0].hostHandle, 5u);
  EXPECT_EQ(server.Delivered().size(), 5u);
  // The plug-in's timer history holds none of the host's own deliveries.
  EXPECT_TRUE(host.Timers().History().empty());
}

TEST_F(PluginHostTest, MalformedServiceProxyRequestsAreRefused) {
  Load();
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{R"("svc")", R"("m")", "5"},
        std::vector<std::string>{R"("svc")", R"("m")", R"("5")", R"("{}")"},
        std::vector<std::string>{R"("svc")", "7", "5", R"("{}")"}}) {
    const Answer answer =
        Call(HOST_METHOD_POST, "/pex-login/v1/service-proxy-uuid-requests", arguments);
    EXPECT_EQ(answer.status, 400);
    EXPECT_NE(answer.error.find("Bad service-proxy request"), std::string::npos);
  }
  EXPECT_TRUE(host.ServiceProxy().Requests().empty());
}

// ---- SendRequest --------------------------------------------------------------------------------

TEST_F(PluginHostTest, RequestsAreRecordedAndAnsweredFromTheTransport) {
  Load();
  host.FakeTransport()->Answer("GET", "https://cdn/x",
                               HttpResponse::Answer(206, "body!", {{"content-type", "bin"}}));
  host.FakeTransport()->Answer("PUT", "https://cdn/y", HttpResponse::Failure(-1, "timed out"));

  const HostHeaderPair headers[] = {{"user-agent", "ua"}, {"x", "1"}};
  HostRequestRecord request{};
  request.method = HOST_METHOD_GET;
  request.url = "https://cdn/x";
  request.headers = headers;
  request.headerCount = 2;
  request.body = "in";
  request.bodySize = 2;
  request.optionFlag = 1;
  HostResponseRecord response{};
  // Pending work runs while the transfer is in flight.
  Subscribe("OnJsonApiEvent_a_b_c");
  EventRecord event{};
  event.name = "/a/b/c";
  Functions()->SendEvent(Functions(), &event);
  Functions()->SendRequest(Functions(), &request, &response);
  EXPECT_EQ(received.size(), 1u);
  EXPECT_EQ(response.resultCode, 0);
  EXPECT_EQ(response.status, 206);
  ASSERT_EQ(response.headerCount, 1u);
  EXPECT_STREQ(response.headers[0].value, "bin");
  EXPECT_EQ(std::string(static_cast<const char*>(response.body), response.bodySize), "body!");

  const HttpRequest& sent = host.FakeTransport()->Requests().at(0);
  EXPECT_EQ(sent.methodText, "GET");
  EXPECT_EQ(sent.headers, (HeaderList{{"user-agent", "ua"}, {"x", "1"}}));
  EXPECT_EQ(sent.body, "in");
  EXPECT_EQ(sent.optionWord, 0u);
  EXPECT_EQ(sent.optionFlag, 1u);

  for (auto [method, url, code, text] :
       {std::tuple{HOST_METHOD_PUT, "https://cdn/y", -1, "timed out"},
        std::tuple{HOST_METHOD_GET, "https://cdn/z", 1, "no answer for GET https://cdn/z"}}) {
    request.method = method;
    request.url = url;
    Functions()->SendRequest(Functions(), &request, &response);
    EXPECT_EQ(response.resultCode, code);
    EXPECT_EQ(std::string(static_cast<const char*>(response.body), response.bodySize), text);
  }
}

// The answer has no release function: it stays whole until the plug-in calls
// the host again, and is freed then, so a replay is not held between downloads.
TEST_F(PluginHostTest, AnAnswerIsHeldUntilThePluginsNextHostCall) {
  Load();
  const std::string body(1 << 20, 'r');
  host.FakeTransport()->Answer("GET", "https://cdn/r", HttpResponse::Answer(200, body));
  HostRequestRecord request{};
  request.method = HOST_METHOD_GET;
  request.url = "https://cdn/r";
  HostResponseRecord response{};
  Functions()->SendRequest(Functions(), &request, &response);
  ASSERT_EQ(response.bodySize, body.size());
  EXPECT_GE(host.HeldResponseBytes(), body.size());
  // Nothing of the host's runs on its own in between.
  host.RunPending();
  EXPECT_EQ(std::string_view(static_cast<const char*>(response.body), response.bodySize), body);

  Functions()->Log(Functions(), 1, "written");
  EXPECT_LT(host.HeldResponseBytes(), 1024u);
}

// ---- Timers, yields and waits -------------------------------------------------------------------

struct NamedTimer {
  const char* name;
  const HostFunctions* functions;
  double rescheduleDelay;  // < 0: none
  std::vector<std::string>* ran;
};

void RunNamedTimer(void* context) {
  auto* timer = static_cast<NamedTimer*>(context);
  timer->ran->push_back(std::string(timer->name));
  if (timer->rescheduleDelay >= 0) {
    const double delay = timer->rescheduleDelay;
    timer->rescheduleDelay = -1;
    timer->functions->ScheduleCallback(timer->functions, "again", RunNamedTimer, timer, delay, 0);
  }
}

TEST_F(PluginHostTest, TimersRunOnVirtualTimeInDueOrder) {
  Load();
  std::vector<std::string> ran;
  NamedTimer late{"late", Functions(), -1, &ran};
  NamedTimer first{"first", Functions(), -1, &ran};
  NamedTimer second{"second", Functions(), 0.5, &ran};  // schedules "second" again
  NamedTimer now{"now", Functions(), -1, &ran};
  Functions()->ScheduleCallback(Functions(), "late", RunNamedTimer, &late, 5.0, 0);
  Functions()->ScheduleCallback(Functions(), "first", RunNamedTimer, &first, 1.0, 0);
  Functions()->ScheduleCallback(Functions(), "second", RunNamedTimer, &second, 1.0, 0);
  Functions()->ScheduleCallback(Functions(), "now", RunNamedTimer, &now, -3.0, 0);
  EXPECT_TRUE(ran.empty());

  host.Advance(std::chrono::milliseconds(1600));
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "first", "second", "second"}));
  host.Advance(std::chrono::milliseconds(3399));
  EXPECT_EQ(ran.size(), 4u);
  host.Advance(std::chrono::milliseconds(1));
  EXPECT_EQ(ran.back(), "late");
  EXPECT_EQ(host.Timers().Pending(), 0u);

  const auto& history = host.Timers().History();
  ASSERT_EQ(history.size(), 5u);
  EXPECT_EQ(history[3].delaySeconds, -3.0);
  EXPECT_EQ(history[3].due, 0);
  EXPECT_EQ(history[4].name, "again");
  EXPECT_EQ(history[4].due, 1'500'000'000);
}

TEST_F(PluginHostTest, HostWorkRunsOnTheHostsOwnTimersAndEndsWithShutdown) {
  Load();
  std::vector<std::string> ran;
  host.ScheduleHostWork(
      "end watch", [&] { ran.push_back("end watch"); }, 2.0);
  host.ScheduleHostWork(
      "soon", [&] { ran.push_back("soon"); }, 0.5);
  host.ScheduleHostWork(
      "dropped", [&] { ran.push_back("dropped"); }, 10.0);
  EXPECT_EQ(host.Timers().Pending(), 0u);  // the plug-in's timers stay its own

  host.Advance(std::chrono::milliseconds(1999));
  EXPECT_EQ(ran, (std::vector<std::string>{"soon"}));
  host.Advance(std::chrono::milliseconds(1));
  EXPECT_EQ(ran, (std::vector<std::string>{"soon", "end watch"}));
  host.Shutdown();
  host.Advance(std::chrono::seconds(20));
  EXPECT_EQ(ran.size(), 2u);
}

void RescheduleForever(void* context) {
  auto* functions = static_cast<const HostFunctions*>(context);
  functions->ScheduleCallback(functions, "again", RescheduleForever, context, 0.0, 0);
}

TEST_F(PluginHostTest, WorkThatNeverSettlesStopsWithAFault) {
  Load();
  Functions()->ScheduleCallback(Functions(), "again", RescheduleForever,
                                const_cast<HostFunctions*>(Functions()), 0.0, 0);
  host.RunPending();
  EXPECT_EQ(host.Faults(), (std::vector<std::string>{"RunPending: pending work does not settle"}));
  EXPECT_EQ(host.Timers().Pending(), 1u);
}

TEST_F(PluginHostTest, YieldRunsScriptedWorkQueuedEventsAndDueTimers) {
  Load();
  std::vector<std::string> ran;
  NamedTimer timer{"timer", Functions(), -1, &ran};
  Subscribe("OnJsonApiEvent_a_b_c");
  host.OnYield([&] { ran.push_back("second yield"); }, 2);
  host.OnYield([&] { ran.push_back("first yield"); });

  // Sent from inside the plug-in: queued, not delivered yet.
  EventRecord event{};
  event.name = "/a/b/c";
  event.eventType = PLUGIN_RESOURCE_EVENT_UPDATE;
  Functions()->SendEvent(Functions(), &event);
  Functions()->ScheduleCallback(Functions(), "t", RunNamedTimer, &timer, 0.0, 0);
  EXPECT_TRUE(received.empty());
  EXPECT_TRUE(ran.empty());

  Functions()->BeginWait(Functions(), "Wait: yield", 0);
  Functions()->YieldToHost(Functions());
  Functions()->EndWait(Functions());
  EXPECT_EQ(ran, (std::vector<std::string>{"first yield", "timer"}));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(host.Events().at(0).eventType, uint32_t{PLUGIN_RESOURCE_EVENT_UPDATE});

  Functions()->YieldToHost(Functions());
  EXPECT_EQ(ran.back(), "second yield");
  EXPECT_EQ(host.Yields(), 2u);
  EXPECT_EQ(host.WaitDescriptions(), (std::vector<std::string>{"Wait: yield"}));
  EXPECT_EQ(host.WaitDepth(), 0u);
  EXPECT_TRUE(host.Faults().empty());

  Functions()->EndWait(Functions());
  EXPECT_EQ(host.Faults(), (std::vector<std::string>{"EndWait: no wait begun"}));
}

TEST_F(PluginHostTest, AnIdleYieldLetsTimePassToTheNextTimer) {
  Load();
  std::vector<std::string> ran;
  NamedTimer later{"later", Functions(), -1, &ran};
  NamedTimer latest{"latest", Functions(), -1, &ran};
  Functions()->ScheduleCallback(Functions(), "later", RunNamedTimer, &later, 10.0, 0);
  Functions()->ScheduleCallback(Functions(), "latest", RunNamedTimer, &latest, 20.0, 0);
  // A scripted action still to come keeps the clock where it is.
  host.OnYield([&] { ran.push_back("action"); }, 2);
  Functions()->YieldToHost(Functions());
  EXPECT_TRUE(ran.empty());
  Functions()->YieldToHost(Functions());
  EXPECT_EQ(ran, std::vector<std::string>{"action"});
  // Now idle: one timer per yield, at its own due time.
  Functions()->YieldToHost(Functions());
  EXPECT_EQ(ran.back(), "later");
  EXPECT_EQ(host.Timers().History()[0].due, 10'000'000'000);
  Functions()->YieldToHost(Functions());
  EXPECT_EQ(ran.back(), "latest");
}

TEST(PluginHostDeathTest, AWaitThatNothingCanEndStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  plugin = FakePlugin{};
  plugin.answer.major = 18;
  plugin.answer.callbacks = &kFakeCallbacks;
  plugin.answer.module = &plugin;
  PluginHost::Options options;
  options.maxIdleYields = 3;
  EXPECT_DEATH(
      {
        PluginHost local(options);
        local.Attach(FakeEntry);
        local.Initialize();
        for (int i = 0; i < 3; ++i) plugin.api->functions->YieldToHost(plugin.api->functions);
      },
      "yielded 3 times with no work left to run");
}

TEST_F(PluginHostTest, PublishedEventsAreKeptAndRelayedOnceAsResourceEvents) {
  Load();
  Subscribe("OnJsonApiEvent_a_b_c");
  Subscribe("OnCustom");
  HostValue value{};
  ASSERT_TRUE(EncodeHostValue(FromJson(R"({"v":1})"), nullptr, value).success);
  for (const char* name : {"OnJsonApiEvent_a_b_c", "/a/b/c/7", "OnCustom"}) {
    EventRecord event{};
    event.name = name;
    event.payload = value;
    event.eventType = PLUGIN_RESOURCE_EVENT_DELETE;
    Functions()->SendEvent(Functions(), &event);
  }
  ReleaseHostValue(value);
  host.RunPending();

  ASSERT_EQ(host.Events().size(), 3u);
  EXPECT_EQ(host.Events()[0].name, "OnJsonApiEvent_a_b_c");
  EXPECT_EQ(ToJsonText(host.Events()[0].payload), R"({"v":1})");
  // The grouped event's change reaches followers once, through its URL twin.
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].name, "OnJsonApiEvent_a_b_c");
  EXPECT_EQ(received[0].payload, R"({"data":{"v":1},"eventType":"Delete","uri":"/a/b/c/7"})");
  EXPECT_EQ(received[1].name, "OnCustom");
  EXPECT_EQ(received[1].payload, R"({"v":1})");
}

TEST_F(PluginHostTest, TheTapSeesThePluginsEventsAndResourceChanges) {
  Load();
  std::vector<std::string> tapped;
  host.TapEvents([&](const TappedEvent& event) {
    tapped.push_back(event.name + " " + event.uri + " " + std::to_string(event.eventType) + " " +
                     ToJsonText(event.data));
  });
  HostValue value{};
  ASSERT_TRUE(EncodeHostValue(FromJson("7"), nullptr, value).success);
  for (const char* name : {"/a/b/c/7", "OnCustom"}) {
    EventRecord event{};
    event.name = name;
    event.payload = value;
    event.eventType = PLUGIN_RESOURCE_EVENT_UPDATE;
    Functions()->SendEvent(Functions(), &event);
  }
  ReleaseHostValue(value);
  host.SetResource("/pex-settings/v1/local/x", "1");
  host.Resources().RemoveResource("/pex-settings/v1/local/x");
  EXPECT_EQ(tapped, (std::vector<std::string>{
                        "/a/b/c/7 /a/b/c/7 1 7",
                        "OnCustom  1 7",
                        "OnJsonApiEvent_pex-settings_v1_local /pex-settings/v1/local/x 0 1",
                        "OnJsonApiEvent_pex-settings_v1_local /pex-settings/v1/local/x 2 ",
                    }));
}

TEST_F(PluginHostTest, APrefixHandlerServesAFamilyOfPathsAfterExactOnes) {
  Load();
  std::vector<std::string> paths;
  host.Resources().HandlePrefix(HOST_METHOD_POST, "/telemetry/v1/events/",
                                [&](const CallRequest& request) {
                                  paths.push_back(request.path);
                                  return CallAnswer::Value(BindingProperty(), 204);
                                });
  host.Handle(HOST_METHOD_POST, "/telemetry/v1/events/own",
              [](const CallRequest&) { return CallAnswer::Error("exact", 409); });
  EXPECT_EQ(Call(HOST_METHOD_POST, "/telemetry/v1/events/a.b?x=1").status, 204);
  EXPECT_EQ(Call(HOST_METHOD_POST, "/telemetry/v1/events/own").status, 409);
  EXPECT_EQ(Call(HOST_METHOD_GET, "/telemetry/v1/events/a.b").status, 404);
  Call(HOST_METHOD_POST, "/telemetry/v1/other");  // a plain resource, not the family
  EXPECT_EQ(paths, std::vector<std::string>{"/telemetry/v1/events/a.b"});
}

TEST_F(PluginHostTest, LogLinesAreKeptWithTheirLevel) {
  Load();
  Functions()->Log(Functions(), 1, "Plugin started");
  Functions()->Log(Functions(), 9, nullptr);
  ASSERT_EQ(host.Logs().size(), 2u);
  EXPECT_EQ(host.Logs()[0].level, 1);
  EXPECT_EQ(host.Logs()[0].line, "  WARN| Plugin started");
  EXPECT_EQ(host.Logs()[1].line, "   ???| ");
  EXPECT_TRUE(host.LogContains("started"));
}

}  // namespace
}  // namespace Zorv::Host
