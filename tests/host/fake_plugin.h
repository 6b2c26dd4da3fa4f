// A plug-in made of C callbacks in the test process, for host tests that need
// the host functions called the way a plug-in calls them: from its endpoints,
// its timers and its waits. One FakePlugin is attached at a time (the entry
// function is a plain C function).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "host/plugin_host.h"

namespace Zorv::Host::Testing {

struct FakeResponse {
  int32_t resultCode = 0;
  int32_t status = 0;
  std::string body;  // the error text when resultCode is not 0
};

class FakePlugin {
 public:
  // Registers and initialises this plug-in with `host`.
  void Attach(PluginHost& host, const ApiDescription* description = nullptr,
              uint32_t hostHandle = 1) {
    current_ = this;
    description_ = description;
    ASSERT_EQ(host.Attach(Entry), "");
    ASSERT_TRUE(host.Initialize(hostHandle));
  }

  const HostApi* Api() const { return api_; }
  const HostFunctions* Functions() const { return api_->functions; }
  int Shutdowns() const { return shutdowns_; }

  void Yield() const { Functions()->YieldToHost(Functions()); }
  // Yields until `done` holds: the way the framework waits for an answer.
  void WaitUntil(const std::function<bool()>& done) const {
    Functions()->BeginWait(Functions(), "Wait: test", 0);
    while (!done()) Yield();
    Functions()->EndWait(Functions());
  }
  // Runs `action` once after `seconds`, as a timer of the plug-in.
  void Schedule(double seconds, std::function<void()>* action) const {
    Functions()->ScheduleCallback(
        Functions(), "test",
        [](void* context) { (*static_cast<std::function<void()>*>(context))(); }, action, seconds,
        0);
  }
  FakeResponse Send(uint32_t method, const std::string& url, const std::string& body = "") const {
    HostRequestRecord request{};
    request.method = method;
    request.url = url.c_str();
    request.body = body.empty() ? nullptr : body.data();
    request.bodySize = static_cast<uint32_t>(body.size());
    HostResponseRecord response{};
    Functions()->SendRequest(Functions(), &request, &response);
    FakeResponse answer;
    answer.resultCode = response.resultCode;
    answer.status = response.status;
    if (response.body)
      answer.body.assign(static_cast<const char*>(response.body), response.bodySize);
    return answer;
  }

 private:
  static uint8_t Initialize(void* module, const HostApi* api) {
    static_cast<FakePlugin*>(module)->api_ = api;
    return 1;
  }
  static void Shutdown(void* module) { ++static_cast<FakePlugin*>(module)->shutdowns_; }
  static void MemoryStats(void*, uint32_t*) {}
  static void Entry(PluginRegistration* registration) {
    static const PluginCallbacks callbacks{Initialize, Shutdown, MemoryStats};
    registration->callbacks = &callbacks;
    registration->module = current_;
    registration->shortName = "fake";
    registration->apiDescription = current_->description_;
  }

  static inline FakePlugin* current_ = nullptr;
  const HostApi* api_ = nullptr;
  const ApiDescription* description_ = nullptr;
  int shutdowns_ = 0;
};

}  // namespace Zorv::Host::Testing
