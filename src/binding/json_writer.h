// Writing a BindingProperty tree as JSON text.
//
//   BindingProperty v;
//   v.field("b") = uint64_t{1};
//   v.field("a") = "x";
//   ToJsonText(v);          // {"a":"x","b":1}
//   ToJsonText(v, nullptr, "\r\n");
//   // {\r\n    "a": "x",\r\n    "b": 1\r\n}
//
// Mapping: empty -> null (an empty root gives the empty text instead), bool,
// integers, floats in the shortest form that reads back to the same double
// (NaN and infinities, which JSON cannot hold, as null), strings, blobs as
// Base64 strings, enumerators by name when `registry` knows them and by number
// otherwise, collections as arrays, structures as objects with members in
// byte-wise name order.
//
// Strings are written byte for byte (UTF-8 unchanged) except '"' and '\\',
// which get a backslash, \b \t \n \f \r, and the other bytes below 0x20 as
// \u00XX with upper-case hex digits.
//
// With an empty `lineBreak` the text is compact; otherwise each member and
// element gets a line of its own, indented four blanks per level, with ": "
// after keys, and the lines are separated by `lineBreak`. Trees of any depth
// are written without recursion.
#pragma once

#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Zorv {

class TypeRegistry;

std::string ToJsonText(const BindingProperty& value, const TypeRegistry* registry = nullptr,
                       std::string_view lineBreak = {});

}  // namespace Zorv
