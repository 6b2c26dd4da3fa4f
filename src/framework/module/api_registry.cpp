#include "framework/module/api_registry.h"

#include <utility>

#include "binding/builtin_types.h"
#include "binding/help_types.h"
#include "framework/endpoints/endpoint.h"
#include "framework/endpoints/invoke.h"

namespace Zorv::Client {

namespace {

const char* NamedTypeName(const TypeRegistry& types, const FieldDescriptor& field) {
  uint32_t id =
      field.type.namedTypeId != 0 ? field.type.namedTypeId : field.elementType.namedTypeId;
  if (id == 0) {
    return nullptr;
  }
  const TypeDescriptor* named = types.findById(id);
  return named != nullptr ? named->name.c_str() : nullptr;
}

}  // namespace

ApiRegistry::ApiRegistry() : types_(std::make_unique<TypeRegistry>()) {
  RegisterBuiltinTypes(*types_);
  RegisterHelpTypes(*types_);
}

ApiRegistry::~ApiRegistry() = default;

bool ApiRegistry::addEvent(EventDescription event) {
  if (findEvent(event.name) != nullptr) {
    return false;
  }
  events_.push_back(std::move(event));
  return true;
}

const EventDescription* ApiRegistry::findEvent(std::string_view name) const {
  for (const EventDescription& event : events_) {
    if (event.name == name) {
      return &event;
    }
  }
  return nullptr;
}

Endpoint& ApiRegistry::addFunction(std::unique_ptr<Endpoint> function) {
  functions_.push_back(std::move(function));
  return *functions_.back();
}

ApiDescription ApiRegistry::BuildApiDescription() {
  const std::vector<const TypeDescriptor*> descriptors = types_->descriptors();
  typeParts_.clear();
  typeParts_.resize(descriptors.size());
  typeRecords_.assign(descriptors.size(), TypeRecord{});
  for (size_t i = 0; i < descriptors.size(); ++i) {
    const TypeDescriptor& type = *descriptors[i];
    TypeRecords& parts = typeParts_[i];
    for (const std::string& tag : type.tags) {
      parts.tags.push_back(tag.c_str());
    }
    for (const FieldDescriptor& field : type.fields) {
      parts.fields.push_back(TypeFieldRecord{field.name.c_str(), field.description.c_str(),
                                             static_cast<uint32_t>(field.type.kind),
                                             static_cast<uint32_t>(field.elementType.kind),
                                             NamedTypeName(*types_, field), field.flags});
    }
    for (const EnumValueDescriptor& value : type.values) {
      parts.enumerators.push_back(
          TypeEnumeratorRecord{value.name.c_str(), value.value, value.description.c_str()});
    }
    TypeRecord& record = typeRecords_[i];
    record.name = type.name.c_str();
    record.description = type.description.c_str();
    record.namespaceName = type.nameSpace.c_str();
    record.tags = parts.tags.data();
    record.tagCount = static_cast<uint32_t>(parts.tags.size());
    record.fields = parts.fields.data();
    record.fieldCount = static_cast<uint32_t>(parts.fields.size());
    record.enumerators = parts.enumerators.data();
    record.enumeratorCount = static_cast<uint32_t>(parts.enumerators.size());
    record.isEnum = type.isEnum ? 1 : 0;
  }

  eventParts_.clear();
  eventParts_.resize(events_.size());
  eventRecords_.assign(events_.size(), EventDescriptionRecord{});
  for (size_t i = 0; i < events_.size(); ++i) {
    const EventDescription& event = events_[i];
    for (const std::string& tag : event.tags) {
      eventParts_[i].tags.push_back(tag.c_str());
    }
    EventDescriptionRecord& record = eventRecords_[i];
    record.next = i + 1 < events_.size() ? &eventRecords_[i + 1] : nullptr;
    record.name = event.name.c_str();
    record.description = event.description.c_str();
    record.payloadTypeName = event.payloadTypeName.c_str();
    record.namespaceName = event.nameSpace.c_str();
    record.tags = eventParts_[i].tags.data();
    record.tagCount = static_cast<uint32_t>(eventParts_[i].tags.size());
  }

  functionParts_.clear();
  functionParts_.resize(functions_.size());
  functionRecords_.assign(functions_.size(), FunctionRecord{});
  for (size_t i = 0; i < functions_.size(); ++i) {
    Endpoint& function = *functions_[i];
    FunctionRecords& parts = functionParts_[i];
    for (const ArgumentDeclaration& argument : function.arguments) {
      parts.typeNames.push_back(TypeNameText(*types_, argument.type));
    }
    parts.resultTypeName = TypeNameText(*types_, function.resultType);
    for (size_t a = 0; a < function.arguments.size(); ++a) {
      const ArgumentDeclaration& argument = function.arguments[a];
      parts.arguments.push_back(
          FunctionArgumentRecord{argument.name.c_str(), parts.typeNames[a].c_str(),
                                 argument.location, argument.description.c_str()});
    }
    for (const std::string& tag : function.tags) {
      parts.tags.push_back(tag.c_str());
    }
    // Packed record: members are assigned one by one, never referenced.
    FunctionRecord& record = functionRecords_[i];
    record.method = function.method;
    record.pathTemplate = function.pathTemplate().c_str();
    record.context = &function;
    record.name = function.name.c_str();
    record.customMethod = function.customMethod.c_str();
    record.description = function.description.c_str();
    record.resultTypeName = parts.resultTypeName.c_str();
    record.namespaceName = function.nameSpace.c_str();
    record.tags = parts.tags.empty() ? nullptr : parts.tags.data();
    record.tagCount = static_cast<uint32_t>(parts.tags.size());
    record.arguments = parts.arguments.empty() ? nullptr : parts.arguments.data();
    record.argumentCount = static_cast<uint32_t>(parts.arguments.size());
    record.invoke = &Invoke;
  }

  ApiDescription description{};
  description.functions = functionRecords_.empty() ? nullptr : functionRecords_.data();
  description.functionCount = static_cast<uint32_t>(functionRecords_.size());
  description.types = typeRecords_.empty() ? nullptr : typeRecords_.data();
  description.typeCount = static_cast<uint32_t>(typeRecords_.size());
  description.events = eventRecords_.empty() ? nullptr : eventRecords_.data();
  description.eventCount = static_cast<uint32_t>(eventRecords_.size());
  return description;
}

}  // namespace Zorv::Client
