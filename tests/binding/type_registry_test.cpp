#include "binding/type_registry.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "binding/builtin_types.h"
#include "binding/type_registration.h"

namespace Zorv {
namespace {

enum class Phase : int32_t { Idle = 0, Busy = 1, Done = 7 };

struct Inner {
  int32_t x = 0;
};

struct Config {
  bool enabled = false;
  std::string version;
  double minutes = 0;
  Phase phase = Phase::Idle;
  Inner inner;
  std::vector<Inner> inners;
  std::vector<std::string> names;
  std::map<std::string, Phase> phases;
  std::vector<uint8_t> blob;
  BindingProperty extra;
};

struct Base {
  int32_t a = 0;
};
struct Derived : Base {
  int64_t b = 0;
};

void RegisterConfig(TypeRegistry& registry) {
  registry.Struct<Config>("Config")
      .field("enabled", &Config::enabled, "Whether it is on")
      .field("version", &Config::version)
      .field("minutes", &Config::minutes, "", kFieldOmitEmpty)
      .field("phase", &Config::phase)
      .field("inner", &Config::inner, "", kFieldRequired)
      .field("inners", &Config::inners)
      .field("names", &Config::names)
      .field("phases", &Config::phases)
      .field("blob", &Config::blob)
      .field("extra", &Config::extra)
      .description("A configuration")
      .nameSpace("test")
      .tag("one")
      .tag("")
      .tag("two")
      .finish();
}

TEST(StaticTypeTest, NamesAreFullCppNames) {
  EXPECT_STREQ(StaticTypeName<BindingGenericEvent>(), "Zorv::BindingGenericEvent");
  EXPECT_STREQ(StaticTypeName<BindingAsyncState>(), "Zorv::BindingAsyncState");
  EXPECT_STREQ(StaticTypeName<int32_t>(), "int");
  EXPECT_EQ(StaticTypeId<const Inner>(), StaticTypeId<Inner>());
  static_assert(StaticTypeId<Inner>() != 0, "ids are known when the program is built");
}

TEST(StaticTypeTest, IdsDifferPerType) {
  const std::set<uint32_t> ids = {
      StaticTypeId<int32_t>(),
      StaticTypeId<uint32_t>(),
      StaticTypeId<int64_t>(),
      StaticTypeId<std::string>(),
      StaticTypeId<std::vector<int>>(),
      StaticTypeId<std::vector<uint8_t>>(),
      StaticTypeId<Inner>(),
      StaticTypeId<Config>(),
      StaticTypeId<Phase>(),
      StaticTypeId<std::map<std::string, int>>(),
      StaticTypeId<BindingProperty>(),
      StaticTypeId<BindingGenericEvent>(),
  };
  EXPECT_EQ(ids.size(), 12u);
}

TEST(StaticTypeTest, UnreadableSignatureGivesHexName) {
  EXPECT_EQ(internal::SignatureTypeName("f() [with U = int]"), "");
  EXPECT_EQ(internal::SignatureTypeName("f() [with T = std::map<int, int[2]>; X = int]"),
            "std::map<int, int[2]>");
  EXPECT_STREQ(internal::DisplayName<9>("", 0x00AB12CDu).text, "#00AB12CD");
}

class TypeRegistryTest : public ::testing::Test {
 protected:
  TypeRegistry registry;
};

TEST_F(TypeRegistryTest, StructFieldsAreDescribedInOrder) {
  RegisterConfig(registry);
  const TypeDescriptor* config = registry.findByName("Config");
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(registry.findById(StaticTypeId<Config>()), config);
  EXPECT_FALSE(config->isEnum);
  EXPECT_EQ(config->size, sizeof(Config));
  EXPECT_STREQ(config->staticType.name, StaticTypeName<Config>());
  EXPECT_EQ(config->description, "A configuration");
  EXPECT_EQ(config->nameSpace, "test");
  EXPECT_EQ(config->tags, (std::vector<std::string>{"one", "two"}));

  const Config probe;
  const auto at = [&probe](const auto& member) {
    return reinterpret_cast<uintptr_t>(&member) - reinterpret_cast<uintptr_t>(&probe);
  };
  const uint32_t inner = StaticTypeId<Inner>();
  const uint32_t phase = StaticTypeId<Phase>();
  struct Expected {
    const char* name;
    size_t offset;
    uint32_t typeId;
    TypeIdentifier type;
    TypeIdentifier element;
    uint32_t flags;
  };
  const Expected expected[] = {
      {"enabled", at(probe.enabled), StaticTypeId<bool>(), {TypeKind::Bool}, {}, 0},
      {"version", at(probe.version), StaticTypeId<std::string>(), {TypeKind::String}, {}, 0},
      {"minutes", at(probe.minutes), StaticTypeId<double>(), {TypeKind::Double}, {}, 1},
      {"phase", at(probe.phase), phase, {TypeKind::Enum, TypeKind::None, phase}, {}, 0},
      {"inner", at(probe.inner), inner, {TypeKind::Struct, TypeKind::None, inner}, {}, 2},
      {"inners",
       at(probe.inners),
       StaticTypeId<std::vector<Inner>>(),
       {TypeKind::Vector, TypeKind::Struct, inner},
       {TypeKind::Struct, TypeKind::None, inner},
       0},
      {"names",
       at(probe.names),
       StaticTypeId<std::vector<std::string>>(),
       {TypeKind::Vector, TypeKind::String},
       {TypeKind::String},
       0},
      {"phases",
       at(probe.phases),
       StaticTypeId<std::map<std::string, Phase>>(),
       {TypeKind::Map, TypeKind::Enum, phase},
       {TypeKind::Enum, TypeKind::None, phase},
       0},
      {"blob", at(probe.blob), StaticTypeId<std::vector<uint8_t>>(), {TypeKind::Blob}, {}, 0},
      {"extra", at(probe.extra), StaticTypeId<BindingProperty>(), {TypeKind::Object}, {}, 0},
  };
  ASSERT_EQ(config->fields.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const FieldDescriptor& field = config->fields[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(field.name, expected[i].name);
    EXPECT_EQ(field.offset, expected[i].offset);
    EXPECT_EQ(field.typeId, expected[i].typeId);
    EXPECT_EQ(field.type, expected[i].type);
    EXPECT_EQ(field.elementType, expected[i].element);
    EXPECT_EQ(field.flags, expected[i].flags);
    EXPECT_NE(field.converter, nullptr);
  }
  EXPECT_EQ(config->fields[0].description, "Whether it is on");
  EXPECT_EQ(config->findField("phases"), &config->fields[7]);
  EXPECT_EQ(config->findField("Phases"), nullptr);
}

TEST_F(TypeRegistryTest, BaseClassMembersAreFieldsOfTheDerivedStruct) {
  registry.Struct<Derived>("Derived").field("a", &Derived::a).field("b", &Derived::b).finish();
  const TypeDescriptor* derived = registry.findById(StaticTypeId<Derived>());
  ASSERT_NE(derived, nullptr);
  ASSERT_EQ(derived->fields.size(), 2u);
  Derived probe;
  const auto start = reinterpret_cast<uintptr_t>(&probe);
  EXPECT_EQ(derived->fields[0].offset, reinterpret_cast<uintptr_t>(&probe.a) - start);
  EXPECT_EQ(derived->fields[1].offset, reinterpret_cast<uintptr_t>(&probe.b) - start);
}

TEST_F(TypeRegistryTest, EnumeratorsAreLookedUpByValueAndName) {
  registry.Enum<Phase>("Phase")
      .value("idle", Phase::Idle, "Nothing to do")
      .value("busy", Phase::Busy)
      .value("done", Phase::Done)
      .value("finished", Phase::Done)  // a second name for 7
      .value("busy", Phase::Done)      // a name only counts once
      .finish();
  const TypeDescriptor* phase = registry.findByName("Phase");
  ASSERT_NE(phase, nullptr);
  EXPECT_TRUE(phase->isEnum);
  EXPECT_EQ(phase->size, sizeof(Phase));
  ASSERT_EQ(phase->values.size(), 4u);
  EXPECT_EQ(phase->values[0].description, "Nothing to do");
  EXPECT_EQ(phase->findValue("finished")->value, 7);
  EXPECT_EQ(phase->findValue("busy")->value, 1);

  const uint32_t id = StaticTypeId<Phase>();
  ASSERT_NE(registry.enumeratorName(7, id), nullptr);
  EXPECT_EQ(*registry.enumeratorName(7, id), "done");
  EXPECT_EQ(registry.enumeratorName(2, id), nullptr);
  EXPECT_EQ(registry.enumeratorName(0, StaticTypeId<int>()), nullptr);
  EXPECT_TRUE(registry.isEnumValue(0, id));
  EXPECT_FALSE(registry.isEnumValue(3, id));

  RegisterConfig(registry);  // a struct's id answers no enumerator
  EXPECT_FALSE(registry.isEnumValue(0, StaticTypeId<Config>()));
}

TEST_F(TypeRegistryTest, FirstRegistrationOfANameWins) {
  enum class MetadataState : int32_t { checking = 0, found = 1, watch = 2 };
  registry.Enum<MetadataState>("MetadataState")
      .value("checking", MetadataState::checking)
      .value("found", MetadataState::found)
      .description("first")
      .finish();
  registry.Enum<MetadataState>("MetadataState")
      .value("watch", MetadataState::watch)
      .description("second")
      .tag("late")
      .finish();
  registry.Enum<Phase>("MetadataState").value("idle", Phase::Idle).finish();

  const TypeDescriptor* state = registry.findByName("MetadataState");
  ASSERT_NE(state, nullptr);
  ASSERT_EQ(state->values.size(), 2u);
  EXPECT_EQ(state->values[1].name, "found");
  EXPECT_EQ(state->description, "first");
  EXPECT_TRUE(state->tags.empty());
  EXPECT_EQ(registry.findById(StaticTypeId<Phase>()), nullptr);
  EXPECT_EQ(registry.descriptors().size(), 1u);
}

TEST_F(TypeRegistryTest, DescriptorsKeepRegistrationOrder) {
  RegisterConfig(registry);
  registry.Enum<Phase>("Phase").value("idle", Phase::Idle).finish();
  registry.Struct<Inner>("Inner").field("x", &Inner::x).finish();
  std::vector<std::string> names;
  for (const TypeDescriptor* type : registry.descriptors()) names.push_back(type->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Config", "Phase", "Inner"}));
}

TEST_F(TypeRegistryTest, UnfinishedRegistrationIsEnteredWhenItEnds) {
  {
    auto inner = registry.Struct<Inner>("Inner");
    inner.field("x", &Inner::x);
    EXPECT_EQ(registry.findByName("Inner"), nullptr);  // not visible while being built
  }
  ASSERT_NE(registry.findByName("Inner"), nullptr);
  EXPECT_EQ(registry.findByName("Inner")->fields.size(), 1u);
}

TEST_F(TypeRegistryTest, SameNativeTypeUnderASecondName) {
  registry.Struct<Inner>("Inner").field("x", &Inner::x).finish();
  registry.Struct<Inner>("Point").field("x", &Inner::x, "abscissa").finish();
  const TypeDescriptor* first = registry.findByName("Inner");
  ASSERT_NE(registry.findByName("Point"), nullptr);
  EXPECT_EQ(registry.findById(StaticTypeId<Inner>()), first);
  EXPECT_EQ(registry.descriptors().size(), 2u);
}

TEST(TypeRegistryDeathTest, TwoTypesWithOneIdStopTheProcess) {
  const StaticType alpha{0x1234, "Alpha"};
  const StaticType beta{0x1234, "Beta"};
  EXPECT_DEATH(
      {
        TypeRegistry registry;
        registry.finishType(registry.beginType(4, "A", alpha, true));
        registry.finishType(registry.beginType(4, "B", beta, true));
      },
      "");
}

TEST(BuiltinTypesTest, RegistersAsyncStateAndEventPayloads) {
  TypeRegistry registry;
  RegisterBuiltinTypes(registry);

  const TypeDescriptor* state = registry.findById(StaticTypeId<BindingAsyncState>());
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->name, "BindingAsyncState");
  EXPECT_EQ(state->description, "Possible states of an asynchronous operation.");
  EXPECT_EQ(state->tags, (std::vector<std::string>{"$builtin", "async"}));
  const std::vector<std::tuple<std::string, int32_t, std::string>> values = {
      {"None", 0, "Invalid state"},
      {"Running", 1, "The operation is in flight"},
      {"Cancelling", 2, "A request to cancel the operation has been made"},
      {"Cancelled", 3, "The operation was cancelled"},
      {"Succeeded", 4, "The operation completed successfully"},
      {"Failed", 5, "The operation encountered an error"},
  };
  ASSERT_EQ(state->values.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(state->values[i].name, std::get<0>(values[i]));
    EXPECT_EQ(state->values[i].value, std::get<1>(values[i]));
    EXPECT_EQ(state->values[i].description, std::get<2>(values[i]));
  }

  struct Expected {
    const char* name;
    const char* description;
    bool asyncTags;
    std::vector<std::pair<std::string, std::string>> fields;  // name, description
    std::vector<TypeKind> kinds;
  };
  const Expected structs[] = {
      {"BindingGenericEvent",
       "Represents generic data for an event.",
       false,
       {{"data", "Event data"}},
       {TypeKind::Object}},
      {"BindingCallbackEvent",
       "Represents the parameters of a call to a provided callback.",
       false,
       {{"id", "ID of the callback being invoked"}, {"parameters", "Callback parameters"}},
       {TypeKind::UInt64, TypeKind::Object}},
      {"BindingGenericAsyncEvent",
       "Represents generic data for an asynchronous event.",
       true,
       {{"asyncToken", "Asynchronous operation token"}, {"data", "Event data"}},
       {TypeKind::UInt64, TypeKind::Object}},
      {"BindingAsyncFailureEvent",
       "Represents a failed asynchronous operation.",
       true,
       {{"asyncToken", "Asynchronous operation token"}, {"error", "Error message"}},
       {TypeKind::UInt64, TypeKind::String}},
      {"BindingAsyncCancelEvent",
       "Represents a cancelled asynchronous operation.",
       true,
       {{"asyncToken", "Asynchronous operation token"}},
       {TypeKind::UInt64}},
  };
  for (const Expected& expected : structs) {
    SCOPED_TRACE(expected.name);
    const TypeDescriptor* type = registry.findByName(expected.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->description, expected.description);
    const std::vector<std::string> tags = expected.asyncTags
                                              ? std::vector<std::string>{"$builtin", "async"}
                                              : std::vector<std::string>{};
    EXPECT_EQ(type->tags, tags);
    ASSERT_EQ(type->fields.size(), expected.fields.size());
    for (size_t i = 0; i < type->fields.size(); ++i) {
      EXPECT_EQ(type->fields[i].name, expected.fields[i].first);
      EXPECT_EQ(type->fields[i].description, expected.fields[i].second);
      EXPECT_EQ(type->fields[i].type.kind, expected.kinds[i]);
    }
  }
  EXPECT_EQ(registry.descriptors().size(), 6u);
}

}  // namespace
}  // namespace Zorv
