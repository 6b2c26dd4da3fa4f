// Reading JSON text into a BindingProperty tree.
//
//   BindingResult r = FromJsonText(R"({"gameId": 42, "tags": ["ranked"]})");
//   r.value.find("gameId").asUnsigned();  // 42
//
// Numbers: an integer without '-' that fits in 64 bits is unsigned, one with
// '-' that fits in int64_t is signed, everything else (fraction, exponent,
// too large) is the nearest double; a number beyond the range of a double is
// an error, one too close to zero reads as zero. Strings have their escapes decoded ("\u" escapes,
// surrogate pairs included, become UTF-8; a lone surrogate is an error). A key
// given twice in one object keeps its later value.
//
// A failed parse answers a failed result whose message is
// "Error: <text of the error code> at offset <byte offset in `text`>." and
// nothing of the partly built tree. Nesting depth is limited only by memory.
#pragma once

#include <string_view>

#include "binding/binding_property.h"

namespace Zorv {

// Parses exactly one JSON value, with optional blanks (space, tab, CR, LF)
// around it. `text` need not be zero-terminated; a zero byte is just a byte
// that no JSON value may contain.
BindingResult FromJsonText(std::string_view text);

// The same reading by the full tokenizer alone, which FromJsonText leaves the
// texts to that its fast path does not take (errors, bad or lone-surrogate
// escapes, rare numbers).
// It answers exactly as FromJsonText does, for every text: what tests and
// the fuzzer check.
BindingResult FromJsonTextByTokenizer(std::string_view text);

// Whether `text` looks like a JSON object or array: its first character after
// leading spaces is '{' or '['. Used to recognise bodies without a content type.
bool IsJson(std::string_view text);

}  // namespace Zorv
