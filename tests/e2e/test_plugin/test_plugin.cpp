// A small plug-in for end-to-end tests: a module on the framework's AppModule
// with a few endpoints under "/e2e-test/v1/" that acts otherwise only when a
// test calls one of its exported hooks (test_plugin_hooks.h).
#include <cstring>
#include <future>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "framework/hostapi/host_request.h"
#include "framework/module/app_module.h"
#include "framework/module/registration.h"
#include "framework/telemetry/telemetry_sender.h"
#include "logging/log.h"
#include "platform/monotonic_clock.h"
#include "test_plugin_hooks.h"

namespace {

using Zorv::BindingProperty;
using Zorv::Failure;
using Zorv::MaybeType;

// What a service-proxy request started while the module was being destroyed
// answered; read by a test after Shutdown.
std::string shutdownProxyAnswer;

class TestModule final : public Zorv::Client::AppModule {
 public:
  TestModule() { current = this; }
  ~TestModule() override {
    // Shutdown has begun: a request must be refused, not sent.
    auto answer = CallServiceProxy<BindingProperty, BindingProperty>("e2e.service", "late",
                                                                     BindingProperty());
    shutdownProxyAnswer = answer.get().failure().message;
    current = nullptr;
  }
  void RegisterApi() override {
    Get("/e2e-test/v1/items/{id}", &TestModule::GetItem).path("id");
    Get("/e2e-test/v1/items/special", &TestModule::GetSpecial);
    Get("/e2e-test/v1/files/{+rest}", &TestModule::GetFile).path("rest");
    Get("/e2e-test/v1/missing/{id}", &TestModule::GetMissing).path("id");
    Post("/e2e-test/v1/echo", &TestModule::Echo).body("body").argument("tag");
    Post("/e2e-test/v1/proxy/{service}/{method}", &TestModule::Proxy)
        .path("service")
        .path("method")
        .body("request");
    Get("/e2e-test/v1/context/{label}", &TestModule::GetContext).path("label");
  }
  bool Start() override { return true; }

  std::string GetItem(std::string id) { return "item " + id; }
  std::string GetSpecial() { return "special"; }
  std::string GetFile(std::string rest) { return rest; }
  MaybeType<Failure, std::string> GetMissing(std::string id) {
    return MakeNotFound("No item '" + id + "'");
  }
  BindingProperty Echo(BindingProperty body, std::string tag) {
    BindingProperty echo;
    echo.field("body") = body;
    echo.field("tag") = tag;
    return echo;
  }
  // The label and the call's context word, as "label word".
  std::string GetContext(std::string label, Zorv::Client::CallContext context) {
    return label + " " + std::to_string(context.word);
  }
  MaybeType<Failure, BindingProperty> Proxy(std::string service, std::string method,
                                            BindingProperty request) {
    return CallServiceProxySync<BindingProperty, BindingProperty>(service, method, request);
  }

  static TestModule* current;
  uint32_t timerRuns = 0;
  std::optional<std::promise<int64_t>> pending;
  std::vector<std::string> observed;
};
TestModule* TestModule::current = nullptr;

// A structure that no registry knows, so no call can convert it.
struct Unregistered {
  int32_t value = 0;
};

void CopyText(const std::string& text, E2eReport* report) {
  std::strncpy(report->text, text.c_str(), sizeof(report->text) - 1);
  report->text[sizeof(report->text) - 1] = '\0';
}

void Report(const Zorv::MaybeType<Zorv::Failure, Zorv::BindingProperty>& result,
            E2eReport* report) {
  report->ok = result.ok() ? 1 : 0;
  report->code = result.ok() ? 0 : result.failure().code;
  CopyText(result.ok() ? Zorv::ToJsonText(result.value()) : result.failure().message, report);
}

}  // namespace

#define E2E_EXPORT extern "C" __attribute__((visibility("default")))

E2E_EXPORT void load_e2e_test_plugin(PluginRegistration* registration) {
  Zorv::Client::Register(new (std::nothrow) TestModule, registration, "e2e-test");
}

E2E_EXPORT void e2e_call(uint32_t method, const char* url, const char* argumentJson,
                         E2eReport* report) {
  TestModule& module = *TestModule::current;
  if (!argumentJson) {
    Report(module.Call(method, url), report);
    return;
  }
  const Zorv::BindingResult argument = Zorv::FromJsonText(argumentJson);
  Report(module.Call(method, url, argument.value), report);
}

E2E_EXPORT void e2e_call_unregistered(uint32_t method, const char* url, E2eReport* report) {
  Report(TestModule::current->Call(method, url, Unregistered{}), report);
}

E2E_EXPORT void e2e_send_request(uint32_t method, const char* url, const char* body,
                                 E2eReport* report) {
  Zorv::Client::HostRequest request;
  request.method = method;
  request.url = url;
  if (body) request.body = body;
  const Zorv::Client::HostResponse response = TestModule::current->SendHttpRequest(request);
  report->ok = response.resultCode == 0 && !response.conversionFailed ? 1 : 0;
  report->code = response.resultCode;
  const std::string text = response.resultCode == 0 && !response.conversionFailed
                               ? std::to_string(response.status) + " " + response.body
                               : response.error;
  CopyText(text, report);
}

E2E_EXPORT void e2e_send_telemetry(const char* eventName, const char* fieldsJson,
                                   E2eReport* report) {
  const Zorv::BindingResult fields = Zorv::FromJsonText(fieldsJson);
  Zorv::MaybeType<Zorv::Failure, void> sent =
      TestModule::current->telemetrySender()->Send(eventName, fields.value).get();
  report->ok = sent.ok() ? 1 : 0;
  report->code = sent.ok() ? 0 : sent.failure().code;
  report->text[0] = '\0';
}

E2E_EXPORT void e2e_log(int32_t level, const char* message) {
  Zorv::Log(static_cast<Zorv::LogLevel>(level), Zorv::kLogGEN, "%s", message);
}

E2E_EXPORT uint64_t e2e_schedule(const char* name, int64_t delayMilliseconds) {
  TestModule& module = *TestModule::current;
  const Zorv::MonotonicTime when =
      Zorv::MonotonicClock::now() + std::chrono::milliseconds(delayMilliseconds);
  return module.ScheduleCallback(
      name, [&module] { ++module.timerRuns; }, when);
}

E2E_EXPORT uint32_t e2e_timer_runs() {
  return TestModule::current->timerRuns;
}

E2E_EXPORT int64_t e2e_await() {
  TestModule& module = *TestModule::current;
  module.pending.emplace();
  std::future<int64_t> future = module.pending->get_future();
  return module.Await(std::move(future));
}

E2E_EXPORT void e2e_complete(int64_t value) {
  TestModule::current->pending->set_value(value);
}

E2E_EXPORT void e2e_observe(const char* url) {
  TestModule& module = *TestModule::current;
  const std::string observer = url;
  module.Observe<BindingProperty>(
      observer, [&module, observer](const Zorv::Client::ResourceEvent<BindingProperty>& event) {
        module.observed.push_back(observer + " " + event.uri + " " +
                                  std::to_string(static_cast<int>(event.eventType)) + " " +
                                  Zorv::ToJsonText(event.data));
      });
}

E2E_EXPORT void e2e_unobserve(const char* url) {
  TestModule::current->Unsubscribe(url);
}

E2E_EXPORT void e2e_take_observed(E2eReport* report) {
  std::string lines;
  for (const std::string& line : TestModule::current->observed) lines += line + "\n";
  TestModule::current->observed.clear();
  report->ok = 1;
  report->code = 0;
  CopyText(lines, report);
}

E2E_EXPORT void e2e_publish(const char* url, const char* valueJson, uint32_t eventType,
                            E2eReport* report) {
  const Zorv::BindingResult value = Zorv::FromJsonText(valueJson);
  const MaybeType<Failure, void> sent = TestModule::current->PublishProperty(
      url, value.value, static_cast<Zorv::Client::PluginResourceEventType>(eventType));
  report->ok = sent.ok() ? 1 : 0;
  report->code = sent.ok() ? 0 : sent.failure().code;
  CopyText(sent.ok() ? std::string() : sent.failure().message, report);
}

E2E_EXPORT const char* e2e_shutdown_proxy_answer() {
  return shutdownProxyAnswer.c_str();
}
