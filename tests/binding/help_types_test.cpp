#include "binding/help_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/conversion.h"
#include "binding/type_registry.h"

namespace Zorv {
namespace {

class HelpTypesTest : public ::testing::Test {
 protected:
  HelpTypesTest() { RegisterHelpTypes(registry); }
  TypeRegistry registry;
};

TEST_F(HelpTypesTest, HelpFormatHasTwoValues) {
  const TypeDescriptor* format = registry.findById(StaticTypeId<BindingHelpFormat>());
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format->name, "BindingHelpFormat");
  EXPECT_TRUE(format->isEnum);
  EXPECT_EQ(format->description, "Help format for binding functions and types.");
  ASSERT_EQ(format->values.size(), 2u);
  EXPECT_EQ(format->values[0].name, "Full");
  EXPECT_EQ(format->values[0].value, 1);
  EXPECT_EQ(format->values[0].description, "Native help format");
  EXPECT_EQ(format->values[1].name, "Epytext");
  EXPECT_EQ(format->values[1].value, 2);
  EXPECT_EQ(format->values[1].description, "Python epytext format");
}

TEST_F(HelpTypesTest, EightHelpStructsWithTheirFieldsInOrder) {
  const TypeIdentifier text{TypeKind::String};
  const TypeIdentifier flag{TypeKind::Bool};
  const TypeIdentifier texts{TypeKind::Vector, TypeKind::String};
  const auto named = [](uint32_t id) {
    return TypeIdentifier{TypeKind::Struct, TypeKind::None, id};
  };
  const auto list = [](uint32_t id) {
    return TypeIdentifier{TypeKind::Vector, TypeKind::Struct, id};
  };
  const TypeIdentifier typeId = named(StaticTypeId<BindingFullTypeIdentifier>());

  struct Expected {
    const char* name;
    const char* description;
    std::vector<std::pair<std::string, TypeIdentifier>> fields;
  };
  const std::vector<Expected> types = {
      {"BindingFullTypeIdentifier",
       "Describes the type of a value.",
       {{"type", text}, {"elementType", text}}},
      {"BindingFullArgumentHelp",
       "Describes a function parameter.",
       {{"name", text}, {"description", text}, {"type", typeId}, {"optional", flag}}},
      {"BindingFullFunctionHelp",
       "Describes a function.",
       {{"name", text},
        {"nameSpace", text},
        {"arguments", list(StaticTypeId<BindingFullArgumentHelp>())},
        {"returns", typeId},
        {"description", text},
        {"help", text},
        {"threadSafe", flag},
        {"async", text},
        {"tags", texts}}},
      {"BindingFullEnumValueHelp",
       "Describes an enumerator.",
       {{"name", text}, {"description", text}, {"value", {TypeKind::Int32}}}},
      {"BindingFullFieldHelp",
       "Describes a member of a struct.",
       {{"name", text},
        {"description", text},
        {"offset", {TypeKind::UInt32}},
        {"type", typeId},
        {"optional", flag}}},
      {"BindingFullTypeHelp",
       "Describes a struct or enum type.",
       {{"name", text},
        {"nameSpace", text},
        {"size", {TypeKind::UInt32}},
        {"description", text},
        {"tags", texts},
        {"fields", list(StaticTypeId<BindingFullFieldHelp>())},
        {"values", list(StaticTypeId<BindingFullEnumValueHelp>())}}},
      {"BindingFullEventHelp",
       "Describes an event.",
       {{"name", text},
        {"nameSpace", text},
        {"type", typeId},
        {"description", text},
        {"tags", texts}}},
      {"BindingFullApiHelp",
       "Describes the exposed native API.",
       {{"functions", list(StaticTypeId<BindingFullFunctionHelp>())},
        {"types", list(StaticTypeId<BindingFullTypeHelp>())},
        {"events", list(StaticTypeId<BindingFullEventHelp>())}}},
  };

  std::vector<std::string> registered;
  for (const TypeDescriptor* type : registry.descriptors()) registered.push_back(type->name);
  std::vector<std::string> expectedNames = {"BindingHelpFormat"};
  for (const Expected& type : types) expectedNames.push_back(type.name);
  EXPECT_EQ(registered, expectedNames);

  for (const Expected& expected : types) {
    SCOPED_TRACE(expected.name);
    const TypeDescriptor* type = registry.findByName(expected.name);
    ASSERT_NE(type, nullptr);
    EXPECT_FALSE(type->isEnum);
    EXPECT_EQ(type->description, expected.description);
    ASSERT_EQ(type->fields.size(), expected.fields.size());
    for (size_t i = 0; i < type->fields.size(); ++i) {
      EXPECT_EQ(type->fields[i].name, expected.fields[i].first);
      EXPECT_EQ(type->fields[i].type, expected.fields[i].second) << expected.fields[i].first;
    }
  }
}

TEST_F(HelpTypesTest, ApiHelpConvertsBothWays) {
  BindingFullApiHelp api;
  BindingFullTypeHelp& type = api.types.emplace_back();
  type.name = "MetadataState";
  type.size = 4;
  type.tags = {"zclient"};
  type.values = {{"checking", "", 0}, {"found", "Found", 1}};
  type.fields.push_back({"state", "The state", 8, {"enum", "MetadataState"}, true});
  BindingFullFunctionHelp& function = api.functions.emplace_back();
  function.name = "GetPexReplaysV1Configuration";
  function.arguments.push_back({"gameId", "", {"uint64", ""}, false});
  function.returns = {"struct", "ReplaysConfiguration"};
  api.events.push_back({"OnJsonApiEvent", "zclient", {"struct", "PluginResourceEvent"}, "", {}});

  const BindingResult written = ToProperty(api, registry);
  ASSERT_TRUE(written.success) << written.error();
  EXPECT_EQ(
      written.value.find("types").element(0).find("values").element(1).find("name").asString(),
      "found");

  BindingFullApiHelp back;
  const BindingResult read = FromProperty(written.value, back, "api", registry);
  ASSERT_TRUE(read.success) << read.error();
  ASSERT_EQ(back.types.size(), 1u);
  EXPECT_EQ(back.types[0].values[1].description, "Found");
  EXPECT_EQ(back.types[0].fields[0].type.elementType, "MetadataState");
  EXPECT_EQ(back.functions[0].arguments[0].type.type, "uint64");
  EXPECT_EQ(back.events[0].type.elementType, "PluginResourceEvent");
}

}  // namespace
}  // namespace Zorv
