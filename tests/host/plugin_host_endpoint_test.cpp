// The host's side of the plug-in's endpoints and of the answers it routes to
// them: routes compiled once per description, statuses of failures that
// carry none, and service answers that reach only the plug-in that asked.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "framework/hostapi/host_value_codec.h"
#include "host/fake_plugin.h"
#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

Testing::FakePlugin* plugin = nullptr;
std::shared_ptr<CallLedger> ledger = std::make_shared<CallLedger>();

// Asks the service proxy for `method` of "svc" with `hostHandle` as the
// plug-in's handle argument.
void AskService(const char* method, uint64_t hostHandle) {
  const BindingProperty arguments[] = {BindingProperty("svc"), BindingProperty(method),
                                       BindingProperty(hostHandle), BindingProperty("{}")};
  HostArgument encoded[4];
  for (size_t i = 0; i < 4; ++i) {
    encoded[i].name = nullptr;
    EncodeHostValue(arguments[i], nullptr, encoded[i].value);
  }
  CallRecord call{};
  call.method = HOST_METHOD_POST;
  call.url = kServiceProxyUuidRequestPath;
  call.arguments = encoded;
  call.argumentCount = 4;
  call.hostHandle = plugin->Api()->hostHandle;
  CallResult result;
  std::memset(static_cast<void*>(&result), 0, sizeof(result));
  plugin->Functions()->CallFunction(plugin->Functions(), &result, &call);
  if (result.release) result.release(&result);
  for (HostArgument& argument : encoded) ReleaseHostValue(argument.value);
}

// Each function answers its own name, after the upstream work its name says.
void Invoke(CallResult* result, const CallRecord* call) {
  const std::string name = static_cast<const char*>(call->context);
  if (name == "transfer fails") plugin->Send(HOST_METHOD_GET, "https://nowhere/");
  if (name == "service fails" || name == "service answers") {
    AskService(name == "service fails" ? "fail" : "answer", plugin->Api()->hostHandle);
    plugin->Yield();
  }
  if (name == "conflict") {
    plugin->Send(HOST_METHOD_GET, "https://nowhere/");
    FillCallResult(result, CallAnswer::Error("conflict", 409), ledger);
    return;
  }
  if (name == "ok") {
    FillCallResult(result, CallAnswer::Value(BindingProperty(name)), ledger);
    return;
  }
  FillCallResult(result, CallAnswer::Error(name, 0), ledger);
}

FunctionRecord Function(const char* pathTemplate, const char* name) {
  FunctionRecord record;
  std::memset(static_cast<void*>(&record), 0, sizeof(record));
  record.method = HOST_METHOD_GET;
  record.pathTemplate = pathTemplate;
  record.context = const_cast<char*>(name);
  record.name = name;
  record.invoke = Invoke;
  return record;
}

class PluginHostEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin = &fake;
    description.functions = functions;
    description.functionCount = std::size(functions);
    fake.Attach(host, &description, 5);
    host.ServiceProxy().Answer("svc", "fail", ServiceAnswer::Error("down").OnNextYield());
    host.ServiceProxy().Answer("svc", "answer", ServiceAnswer::Payload("{}").OnNextYield());
  }
  void TearDown() override { plugin = nullptr; }

  EndpointAnswer Call(const std::string& path) { return host.CallModule(HOST_METHOD_GET, path); }

  FunctionRecord functions[7] = {
      Function("/t/v1/items/{id}", "fails alone"),
      Function("/t/v1/transfer", "transfer fails"),
      Function("/t/v1/service", "service fails"),
      Function("/t/v1/answered", "service answers"),
      Function("/t/v1/conflict", "conflict"),
      Function("/t/v1/ok", "ok"),
      Function("/t/v1/items/special", "special fails"),
  };
  ApiDescription description{};
  PluginHost host;
  Testing::FakePlugin fake;
};

TEST_F(PluginHostEndpointTest, AFailureWithNoStatusGetsOneByWhereItCameFrom) {
  struct Case {
    const char* path;
    int32_t status;
    const char* error;
  };
  for (const Case& c :
       {Case{"/t/v1/transfer", 502, "transfer fails"}, Case{"/t/v1/service", 502, "service fails"},
        Case{"/t/v1/items/7", 500, "fails alone"},
        // An answered service call is no failed upstream call.
        Case{"/t/v1/answered", 500, "service answers"},
        // A status the plug-in gave stays.
        Case{"/t/v1/conflict", 409, "conflict"}, Case{"/t/v1/ok", 200, ""}}) {
    SCOPED_TRACE(c.path);
    const EndpointAnswer answer = Call(c.path);
    EXPECT_TRUE(answer.found);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.error, c.error);
  }
}

TEST_F(PluginHostEndpointTest, RoutesAreCompiledOncePerDescription) {
  const size_t count = std::size(functions);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Call("/t/v1/items/special").error, "special fails");
    EXPECT_EQ(Call("/t/v1/items/8").error, "fails alone");
    EXPECT_EQ(Call("/t/v1/none").error, kInvalidFunction);
  }
  EXPECT_EQ(host.RouteCompiles(), count);

  // The plug-in changes its description: one record's template, then the
  // number of records.
  functions[6].pathTemplate = "/t/v1/special";
  EXPECT_EQ(Call("/t/v1/items/special").error, "fails alone");
  EXPECT_EQ(Call("/t/v1/special").error, "special fails");
  EXPECT_EQ(host.RouteCompiles(), 2 * count);
  description.functionCount = 1;
  EXPECT_EQ(Call("/t/v1/ok").error, kInvalidFunction);
  EXPECT_EQ(host.RouteCompiles(), 2 * count + 1);
}

struct Received {
  uint32_t handle;
  std::string payload;
};

void Capture(const IncomingEventRecord* event) {
  static_cast<std::vector<Received>*>(event->context)
      ->push_back(Received{event->hostWord, ToJsonText(DecodeHostValue(event->payload).value)});
}

TEST_F(PluginHostEndpointTest, AServiceAnswerGoesOnlyToThePluginThatAsked) {
  std::vector<Received> received;
  for (const uint32_t handle : {5u, 6u}) {
    fake.Functions()->SubscribeEvent(fake.Functions(), kServiceProxyUuidEvent, handle, Capture,
                                     &received, 0);
  }
  AskService("answer", 6);
  fake.Yield();
  AskService("fail", 5);
  fake.Yield();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].handle, 6u);
  EXPECT_NE(received[0].payload.find(R"("methodName":"answer")"), std::string::npos);
  EXPECT_EQ(received[1].handle, 5u);
  EXPECT_NE(received[1].payload.find(R"("methodName":"fail")"), std::string::npos);
}

}  // namespace
}  // namespace Zorv::Host
