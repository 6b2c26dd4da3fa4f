// TypeRegistry: the process's (module's) catalogue of the native structs and
// enums that take part in conversion, by name and by StaticType id.
//
//   registry.Struct<ReplaysConfiguration>("ReplaysConfiguration")
//       .field("isReplaysEnabled", &ReplaysConfiguration::isReplaysEnabled)
//       .description("...")
//       .finish();
//   const TypeDescriptor* d = registry.findById(StaticTypeId<ReplaysConfiguration>());
//
// The declarative front end (Struct<T>, Enum<T>) is defined in
// type_registration.h; beginType / TypeBuilder / finishType are the low-level
// interface under it.
//
// Promises:
// - Types are only added. The first registration of a name wins: a later one
//   with the same name is skipped whole, whatever its contents.
// - A descriptor becomes visible to lookups only when finishType enters it
//   complete, under both its name and its StaticType id; a pointer returned by
//   a lookup stays valid for the registry's lifetime.
// - Two different native types with the same StaticType id (a hash collision
//   of their names) stop the process with a fatal assertion report at the
//   second registration: conversions match types by id alone, so going on
//   would read one type's fields at another type's offsets. The same native
//   type under a second name is allowed; lookups by id keep answering the
//   first registration.
// - Every operation takes the registry's lock; the registry may be used from
//   any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/type_descriptor.h"

namespace Zorv {

template <typename T>
class StructRegistration;
template <typename T>
class EnumRegistration;

// Collects one type's description between beginType and finishType. When the
// name was registered already, every addition is skipped.
class TypeBuilder {
 public:
  TypeBuilder(TypeBuilder&&) noexcept = default;
  TypeBuilder& operator=(TypeBuilder&&) noexcept = default;
  ~TypeBuilder();

  bool alreadyRegistered() const { return descriptor_ == nullptr; }

  // A field name registered before in this type is skipped.
  TypeBuilder& addField(std::string_view name, std::string_view description, uint32_t offset,
                        uint32_t typeId, TypeIdentifier type, TypeIdentifier elementType,
                        uint32_t flags, std::unique_ptr<FieldConverter> converter);
  // An enumerator name registered before in this type is skipped; several
  // names may share a value (the first one names the value).
  TypeBuilder& addEnumValue(std::string_view name, int32_t value, std::string_view description);
  // Each ignores the empty text.
  TypeBuilder& addTag(std::string_view tag);
  TypeBuilder& setDescription(std::string_view description);
  TypeBuilder& setNameSpace(std::string_view nameSpace);

 private:
  friend class TypeRegistry;
  explicit TypeBuilder(std::unique_ptr<TypeDescriptor> descriptor);

  std::unique_ptr<TypeDescriptor> descriptor_;  // null: already registered
};

class TypeRegistry {
 public:
  TypeRegistry();
  ~TypeRegistry();
  TypeRegistry(const TypeRegistry&) = delete;
  TypeRegistry& operator=(const TypeRegistry&) = delete;

  TypeBuilder beginType(uint32_t nativeSize, std::string_view name, const StaticType& staticType,
                        bool isEnum);
  // Enters the built descriptor (nothing for an already registered name).
  void finishType(TypeBuilder&& builder);

  // Declarative registration (type_registration.h).
  template <typename T>
  StructRegistration<T> Struct(std::string_view name);
  template <typename T>
  EnumRegistration<T> Enum(std::string_view name);

  const TypeDescriptor* findByName(std::string_view name) const;
  const TypeDescriptor* findById(uint32_t staticTypeId) const;
  // The name of an enumerator, or null when the registry has no such enumerator.
  const std::string* enumeratorName(int32_t value, uint32_t enumTypeId) const;
  bool isEnumValue(int32_t value, uint32_t enumTypeId) const;
  // All descriptors in registration order.
  std::vector<const TypeDescriptor*> descriptors() const;

 private:
  mutable std::shared_mutex mutex_;
  std::vector<std::unique_ptr<TypeDescriptor>> all_;  // registration order
  std::map<std::string, const TypeDescriptor*, std::less<>> byName_;
  std::unordered_map<uint32_t, const TypeDescriptor*> byId_;
};

}  // namespace Zorv
