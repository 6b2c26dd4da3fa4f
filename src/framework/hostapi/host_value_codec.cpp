#include "framework/hostapi/host_value_codec.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "binding/conversion_messages.h"
#include "binding/type_registry.h"
#include "logging/allocator.h"

namespace Zorv {
namespace {

// Map entries are packed: their values are only ever copied in and out whole.
HostMapEntry LoadEntry(const HostMapEntry* entries, uint32_t index) {
  HostMapEntry entry;
  std::memcpy(&entry,
              reinterpret_cast<const unsigned char*>(entries) + index * sizeof(HostMapEntry),
              sizeof(HostMapEntry));
  return entry;
}

HostValue NullValue() {
  HostValue value;
  std::memset(&value, 0, sizeof(value));
  value.tag = HOST_VALUE_NULL;
  return value;
}

// A zero-filled block: every HostValue in it is null and every key unflagged, so
// a partly built tree can be released at any point.
void* AllocateZeroed(size_t size) {
  void* block = Allocate(size);
  if (block) std::memset(block, 0, size);
  return block;
}

char* CopyText(std::string_view text) {
  char* copy = static_cast<char*>(Allocate(text.size() + 1));
  if (!copy) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

constexpr std::string_view kOutOfMemory = "HostValue: out of memory";

// One value still to encode and where its HostValue goes: an array element or
// the value inside a packed map entry, hence raw bytes written with memcpy.
struct EncodeFrame {
  const BindingProperty* source;
  unsigned char* destination;
};

// Encodes one value into `encoded`; a collection or structure gets its zeroed
// block and its children are queued. Answers an error message or empty.
std::string EncodeOne(const BindingProperty& source, const TypeRegistry* registry,
                      HostValue& encoded, std::vector<EncodeFrame>& pending) {
  encoded = NullValue();
  switch (source.kind()) {
    case ValueKind::Empty:
      return {};
    case ValueKind::Bool:
      encoded.tag = HOST_VALUE_BOOL;
      encoded.payload.boolean = source.asBool() ? 1 : 0;
      return {};
    case ValueKind::Signed:
      encoded.tag = HOST_VALUE_INT64;
      encoded.payload.int64 = source.asSigned();
      return {};
    case ValueKind::Unsigned:
      encoded.tag = HOST_VALUE_UINT64;
      encoded.payload.uint64 = source.asUnsigned();
      return {};
    case ValueKind::Float:
      encoded.tag = HOST_VALUE_DOUBLE;
      encoded.payload.number = source.asDouble();
      return {};
    case ValueKind::String: {
      const std::string_view text = source.asString();
      char* copy = CopyText(text);
      if (!copy) return std::string(kOutOfMemory);
      encoded.tag = HOST_VALUE_OWNED_TEXT;
      encoded.payload.text.data = copy;
      encoded.payload.text.length = static_cast<uint32_t>(text.size());
      return {};
    }
    case ValueKind::Blob: {
      const std::span<const uint8_t> bytes = source.asBlob();
      void* copy = nullptr;
      if (!bytes.empty()) {
        copy = Allocate(bytes.size());
        if (!copy) return std::string(kOutOfMemory);
        std::memcpy(copy, bytes.data(), bytes.size());
      }
      encoded.tag = HOST_VALUE_OWNED_BYTES;
      encoded.payload.bytes.data = copy;
      encoded.payload.bytes.size = static_cast<uint32_t>(bytes.size());
      return {};
    }
    case ValueKind::Enum: {
      const EnumValue enumerator = source.asEnum();
      const std::string* name =
          registry ? registry->enumeratorName(enumerator.value, enumerator.typeId) : nullptr;
      if (!name) {
        encoded.tag = HOST_VALUE_INT64;
        encoded.payload.int64 = enumerator.value;
        return {};
      }
      char* copy = CopyText(*name);
      if (!copy) return std::string(kOutOfMemory);
      encoded.tag = HOST_VALUE_OWNED_TEXT;
      encoded.payload.text.data = copy;
      encoded.payload.text.length = static_cast<uint32_t>(name->size());
      return {};
    }
    case ValueKind::Collection: {
      const size_t count = source.size();
      encoded.tag = HOST_VALUE_ARRAY;
      if (count == 0) return {};
      auto* items = static_cast<HostValue*>(AllocateZeroed(count * sizeof(HostValue)));
      if (!items) {
        encoded.tag = HOST_VALUE_NULL;
        return std::string(kOutOfMemory);
      }
      encoded.payload.array.items = items;
      encoded.payload.array.count = static_cast<uint32_t>(count);
      for (size_t i = 0; i < count; ++i) {
        pending.push_back({&source.element(i), reinterpret_cast<unsigned char*>(items + i)});
      }
      return {};
    }
    case ValueKind::Structure: {
      const size_t count = source.size();
      encoded.tag = HOST_VALUE_MAP;
      if (count == 0) return {};
      auto* block = static_cast<unsigned char*>(AllocateZeroed(count * sizeof(HostMapEntry)));
      if (!block) {
        encoded.tag = HOST_VALUE_NULL;
        return std::string(kOutOfMemory);
      }
      // From here on `encoded` owns the block, so the caller releases it on failure.
      encoded.payload.map.entries = reinterpret_cast<HostMapEntry*>(block);
      encoded.payload.map.count = static_cast<uint32_t>(count);
      size_t index = 0;
      for (const auto& field : source.fields()) {
        unsigned char* slot = block + index * sizeof(HostMapEntry);
        // A key travels NUL-terminated: an embedded NUL would silently cut it.
        if (field.name.find('\0') != std::string_view::npos) {
          return "HostValue: the map key contains a NUL character";
        }
        char* key = CopyText(field.name);
        if (!key) return std::string(kOutOfMemory);
        const uint8_t owned = 1;
        std::memcpy(slot + offsetof(HostMapEntry, key), &key, sizeof(key));
        std::memcpy(slot + offsetof(HostMapEntry, keyOwned), &owned, sizeof(owned));
        pending.push_back({&field.value, slot + offsetof(HostMapEntry, value)});
        ++index;
      }
      return {};
    }
  }
  encoded.tag = HOST_VALUE_NULL;
  return "HostValue: unsupported value kind";
}

// One HostValue still to decode, the value it fills and the name it is
// assigned under: a map entry's key, else the name of what holds it.
struct DecodeFrame {
  HostValue source;
  BindingProperty* destination;
  std::string_view name;
};

// Decodes one value into `destination`, queueing children so that they are
// decoded in order. Answers an error message or empty.
std::string DecodeOne(const HostValue& source, BindingProperty& destination, std::string_view name,
                      std::vector<DecodeFrame>& pending) {
  destination.clear();
  switch (source.tag) {
    case HOST_VALUE_NULL:
      return {};
    case HOST_VALUE_BOOL:
      destination = source.payload.boolean != 0;
      return {};
    case HOST_VALUE_INT64:
      destination = source.payload.int64;
      return {};
    case HOST_VALUE_UINT64:
      destination = source.payload.uint64;
      return {};
    case HOST_VALUE_DOUBLE:
      destination = source.payload.number;
      return {};
    case HOST_VALUE_TEXT:
    case HOST_VALUE_OWNED_TEXT: {
      const auto& text = source.payload.text;
      if (!text.data && text.length != 0) return "HostValue: text with a null pointer";
      destination = std::string_view(text.data ? text.data : "", text.length);
      return {};
    }
    case HOST_VALUE_BYTES:
    case HOST_VALUE_OWNED_BYTES: {
      const auto& bytes = source.payload.bytes;
      if (!bytes.data && bytes.size != 0) return "HostValue: bytes with a null pointer";
      destination.setBlob(
          std::span<const uint8_t>(static_cast<const uint8_t*>(bytes.data), bytes.size));
      return {};
    }
    case HOST_VALUE_ARRAY: {
      const auto& array = source.payload.array;
      if (!array.items && array.count != 0) return "HostValue: array with a null pointer";
      destination.makeCollection();
      destination.reserve(array.count);
      for (uint32_t i = 0; i < array.count; ++i) destination.append();
      // Elements no longer move: the collection is complete. Pushed backwards,
      // they are decoded first to last.
      for (uint32_t i = array.count; i-- > 0;) {
        pending.push_back({array.items[i], &destination.element(i), name});
      }
      return {};
    }
    case HOST_VALUE_MAP: {
      const auto& map = source.payload.map;
      if (!map.entries && map.count != 0) return "HostValue: map with a null pointer";
      destination.makeStructure();
      const size_t first = pending.size();
      for (uint32_t i = 0; i < map.count; ++i) {
        const HostMapEntry entry = LoadEntry(map.entries, i);
        if (!entry.key) return "HostValue: map entry with a null key";
        pending.push_back({entry.value, &destination.field(entry.key), entry.key});
      }
      // Decoded first to last, so a repeated key ends with its last value.
      std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
      return {};
    }
    default:
      // A tag without a kind of its own has the empty kind name.
      return ConversionMessage::IncompatibleObject(name, "");
  }
}

}  // namespace

BindingResult EncodeHostValue(const BindingProperty& value, const TypeRegistry* registry,
                              HostValue& out) {
  BindingResult result;
  out = NullValue();
  std::vector<EncodeFrame> pending;
  pending.push_back({&value, reinterpret_cast<unsigned char*>(&out)});
  while (!pending.empty()) {
    const EncodeFrame frame = pending.back();
    pending.pop_back();
    HostValue encoded;
    const std::string error = EncodeOne(*frame.source, registry, encoded, pending);
    // Stored even on failure: whatever it already owns is released with the tree.
    std::memcpy(frame.destination, &encoded, sizeof(encoded));
    if (!error.empty()) {
      ReleaseHostValue(out);
      result.setFailure(error);
      return result;
    }
  }
  return result;
}

BindingResult DecodeHostValue(const HostValue& value, std::string_view name) {
  BindingResult result;
  std::vector<DecodeFrame> pending;
  pending.push_back({value, &result.value, name});
  while (!pending.empty()) {
    const DecodeFrame frame = pending.back();
    pending.pop_back();
    const std::string error = DecodeOne(frame.source, *frame.destination, frame.name, pending);
    if (!error.empty()) {
      result.setFailure(error);
      return result;
    }
  }
  return result;
}

void ReleaseHostValue(HostValue& value) {
  std::vector<HostValue> pending;
  pending.push_back(value);
  while (!pending.empty()) {
    const HostValue current = pending.back();
    pending.pop_back();
    switch (current.tag) {
      case HOST_VALUE_OWNED_TEXT:
        Free(const_cast<char*>(current.payload.text.data));
        break;
      case HOST_VALUE_OWNED_BYTES:
        Free(const_cast<void*>(current.payload.bytes.data));
        break;
      case HOST_VALUE_ARRAY:
        if (!current.payload.array.items) break;
        for (uint32_t i = 0; i < current.payload.array.count; ++i) {
          pending.push_back(current.payload.array.items[i]);
        }
        Free(current.payload.array.items);
        break;
      case HOST_VALUE_MAP:
        if (!current.payload.map.entries) break;
        for (uint32_t i = 0; i < current.payload.map.count; ++i) {
          const HostMapEntry entry = LoadEntry(current.payload.map.entries, i);
          if (entry.keyOwned != 0) Free(const_cast<char*>(entry.key));
          pending.push_back(entry.value);
        }
        Free(current.payload.map.entries);
        break;
      default:
        break;  // scalars own nothing; tags 5 and 7 belong to someone else
    }
  }
  value = NullValue();
}

}  // namespace Zorv
