#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "framework/module/app_module.h"
#include "framework/module/registration.h"
#include "logging/log.h"
#include "logging/logger.h"
#include "logging/logger_api.h"
#include "support/capture_log_target.h"

namespace Zorv::Client {
namespace {

// A host function table that records the log lines it receives and the waits
// it is asked for; the other entries are not reached by these tests.
struct FakeHost {
  HostFunctions table{};
  std::vector<std::pair<int32_t, std::string>> logLines;
  std::vector<std::string> waits;
  std::vector<std::string> subscriptions;  // "+name/handle/flag" and "-name/handle"

  FakeHost() {
    table.SubscribeEvent = [](const HostFunctions* self, const char* name, uint32_t handle,
                              HostEventCallback, void*, uint32_t flag) {
      Of(self).subscriptions.push_back("+" + std::string(name) + "/" + std::to_string(handle) +
                                       "/" + std::to_string(flag));
    };
    table.UnsubscribeEvent = [](const HostFunctions* self, const char* name, uint32_t handle) {
      Of(self).subscriptions.push_back("-" + std::string(name) + "/" + std::to_string(handle));
    };
    table.Log = [](const HostFunctions* self, int32_t level, const char* message) {
      Of(self).logLines.emplace_back(level, message);
    };
    table.BeginWait = [](const HostFunctions* self, const char* description, uint32_t zero) {
      Of(self).waits.push_back(std::string(description) + "/" + std::to_string(zero));
    };
  }
  static FakeHost& Of(const HostFunctions* self) {
    return *reinterpret_cast<FakeHost*>(const_cast<HostFunctions*>(self));
  }
};

class StartModule : public AppModule {
 public:
  enum class Outcome { Succeed, Fail, Throw };
  explicit StartModule(Outcome outcome) : outcome_(outcome) {}

  void RegisterApi() override {}
  bool Start() override {
    ++startCalls;
    if (outcome_ == Outcome::Throw) {
      throw std::runtime_error("start exploded");
    }
    return outcome_ == Outcome::Succeed;
  }

  int startCalls = 0;

 private:
  Outcome outcome_;
};

StartModule* Registered(StartModule::Outcome outcome, uint32_t hostPatch = 5) {
  auto* module = new StartModule(outcome);
  PluginRegistration registration{18, 0, hostPatch, nullptr, nullptr, nullptr, nullptr};
  Register(module, &registration, "pex-replays");
  return module;
}

size_t CountTargets(const char* name) {
  size_t count = 0;
  for (LogTargetInterface* target : Logger::Get()->targets()) {
    count += std::string(target->name(target)) == name ? 1 : 0;
  }
  return count;
}

class InitializeTest : public ::testing::Test {
 protected:
  void SetUp() override { api_->acquire(); }
  void TearDown() override { api_->release(); }

  const LoggerApi* api_ = GetLoggerApi();
  FakeHost host_;
  HostApi hostApi_{&host_.table, 0x5150};
};

TEST_F(InitializeTest, FirstModuleRoutesTheLoggerToTheHost) {
  StartModule* module = Registered(StartModule::Outcome::Succeed);

  EXPECT_EQ(InitializeCallback(module, &hostApi_), 1);

  Logger* logger = Logger::Get();
  EXPECT_EQ(CountTargets("PluginLogTarget"), 1u);
  EXPECT_FALSE(logger->stdErrTarget().isAttached());
  EXPECT_FALSE(logger->stdOutTarget().isAttached());
  EXPECT_FALSE(logger->debuggerTarget().isAttached());
  EXPECT_EQ(logger->level(), LogLevel::Okay);
  EXPECT_EQ(logger->suppressedCategories(), kLogXTR);

  Log(LogLevel::Okay, kLogGEN, "hello %d", 7);
  ASSERT_EQ(host_.logLines.size(), 1u);
  EXPECT_EQ(host_.logLines[0], (std::pair<int32_t, std::string>{0, "hello 7"}));

  EXPECT_EQ(module->hostApi(), &hostApi_);
  EXPECT_EQ(module->hostHandle(), 0x5150u);
  EXPECT_EQ(module->userAgent(), "ZorvClient/18.0.5 (pex-replays)");
  EXPECT_EQ(module->moduleName(), "pex-replays");
  EXPECT_NE(module->telemetrySender(), nullptr);
  EXPECT_EQ(module->startCalls, 1);

  ShutdownCallback(module);
  EXPECT_EQ(CountTargets("PluginLogTarget"), 0u);
}

TEST_F(InitializeTest, SecondModuleLeavesTheLoggerAsItIs) {
  StartModule* first = Registered(StartModule::Outcome::Succeed);
  ASSERT_EQ(InitializeCallback(first, &hostApi_), 1);
  Logger* logger = Logger::Get();
  logger->setLevel(LogLevel::Warn);
  logger->setSuppressedCategories(kLogPRF);
  logger->stdErrTarget().attach();

  StartModule* second = Registered(StartModule::Outcome::Succeed, 9);
  FakeHost secondHost;
  HostApi secondApi{&secondHost.table, 7};
  EXPECT_EQ(InitializeCallback(second, &secondApi), 1);

  EXPECT_EQ(CountTargets("PluginLogTarget"), 1u);
  EXPECT_TRUE(logger->stdErrTarget().isAttached());
  EXPECT_EQ(logger->level(), LogLevel::Warn);
  EXPECT_EQ(logger->suppressedCategories(), kLogPRF);
  EXPECT_EQ(second->hostHandle(), 7u);
  EXPECT_EQ(second->userAgent(), "ZorvClient/18.0.9 (pex-replays)");

  logger->stdErrTarget().detach();
  ShutdownCallback(second);
  ShutdownCallback(first);
}

TEST_F(InitializeTest, StartsResultAndFailuresReachTheHostAsTheByte) {
  StartModule* refusing = Registered(StartModule::Outcome::Fail);
  EXPECT_EQ(InitializeCallback(refusing, &hostApi_), 0);
  EXPECT_EQ(refusing->startCalls, 1);
  ShutdownCallback(refusing);

  Testing::CaptureLogTarget capture;
  capture.attach();
  StartModule* throwing = Registered(StartModule::Outcome::Throw);
  EXPECT_EQ(InitializeCallback(throwing, &hostApi_), 0);
  EXPECT_TRUE(capture.contains("start exploded"));

  StartModule* orphan = Registered(StartModule::Outcome::Succeed);
  HostApi noFunctions{nullptr, 1};
  capture.clear();
  EXPECT_EQ(InitializeCallback(orphan, nullptr), 0);
  EXPECT_EQ(InitializeCallback(orphan, &noFunctions), 0);
  EXPECT_EQ(orphan->startCalls, 0);
  ASSERT_EQ(capture.entries().size(), 2u);
  EXPECT_EQ(capture.entries()[0].level, LogLevel::Error);
  capture.detach();

  ShutdownCallback(throwing);
  ShutdownCallback(orphan);
}

TEST_F(InitializeTest, BeginWaitPassesTheTextAndZero) {
  StartModule* module = Registered(StartModule::Outcome::Succeed);
  ASSERT_EQ(InitializeCallback(module, &hostApi_), 1);

  module->BeginWait("Wait: yield");

  EXPECT_EQ(host_.waits, std::vector<std::string>{"Wait: yield/0"});
  ShutdownCallback(module);
}

TEST_F(InitializeTest, ServiceProxyEventsAreFollowedFromInitializeToShutdown) {
  StartModule* module = Registered(StartModule::Outcome::Succeed);
  ASSERT_EQ(InitializeCallback(module, &hostApi_), 1);
  EXPECT_EQ(host_.subscriptions, (std::vector<std::string>{
                                     "+OnServiceProxyUuidEvent/20816/1",
                                     "+OnServiceProxyMethodEvent/20816/1",
                                     "+OnServiceProxyAsyncEvent/20816/1",
                                 }));

  host_.subscriptions.clear();
  ShutdownCallback(module);
  std::sort(host_.subscriptions.begin(), host_.subscriptions.end());
  EXPECT_EQ(host_.subscriptions, (std::vector<std::string>{
                                     "-OnServiceProxyAsyncEvent/20816",
                                     "-OnServiceProxyMethodEvent/20816",
                                     "-OnServiceProxyUuidEvent/20816",
                                 }));
}

}  // namespace
}  // namespace Zorv::Client
