#include "host/endpoint_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "binding/json_writer.h"
#include "framework/hostapi/host_value_codec.h"
#include "host/call_answer.h"
#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

// A fake plug-in's functions: each answers what it was called with, through a
// CallResult that the host library's own FillCallResult makes and counts.
std::shared_ptr<CallLedger> ledger;

void Invoke(CallResult* result, const CallRecord* call) {
  const std::string function = static_cast<const char*>(call->context);
  if (function == "stream") {
    FillCallResult(result, CallAnswer::Stream({"chunk one, ", "", "chunk two"}), ledger);
    return;
  }
  BindingProperty echo;
  echo.field("function") = function;
  echo.field("url") = call->url;
  echo.field("word") = uint64_t{call->hostHandle};
  if (call->body) {
    echo.field("body") = std::string(static_cast<const char*>(call->body), call->bodySize);
    echo.field("contentType") = call->contentType;
  }
  for (uint32_t i = 0; i < call->headerCount; ++i) {
    echo.field("headers").field(call->headers[i].name) = call->headers[i].value;
  }
  for (uint32_t i = 0; i < call->argumentCount; ++i) {
    const char* name = call->arguments[i].name;
    echo.field("arguments").field(name ? name : "-") =
        std::string(ToJsonText(DecodeHostValue(call->arguments[i].value).value));
  }
  FillCallResult(result, CallAnswer::Value(std::move(echo)), ledger);
}

FunctionRecord Function(uint32_t method, const char* pathTemplate, const char* context) {
  FunctionRecord record;
  std::memset(static_cast<void*>(&record), 0, sizeof(record));
  record.method = method;
  record.pathTemplate = pathTemplate;
  record.context = const_cast<char*>(context);
  record.name = context;
  record.invoke = Invoke;
  return record;
}

class EndpointCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ledger = std::make_shared<CallLedger>();
    description.functions = functions;
    description.functionCount = std::size(functions);
  }
  void TearDown() override { ledger.reset(); }

  EndpointAnswer Call(uint32_t method, const char* url) {
    EndpointCall call;
    call.method = method;
    call.url = url;
    return InvokeEndpoint(description, call);
  }

  const FunctionRecord functions[5] = {
      Function(HOST_METHOD_GET, "/fake/v1/items/{id}", "item"),
      Function(HOST_METHOD_GET, "/fake/v1/items/special", "special"),
      Function(0, "/fake/v1/files/{+rest}", "files"),
      Function(HOST_METHOD_POST, "/fake/v1/items/{id}.{format}", "formatted"),
      Function(HOST_METHOD_GET, "/fake/v1/stream", "stream"),
  };
  ApiDescription description{};
};

TEST_F(EndpointCallTest, TheMatchingFunctionWithTheFewestCapturedCharactersServes) {
  struct Case {
    uint32_t method;
    const char* url;
    const char* function;  // null: no function serves it
  };
  const Case cases[] = {
      {HOST_METHOD_GET, "/fake/v1/items/42", "item"},
      {HOST_METHOD_GET, "/fake/v1/items/special", "special"},
      {HOST_METHOD_GET, "/fake/v1/items/special?x=1", "special"},
      {HOST_METHOD_DELETE, "/fake/v1/files/a/b/c", "files"},
      {HOST_METHOD_POST, "/fake/v1/items/a.b.json", "formatted"},
      {HOST_METHOD_POST, "/fake/v1/items/42", nullptr},
      {HOST_METHOD_GET, "/fake/v1/items/42/more", nullptr},
      {HOST_METHOD_GET, "/fake/v1/item", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const EndpointAnswer answer = Call(c.method, c.url);
    EXPECT_EQ(answer.found, c.function != nullptr);
    if (c.function) {
      EXPECT_EQ(answer.value.find("function").asString(), c.function);
    } else {
      EXPECT_EQ(answer.status, 404);
      EXPECT_EQ(answer.error, "Invalid function");
    }
  }
  EXPECT_EQ(ledger->released, ledger->issued);
}

TEST_F(EndpointCallTest, ANamedCallSkipsMatching) {
  EndpointCall call;
  call.method = HOST_METHOD_PUT;
  call.url = "/somewhere/else";
  call.functionName = "special";
  EndpointAnswer answer = InvokeEndpoint(description, call);
  EXPECT_EQ(answer.value.find("function").asString(), "special");
  call.functionName = "none";
  answer = InvokeEndpoint(description, call);
  EXPECT_FALSE(answer.found);
  EXPECT_EQ(answer.status, 404);
}

TEST_F(EndpointCallTest, TheCallRecordCarriesEverythingAndTheResultIsReleasedOnce) {
  EndpointCall call;
  call.method = HOST_METHOD_DELETE;
  call.url = "/fake/v1/files/x?y=1";
  call.arguments.emplace_back("named", BindingProperty("v"));
  call.arguments.emplace_back("", BindingProperty(int64_t{-1}));
  call.headers = {{"accept", "application/json"}};
  call.contentType = "application/json";
  call.body = R"({"a":1})";
  call.hasBody = true;
  call.contextWord = 9;
  const EndpointAnswer answer = InvokeEndpoint(description, call);
  ASSERT_TRUE(answer.ok);
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(ToJsonText(answer.value),
            R"({"arguments":{"-":"-1","named":"\"v\""},"body":"{\"a\":1}",)"
            R"("contentType":"application/json","function":"files",)"
            R"("headers":{"accept":"application/json"},"url":"/fake/v1/files/x?y=1","word":9})");
  EXPECT_EQ(ledger->issued, 1u);
  EXPECT_EQ(ledger->released, 1u);
}

TEST_F(EndpointCallTest, AStreamedResultIsReadToItsEndAndClosed) {
  const EndpointAnswer answer = Call(HOST_METHOD_GET, "/fake/v1/stream");
  EXPECT_TRUE(answer.streamed);
  EXPECT_FALSE(answer.streamFailed);
  EXPECT_EQ(answer.streamBody, "chunk one, chunk two");
  EXPECT_EQ(ledger->streamCloses, 1u);
  EXPECT_EQ(ledger->released, 1u);
}

}  // namespace
}  // namespace Zorv::Host
