// The JSON reader on any text, its fast path against the full tokenizer, and
// the writer on whatever it reads: the tree written compactly and
// pretty-printed reads back as the same tree.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/json_reader.h"
#include "fuzz_support.h"
#include "json_round_trip.h"

namespace {
constexpr size_t kMaxPrettyInput = 1024;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Zorv;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)IsJson(text);
  const BindingResult parsed = FromJsonText(text);
  // The fast path answers as the full tokenizer does, whichever reads it.
  const BindingResult byTokenizer = FromJsonTextByTokenizer(text);
  FUZZ_CHECK(parsed.success == byTokenizer.success);
  FUZZ_CHECK(parsed.error() == byTokenizer.error());
  FUZZ_CHECK(Fuzz::SameTree(parsed.value, byTokenizer.value, Fuzz::Match::Exact));
  if (!parsed.success) {
    FUZZ_CHECK(!parsed.error().empty());
    return 0;
  }
  // "-0" reads as a signed zero and is written as 0, which reads back unsigned:
  // integers compare by value whatever their sign kind.
  Fuzz::CheckJsonRoundTrip(parsed.value, Fuzz::Match::JsonNumbers);
  // Pretty text grows with the square of the depth (each line is indented by
  // its level), so deep inputs would spend the run writing blanks.
  if (size <= kMaxPrettyInput) {
    Fuzz::CheckJsonRoundTrip(parsed.value, Fuzz::Match::JsonNumbers, "\r\n");
  }
  return 0;
}
