// StaticType: a 32-bit id and a display name for every native type that takes
// part in conversion, fixed when the program is built.
//
//   StaticTypeId<Api::ReplaysConfiguration>()    // the same value in every build of this source
//   StaticTypeName<Api::ReplaysConfiguration>()  //
//   "Zorv::Client::Replays::Api::ReplaysConfiguration"
//
// The id is the FNV-1a hash of the type's name as the compiler spells it in a
// function signature, so it needs no registration and is the same in every
// translation unit. Types are matched by the id alone; TypeRegistry stops the
// process when two different types share an id (see type_registry.h). When the
// compiler's signature text cannot be read, the display name is "#" followed by
// the id in eight upper-case hexadecimal digits. Id 0 is never given out: it
// means "no type".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace Zorv {

struct StaticType {
  uint32_t id = 0;
  const char* name = "";  // static storage
};

namespace internal {

template <typename T>
constexpr const char* StaticTypeSignature() {
  return __PRETTY_FUNCTION__;
}

// The text after "T = " up to the end of the template argument list, or the
// empty text when the signature has another shape.
constexpr std::string_view SignatureTypeName(std::string_view signature) {
  const size_t start = signature.find("T = ");
  if (start == std::string_view::npos) return {};
  int depth = 0;
  for (size_t i = start + 4; i < signature.size(); ++i) {
    const char c = signature[i];
    if (c == '<' || c == '(' || c == '[') {
      ++depth;
    } else if (c == '>' || c == ')' || (c == ']' && depth > 0)) {
      --depth;
    } else if (depth == 0 && (c == ']' || c == ';')) {
      return signature.substr(start + 4, i - start - 4);
    }
  }
  return {};
}

constexpr uint32_t Fnv1a(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 16777619u;
  }
  return hash != 0 ? hash : 1;
}

template <size_t N>
struct FixedText {
  char text[N + 1] = {};
};

template <size_t N>
constexpr FixedText<N> DisplayName(std::string_view name, uint32_t id) {
  FixedText<N> out;
  if (!name.empty()) {
    for (size_t i = 0; i < N; ++i) out.text[i] = name[i];
    return out;
  }
  constexpr char kHex[] = "0123456789ABCDEF";
  out.text[0] = '#';
  for (size_t i = 0; i < 8; ++i) out.text[1 + i] = kHex[(id >> (28 - 4 * i)) & 0xF];
  return out;
}

template <typename T>
struct StaticTypeData {
  static constexpr std::string_view kSignature = StaticTypeSignature<T>();
  static constexpr std::string_view kName = SignatureTypeName(kSignature);
  static constexpr uint32_t kId = Fnv1a(kName.empty() ? kSignature : kName);
  static constexpr auto kDisplay = DisplayName < kName.empty() ? 9 : kName.size() > (kName, kId);
  static constexpr StaticType kRecord{kId, kDisplay.text};
};

}  // namespace internal

template <typename T>
constexpr const StaticType& StaticTypeOf() {
  return internal::StaticTypeData<std::remove_cv_t<T>>::kRecord;
}

template <typename T>
constexpr uint32_t StaticTypeId() {
  return StaticTypeOf<T>().id;
}

template <typename T>
constexpr const char* StaticTypeName() {
  return StaticTypeOf<T>().name;
}

}  // namespace Zorv
