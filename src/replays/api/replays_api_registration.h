// Registration of the plug-in's types with a TypeRegistry: the names, JSON
// keys, kinds and enum spellings that make up the plug-in's wire format.
//
//   RegisterReplaysApiTypes(module.registry(), module.typePrefix());  //
//   "PexReplaysReplaysConfiguration", ... lcdsTypes_ =
//   RegisterLcdsContractTypes(module.registry());        // "ReplayResponseStatus", ...
//
// The API types are registered under the module's type prefix followed by the
// type's own name, the server contract types under their plain names. Types
// are registered in a fixed order, each field with no description and no
// flags. A name registered before keeps its first registration (the
// registry's rule), so calling either function twice changes nothing.
#pragma once

#include <string_view>
#include <vector>

namespace Zorv {
class TypeRegistry;
}

namespace Zorv::Client::Replays {

// A server contract type: its registered name and the class name the server
// knows it by.
struct LcdsContractType {
  std::string_view typeName;
  std::string_view className;
};

void RegisterReplaysApiTypes(TypeRegistry& registry, std::string_view typePrefix);

// Registers the contract types and returns their name pairs, in registration
// order, for the module to keep.
std::vector<LcdsContractType> RegisterLcdsContractTypes(TypeRegistry& registry);

}  // namespace Zorv::Client::Replays
