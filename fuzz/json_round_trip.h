// The check that the reader targets share: a tree written as JSON reads back
// as the same tree (within `match`), and the read-back tree writes the same
// text again.
#pragma once

#include <string>
#include <string_view>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "fuzz_support.h"

namespace Zorv::Fuzz {

inline void CheckJsonRoundTrip(const BindingProperty& value, Match match,
                               std::string_view lineBreak = {}) {
  const std::string text = ToJsonText(value, nullptr, lineBreak);
  if (value.isEmpty()) {  // an empty root is written as the empty text, not null
    FUZZ_CHECK(text.empty());
    return;
  }
  const BindingResult again = FromJsonText(text);
  FUZZ_CHECK(again.success);
  FUZZ_CHECK(SameTree(value, again.value, match));
  // A root that JSON cannot hold (NaN) is written as null, which reads back as
  // the empty root, written as the empty text.
  const std::string rewritten = ToJsonText(again.value, nullptr, lineBreak);
  FUZZ_CHECK(rewritten == text || (again.value.isEmpty() && rewritten.empty()));
}

}  // namespace Zorv::Fuzz
