// The JSON reader's fast path and its number typing.
//
// ScanJson reads the common form of a text straight from the caller's bytes
// (never past them, never writing them): valid escapes, numbers within the
// tokenizer's plain range, any nesting depth. Whatever it does not take (an
// error of any kind, a surrogate escape without its other half, a rare
// number) it leaves to the full tokenizer, which then reads the whole text
// again, so that every error is reported by one place with its text and
// offset.
#pragma once

#include <string_view>

#include "binding/tree_builder.h"

namespace Zorv {

// Builds the value of `text` into `builder` (fresh, on an empty root) and
// answers true; false when the full tokenizer must read the text instead (the
// builder then holds a partial tree to be cleared).
bool ScanJson(std::string_view text, TreeBuilder& builder);

// Adds the number of a token checked by the JSON grammar: an integer without
// '-' that fits in 64 bits is unsigned, one with '-' (even "-0") that fits in
// int64_t is signed; whatever does not fit, and every number with a fraction
// or exponent, is the correctly rounded double of its text. False, adding
// nothing, for a number beyond the range of a double.
bool AddJsonNumber(TreeBuilder& builder, const char* text, const char* end);

// The value of the four hexadecimal digits that start `digits` (of a \u
// escape); false when there are fewer than four or one is not a digit.
bool ReadHex4(std::string_view digits, unsigned& value);

}  // namespace Zorv
