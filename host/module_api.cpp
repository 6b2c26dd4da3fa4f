#include "host/module_api.h"

#include <cstddef>
#include <cstring>

namespace Zorv::Host {
namespace {

std::string Text(const char* text) {
  return text ? text : "";
}

std::vector<std::string> Texts(const char* const* texts, uint32_t count) {
  std::vector<std::string> out;
  for (uint32_t i = 0; texts && i < count; ++i) out.push_back(Text(texts[i]));
  return out;
}

ModuleFunction ReadFunction(const ApiDescription& description, uint32_t index) {
  const FunctionRecord record = LoadFunctionRecord(description, index);
  ModuleFunction function;
  function.name = Text(record.name);
  function.method = record.method;
  function.customMethod = Text(record.customMethod);
  function.pathTemplate = Text(record.pathTemplate);
  function.description = Text(record.description);
  function.resultTypeName = Text(record.resultTypeName);
  function.nameSpace = Text(record.namespaceName);
  function.tags = Texts(record.tags, record.tagCount);
  for (uint32_t i = 0; record.arguments && i < record.argumentCount; ++i) {
    const FunctionArgumentRecord& argument = record.arguments[i];
    function.arguments.push_back(ModuleArgument{Text(argument.name), Text(argument.typeName),
                                                argument.location, Text(argument.description)});
  }
  return function;
}

ModuleType ReadType(const TypeRecord& record) {
  ModuleType type;
  type.name = Text(record.name);
  type.description = Text(record.description);
  type.nameSpace = Text(record.namespaceName);
  type.isEnum = record.isEnum != 0;
  for (uint32_t i = 0; record.fields && i < record.fieldCount; ++i) {
    const TypeFieldRecord& field = record.fields[i];
    type.fields.push_back(ModuleTypeField{Text(field.name), Text(field.typeName), field.kind,
                                          (field.flags & 2) != 0});
  }
  for (uint32_t i = 0; record.enumerators && i < record.enumeratorCount; ++i) {
    type.enumerators.emplace_back(Text(record.enumerators[i].name), record.enumerators[i].value);
  }
  return type;
}

template <typename T>
const T* FindNamed(const std::vector<T>& entries, const std::string& name) {
  for (const T& entry : entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace

const ModuleFunction* ModuleApi::FindFunction(const std::string& name) const {
  return FindNamed(functions, name);
}

const ModuleType* ModuleApi::FindType(const std::string& name) const {
  return FindNamed(types, name);
}

const ModuleEvent* ModuleApi::FindEvent(const std::string& name) const {
  return FindNamed(events, name);
}

ModuleApi ReadModuleApi(const ApiDescription& description) {
  ModuleApi api;
  for (uint32_t i = 0; description.functions && i < description.functionCount; ++i) {
    api.functions.push_back(ReadFunction(description, i));
  }
  for (uint32_t i = 0; description.types && i < description.typeCount; ++i) {
    api.types.push_back(ReadType(description.types[i]));
  }
  for (uint32_t i = 0; description.events && i < description.eventCount; ++i) {
    const EventDescriptionRecord& record = description.events[i];
    api.events.push_back(ModuleEvent{Text(record.name), Text(record.description),
                                     Text(record.payloadTypeName), Text(record.namespaceName),
                                     Texts(record.tags, record.tagCount)});
  }
  return api;
}

FunctionRecord LoadFunctionRecord(const ApiDescription& description, uint32_t index) {
  FunctionRecord record;
  std::memcpy(&record,
              reinterpret_cast<const unsigned char*>(description.functions) +
                  size_t{index} * sizeof(FunctionRecord),
              sizeof(record));
  return record;
}

}  // namespace Zorv::Host
