#include "binding/json_scanner.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Zorv {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// The power of ten of the first nonzero digit of a number token (one that
// has such a digit): what tells an overflowing double from an underflowing one.
long LeadingPowerOfTen(std::string_view token) {
  size_t i = token.front() == '-' ? 1 : 0;
  const size_t integerStart = i;
  while (i < token.size() && IsDigit(token[i])) ++i;
  long lead = 0;
  const size_t integerNonZero = token.find_first_not_of('0', integerStart);
  if (integerNonZero < i) {
    lead = static_cast<long>(i - integerNonZero) - 1;
  } else if (i < token.size() && token[i] == '.') {
    lead = -static_cast<long>(token.find_first_not_of('0', i + 1) - i);
  }
  while (i < token.size() && token[i] != 'e' && token[i] != 'E') ++i;
  if (i == token.size()) return lead;
  ++i;
  const bool negative = token[i] == '-';
  if (token[i] == '-' || token[i] == '+') ++i;
  long exponent = 0;
  for (; i < token.size(); ++i) exponent = std::min(exponent * 10 + (token[i] - '0'), 100000L);
  return lead + (negative ? -exponent : exponent);
}

// Sets `value` to the correctly rounded value of a number token, or answers
// false when the number is beyond the range of a double; one too close to zero
// becomes a (signed) zero.
bool ReadDouble(std::string_view token, double& value) {
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error == std::errc::result_out_of_range) {
    if (LeadingPowerOfTen(token) > 0) return false;
    value = token.front() == '-' ? -0.0 : 0.0;
  }
  return true;
}

// An integer of up to 18 digits, the usual ids and counts, fits either type
// whatever its digits: it is summed here without a library call.
bool AddShortInteger(TreeBuilder& builder, const char* text, const char* end) {
  const bool negative = *text == '-';
  const char* at = text + (negative ? 1 : 0);
  if (end - at > 18) return false;
  uint64_t value = 0;
  for (; at != end; ++at) {
    const auto digit = static_cast<unsigned>(*at - '0');
    if (digit > 9) return false;
    value = value * 10 + digit;
  }
  if (negative) {
    builder.signedInteger(-static_cast<int64_t>(value));
  } else {
    builder.unsignedInteger(value);
  }
  return true;
}

// The first quote, backslash or control byte from `at` on, or `end`.
[[gnu::always_inline]] inline const char* FindSpecial(const char* at, const char* end) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  // Bytes below 0x20: signed compare after flipping the sign bit.
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i controlBound = _mm_set1_epi8(static_cast<char>(0x20 ^ 0x80));
  while (end - at >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                     _mm_cmplt_epi8(_mm_xor_si128(bytes, flip), controlBound));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) return at + __builtin_ctz(mask);
    at += 16;
  }
#endif
  for (; at != end; ++at) {
    const auto c = static_cast<unsigned char>(*at);
    if (c == '"' || c == '\\' || c < 0x20) return at;
  }
  return end;
}

std::string_view Rest(const char* at, const char* end) {
  return std::string_view(at, static_cast<size_t>(end - at));
}

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes the escape at `at` (a backslash) onto `out`; answers the position
// after it, or null for an escape the tokenizer reports (a bad one, or a
// surrogate without its other half).
const char* DecodeEscape(const char* at, const char* end, std::string& out) {
  if (end - at < 2) return nullptr;
  // The one-character escapes, and the byte each stands for.
  static constexpr std::string_view kEscapes = "\"\\/bfnrt";
  static constexpr std::string_view kBytes = "\"\\/\b\f\n\r\t";
  if (const size_t which = kEscapes.find(at[1]); which != std::string_view::npos) {
    out += kBytes[which];
    return at + 2;
  }
  if (at[1] != 'u') return nullptr;
  unsigned code;
  if (!ReadHex4(Rest(at + 2, end), code) || (code >= 0xDC00 && code <= 0xDFFF)) return nullptr;
  at += 6;
  if (code >= 0xD800 && code <= 0xDBFF) {
    unsigned low;
    if (end - at < 2 || at[0] != '\\' || at[1] != 'u' || !ReadHex4(Rest(at + 2, end), low) ||
        low < 0xDC00 || low > 0xDFFF) {
      return nullptr;
    }
    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    at += 6;
  }
  AppendUtf8(out, code);
  return at;
}

// The rest of a string from its first escape at `at` on, decoded into
// `decoded`, which holds the content before it.
[[gnu::noinline]] const char* ReadEscaped(const char* at, const char* end, std::string& decoded) {
  while (at != end) {
    if (*at == '"') return at + 1;
    if (*at != '\\') return nullptr;  // a control byte
    at = DecodeEscape(at, end, decoded);
    if (!at) return nullptr;
    const char* stop = FindSpecial(at, end);
    decoded.append(at, stop);
    at = stop;
  }
  return nullptr;
}

// Reads the string whose content starts at `at` into `content`: in place, or
// decoded into `decoded` when it has escapes. Answers the position after its
// closing quote, or null when the tokenizer must read the text: a control
// byte, a bad or lone-surrogate escape, or no closing quote.
[[gnu::always_inline]] inline const char* ReadString(const char* at, const char* end,
                                                     std::string& decoded,
                                                     std::string_view& content) {
  const char* stop = FindSpecial(at, end);
  if (stop != end && *stop == '"') {
    content = std::string_view(at, static_cast<size_t>(stop - at));
    return stop + 1;
  }
  if (stop == end || *stop != '\\') return nullptr;
  decoded.assign(at, stop);
  const char* after = ReadEscaped(stop, end, decoded);
  content = decoded;
  return after;
}

// The end of a number token at `at` that the full tokenizer takes as it is,
// or null: up to 18 integer digits and an exponent of up to 308 either way,
// the range in which the tokenizer's own arithmetic refuses no number that
// the grammar allows.
const char* NumberEnd(const char* at, const char* end) {
  constexpr int kMaxExponent = 308;
  if (at != end && *at == '-') ++at;
  if (at == end) return nullptr;
  if (*at == '0') {
    ++at;
  } else if (IsDigit(*at)) {
    const char* digits = at;
    while (at != end && IsDigit(*at)) ++at;
    if (at - digits > 18) return nullptr;
  } else {
    return nullptr;
  }
  if (at != end && *at == '.') {
    ++at;
    const char* digits = at;
    while (at != end && IsDigit(*at)) ++at;
    if (at == digits) return nullptr;
  }
  if (at != end && (*at == 'e' || *at == 'E')) {
    ++at;
    if (at != end && (*at == '-' || *at == '+')) ++at;
    int exponent = 0;
    const char* digits = at;
    while (at != end && IsDigit(*at) && exponent <= kMaxExponent)
      exponent = exponent * 10 + (*at++ - '0');
    if (at == digits || exponent > kMaxExponent) return nullptr;
  }
  return at;
}

bool Literal(const char*& at, const char* end, std::string_view word) {
  if (static_cast<size_t>(end - at) < word.size() || std::memcmp(at, word.data(), word.size()) != 0)
    return false;
  at += word.size();
  return true;
}

}  // namespace

bool ReadHex4(std::string_view digits, unsigned& value) {
  if (digits.size() < 4) return false;
  value = 0;
  for (size_t i = 0; i < 4; ++i) {
    const char c = digits[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  return true;
}

bool AddJsonNumber(TreeBuilder& builder, const char* text, const char* end) {
  if (AddShortInteger(builder, text, end)) return true;
  const bool integer =
      std::find_if(text, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) == end;
  if (integer) {
    if (*text == '-') {
      int64_t value;
      if (std::from_chars(text, end, value).ec == std::errc()) {
        builder.signedInteger(value);
        return true;
      }
    } else {
      uint64_t value;
      if (std::from_chars(text, end, value).ec == std::errc()) {
        builder.unsignedInteger(value);
        return true;
      }
    }
  }
  double value;
  if (!ReadDouble(std::string_view(text, static_cast<size_t>(end - text)), value)) return false;
  builder.floating(value);
  return true;
}

bool ScanJson(std::string_view text, TreeBuilder& builder) {
  const char* at = text.data();
  const char* const end = at + text.size();
  // The open containers, innermost last: true for a structure. Kept here, not
  // asked of the builder, so each value's end is one check.
  WorkStack<bool, 64> open;
  std::string decoded;  // a string with escapes
  auto skipBlanks = [&] {
    while (at != end && IsBlank(*at)) ++at;
  };

value:
  skipBlanks();
  if (at == end) return false;
  switch (*at) {
    case '{':
      ++at;
      builder.beginObject();
      skipBlanks();
      if (at != end && *at == '}') {
        ++at;
        builder.endObject();
        goto after;
      }
      open.push(true);
      goto key;
    case '[':
      ++at;
      builder.beginArray();
      skipBlanks();
      if (at != end && *at == ']') {
        ++at;
        builder.endArray();
        goto after;
      }
      open.push(false);
      goto value;
    case '"': {
      std::string_view content;
      at = ReadString(at + 1, end, decoded, content);
      if (!at) return false;
      builder.string(content);
      goto after;
    }
    case 't':
      if (!Literal(at, end, "true")) return false;
      builder.boolean(true);
      goto after;
    case 'f':
      if (!Literal(at, end, "false")) return false;
      builder.boolean(false);
      goto after;
    case 'n':
      if (!Literal(at, end, "null")) return false;
      builder.null();
      goto after;
    default: {
      const char* last = NumberEnd(at, end);
      if (!last || !AddJsonNumber(builder, at, last)) return false;
      at = last;
      goto after;
    }
  }

key:
  // Blanks are skipped.
  if (at == end || *at != '"') return false;
  {
    std::string_view content;
    at = ReadString(at + 1, end, decoded, content);
    if (!at) return false;
    builder.key(content);
  }
  skipBlanks();
  if (at == end || *at != ':') return false;
  ++at;
  goto value;

after:
  skipBlanks();
  if (open.empty()) return at == end;
  if (at == end) return false;
  if (*at == ',') {
    ++at;
    if (!open.back()) goto value;
    skipBlanks();
    goto key;
  }
  if (*at == (open.back() ? '}' : ']')) {
    ++at;
    if (open.back()) {
      builder.endObject();
    } else {
      builder.endArray();
    }
    open.pop();
    goto after;
  }
  return false;
}

}  // namespace Zorv
