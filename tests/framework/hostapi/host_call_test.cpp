#include "framework/hostapi/host_call.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/type_registration.h"
#include "framework/hostapi/host_method.h"
#include "support/fake_host_module.h"

namespace Zorv::Client {
namespace {

using Testing::FakeHostModule;
using Testing::FakeStream;

struct Version {
  std::string text;
  int32_t build = 0;
};

struct Unregistered {
  int32_t x = 0;
};

class HostCallTest : public ::testing::Test {
 protected:
  HostCallTest() {
    module.registry()
        .Struct<Version>("Version")
        .field("text", &Version::text)
        .field("build", &Version::build)
        .finish();
  }

  void AnswerJson(const char* json) {
    answer = FromJsonText(json).value;
    module.answerCall = [this](CallResult* result, const CallRecord*) {
      FakeHostModule::AnswerValue(result, answer);
    };
  }
  void AnswerStream(uint32_t sizeHint = 0, bool withRead = true) {
    module.answerCall = [this, sizeHint, withRead](CallResult* result, const CallRecord*) {
      FakeHostModule::AnswerStream(result, &stream, sizeHint, withRead);
    };
  }

  FakeHostModule module;
  FakeStream stream;
  BindingProperty answer;
};

TEST_F(HostCallTest, SendsMethodUrlHandleAndPositionalArgumentsInOrder) {
  AnswerJson("null");
  const std::map<std::string, BindingProperty> fields = {{"a", BindingProperty("x")}};
  auto result =
      module.Call<void>(HOST_METHOD_PUT, "/pex-x/v1/thing", std::string("text"), int32_t{-5},
                        std::vector<std::string>{"p", "q"}, fields, Version{"1.2", -3}, "literal");
  ASSERT_TRUE(result.ok());
  ASSERT_EQ(module.calls.size(), 1u);
  const FakeHostModule::RecordedCall& call = module.calls[0];
  EXPECT_EQ(call.method, 7u);
  EXPECT_EQ(call.url, "/pex-x/v1/thing");
  EXPECT_EQ(call.hostHandle, 0x5150u);
  ASSERT_EQ(call.arguments.size(), 6u);
  EXPECT_EQ(call.named, std::vector<bool>(6, false));
  EXPECT_EQ(call.arguments[0], BindingProperty("text"));
  EXPECT_EQ(call.arguments[1], BindingProperty(int64_t{-5}));
  EXPECT_EQ(call.arguments[2], FromJsonText(R"(["p","q"])").value);
  EXPECT_EQ(call.arguments[3], FromJsonText(R"({"a":"x"})").value);
  EXPECT_EQ(call.arguments[4], FromJsonText(R"({"text":"1.2","build":-3})").value);
  EXPECT_EQ(call.arguments[5], BindingProperty("literal"));
  EXPECT_EQ(FakeHostModule::releases, 1);
}

TEST_F(HostCallTest, MethodsOutsideTheTableTravelAsZeroWithAnEmptyText) {
  const std::vector<std::pair<uint32_t, std::string>> cases = {
      {0, ""},     {1, "DELETE"}, {2, "GET"}, {3, "HEAD"}, {4, "OPTIONS"},  {5, "PATCH"},
      {6, "POST"}, {7, "PUT"},    {8, ""},    {9, ""},     {0xFFFFFFFF, ""}};
  module.answerCall = [](CallResult* result, const CallRecord*) {
    FakeHostModule::AnswerError(result, "no", 0);
  };
  for (const auto& [code, text] : cases) {
    SCOPED_TRACE(code);
    auto result = module.Call(code, "/u");
    EXPECT_EQ(module.calls.back().method, code <= 8 ? code : 0u);
    EXPECT_EQ(result.failure().message, "Error response for " + text + " /u: no");
    EXPECT_STREQ(MethodText(code), text.c_str());
  }
}

TEST_F(HostCallTest, ValueFormsDecodeAndConvertTheResult) {
  AnswerJson(R"({"text":"14.3.1.2","build":7})");
  auto dynamic = module.Call(HOST_METHOD_GET, "/v");
  ASSERT_TRUE(dynamic.ok());
  EXPECT_EQ(dynamic.value(), answer);

  auto typed = module.Call<Version>(HOST_METHOD_GET, "/v");
  ASSERT_TRUE(typed.ok()) << typed.failure().message;
  EXPECT_EQ(typed.value().text, "14.3.1.2");
  EXPECT_EQ(typed.value().build, 7);
  EXPECT_EQ(FakeHostModule::releases, 2);
}

// Every failure of Call: its text, its code, its details, and exactly one
// release of what the host handed over (none when nothing was sent).
TEST_F(HostCallTest, FailuresCarryTheirTextsCodesAndReleaseOnce) {
  HostValue badTag;
  std::memset(&badTag, 0, sizeof badTag);
  badTag.tag = 77;
  const std::string badTagError(DecodeHostValue(badTag).error());
  const std::string parseError(FromJsonText("{\"a\":").error());
  int32_t unused = 0;
  const std::string intError(
      FromProperty(BindingProperty("seven"), unused, "<result>", module.registry()).error());
  const std::string unregisteredError(ToProperty(Unregistered{}, module.registry()).error());

  struct Case {
    const char* name;
    std::function<void()> script;
    std::function<MaybeType<Failure, void>()> call;
    int32_t code;
    std::string message;
    int releases;
  };
  auto asVoid = [](auto result) -> MaybeType<Failure, void> {
    if (result) return {};
    return result.failure();
  };
  const std::vector<Case> cases = {
      {"argument not convertible", [] {},
       [&] { return asVoid(module.Call<void>(HOST_METHOD_POST, "/p", 1, Unregistered{})); }, 400,
       "Request not sent: Error converting parameters for POST /p: " + unregisteredError, 0},
      {"host error with status",
       [&] {
         module.answerCall = [](CallResult* r, const CallRecord*) {
           FakeHostModule::AnswerError(r, "Resource not found", 404);
         };
       },
       [&] { return asVoid(module.Call<void>(HOST_METHOD_GET, "/g")); }, 404,
       "Error response for GET /g: Resource not found", 1},
      {"host error without status",
       [&] {
         module.answerCall = [](CallResult* r, const CallRecord*) {
           FakeHostModule::AnswerError(r, "broken", 0);
         };
       },
       [&] { return asVoid(module.Call(HOST_METHOD_GET, "/g")); }, 0,
       "Error response for GET /g: broken", 1},
      {"undecodable value",
       [&] {
         module.answerCall = [&](CallResult* r, const CallRecord*) {
           FakeHostModule::AnswerRaw(r, badTag);
         };
       },
       [&] { return asVoid(module.Call(HOST_METHOD_GET, "/d")); }, 0,
       "Error converting response for GET /d: " + badTagError, 1},
      {"value not convertible to T", [&] { AnswerJson(R"("seven")"); },
       [&] { return asVoid(module.Call<int32_t>(HOST_METHOD_GET, "/t")); }, 0,
       "Error converting response for GET /t: " + intError, 1},
      {"stream read fails",
       [&] {
         stream = FakeStream({"[1,", "2]"}, 1);
         AnswerStream();
       },
       [&] { return asVoid(module.Call(HOST_METHOD_GET, "/s")); }, 0,
       "Error reading streamed response for GET /s: Stream read error", 1},
      {"stream read claims more than the buffer",
       [&] {
         stream = FakeStream({"[1,", "2]"});
         stream.claimAt = 0;
         stream.claimedSize = 5000;
         AnswerStream();
       },
       [&] { return asVoid(module.Call(HOST_METHOD_GET, "/s")); }, 0,
       "Error reading streamed response for GET /s: Stream read error", 1},
      {"stream is not JSON",
       [&] {
         stream = FakeStream({"{\"a\":"});
         AnswerStream();
       },
       [&] { return asVoid(module.Call(HOST_METHOD_GET, "/s")); }, 0,
       "Error reading streamed response for GET /s: " + parseError, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHostModule::releases = 0;
    module.calls.clear();
    c.script();
    const MaybeType<Failure, void> result = c.call();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.failure().code, c.code);
    EXPECT_EQ(result.failure().message, c.message);
    EXPECT_EQ(FakeHostModule::releases, c.releases);
    EXPECT_EQ(module.calls.size(), c.releases == 0 ? 0u : 1u);
    const TemplateField* code = result.failure().detail("errorCode_int");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(std::get<int64_t>(code->value), c.code);
    ASSERT_NE(result.failure().detail("method_str"), nullptr);
    ASSERT_NE(result.failure().detail("url_str"), nullptr);
    ASSERT_NE(result.failure().detail("error_str"), nullptr);
    if (c.releases == 1 && stream.reads > 0) {
      EXPECT_EQ(stream.closes, 1);
    }
  }
}

TEST_F(HostCallTest, AStreamOfExactlyOneFullChunkAndAnEmptyOneIsReadWithoutYielding) {
  const std::string json = "\"" + std::string(4094, 'a') + "\"";
  ASSERT_EQ(json.size(), 4096u);
  stream = FakeStream({json, ""});
  AnswerStream(4096);
  auto result = module.Call(HOST_METHOD_GET, "/big");
  ASSERT_TRUE(result.ok()) << result.failure().message;
  EXPECT_EQ(result.value().asString(), std::string(4094, 'a'));
  EXPECT_EQ(stream.reads, 2);
  EXPECT_EQ(stream.bufferSizes, (std::vector<uint32_t>{4096, 4096}));
  EXPECT_EQ(module.yields, 0);
  EXPECT_TRUE(module.waits.empty());
  EXPECT_EQ(stream.closes, 1);
  EXPECT_EQ(FakeHostModule::releases, 1);
}

TEST_F(HostCallTest, ShortChunksWithMoreToFollowYieldBetweenReads) {
  stream = FakeStream({"[1,", std::string(4096, ' '), "2,", "3]"});
  // The size hint is only a hint: a huge one must not be reserved.
  AnswerStream(0xFFFFFFFF);
  auto result = module.Call(HOST_METHOD_GET, "/chunks");
  ASSERT_TRUE(result.ok()) << result.failure().message;
  EXPECT_EQ(result.value(), FromJsonText("[1,2,3]").value);
  EXPECT_EQ(stream.reads, 4);
  // After "[1," and "2,"; neither after the full chunk nor after the last.
  EXPECT_EQ(module.yields, 2);
  EXPECT_EQ(module.waits, (std::vector<std::string>{"Wait: yield", "Wait: yield"}));
  EXPECT_EQ(module.endWaits, 2);
  EXPECT_EQ(stream.closes, 1);
  EXPECT_EQ(FakeHostModule::releases, 1);
}

TEST_F(HostCallTest, AHandedOverStreamIsClosedEvenWhenItIsNotRead) {
  // A void call stops before reading the result.
  stream = FakeStream({"[]"});
  AnswerStream();
  EXPECT_TRUE(module.Call<void>(HOST_METHOD_POST, "/v").ok());
  EXPECT_EQ(stream.reads, 0);
  EXPECT_EQ(stream.closes, 1);

  // A close function without a read function: the value is decoded, the
  // stream still closed.
  stream = FakeStream({"[]"});
  AnswerStream(0, /*withRead=*/false);
  auto result = module.Call(HOST_METHOD_GET, "/n");
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(result.value().isEmpty());
  EXPECT_EQ(stream.reads, 0);
  EXPECT_EQ(stream.closes, 1);
  EXPECT_EQ(FakeHostModule::releases, 2);
}

TEST_F(HostCallTest, AResultWithoutReleaseFunctionIsNotReleased) {
  module.answerCall = [](CallResult*, const CallRecord*) {};
  auto result = module.Call(HOST_METHOD_GET, "/empty");
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(result.value().isEmpty());
  EXPECT_EQ(FakeHostModule::releases, 0);
}

TEST(MakeNotFoundTest, UsesTheMessageOrNotFound) {
  for (const auto& [message, expected] : std::vector<std::pair<std::string, std::string>>{
           {"", "Not found"}, {"No replay for '42'", "No replay for '42'"}}) {
    const Failure failure = AppModule::MakeNotFound(message);
    EXPECT_EQ(failure.code, 404);
    EXPECT_EQ(failure.message, expected);
  }
}

TEST(MakeFailureTest, DetailsAreTheTemplateFieldsThenTheCode) {
  const Failure failure =
      MakeFailure(503, "Error response for {method} {url}: {error}", {"GET", "/x", "down"});
  EXPECT_EQ(failure.message, "Error response for GET /x: down");
  const std::vector<TemplateField> expected = {{"method_str", std::string("GET")},
                                               {"url_str", std::string("/x")},
                                               {"error_str", std::string("down")},
                                               {"errorCode_int", int64_t{503}}};
  EXPECT_EQ(failure.details, expected);
  EXPECT_EQ(failure.detail("nothing"), nullptr);
}

}  // namespace
}  // namespace Zorv::Client
