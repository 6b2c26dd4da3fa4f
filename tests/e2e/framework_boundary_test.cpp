// The framework's host calls through the real C boundary: a small test
// plug-in (test_plugin/) acts through its exported hooks while the host
// library serves it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "binding/json_writer.h"
#include "test_plugin_fixture.h"

namespace Zorv::Host {
namespace {

class FrameworkBoundaryTest : public TestPluginFixture {
 protected:
  // The module's Call with one JSON argument (or none).
  const E2eReport& Call(uint32_t method, const char* url, const char* argumentJson = nullptr) {
    Hook<E2eCallHook>("e2e_call")(method, url, argumentJson, report.get());
    return *report;
  }
};

TEST_F(FrameworkBoundaryTest, LogLinesReachTheHostRawWithTheirLevel) {
  Hook<E2eLogHook>("e2e_log")(1, "e2e: a warning with 100% raw text");
  Hook<E2eLogHook>("e2e_log")(0, "e2e: an okay line");
  std::vector<LogEntry> mine;
  for (const LogEntry& entry : host.Logs()) {
    if (entry.message.rfind("e2e: ", 0) == 0) mine.push_back(entry);
  }
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].level, 1);
  EXPECT_EQ(mine[0].message, "e2e: a warning with 100% raw text");
  EXPECT_EQ(mine[1].level, 0);
  EXPECT_EQ(mine[1].message, "e2e: an okay line");
}

TEST_F(FrameworkBoundaryTest, TelemetryPostsTheFieldMapToItsEventPath) {
  Hook<E2eSendTelemetryHook>("e2e_send_telemetry")(
      "tnk-be-e2e-test.watchingReplay", R"({"gameId":"42","phase":"start"})", report.get());
  EXPECT_EQ(report->ok, 1);
  const CallRequest& call = host.Resources().Calls().back();
  EXPECT_EQ(call.method, uint32_t{HOST_METHOD_POST});
  EXPECT_EQ(call.url, "/telemetry/v1/events/tnk-be-e2e-test.watchingReplay");
  ASSERT_EQ(call.arguments.size(), 1u);
  EXPECT_EQ(call.argumentNames[0], "");
  EXPECT_EQ(call.arguments[0].find("gameId").asString(), "42");
  EXPECT_EQ(call.arguments[0].find("phase").asString(), "start");
  EXPECT_EQ(call.arguments[0].size(), 2u);

  host.Handle(HOST_METHOD_POST, "/telemetry/v1/events/x",
              [](const CallRequest&) { return CallAnswer::Error("telemetry is off", 503); });
  Hook<E2eSendTelemetryHook>("e2e_send_telemetry")("x", "{}", report.get());
  EXPECT_EQ(report->ok, 0);
  EXPECT_EQ(report->code, 503);
}

TEST_F(FrameworkBoundaryTest, HttpRequestsCarryTheUserAgentAndMapResultCodes) {
  FakeHttpTransport& transport = *host.FakeTransport();
  transport.Answer("GET", "https://cdn.example/r.trec", HttpResponse::Answer(200, "trec bytes"));
  transport.Answer("GET", "https://cdn.example/refused", HttpResponse::Failure(7, "refused"));
  transport.Answer("GET", "https://cdn.example/timeout", HttpResponse::Failure(-1, "timed out"));
  const auto send = Hook<E2eSendRequestHook>("e2e_send_request");

  send(HOST_METHOD_GET, "https://cdn.example/r.trec", nullptr, report.get());
  EXPECT_EQ(report->ok, 1);
  EXPECT_STREQ(report->text, "200 trec bytes");
  const HttpRequest& sent = transport.Requests().back();
  ASSERT_FALSE(sent.headers.empty());
  EXPECT_EQ(sent.headers[0],
            (std::pair<std::string, std::string>{"user-agent", "ZorvClient/18.0.0 (e2e-test)"}));
  EXPECT_EQ(sent.optionWord, 0u);
  EXPECT_EQ(sent.optionFlag, 1u);

  struct Case {
    const char* url;
    int32_t code;
    const char* text;
  };
  for (const Case& c : {Case{"https://cdn.example/refused", 1, "refused"},
                        Case{"https://cdn.example/timeout", -1, "timed out"}}) {
    SCOPED_TRACE(c.url);
    send(HOST_METHOD_GET, c.url, nullptr, report.get());
    EXPECT_EQ(report->ok, 0);
    EXPECT_EQ(report->code, c.code);
    EXPECT_STREQ(report->text, c.text);
  }
}

TEST_F(FrameworkBoundaryTest, CallFailuresCarryTheirTextsAndCodes) {
  host.Handle(HOST_METHOD_GET, "/e2e/v1/gone",
              [](const CallRequest&) { return CallAnswer::Error("it is gone", 410); });
  host.Handle(HOST_METHOD_GET, "/e2e/v1/quiet",
              [](const CallRequest&) { return CallAnswer::Error("no status", 0); });
  host.Handle(HOST_METHOD_GET, "/e2e/v1/broken", [](const CallRequest&) {
    return CallAnswer::Stream({"[1,", "2]"}, 1);
  });
  host.Handle(HOST_METHOD_GET, "/e2e/v1/garbled",
              [](const CallRequest&) { return CallAnswer::Stream({"[1,"}); });

  struct Case {
    const char* url;
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {"/e2e/v1/gone", 410, "Error response for GET /e2e/v1/gone: it is gone"},
      {"/e2e/v1/quiet", 0, "Error response for GET /e2e/v1/quiet: no status"},
      {"/e2e/v1/missing", 404,
       "Error response for GET /e2e/v1/missing: Not found: GET /e2e/v1/missing"},
      {"/e2e/v1/broken", 0,
       "Error reading streamed response for GET /e2e/v1/broken: Stream read error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    Call(HOST_METHOD_GET, c.url);
    EXPECT_EQ(report->ok, 0);
    EXPECT_EQ(report->code, c.code);
    EXPECT_STREQ(report->text, c.text);
  }

  // A stream that is not JSON fails with the reader's message.
  Call(HOST_METHOD_GET, "/e2e/v1/garbled");
  EXPECT_EQ(report->ok, 0);
  EXPECT_EQ(std::string(report->text)
                .rfind("Error reading streamed response for GET /e2e/v1/garbled: ", 0),
            0u)
      << report->text;

  // An argument that cannot be converted is never sent.
  const size_t callsBefore = host.Resources().Calls().size();
  Hook<E2eCallUnregisteredHook>("e2e_call_unregistered")(HOST_METHOD_POST, "/e2e/v1/x",
                                                         report.get());
  EXPECT_EQ(report->ok, 0);
  EXPECT_EQ(report->code, 400);
  EXPECT_STREQ(report->text,
               "Request not sent: Error converting parameters for POST /e2e/v1/x: Couldn't "
               "convert native value because it's an unregistered structure.");
  EXPECT_EQ(host.Resources().Calls().size(), callsBefore);

  // Every result was released once and every stream closed.
  EXPECT_EQ(host.Ledger().released, host.Ledger().issued);
  EXPECT_EQ(host.Ledger().streamCloses, host.Ledger().streams);
}

TEST_F(FrameworkBoundaryTest, StreamedResultsAreReadWholeYieldingOnlyAfterShortChunks) {
  // A JSON string of exactly 4096 bytes, then a final empty chunk.
  const std::string exact = "\"" + std::string(4094, 'x') + "\"";
  host.Handle(HOST_METHOD_GET, "/e2e/v1/exact", [&](const CallRequest&) {
    return CallAnswer::Stream({exact, ""});
  });
  Call(HOST_METHOD_GET, "/e2e/v1/exact");
  EXPECT_EQ(report->ok, 1);
  EXPECT_EQ(report->text, exact);
  EXPECT_EQ(host.Ledger().streamReads, 2u);
  EXPECT_EQ(host.Yields(), 0u);

  host.Handle(HOST_METHOD_GET, "/e2e/v1/pieces", [](const CallRequest&) {
    return CallAnswer::Stream({"{\"a\":", "[1,2]", "}"});
  });
  Call(HOST_METHOD_GET, "/e2e/v1/pieces");
  EXPECT_EQ(report->ok, 1);
  EXPECT_STREQ(report->text, R"({"a":[1,2]})");
  EXPECT_EQ(host.Yields(), 2u);
  EXPECT_EQ(host.WaitDescriptions(), (std::vector<std::string>{"Wait: yield", "Wait: yield"}));
  EXPECT_EQ(host.WaitDepth(), 0u);
  EXPECT_EQ(host.Ledger().streamCloses, 2u);
  EXPECT_EQ(host.Ledger().released, host.Ledger().issued);
}

TEST_F(FrameworkBoundaryTest, ValuesOfEveryTagCrossTheBoundaryBothWays) {
  // The host echoes the argument it decoded; the module decodes the echo.
  host.Handle(HOST_METHOD_POST, "/e2e/v1/echo", [](const CallRequest& request) {
    return CallAnswer::Value(request.arguments.at(0));
  });
  for (const char* json : {"null", "true", "false", "-9223372036854775808", "18446744073709551615",
                           "0.25", R"("text with \"quotes\" and \u00e9")", "[]", "{}",
                           R"({"list":[1,-2,3.5,"x",null,{"deep":[[true]]}],"map":{"k":"v"}})"}) {
    SCOPED_TRACE(json);
    Call(HOST_METHOD_POST, "/e2e/v1/echo", json);
    EXPECT_EQ(report->ok, 1);
    EXPECT_EQ(report->text, ToJsonText(CallAnswer::Json(json).value));
  }

  // Blobs (owned bytes) and the not-owned text and byte tags, from the host.
  BindingProperty blob;
  blob.setBlob(std::vector<uint8_t>{0, 1, 2, 255});
  host.Handle(HOST_METHOD_GET, "/e2e/v1/blob",
              [&](const CallRequest&) { return CallAnswer::Value(blob); });
  Call(HOST_METHOD_GET, "/e2e/v1/blob");
  EXPECT_STREQ(report->text, R"("AAEC/w==")");

  static const char kText[] = "borrowed text";
  static const uint8_t kBytes[] = {'h', 'i'};
  HostValue text{};
  text.tag = HOST_VALUE_TEXT;
  text.payload.text.data = kText;
  text.payload.text.length = 8;  // a prefix: the length counts, not the NUL
  HostValue bytes{};
  bytes.tag = HOST_VALUE_BYTES;
  bytes.payload.bytes.data = kBytes;
  bytes.payload.bytes.size = 2;
  host.Handle(HOST_METHOD_GET, "/e2e/v1/text",
              [&](const CallRequest&) { return CallAnswer::Raw(text); });
  host.Handle(HOST_METHOD_GET, "/e2e/v1/bytes",
              [&](const CallRequest&) { return CallAnswer::Raw(bytes); });
  Call(HOST_METHOD_GET, "/e2e/v1/text");
  EXPECT_STREQ(report->text, R"("borrowed")");
  Call(HOST_METHOD_GET, "/e2e/v1/bytes");
  EXPECT_STREQ(report->text, R"("aGk=")");
  EXPECT_EQ(host.Ledger().released, host.Ledger().issued);
}

TEST_F(FrameworkBoundaryTest, AwaitYieldsUntilTheHostCompletesTheFuture) {
  const auto complete = Hook<E2eCompleteHook>("e2e_complete");
  host.OnYield([complete] { complete(77); }, 3);
  EXPECT_EQ(Hook<E2eAwaitHook>("e2e_await")(), 77);
  EXPECT_EQ(host.Yields(), 3u);
  EXPECT_EQ(host.WaitBegins(), 1u);
  EXPECT_EQ(host.WaitEnds(), 1u);
  ASSERT_EQ(host.WaitDescriptions().size(), 1u);
  EXPECT_EQ(host.WaitDescriptions()[0].rfind("Wait: future<", 0), 0u) << host.WaitDescriptions()[0];
}

TEST_F(FrameworkBoundaryTest, TimersRunOnceWhenTheirDelayHasPassed) {
  const auto schedule = Hook<E2eScheduleHook>("e2e_schedule");
  const auto runs = Hook<E2eTimerRunsHook>("e2e_timer_runs");
  const uint64_t past = schedule("e2e past", -1000);
  const uint64_t later = schedule("e2e later", 30'000);
  EXPECT_EQ(later, past + 1);

  const auto& history = host.Timers().History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].name, "e2e past");
  EXPECT_EQ(history[0].delaySeconds, 0.0);
  EXPECT_GT(history[1].delaySeconds, 29.0);
  EXPECT_LE(history[1].delaySeconds, 30.0);

  host.RunPending();
  EXPECT_EQ(runs(), 1u);
  host.Advance(std::chrono::seconds(29));
  EXPECT_EQ(runs(), 1u);
  host.Advance(std::chrono::seconds(1));
  EXPECT_EQ(runs(), 2u);
  host.Advance(std::chrono::seconds(60));
  EXPECT_EQ(runs(), 2u);
}

}  // namespace
}  // namespace Zorv::Host
