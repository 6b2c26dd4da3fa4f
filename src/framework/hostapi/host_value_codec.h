// The host-value codec: converts between a BindingProperty tree and the plain C
// HostValue records exchanged with the host.
//
//   HostValue out{};
//   BindingResult r = EncodeHostValue(body, &registry, out);
//   if (r.success) { hand `out` to the host ...; ReleaseHostValue(out); }
//   BindingResult back = DecodeHostValue(out);
//
// Promises:
// - Everything EncodeHostValue makes is owned and allocated with Zorv::Allocate:
//   texts are NUL-terminated copies (tag 6), bytes are copies (tag 8), map keys
//   are copied and flagged. An enumerator becomes its registered name when the
//   registry knows one, otherwise its number (tag 2).
// - DecodeHostValue never takes ownership and never frees; a null pointer where
//   a non-zero length or count promises data, a null map key or an unknown tag
//   is a failure, never a crash. Of repeated map keys the last one wins. A tag
//   with no value kind of its own fails as an object of an incompatible type,
//   named by its map key, else by the name of the value being decoded.
// - Encoding, decoding and releasing walk the tree with an explicit stack, so
//   any nesting depth is safe.
#pragma once

#include <string_view>

#include "binding/binding_property.h"
#include "zorv/plugin_abi.h"

namespace Zorv {

class TypeRegistry;

// On failure `out` is the null value and nothing it held remains allocated.
// `registry` may be null: every enumerator is then encoded by number.
BindingResult EncodeHostValue(const BindingProperty& value, const TypeRegistry* registry,
                              HostValue& out);

// `name` is what the value is assigned to, as failure messages name it.
BindingResult DecodeHostValue(const HostValue& value, std::string_view name = "<result>");

// Frees what the value owns (tags 6 and 8, arrays and maps with their elements,
// entries and flagged keys; tags 5 and 7 free nothing), then makes it null.
void ReleaseHostValue(HostValue& value);

}  // namespace Zorv
