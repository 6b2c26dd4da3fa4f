// The help types that describe an API (functions, arguments, types with their
// fields and enumerators, events). Every module registers them next to its own
// types (RegisterHelpTypes) so that they appear in its registry and in the API
// description it hands to the host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Zorv {

class TypeRegistry;

enum class BindingHelpFormat : int32_t {
  Full = 1,
  Epytext = 2,
};

struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;
  std::vector<std::string> tags;
};

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  int32_t value = 0;
};

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};

void RegisterHelpTypes(TypeRegistry& registry);

}  // namespace Zorv
