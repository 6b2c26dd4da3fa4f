// ApiRegistry: everything a module serves, as the module registers it: its
// types (a TypeRegistry that starts with the built-in and help types), the
// events it publishes and its functions (endpoints). BuildApiDescription
// turns the lot into the plain records the host reads.
//
// Promises:
// - The records and every text they point to are owned by the registry and
//   stay valid until the next BuildApiDescription or the registry's end.
//   Registered texts never move, so later additions do not disturb them.
// - Events are only added; the first registration of a name wins.
// - Not thread-safe: a module registers and builds on the host's loading
//   thread, before the host can call it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/type_registry.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Client {

struct Endpoint;

struct EventDescription {
  std::string name;
  std::string payloadTypeName;
  std::string description;
  std::string nameSpace;
  std::vector<std::string> tags;
};

class ApiRegistry {
 public:
  ApiRegistry();
  ~ApiRegistry();
  ApiRegistry(const ApiRegistry&) = delete;
  ApiRegistry& operator=(const ApiRegistry&) = delete;

  TypeRegistry& types() { return *types_; }
  const TypeRegistry& types() const { return *types_; }

  // Returns false (and changes nothing) when the name is registered already.
  bool addEvent(EventDescription event);
  const std::deque<EventDescription>& events() const { return events_; }
  const EventDescription* findEvent(std::string_view name) const;

  // Adds a function; it keeps its address for the registry's lifetime (that
  // address is the context of its FunctionRecord).
  Endpoint& addFunction(std::unique_ptr<Endpoint> function);
  const std::vector<std::unique_ptr<Endpoint>>& functions() const { return functions_; }

  // Rebuilds the records from what is registered now.
  ApiDescription BuildApiDescription();

 private:
  // The records of one type; the vectors own the arrays the TypeRecord points to.
  struct TypeRecords {
    std::vector<TypeFieldRecord> fields;
    std::vector<TypeEnumeratorRecord> enumerators;
    std::vector<const char*> tags;
  };
  struct EventRecords {
    std::vector<const char*> tags;
  };
  // The texts and arrays one FunctionRecord points to.
  struct FunctionRecords {
    std::vector<std::string> typeNames;  // one per argument
    std::string resultTypeName;
    std::vector<FunctionArgumentRecord> arguments;
    std::vector<const char*> tags;
  };

  std::unique_ptr<TypeRegistry> types_;
  std::deque<EventDescription> events_;  // a deque keeps the texts in place as it grows

  // Built by BuildApiDescription. Type texts point into the TypeRegistry's
  // descriptors, which never change once entered; event texts point into events_.
  std::vector<TypeRecord> typeRecords_;
  std::vector<TypeRecords> typeParts_;
  std::vector<EventDescriptionRecord> eventRecords_;
  std::vector<EventRecords> eventParts_;
  std::vector<std::unique_ptr<Endpoint>> functions_;
  std::vector<FunctionRecord> functionRecords_;
  std::vector<FunctionRecords> functionParts_;
};

}  // namespace Zorv::Client
