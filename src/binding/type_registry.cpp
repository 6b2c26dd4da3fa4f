#include "binding/type_registry.h"

#include <cstring>
#include <mutex>

#include "logging/diagnostics.h"
#include "logging/format_string.h"

namespace Zorv {

TypeBuilder::TypeBuilder(std::unique_ptr<TypeDescriptor> descriptor)
    : descriptor_(std::move(descriptor)) {}

TypeBuilder::~TypeBuilder() = default;

TypeBuilder& TypeBuilder::addField(std::string_view name, std::string_view description,
                                   uint32_t offset, uint32_t typeId, TypeIdentifier type,
                                   TypeIdentifier elementType, uint32_t flags,
                                   std::unique_ptr<FieldConverter> converter) {
  if (!descriptor_ || !converter || descriptor_->findField(name)) return *this;
  FieldDescriptor& field = descriptor_->fields.emplace_back();
  field.name = name;
  field.description = description;
  field.offset = offset;
  field.typeId = typeId;
  field.type = type;
  field.elementType = elementType;
  field.flags = flags;
  field.converter = std::move(converter);
  return *this;
}

TypeBuilder& TypeBuilder::addEnumValue(std::string_view name, int32_t value,
                                       std::string_view description) {
  if (!descriptor_ || descriptor_->findValue(name)) return *this;
  const size_t index = descriptor_->values.size();
  descriptor_->values.push_back(
      EnumValueDescriptor{std::string(name), value, std::string(description)});
  descriptor_->valueByName_.emplace(std::string(name), index);
  descriptor_->valueByNumber_.emplace(value, index);
  return *this;
}

TypeBuilder& TypeBuilder::addTag(std::string_view tag) {
  if (descriptor_ && !tag.empty()) descriptor_->tags.emplace_back(tag);
  return *this;
}

TypeBuilder& TypeBuilder::setDescription(std::string_view description) {
  if (descriptor_ && !description.empty()) descriptor_->description = description;
  return *this;
}

TypeBuilder& TypeBuilder::setNameSpace(std::string_view nameSpace) {
  if (descriptor_ && !nameSpace.empty()) descriptor_->nameSpace = nameSpace;
  return *this;
}

TypeRegistry::TypeRegistry() = default;
TypeRegistry::~TypeRegistry() = default;

TypeBuilder TypeRegistry::beginType(uint32_t nativeSize, std::string_view name,
                                    const StaticType& staticType, bool isEnum) {
  {
    std::shared_lock lock(mutex_);
    if (byName_.count(name) != 0) return TypeBuilder(nullptr);
  }
  auto descriptor = std::make_unique<TypeDescriptor>();
  descriptor->size = nativeSize;
  descriptor->isEnum = isEnum;
  descriptor->name = name;
  descriptor->staticType = staticType;
  return TypeBuilder(std::move(descriptor));
}

void TypeRegistry::finishType(TypeBuilder&& builder) {
  std::unique_ptr<TypeDescriptor> descriptor = std::move(builder.descriptor_);
  if (!descriptor) return;
  std::unique_lock lock(mutex_);
  // Another thread may have registered the name since beginType.
  if (byName_.count(descriptor->name) != 0) return;
  const StaticType& type = descriptor->staticType;
  const auto sameId = byId_.find(type.id);
  if (sameId != byId_.end() && std::strcmp(sameId->second->staticType.name, type.name) != 0) {
    const std::string description =
        FormatString("StaticType id %1$08X of %2 is taken by %3", type.id, type.name,
                     sameId->second->staticType.name);
    lock.unlock();
    FatalAssertion("ALE-5E1D7A0C", description.c_str(), __FILE__, __LINE__, __func__);
  }
  const TypeDescriptor* entered = all_.emplace_back(std::move(descriptor)).get();
  byName_.emplace(entered->name, entered);
  if (sameId == byId_.end()) byId_.emplace(type.id, entered);
}

const TypeDescriptor* TypeRegistry::findByName(std::string_view name) const {
  std::shared_lock lock(mutex_);
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

const TypeDescriptor* TypeRegistry::findById(uint32_t staticTypeId) const {
  std::shared_lock lock(mutex_);
  const auto it = byId_.find(staticTypeId);
  return it == byId_.end() ? nullptr : it->second;
}

const std::string* TypeRegistry::enumeratorName(int32_t value, uint32_t enumTypeId) const {
  const TypeDescriptor* type = findById(enumTypeId);
  if (!type || !type->isEnum) return nullptr;
  const EnumValueDescriptor* enumerator = type->findValue(value);
  return enumerator ? &enumerator->name : nullptr;
}

bool TypeRegistry::isEnumValue(int32_t value, uint32_t enumTypeId) const {
  return enumeratorName(value, enumTypeId) != nullptr;
}

std::vector<const TypeDescriptor*> TypeRegistry::descriptors() const {
  std::shared_lock lock(mutex_);
  std::vector<const TypeDescriptor*> out;
  out.reserve(all_.size());
  for (const auto& descriptor : all_) out.push_back(descriptor.get());
  return out;
}

}  // namespace Zorv
