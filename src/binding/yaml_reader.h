// Reading one YAML document into a BindingProperty tree (request bodies and
// argument texts; the plug-in writes no YAML).
//
//   BindingResult r = ParseYaml("gameId: 42\ntags: [ranked, 'yes']\n");
//   r.value.find("gameId").asUnsigned();          // 42
//   r.value.find("tags").element(1).asString();   // "yes"
//
// Sequences become collections, mappings structures. Mapping keys are scalars,
// untagged or tagged !!str, taken as text without typing; a key given twice
// keeps its later value.
//
// Scalars are typed by their tag: !!str a string as written; !!int signed when
// the text starts with '-', else unsigned (read like a string converted to
// int64_t / uint64_t, named "yaml" in messages); !!float a double; !!bool the
// true/false words below, any other text giving an empty value; any other tag
// fails. Untagged quoted scalars are strings. Untagged plain and block scalars
// are, in this order: empty for "", "~", "null", "Null", "NULL"; a number when
// strtod reads the whole text to something other than NaN or positive
// infinity (a double when it has a fraction, else signed when negative and
// unsigned otherwise, and a double again when no 64-bit integer holds it, as
// for -1e300 or -inf; decimal integers are read exactly, not through a
// double); bool for
// true/True/TRUE/y/Y/yes/Yes/YES/on/On/ON and
// false/False/FALSE/n/N/no/No/NO/off/Off/OFF; else a string.
//
// An alias is a deep copy of its anchored node as it was when the node ended;
// a node may not alias itself or an anchor that comes later, and anchor names
// are unique within a document. A stream may hold several documents as long
// as only the last has content.
//
// Failures answer a failed result with one message; the partly built tree is
// dropped. The reader's own messages end with "At line: L col: C", the start of
// the offending event counted from 1; syntax errors read "YAML parser error:
// <problem>. At line: L col: C", the problem position counted from 0.
//
// Bounds against hostile input, both failing with a message of their own:
// - kMaxYamlNestingDepth open sequences and mappings. The parser's scanner
//   spends time proportional to the flow nesting depth on every token it
//   reads, so an unbounded depth makes "[[[[..." quadratic. The scanner runs
//   only about a kilobyte ahead of the events, so refusing on the event that
//   opens one level too many stops it early: a million-deep text is refused
//   within a few tens of milliseconds, and no pre-scan of the text is needed.
//   A thousand levels is far beyond any real body; a text that stays that deep
//   still reads about 35 times slower than a flat one.
// - The bytes that anchors and aliases copy, at most kYamlCopyBytesAllowance
//   plus kYamlCopyBytesPerInputByte for each byte of the text. Aliases copy
//   whole trees, so a few hundred bytes of nested aliases, or one long
//   anchored scalar aliased many times, would otherwise ask for gigabytes. A
//   copy costs kYamlValueBytes for each value in it plus the bytes of its
//   texts and keys; every anchored sequence or mapping is also copied once
//   when it ends (the copy that later aliases read, since a node in the tree
//   may move while its parent grows), and those copies count too. A copy is
//   measured before it is made, so a refused document has never copied more
//   than the budget. Anchored values are kept together in one tree, so an
//   anchor costs about a structure field (64 bytes) besides its value.
#pragma once

#include <cstddef>
#include <string_view>

#include "binding/binding_property.h"

namespace Zorv {

inline constexpr size_t kMaxYamlNestingDepth = 1000;
inline constexpr size_t kYamlCopyBytesPerInputByte = 64;
inline constexpr size_t kYamlCopyBytesAllowance = size_t{1} << 20;
inline constexpr size_t kYamlValueBytes = sizeof(BindingProperty);

// Parses a whole YAML stream given as UTF-8. `text` need not be
// zero-terminated. An empty stream, or one holding only empty documents, gives
// an empty value.
BindingResult ParseYaml(std::string_view text);

// Whether `text`, after leading spaces, starts with "---": how a body without a
// content type is recognised as YAML.
bool IsYaml(std::string_view text);

}  // namespace Zorv
