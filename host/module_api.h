// ModuleApi: a plug-in's ApiDescription read into plain values, the way the
// host lists what a plug-in serves (its functions, types and events).
//
//   const ModuleApi api = ReadModuleApi(*host.Registration().apiDescription);
//   const ModuleFunction* f = api.FindFunction("GetPexReplaysV1MetadataByGameId");
//
// Reading copies every text, so the values outlive the plug-in. Null texts
// read as empty; counts with a null array read as no entries; the event list
// is read from the array (the records' next links are not followed).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zorv/plugin_abi.h"

namespace Zorv::Host {

struct ModuleArgument {
  std::string name;
  std::string typeName;
  uint32_t location = 0;  // ArgumentLocation
  std::string description;
};

struct ModuleFunction {
  std::string name;
  uint32_t method = 0;
  std::string customMethod;
  std::string pathTemplate;
  std::string description;
  std::string resultTypeName;
  std::string nameSpace;
  std::vector<std::string> tags;
  std::vector<ModuleArgument> arguments;
};

struct ModuleTypeField {
  std::string name;
  std::string typeName;  // a named enum or structure, else empty
  uint32_t kind = 0;
  bool required = false;
};

struct ModuleType {
  std::string name;
  std::string description;
  std::string nameSpace;
  bool isEnum = false;
  std::vector<ModuleTypeField> fields;
  std::vector<std::pair<std::string, int32_t>> enumerators;
};

struct ModuleEvent {
  std::string name;
  std::string description;
  std::string payloadTypeName;
  std::string nameSpace;
  std::vector<std::string> tags;
};

struct ModuleApi {
  std::vector<ModuleFunction> functions;
  std::vector<ModuleType> types;
  std::vector<ModuleEvent> events;

  // By name; null when absent.
  const ModuleFunction* FindFunction(const std::string& name) const;
  const ModuleType* FindType(const std::string& name) const;
  const ModuleEvent* FindEvent(const std::string& name) const;
};

ModuleApi ReadModuleApi(const ApiDescription& description);

// A copy of function record `index` (packed records are copied out, never
// referenced in place). REQUIRES: index < description.functionCount.
FunctionRecord LoadFunctionRecord(const ApiDescription& description, uint32_t index);

}  // namespace Zorv::Host
