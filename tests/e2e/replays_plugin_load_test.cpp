// The real plug-in library through the C boundary: registration, version
// checks, memory statistics, the API description, Initialize and Shutdown.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

uint64_t Word64(const std::array<uint32_t, ZORV_MEMORY_STATS_WORDS>& words, size_t index) {
  return words[index] | (uint64_t{words[index + 1]} << 32);
}

TEST(ReplaysPluginLoadTest, RegistrationAnswersTheModuleVersionAndIdentity) {
  for (const HostVersion version :
       {HostVersion{18, 0, 0}, HostVersion{18, 0, 5}, HostVersion{18, 3, 0}}) {
    SCOPED_TRACE(std::to_string(version.minor) + "." + std::to_string(version.patch));
    PluginHost host;
    ASSERT_EQ(host.Load(PEX_REPLAYS_PATH, version), "");
    const PluginRegistration& answer = host.Registration();
    EXPECT_EQ(answer.major, 18u);
    EXPECT_EQ(answer.minor, 0u);
    EXPECT_EQ(answer.patch, 0u);
    ASSERT_NE(answer.shortName, nullptr);
    EXPECT_STREQ(answer.shortName, "pex-replays");
    EXPECT_NE(answer.apiDescription, nullptr);
  }
}

TEST(ReplaysPluginLoadDeathTest, AnIncompatibleHostStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const HostVersion version : {HostVersion{17, 9, 9}, HostVersion{19, 0, 0}}) {
    EXPECT_DEATH(
        {
          PluginHost host;
          static_cast<void>(host.Load(PEX_REPLAYS_PATH, version));
        },
        "ALE-EECF0606");
  }
}

TEST(ReplaysPluginLoadTest, MemoryStatisticsKeepTheirLastWordsZero) {
  PluginHost host;
  ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
  const auto words = host.MemoryStats();
  EXPECT_EQ(words[12], 0u);
  EXPECT_EQ(words[13], 0u);
  const uint64_t peak = Word64(words, 0);
  const uint64_t allocated = Word64(words, 4);
  const uint64_t freed = Word64(words, 8);
  EXPECT_GE(allocated, freed);
  EXPECT_GE(peak, allocated - freed);
  EXPECT_GE(Word64(words, 6), Word64(words, 10)) << "no more frees than allocations";
}

TEST(ReplaysPluginLoadTest, DescriptionHoldsTheFrameworkTypesAndEvents) {
  PluginHost host;
  ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
  const ApiDescription& description = *host.Registration().apiDescription;

  std::set<std::string> types;
  for (uint32_t i = 0; i < description.typeCount; ++i) {
    const TypeRecord& type = description.types[i];
    types.insert(type.name);
    if (std::string(type.name) == "PluginResourceEventType") {
      EXPECT_NE(type.isEnum, 0u);
      ASSERT_EQ(type.enumeratorCount, 3u);
      EXPECT_STREQ(type.enumerators[2].name, "Delete");
      EXPECT_EQ(type.enumerators[2].value, 2);
      EXPECT_STREQ(type.namespaceName, "zclient");
    }
  }
  for (const char* name : {"PluginManagerState", "PluginManagerResource", "PluginResourceEventType",
                           "PluginResourceEvent", "PluginLcdsEvent", "PluginLcdsResponse",
                           "PluginServiceProxyResponse"}) {
    EXPECT_EQ(types.count(name), 1u) << name;
  }

  struct Event {
    std::string payload;
    std::string description;
  };
  std::map<std::string, Event> events;
  uint32_t listed = 0;
  for (const EventDescriptionRecord* event = description.events; event; event = event->next) {
    events[event->name] = Event{event->payloadTypeName, event->description};
    ++listed;
  }
  EXPECT_EQ(listed, description.eventCount) << "the list and the count agree";
  EXPECT_EQ(events["OnJsonApiEvent"].payload, "PluginResourceEvent");
  EXPECT_EQ(events["OnJsonApiEvent"].description, "Fired when a resource is changed.");
  EXPECT_EQ(events["OnLcdsEvent"].payload, "PluginLcdsEvent");
  for (const char* name :
       {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
    EXPECT_EQ(events[name].payload, "PluginServiceProxyResponse") << name;
  }
}

TEST(ReplaysPluginLoadTest, ShutdownEndsEverySubscriptionThatInitializeMade) {
  PluginHost host;
  ASSERT_EQ(host.Load(PEX_REPLAYS_PATH), "");
  ASSERT_TRUE(host.Initialize(42));
  std::multiset<std::string> subscribed;
  for (const EventBus::Subscription& subscription : host.Bus().Subscriptions()) {
    EXPECT_EQ(subscription.hostHandle, 42u) << subscription.name;
    subscribed.insert(subscription.name);
  }
  // At least the framework's own service-proxy answers are followed.
  for (const char* name :
       {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
    EXPECT_EQ(subscribed.count(name), 1u) << name;
  }

  host.Shutdown();
  EXPECT_EQ(std::multiset<std::string>(host.Unsubscribed().begin(), host.Unsubscribed().end()),
            subscribed);
  EXPECT_EQ(host.Registration().module, nullptr);
  EXPECT_EQ(host.Ledger().released, host.Ledger().issued);
  EXPECT_TRUE(host.Faults().empty()) << host.Faults().front();
}

}  // namespace
}  // namespace Zorv::Host
