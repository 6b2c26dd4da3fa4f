// FormatString and FormatTemplate with any format text and arguments.
//
// Framing (readable text): the first line lists the arguments, separated by
// '|', each a kind letter and its text: s string, i int32, u uint32, l int64,
// L uint64, d double (strtod: "nan", "inf" and hex floats too), c char, b bool.
// The rest of the input, up to a zero byte, is the format text, used both as
// a FormatString format and as a FormatTemplate template.
//
//   s/v1/x|l-5|d2.5
//   Error for {url}: %2$5d and {v!hex?none}
//
// Checks: the output is zero-terminated, as long as the reported length and
// within the buffer; a smaller buffer gives a prefix of the larger one's text;
// a template message fits the 4095 characters of every message.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_support.h"
#include "logging/format_string.h"
#include "logging/format_template.h"

namespace {

constexpr size_t kMaxArguments = 8;
constexpr size_t kBufferSize = 4096;

// String arguments point into the caller's texts.
struct Arguments {
  std::vector<Zorv::FormatArg> format;
  std::vector<Zorv::TemplateArg> templated;
};

void Add(Arguments& out, char kind, const std::string& text) {
  const char* s = text.c_str();
  switch (kind) {
    case 'i':
      out.format.emplace_back(static_cast<int32_t>(std::strtol(s, nullptr, 0)));
      out.templated.emplace_back(static_cast<long long>(out.format.back().i32));
      break;
    case 'u':
      out.format.emplace_back(static_cast<uint32_t>(std::strtoul(s, nullptr, 0)));
      out.templated.emplace_back(static_cast<unsigned long long>(out.format.back().u32));
      break;
    case 'l':
      out.format.emplace_back(std::strtoll(s, nullptr, 0));
      out.templated.emplace_back(std::strtoll(s, nullptr, 0));
      break;
    case 'L':
      out.format.emplace_back(std::strtoull(s, nullptr, 0));
      out.templated.emplace_back(std::strtoull(s, nullptr, 0));
      break;
    case 'd':
      out.format.emplace_back(std::strtod(s, nullptr));
      out.templated.emplace_back(std::strtod(s, nullptr));
      break;
    case 'c':
      out.format.emplace_back(text.empty() ? '\0' : text[0]);
      out.templated.emplace_back(static_cast<long long>(text.empty() ? 0 : text[0]));
      break;
    case 'b':
      out.format.emplace_back(static_cast<int32_t>(text == "1"));
      out.templated.emplace_back(text == "1");
      break;
    default:
      out.format.emplace_back(s);
      out.templated.emplace_back(s);
      break;
  }
}

Arguments ParseArguments(std::string_view line, std::vector<std::string>& texts) {
  Arguments out;
  while (!line.empty() && out.format.size() < kMaxArguments) {
    const size_t bar = line.find('|');
    const std::string_view piece = line.substr(0, bar);
    line = bar == std::string_view::npos ? std::string_view() : line.substr(bar + 1);
    if (piece.empty()) continue;
    const std::string& text = texts.emplace_back(piece.substr(1));
    Add(out, piece[0], text);
  }
  return out;
}

// Field lists compare equal with NaN equal to NaN (TemplateField's own == says no).
bool SameFields(const std::vector<Zorv::TemplateField>& a,
                const std::vector<Zorv::TemplateField>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].value.index() != b[i].value.index()) return false;
    const double* x = std::get_if<double>(&a[i].value);
    const double* y = std::get_if<double>(&b[i].value);
    if (x != nullptr ? !(*x == *y || (std::isnan(*x) && std::isnan(*y))) : !(a[i] == b[i])) {
      return false;
    }
  }
  return true;
}

void CheckOutput(const char* out, size_t n, size_t size) {
  FUZZ_CHECK(n < size);
  FUZZ_CHECK(out[n] == '\0');
  FUZZ_CHECK(std::strlen(out) == n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Zorv;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  std::vector<std::string> texts;
  texts.reserve(kMaxArguments);  // the arguments point into it: it must never reallocate
  const Arguments args = ParseArguments(input.substr(0, newline), texts);
  const std::string format(newline == std::string_view::npos ? std::string_view()
                                                             : input.substr(newline + 1));
  const char* text = format.c_str();  // up to the first zero byte

  static char large[kBufferSize];
  const size_t n = FormatString(large, sizeof large, text, args.format.data(), args.format.size());
  CheckOutput(large, n, sizeof large);
  char small[64];
  const size_t smallSize = 1 + format.size() % sizeof small;
  const size_t m = FormatString(small, smallSize, text, args.format.data(), args.format.size());
  CheckOutput(small, m, smallSize);
  FUZZ_CHECK(std::string_view(large, n).substr(0, m) == std::string_view(small, m));

  const TemplateFormat templated =
      FormatTemplate(text, args.templated.data(), args.templated.size());
  FUZZ_CHECK(templated.fields.size() <= args.templated.size());
  const TemplateMessage message =
      FormatTemplateMessage(text, args.templated.data(), args.templated.size());
  FUZZ_CHECK(message.text.size() < kBufferSize);
  FUZZ_CHECK(SameFields(message.fields, templated.fields));
  return 0;
}
