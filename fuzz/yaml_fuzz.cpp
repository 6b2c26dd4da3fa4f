// The YAML reader on any text. A document that reads is copied, and written
// as JSON and read back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/yaml_reader.h"
#include "fuzz_support.h"
#include "json_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Zorv;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)IsYaml(text);
  const BindingResult parsed = ParseYaml(text);
  if (!parsed.success) {
    FUZZ_CHECK(!parsed.error().empty());
    return 0;
  }
  const BindingProperty copy = parsed.value;
  FUZZ_CHECK(Fuzz::SameTree(parsed.value, copy, Fuzz::Match::Exact));
  Fuzz::CheckJsonRoundTrip(parsed.value, Fuzz::Match::JsonText);
  return 0;
}
