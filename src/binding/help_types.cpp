#include "binding/help_types.h"

#include "binding/type_registration.h"

namespace Zorv {

void RegisterHelpTypes(TypeRegistry& registry) {
  registry.Enum<BindingHelpFormat>("BindingHelpFormat")
      .value("Full", BindingHelpFormat::Full, "Native help format")
      .value("Epytext", BindingHelpFormat::Epytext, "Python epytext format")
      .description("Help format for binding functions and types.")
      .finish();

  using TypeId = BindingFullTypeIdentifier;
  registry.Struct<TypeId>("BindingFullTypeIdentifier")
      .field("type", &TypeId::type)
      .field("elementType", &TypeId::elementType)
      .description("Describes the type of a value.")
      .finish();

  using Argument = BindingFullArgumentHelp;
  registry.Struct<Argument>("BindingFullArgumentHelp")
      .field("name", &Argument::name)
      .field("description", &Argument::description)
      .field("type", &Argument::type)
      .field("optional", &Argument::optional)
      .description("Describes a function parameter.")
      .finish();

  using Function = BindingFullFunctionHelp;
  registry.Struct<Function>("BindingFullFunctionHelp")
      .field("name", &Function::name)
      .field("nameSpace", &Function::nameSpace)
      .field("arguments", &Function::arguments)
      .field("returns", &Function::returns)
      .field("description", &Function::description)
      .field("help", &Function::help)
      .field("threadSafe", &Function::threadSafe)
      .field("async", &Function::async)
      .field("tags", &Function::tags)
      .description("Describes a function.")
      .finish();

  using EnumValue = BindingFullEnumValueHelp;
  registry.Struct<EnumValue>("BindingFullEnumValueHelp")
      .field("name", &EnumValue::name)
      .field("description", &EnumValue::description)
      .field("value", &EnumValue::value)
      .description("Describes an enumerator.")
      .finish();

  using Field = BindingFullFieldHelp;
  registry.Struct<Field>("BindingFullFieldHelp")
      .field("name", &Field::name)
      .field("description", &Field::description)
      .field("offset", &Field::offset)
      .field("type", &Field::type)
      .field("optional", &Field::optional)
      .description("Describes a member of a struct.")
      .finish();

  using Type = BindingFullTypeHelp;
  registry.Struct<Type>("BindingFullTypeHelp")
      .field("name", &Type::name)
      .field("nameSpace", &Type::nameSpace)
      .field("size", &Type::size)
      .field("description", &Type::description)
      .field("tags", &Type::tags)
      .field("fields", &Type::fields)
      .field("values", &Type::values)
      .description("Describes a struct or enum type.")
      .finish();

  using Event = BindingFullEventHelp;
  registry.Struct<Event>("BindingFullEventHelp")
      .field("name", &Event::name)
      .field("nameSpace", &Event::nameSpace)
      .field("type", &Event::type)
      .field("description", &Event::description)
      .field("tags", &Event::tags)
      .description("Describes an event.")
      .finish();

  using Api = BindingFullApiHelp;
  registry.Struct<Api>("BindingFullApiHelp")
      .field("functions", &Api::functions)
      .field("types", &Api::types)
      .field("events", &Api::events)
      .description("Describes the exposed native API.")
      .finish();
}

}  // namespace Zorv
