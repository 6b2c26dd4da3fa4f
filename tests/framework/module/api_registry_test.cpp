#include "framework/module/api_registry.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/module/framework_types.h"
#include "logging/log_category.h"

namespace Zorv::Client {
namespace {

EventDescription Event(std::string name, std::string description) {
  return EventDescription{std::move(name),
                          "PluginLcdsEvent",
                          std::move(description),
                          "zclient",
                          {"Plugins", "Plugin pex-replays"}};
}

TEST(ApiRegistryTest, StartsWithBuiltinAndHelpTypes) {
  ApiRegistry registry;
  EXPECT_NE(registry.types().findByName("BindingGenericEvent"), nullptr);
  EXPECT_NE(registry.types().findByName("BindingFullApiHelp"), nullptr);
}

TEST(ApiRegistryTest, FirstEventRegistrationWins) {
  ApiRegistry registry;
  EXPECT_TRUE(registry.addEvent(Event("OnA", "first")));
  EXPECT_FALSE(registry.addEvent(Event("OnA", "second")));
  ASSERT_EQ(registry.events().size(), 1u);
  EXPECT_EQ(registry.findEvent("OnA")->description, "first");
}

TEST(ApiRegistryTest, RecordsOutliveLaterRegistrations) {
  ApiRegistry registry;
  RegisterFrameworkTypes(registry);
  const ApiDescription first = registry.BuildApiDescription();
  const EventDescriptionRecord* lcds = first.events->next;

  // Enough additions to move every growing container the registry owns.
  for (int i = 0; i < 100; ++i) {
    registry.addEvent(Event("OnExtra" + std::to_string(i), std::string(40, 'x')));
  }
  EXPECT_STREQ(lcds->name, "OnLcdsEvent");
  EXPECT_STREQ(lcds->payloadTypeName, "PluginLcdsEvent");

  const ApiDescription second = registry.BuildApiDescription();
  ASSERT_EQ(second.eventCount, 105u);
  const EventDescriptionRecord& last = second.events[104];
  EXPECT_EQ(last.next, nullptr);
  EXPECT_STREQ(last.name, "OnExtra99");
  ASSERT_EQ(last.tagCount, 2u);
  EXPECT_STREQ(last.tags[1], "Plugin pex-replays");
}

TEST(FrameworkTypesTest, LocationCategoryIsRegisteredAtLoad) {
  char names[16];
  LogCategoryNames(names, sizeof names, kLogLOC);
  EXPECT_STREQ(names, "LOC");
}

}  // namespace
}  // namespace Zorv::Client
