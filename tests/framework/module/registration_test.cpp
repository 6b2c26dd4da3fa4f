#include "framework/module/registration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/type_registration.h"
#include "framework/module/api_registry.h"
#include "framework/module/app_module.h"
#include "logging/allocator.h"
#include "logging/logger_api.h"
#include "support/capture_log_target.h"

namespace Zorv::Client {
namespace {

struct Sample {
  int32_t count = 0;
};

// What a TestModule saw, kept outside the module so it survives Shutdown.
struct Trace {
  int registerApiCalls = 0;
  std::string typePrefixInRegisterApi;
  std::vector<std::string> tagsInRegisterApi;
  bool finalizingInUnregisterAll = false;
  int unregisterAllCalls = 0;
  bool destroyed = false;
};

class TestModule : public AppModule {
 public:
  explicit TestModule(Trace& trace, bool failRegisterApi = false)
      : trace_(trace), failRegisterApi_(failRegisterApi) {}
  ~TestModule() override { trace_.destroyed = true; }

  void RegisterApi() override {
    ++trace_.registerApiCalls;
    trace_.typePrefixInRegisterApi = typePrefix();
    trace_.tagsInRegisterApi = tags();
    if (failRegisterApi_) {
      throw std::runtime_error("no types today");
    }
    registry().Struct<Sample>(typePrefix() + "Sample").field("count", &Sample::count).finish();
  }
  bool Start() override { return true; }
  void UnregisterAll() override {
    ++trace_.unregisterAllCalls;
    trace_.finalizingInUnregisterAll = finalizing();
  }

 private:
  Trace& trace_;
  bool failRegisterApi_;
};

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api_->acquire();
    capture_.attach();
  }
  void TearDown() override {
    capture_.detach();
    api_->release();
  }

  const LoggerApi* api_ = GetLoggerApi();
  Testing::CaptureLogTarget capture_;
};

const TypeRecord* FindType(const ApiDescription& description, const std::string& name) {
  for (uint32_t i = 0; i < description.typeCount; ++i) {
    if (name == description.types[i].name) {
      return &description.types[i];
    }
  }
  return nullptr;
}

TEST_F(RegistrationTest, CompatibleHostGetsAllSevenWords) {
  Trace trace;
  auto* module = new TestModule(trace);
  PluginRegistration registration{18, 0, 5, nullptr, nullptr, nullptr, nullptr};

  Register(module, &registration, "pex-replays");

  EXPECT_EQ(registration.major, 18u);
  EXPECT_EQ(registration.minor, 0u);
  EXPECT_EQ(registration.patch, 0u);
  EXPECT_EQ(registration.callbacks, module->callbacks());
  EXPECT_EQ(registration.module, static_cast<void*>(static_cast<AppModule*>(module)));
  EXPECT_STREQ(registration.shortName, "pex-replays");
  EXPECT_EQ(registration.apiDescription, module->apiDescription());
  EXPECT_EQ(registration.callbacks->Initialize, &InitializeCallback);
  EXPECT_EQ(registration.callbacks->Shutdown, &ShutdownCallback);
  EXPECT_EQ(registration.callbacks->GetMemoryStats, &GetMemoryStatsCallback);

  EXPECT_EQ(module->hostVersion().ToString(), "18.0.5");
  EXPECT_EQ(module->identity().fullName, "tnk-be-pex-replays");
  EXPECT_EQ(module->identity().typeName, "backend");
  EXPECT_EQ(trace.registerApiCalls, 1);
  EXPECT_EQ(trace.typePrefixInRegisterApi, "PexReplays");
  EXPECT_EQ(trace.tagsInRegisterApi, (std::vector<std::string>{"Plugins", "Plugin pex-replays"}));
  EXPECT_TRUE(capture_.entries().empty());

  registration.callbacks->Shutdown(registration.module);
  EXPECT_TRUE(trace.destroyed);
}

TEST_F(RegistrationTest, DescriptionCarriesFrameworkAndModuleTypes) {
  Trace trace;
  PluginRegistration registration{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  Register(new TestModule(trace), &registration, "pex-replays");
  ASSERT_NE(registration.apiDescription, nullptr);
  const ApiDescription& description = *registration.apiDescription;

  EXPECT_EQ(description.functionCount, 0u);
  ASSERT_NE(FindType(description, "PexReplaysSample"), nullptr);
  for (const char* name : {"PluginManagerState", "PluginManagerResource", "PluginResourceEventType",
                           "PluginResourceEvent", "PluginLcdsEvent", "PluginLcdsResponse",
                           "PluginServiceProxyResponse"}) {
    const TypeRecord* type = FindType(description, name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_STREQ(type->namespaceName, "zclient") << name;
  }

  const TypeRecord* state = FindType(description, "PluginManagerState");
  EXPECT_EQ(state->isEnum, 1u);
  ASSERT_EQ(state->enumeratorCount, 2u);
  EXPECT_STREQ(state->enumerators[1].name, "PluginsInitialized");
  EXPECT_EQ(state->enumerators[1].value, 1);

  const TypeRecord* resourceEvent = FindType(description, "PluginResourceEvent");
  ASSERT_EQ(resourceEvent->fieldCount, 3u);
  EXPECT_STREQ(resourceEvent->fields[0].name, "uri");
  EXPECT_EQ(resourceEvent->fields[0].kind, static_cast<uint32_t>(TypeKind::String));
  EXPECT_STREQ(resourceEvent->fields[1].name, "eventType");
  EXPECT_EQ(resourceEvent->fields[1].kind, static_cast<uint32_t>(TypeKind::Enum));
  EXPECT_STREQ(resourceEvent->fields[1].typeName, "PluginResourceEventType");
  EXPECT_STREQ(resourceEvent->fields[2].name, "data");
  EXPECT_EQ(resourceEvent->fields[2].kind, static_cast<uint32_t>(TypeKind::Object));
  EXPECT_EQ(resourceEvent->fields[2].typeName, nullptr);

  struct ExpectedEvent {
    const char* name;
    const char* payload;
    const char* description;
  };
  const ExpectedEvent expected[] = {
      {"OnJsonApiEvent", "PluginResourceEvent", "Fired when a resource is changed."},
      {"OnLcdsEvent", "PluginLcdsEvent",
       "Fired when a message is received over the LCDS connection."},
      {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse",
       "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse",
       "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse",
       "Fired when an async service proxy message is received."},
  };
  ASSERT_EQ(description.eventCount, std::size(expected));
  const EventDescriptionRecord* event = description.events;
  for (size_t i = 0; i < std::size(expected); ++i) {
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event, &description.events[i]);
    EXPECT_STREQ(event->name, expected[i].name);
    EXPECT_STREQ(event->payloadTypeName, expected[i].payload);
    EXPECT_STREQ(event->description, expected[i].description);
    EXPECT_STREQ(event->namespaceName, "zclient");
    event = event->next;
  }
  EXPECT_EQ(event, nullptr);

  registration.callbacks->Shutdown(registration.module);
}

// Words 3 to 6 carry nothing on entry; a host may leave anything in them.
PluginRegistration StaleRegistration() {
  static const PluginCallbacks stale{};
  static const ApiDescription staleDescription{};
  static int staleModule;
  return PluginRegistration{18, 0, 0, &stale, &staleModule, "stale", &staleDescription};
}

class UnbuildableModule : public AppModule {
 public:
  UnbuildableModule() { throw std::runtime_error("constructor gave up"); }
  void RegisterApi() override {}
  bool Start() override { return true; }
};

TEST_F(RegistrationTest, MissingModuleAnswersVersionOnly) {
  struct Case {
    const char* name;
    void (*load)(PluginRegistration*);
    const char* logged;
  };
  const Case cases[] = {
      {"no module", [](PluginRegistration* r) { Register(nullptr, r, "pex-replays"); },
       "pex-replays could not be created"},
      {"constructor throws",
       [](PluginRegistration* r) { CreateAndRegister<UnbuildableModule>(r, "pex-replays"); },
       "constructor gave up"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    capture_.clear();
    PluginRegistration registration = StaleRegistration();
    c.load(&registration);

    EXPECT_EQ(registration.major, 18u);
    EXPECT_EQ(registration.callbacks, nullptr);
    EXPECT_EQ(registration.module, nullptr);
    EXPECT_EQ(registration.shortName, nullptr);
    EXPECT_EQ(registration.apiDescription, nullptr);
    ASSERT_FALSE(capture_.entries().empty());
    EXPECT_EQ(capture_.entries()[0].level, LogLevel::Error);
    EXPECT_TRUE(capture_.contains(c.logged));
  }
}

TEST_F(RegistrationTest, FailingRegisterApiDestroysModuleAndAnswersNoCallbacks) {
  Trace trace;
  PluginRegistration registration = StaleRegistration();
  Register(new TestModule(trace, true), &registration, "pex-replays");

  EXPECT_TRUE(trace.destroyed);
  EXPECT_EQ(registration.major, 18u);
  EXPECT_EQ(registration.callbacks, nullptr);
  EXPECT_EQ(registration.module, nullptr);
  EXPECT_EQ(registration.shortName, nullptr);
  EXPECT_EQ(registration.apiDescription, nullptr);
  EXPECT_TRUE(capture_.contains("no types today"));
}

using RegistrationDeathTest = RegistrationTest;

TEST_F(RegistrationDeathTest, IncompatibleHostEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    PluginRegistration registration;
    const char* hostText;
  };
  const Case cases[] = {
      {{17, 9, 9, nullptr, nullptr, nullptr, nullptr}, "17.9.9"},
      {{19, 0, 0, nullptr, nullptr, nullptr, nullptr}, "19.0.0"},
  };
  for (const Case& c : cases) {
    const std::string refusal = std::string(
                                    "pex-replays which supports plugin API 18.0.0 is not "
                                    "compatible with core's plugin API ") +
                                c.hostText;
    EXPECT_DEATH(
        {
          Trace trace;
          PluginRegistration registration = c.registration;
          Register(new TestModule(trace), &registration, "pex-replays");
        },
        refusal + "(.|\n)*Expression: ALE-EECF0606");
  }
}

TEST(ShutdownTest, SetsFinalizingThenUnregistersThenDestroys) {
  Trace trace;
  PluginRegistration registration{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  Register(new TestModule(trace), &registration, "pex-replays");

  registration.callbacks->Shutdown(registration.module);

  EXPECT_EQ(trace.unregisterAllCalls, 1);
  EXPECT_TRUE(trace.finalizingInUnregisterAll);
  EXPECT_TRUE(trace.destroyed);
}

TEST(MemoryStatsTest, SixCountersAsWordPairsThenTwoZeroWords) {
  void* block = Allocate(100);
  const MemoryCounters counters = GetMemoryCounters();
  uint32_t out[ZORV_MEMORY_STATS_WORDS];
  std::memset(out, 0xAB, sizeof out);

  GetMemoryStatsCallback(nullptr, out);
  Free(block);

  const uint64_t values[] = {counters.peakLiveBytes,  counters.liveAllocationsAtPeak,
                             counters.bytesAllocated, counters.allocations,
                             counters.bytesFreed,     counters.frees};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(out[2 * i] | uint64_t{out[2 * i + 1]} << 32, values[i]) << "counter " << i;
  }
  EXPECT_GT(counters.allocations, 0u);
  EXPECT_EQ(out[12], 0u);
  EXPECT_EQ(out[13], 0u);
}

}  // namespace
}  // namespace Zorv::Client
