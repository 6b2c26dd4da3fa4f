#include "framework/endpoints/endpoint.h"

#include "binding/type_kind.h"
#include "binding/type_registry.h"

namespace Zorv::Client {

namespace {

std::string NamedOrKind(const TypeRegistry& registry, TypeKind kind, uint32_t namedTypeId) {
  if (namedTypeId != 0) {
    if (const TypeDescriptor* named = registry.findById(namedTypeId)) return named->name;
  }
  return TypeKindName(kind);
}

}  // namespace

FunctionResult FunctionResult::Failed(std::string_view message, int32_t status) {
  FunctionResult result;
  result.value.setFailure(message);
  result.status = status;
  return result;
}

ArgumentDeclaration* Endpoint::findArgument(std::string_view argumentName) {
  for (ArgumentDeclaration& argument : arguments) {
    if (argument.name == argumentName) return &argument;
  }
  return nullptr;
}

std::string TypeNameText(const TypeRegistry& registry, const TypeIdentifier& type) {
  if (type.kind == TypeKind::Vector || type.kind == TypeKind::Map) {
    return std::string(TypeKindName(type.kind)) + "<" +
           NamedOrKind(registry, type.elementKind, type.namedTypeId) + ">";
  }
  return NamedOrKind(registry, type.kind, type.namedTypeId);
}

}  // namespace Zorv::Client
