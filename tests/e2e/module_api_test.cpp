// The test plug-in's own API through the real C boundary: its endpoints as the
// host calls them, resource events it follows and publishes, and its
// service-proxy requests answered by the host's scripted services.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>

#include "binding/json_writer.h"
#include "test_plugin_fixture.h"

namespace Zorv::Host {
namespace {

class ModuleApiTest : public TestPluginFixture {
 protected:
  EndpointAnswer Post(const std::string& url, const std::string& contentType,
                      const std::string& body) {
    EndpointCall call;
    call.method = HOST_METHOD_POST;
    call.url = url;
    call.contentType = contentType;
    call.body = body;
    call.hasBody = true;
    return host.CallModule(call);
  }

  void Observe(const char* url) { Hook<E2eObserveHook>("e2e_observe")(url); }
  std::string TakeObserved() {
    Hook<E2eTakeObservedHook>("e2e_take_observed")(report.get());
    return report->text;
  }
};

// ---- Endpoints ----------------------------------------------------------------------------------

TEST_F(ModuleApiTest, CallsReachTheFunctionWhoseTemplateMatches) {
  struct Case {
    uint32_t method;
    const char* url;
    int32_t status;
    const char* result;  // JSON of the value, or the error text
  };
  const Case cases[] = {
      {HOST_METHOD_GET, "/e2e-test/v1/items/42", 200, R"("item 42")"},
      {HOST_METHOD_GET, "/e2e-test/v1/items/a%2Fb+c", 200, R"("item a/b c")"},
      {HOST_METHOD_GET, "/e2e-test/v1/items/special", 200, R"("special")"},
      {HOST_METHOD_GET, "/e2e-test/v1/files/a/b/c.trec", 200, R"("a/b/c.trec")"},
      {HOST_METHOD_GET, "/e2e-test/v1/missing/7", 404, "No item '7'"},
      {HOST_METHOD_GET, "/e2e-test/v1/items/1/2", 404, "Invalid function"},
      {HOST_METHOD_DELETE, "/e2e-test/v1/items/1", 404, "Invalid function"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const EndpointAnswer answer = host.CallModule(c.method, c.url);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.ok ? ToJsonText(answer.value) : answer.error, c.result);
  }
  EXPECT_TRUE(host.Faults().empty());
}

TEST_F(ModuleApiTest, APluginRefusesACallItsFunctionDoesNotServe) {
  // The host hands the call to a function whose method differs, as a host
  // routing by path alone would: the plug-in itself answers 404.
  EndpointCall call;
  call.method = HOST_METHOD_POST;
  call.url = "/e2e-test/v1/items/1";
  call.functionName = "GetE2eTestV1ItemsById";
  const EndpointAnswer answer = host.CallModule(call);
  EXPECT_TRUE(answer.found);
  EXPECT_EQ(answer.status, 404);
  EXPECT_EQ(answer.error, "Invalid function");
}

TEST_F(ModuleApiTest, HandlersReceiveTheCallsContextWord) {
  EndpointCall call;
  call.url = "/e2e-test/v1/context/first";
  call.contextWord = 0xFEEDF00D;
  EndpointAnswer answer = host.CallModule(call);
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(answer.value.asString(), "first 4277006349");
  call.url = "/e2e-test/v1/context/second";
  call.contextWord = 0;
  answer = host.CallModule(call);
  EXPECT_EQ(answer.value.asString(), "second 0");
}

TEST_F(ModuleApiTest, BodiesAreReadByTheirContentType) {
  struct Case {
    const char* name;
    const char* contentType;
    std::string body;
    const char* result;  // JSON of the echoed value, or the error text
  };
  const Case cases[] = {
      {"json with charset", "application/json; charset=utf-8", R"({"a":[1,2]})",
       R"({"body":{"a":[1,2]},"tag":"q"})"},
      {"msgpack", "application/x-msgpack", std::string("\x81\xa1\x61\x01", 4),
       R"({"body":{"a":1},"tag":"q"})"},
      {"yaml", "application/x-yaml", "a: text\nb: [1]\n",
       R"({"body":{"a":"text","b":[1]},"tag":"q"})"},
      {"msgpack with a stray byte", "application/x-msgpack", std::string("\x81\xa1\x61\x01\xc0", 5),
       "Extra MessgePack data found in body"},
      {"unknown type", "text/plain", "a", "Unsupported body content type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EndpointAnswer answer = Post("/e2e-test/v1/echo?tag=q", c.contentType, c.body);
    EXPECT_EQ(answer.ok ? ToJsonText(answer.value) : answer.error, c.result);
  }
}

TEST_F(ModuleApiTest, TheListingNamesTheFunctionsAndTheirArguments) {
  const ModuleApi api = host.ListModuleApi();
  std::set<std::string> names;
  for (const ModuleFunction& function : api.functions) names.insert(function.name);
  const std::set<std::string> expected = {
      "GetE2eTestV1ItemsById",     "GetE2eTestV1ItemsSpecial",
      "GetE2eTestV1FilesByRest",   "GetE2eTestV1MissingById",
      "PostE2eTestV1Echo",         "PostE2eTestV1ProxyByServiceByMethod",
      "GetE2eTestV1ContextByLabel"};
  EXPECT_EQ(names, expected);
  const ModuleFunction* proxy = api.FindFunction("PostE2eTestV1ProxyByServiceByMethod");
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->pathTemplate, "/e2e-test/v1/proxy/{service}/{method}");
  ASSERT_EQ(proxy->arguments.size(), 3u);
  EXPECT_EQ(proxy->arguments[1].name, "method");
  EXPECT_EQ(proxy->arguments[1].location, uint32_t{ARGUMENT_LOCATION_PATH});
  EXPECT_EQ(proxy->arguments[2].location, uint32_t{ARGUMENT_LOCATION_BODY});
  EXPECT_EQ(api.functions.size(), expected.size());
  // The context word is not an argument.
  const ModuleFunction* context = api.FindFunction("GetE2eTestV1ContextByLabel");
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->arguments.size(), 1u);
  EXPECT_EQ(context->arguments[0].name, "label");
  EXPECT_NE(api.FindType("PluginServiceProxyResponse"), nullptr);
  const ModuleEvent* event = api.FindEvent("OnJsonApiEvent");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->payloadTypeName, "PluginResourceEvent");
}

// ---- Events -------------------------------------------------------------------------------------

TEST_F(ModuleApiTest, ResourceChangesReachExactAndPatternObserversThroughSharedSubscriptions) {
  host.SetResource("/e2e-test/v1/things/1", R"({"n":1})");
  Observe("/e2e-test/v1/things/1");
  Observe("/e2e-test/v1/things/2");
  Observe("/e2e-test/v1/things/*");
  // The current value arrives at once; the missing one gives nothing.
  EXPECT_EQ(TakeObserved(), "/e2e-test/v1/things/1 /e2e-test/v1/things/1 0 {\"n\":1}\n");
  // Three observers, one host subscription.
  size_t subscriptions = 0;
  for (const EventBus::Subscription& s : host.Bus().Subscriptions()) {
    subscriptions += s.name == "OnJsonApiEvent_e2e-test_v1_things" ? 1 : 0;
  }
  EXPECT_EQ(subscriptions, 1u);

  host.SetResource("/e2e-test/v1/things/2", R"({"n":2})");
  host.Resources().RemoveResource("/e2e-test/v1/things/1");
  host.SetResource("/e2e-test/v1/things/2/deeper", "3");
  const std::string observed = TakeObserved();
  // Pattern observers of one event run in no fixed order, so lines are looked up.
  for (const char* line : {"/e2e-test/v1/things/2 /e2e-test/v1/things/2 0 {\"n\":2}\n",
                           "/e2e-test/v1/things/* /e2e-test/v1/things/2 0 {\"n\":2}\n",
                           "/e2e-test/v1/things/1 /e2e-test/v1/things/1 2 \n",
                           "/e2e-test/v1/things/* /e2e-test/v1/things/1 2 \n"}) {
    EXPECT_NE(observed.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(observed.find("deeper"), std::string::npos);

  // The subscription ends with the last of the three.
  Hook<E2eUnobserveHook>("e2e_unobserve")("/e2e-test/v1/things/1");
  Hook<E2eUnobserveHook>("e2e_unobserve")("/e2e-test/v1/things/*");
  EXPECT_TRUE(host.Unsubscribed().empty());
  Hook<E2eUnobserveHook>("e2e_unobserve")("/e2e-test/v1/things/2");
  EXPECT_EQ(host.Unsubscribed(), std::vector<std::string>{"OnJsonApiEvent_e2e-test_v1_things"});
}

TEST_F(ModuleApiTest, PublishedChangesGoToTheGroupAndTheUrlAndBackToFollowers) {
  Observe("/e2e-test/v1/mine/*");
  const size_t before = host.Events().size();
  auto publish = [&](const char* json, uint32_t type) {
    Hook<E2ePublishHook>("e2e_publish")("/e2e-test/v1/mine/7", json, type, report.get());
    EXPECT_EQ(report->ok, 1) << report->text;
  };
  publish(R"({"v":1})", PLUGIN_RESOURCE_EVENT_UPDATE);
  publish(R"({"v":2})", PLUGIN_RESOURCE_EVENT_DELETE);

  ASSERT_EQ(host.Events().size(), before + 4);
  const PublishedEvent& group = host.Events()[before];
  const PublishedEvent& exact = host.Events()[before + 1];
  EXPECT_EQ(group.name, "OnJsonApiEvent_e2e-test_v1_mine");
  EXPECT_EQ(exact.name, "/e2e-test/v1/mine/7");
  EXPECT_EQ(ToJsonText(group.payload), R"({"v":1})");
  EXPECT_EQ(exact.eventType, uint32_t{PLUGIN_RESOURCE_EVENT_UPDATE});
  EXPECT_EQ(host.Events()[before + 3].eventType, uint32_t{PLUGIN_RESOURCE_EVENT_DELETE});

  // Relayed to followers once the host runs its pending work: once per
  // change, as a resource event with the URL.
  EXPECT_EQ(TakeObserved(), "");
  host.RunPending();
  EXPECT_EQ(TakeObserved(),
            "/e2e-test/v1/mine/* /e2e-test/v1/mine/7 1 {\"v\":1}\n"
            "/e2e-test/v1/mine/* /e2e-test/v1/mine/7 2 \n");
  EXPECT_TRUE(host.Faults().empty());
}

// ---- Service proxy ------------------------------------------------------------------------------

TEST_F(ModuleApiTest, AServiceAnswerReachesTheModuleWhileItAwaits) {
  host.ServiceProxy().Answer("e2e.service", "lookup",
                             ServiceAnswer::Payload(R"({"found":true})").OnNextYield());
  const EndpointAnswer answer =
      Post("/e2e-test/v1/proxy/e2e.service/lookup", "application/json", R"({"id":5})");
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(ToJsonText(answer.value), R"({"found":true})");
  ASSERT_EQ(host.ServiceProxy().Requests().size(), 1u);
  EXPECT_EQ(host.ServiceProxy().Requests()[0].payload, R"({"id":5})");
  EXPECT_EQ(host.ServiceProxy().Requests()[0].hostHandle, host.Api()->hostHandle);
  EXPECT_EQ(host.WaitBegins(), 1u);
  EXPECT_EQ(host.WaitEnds(), 1u);
  EXPECT_TRUE(host.LogContains("Fulfilled service proxy request: 00000000-0000-4000-8000-"));
}

TEST_F(ModuleApiTest, ServiceAnswersCompleteWithTheirPayloadOrError) {
  ServiceAnswer errorAndPayload = ServiceAnswer::Error("server down").OnNextYield();
  errorAndPayload.payload = R"({"ignored":true})";
  struct Case {
    const char* name;
    ServiceAnswer answer;
    bool waits;          // the module had to yield for it
    const char* result;  // JSON of the value, or the error text
  };
  const Case cases[] = {
      {"after virtual time", ServiceAnswer::Payload("[1]").After(std::chrono::seconds(30)), true,
       "[1]"},
      // Delivered inside the request call, before the module holds it as
      // pending: matched when the request is stored, with no wait at all.
      {"before the request is pending", ServiceAnswer::Payload("2").DuringRequest(), false, "2"},
      {"error wins over payload", errorAndPayload, true, "server down"},
      {"empty payload", ServiceAnswer::Payload(""), true,
       "Failed to deserialize response payload \"\" to a Zorv::BindingProperty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.ServiceProxy().Answer("e2e.service", "m", c.answer);
    const size_t waits = host.WaitBegins();
    const EndpointAnswer result =
        Post("/e2e-test/v1/proxy/e2e.service/m", "application/json", "{}");
    EXPECT_EQ(result.ok ? ToJsonText(result.value) : result.error, c.result);
    EXPECT_EQ(host.WaitBegins() - waits, c.waits ? 1u : 0u);
  }
}

TEST_F(ModuleApiTest, RequestsStartedDuringShutdownAreRefused) {
  auto answer = Hook<E2eShutdownProxyAnswerHook>("e2e_shutdown_proxy_answer");
  host.ServiceProxy().Answer("e2e.service", "late", ServiceAnswer::Payload("{}"));
  host.Shutdown();
  EXPECT_STREQ(answer(), "Finalizing");
  EXPECT_TRUE(host.ServiceProxy().Requests().empty());
}

}  // namespace
}  // namespace Zorv::Host
