#include "framework/endpoints/argument_binding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/json_writer.h"
#include "binding/type_kind.h"

namespace Zorv::Client {
namespace {

Endpoint ListAndObject() {
  Endpoint endpoint;
  endpoint.name = "GetList";
  endpoint.arguments.resize(2);
  endpoint.arguments[0].name = "list";
  endpoint.arguments[0].type = {TypeKind::Vector, TypeKind::String, 0};
  endpoint.arguments[1].name = "any";
  endpoint.arguments[1].type = {TypeKind::Object, TypeKind::None, 0};
  return endpoint;
}

// Each step binds one dotted name with the budget left by the steps before.
struct BudgetCase {
  const char* name;
  size_t budget;
  std::vector<const char*> names;  // all but the last fit the budget
  bool lastFits;
  const char* list;  // the list argument afterwards, as JSON ("" while empty)
  const char* any;   // the object argument afterwards, as JSON ("" while empty)
};

TEST(ArgumentBindingTest, DottedNamesSpendOneBudgetOfCreatedValues) {
  const BudgetCase cases[] = {
      // Element 10 creates eleven elements; entering existing ones costs nothing.
      {"exact fit",
       11,
       {"list.10", "list.3"},
       true,
       R"([null,null,null,"v",null,null,null,null,null,null,"v"])",
       ""},
      {"a member after the budget is spent",
       11,
       {"list.10", "any.k"},
       false,
       R"([null,null,null,null,null,null,null,null,null,null,"v"])",
       ""},
      // The overrun is found before any element is created.
      {"one element short", 10, {"list.10"}, false, "", ""},
      {"members one at a time",
       3,
       {"any.a.b", "any.a.c", "any.a.d"},
       false,
       "",
       R"({"a":{"b":"v","c":"v"}})"},
      {"nested indexes", 5, {"list.2.1"}, true, R"([null,null,[null,"v"]])", ""},
  };
  for (const BudgetCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Endpoint endpoint = ListAndObject();
    ArgumentBinding binding(endpoint, c.budget);
    for (const char* name : c.names) binding.BindArgument(name, "v", ARGUMENT_LOCATION_QUERY);
    if (c.lastFits) {
      EXPECT_FALSE(binding.failed()) << binding.failure();
    } else {
      const std::string key = std::string(c.names.back()).substr(0, 4) == "list" ? "list" : "any";
      EXPECT_EQ(binding.failure(), "Argument '" + key +
                                       "' for 'GetList' would exceed the call's limit of " +
                                       std::to_string(c.budget) + " created values.");
    }
    EXPECT_EQ(ToJsonText(binding.values()[0]), c.list);
    EXPECT_EQ(ToJsonText(binding.values()[1]), c.any);
  }
}

}  // namespace
}  // namespace Zorv::Client
