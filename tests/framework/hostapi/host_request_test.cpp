#include "framework/hostapi/host_request.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/fake_host_module.h"

namespace Zorv::Client {
namespace {

using Testing::FakeHostModule;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class SendHttpRequestTest : public ::testing::Test {
 protected:
  // Answers every request with `response`.
  void Answer(const HostResponseRecord& response) {
    module.answerRequest = [response](const HostRequestRecord*, HostResponseRecord* out) {
      *out = response;
    };
  }

  FakeHostModule module;
};

TEST_F(SendHttpRequestTest, FillsTheRecordFromTheRequest) {
  HostRequest request;
  request.method = HOST_METHOD_GET;
  request.url = "https://cdn.example/replays/42.trec";
  request.body = std::string("a\0b", 3);
  request.note = "not sent";
  (void)module.SendHttpRequest(request);
  request.method = 9;
  (void)module.SendHttpRequest(request);

  ASSERT_EQ(module.requests.size(), 2u);
  const FakeHostModule::RecordedRequest& sent = module.requests[0];
  EXPECT_EQ(sent.method, 2u);
  EXPECT_EQ(sent.url, "https://cdn.example/replays/42.trec");
  EXPECT_EQ(sent.body, std::string("a\0b", 3));
  EXPECT_EQ(sent.optionWord, 0u);
  EXPECT_EQ(sent.optionFlag, 1u);
  EXPECT_EQ(module.requests[1].method, 0u);
}

TEST_F(SendHttpRequestTest, AddsTheUserAgentFirstUnlessTheRequestNamesOne) {
  struct Case {
    std::map<std::string, std::string> headers;
    Pairs sent;
  };
  const std::vector<Case> cases = {
      {{}, {{"user-agent", "FakeAgent/1.0"}}},
      {{{"b", "2"}, {"a", "1"}}, {{"user-agent", "FakeAgent/1.0"}, {"a", "1"}, {"b", "2"}}},
      {{{"User-Agent", "mine"}, {"a", "1"}}, {{"User-Agent", "mine"}, {"a", "1"}}},
      {{{"uSeR-aGeNt", "mine"}}, {{"uSeR-aGeNt", "mine"}}},
      {{{"user-agent-x", "1"}}, {{"user-agent", "FakeAgent/1.0"}, {"user-agent-x", "1"}}},
  };
  for (const Case& c : cases) {
    HostRequest request;
    request.headers = c.headers;
    (void)module.SendHttpRequest(request);
    EXPECT_EQ(module.requests.back().headers, c.sent);
  }
}

TEST_F(SendHttpRequestTest, CopiesAnAnswerThatSucceeded) {
  static const HostHeaderPair headers[] = {{"content-type", "application/octet-stream"},
                                           {"etag", "x1"}};
  static const char body[] = "TREC\0\1";
  Answer(HostResponseRecord{0, 200, headers, 2, body, 6});
  const HostResponse response = module.SendHttpRequest(HostRequest{});
  EXPECT_EQ(response.resultCode, 0);
  EXPECT_EQ(response.status, 200);
  EXPECT_FALSE(response.conversionFailed);
  EXPECT_EQ(response.error, "");
  EXPECT_EQ(response.headers, (std::map<std::string, std::string>{
                                  {"content-type", "application/octet-stream"}, {"etag", "x1"}}));
  EXPECT_EQ(response.body, std::string(body, 6));
}

TEST_F(SendHttpRequestTest, MapsResultCodesAndReadsOnlyTheErrorOfAFailure) {
  static const HostHeaderPair headers[] = {{"h", "v"}};
  static const char error[] = "connection refused";
  const std::vector<std::pair<int32_t, int32_t>> codes = {{-1, -1}, {2, 2},  {1, 1},
                                                          {3, 1},   {-2, 1}, {0x7FFFFFFF, 1}};
  for (const auto& [host, mapped] : codes) {
    SCOPED_TRACE(host);
    Answer(HostResponseRecord{host, 500, headers, 1, error, sizeof error - 1});
    const HostResponse response = module.SendHttpRequest(HostRequest{});
    EXPECT_EQ(response.resultCode, mapped);
    EXPECT_EQ(response.error, "connection refused");
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(response.headers.empty());
    EXPECT_TRUE(response.body.empty());
  }
  // A failure without an error text does not crash.
  Answer(HostResponseRecord{-1, 0, nullptr, 0, nullptr, 12});
  EXPECT_EQ(module.SendHttpRequest(HostRequest{}).error, "");
}

TEST_F(SendHttpRequestTest, NullHeadersOrBodyThatWerePromisedFailTheConversion) {
  static const char body[] = "xyz";
  static const HostHeaderPair headers[] = {{"h", "v"}};
  struct Case {
    HostResponseRecord answer;
    bool failed;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{0, 200, nullptr, 2, body, 3},
       true,
       "Error converting response for POST http://h/x: headers was null"},
      {{0, 200, headers, 1, nullptr, 3},
       true,
       "Error converting response for POST http://h/x: body was null"},
      {{0, 204, nullptr, 0, nullptr, 0}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    Answer(c.answer);
    HostRequest request;
    request.method = HOST_METHOD_POST;
    request.url = "http://h/x";
    const HostResponse response = module.SendHttpRequest(request);
    EXPECT_EQ(response.resultCode, 0);
    EXPECT_EQ(response.status, c.answer.status);
    EXPECT_EQ(response.conversionFailed, c.failed);
    EXPECT_EQ(response.error, c.error);
  }
}

// The taker sees the host's own bytes (no copy) exactly when the response
// converted, whatever its status; the response itself carries no body then.
TEST_F(SendHttpRequestTest, HandsTheBodyOverInPlaceOnlyWhenTheResponseConverted) {
  static const HostHeaderPair headers[] = {{"etag", "x1"}};
  static const char body[] = "TREC\0\1";
  struct Case {
    std::string name;
    HostResponseRecord answer;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"success", {0, 200, headers, 1, body, 6}, true},
      {"error status", {0, 404, headers, 1, body, 6}, true},
      {"no content", {0, 204, nullptr, 0, nullptr, 0}, true},
      {"transfer failed", {-1, 0, nullptr, 0, body, 6}, false},
      {"body promised but null", {0, 200, nullptr, 0, nullptr, 6}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer(c.answer);
    int taken = 0;
    const HostResponse response =
        module.SendHttpRequest(HostRequest{}, [&](const HostResponse& head, std::string_view seen) {
          ++taken;
          EXPECT_EQ(head.status, c.answer.status);
          EXPECT_EQ(head.headers.size(), c.answer.headerCount);
          EXPECT_EQ(seen.data(), c.answer.bodySize ? body : nullptr);
          EXPECT_EQ(seen.size(), c.answer.bodySize);
        });
    EXPECT_EQ(taken, c.taken ? 1 : 0);
    EXPECT_TRUE(response.body.empty());
    EXPECT_EQ(response.status, c.answer.resultCode == 0 ? c.answer.status : 0);
  }
}

}  // namespace
}  // namespace Zorv::Client
