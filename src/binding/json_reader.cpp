#include "binding/json_reader.h"

#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>

#include "binding/tree_builder.h"

namespace Zorv {
namespace {

// A bounded stream over the input: the text need not be zero-terminated, and
// its end reads as '\0', which is how the tokenizer sees the end of input.
struct ViewStream {
  using Ch = char;

  explicit ViewStream(std::string_view text)
      : src_(text.data()), begin_(text.data()), end_(text.data() + text.size()) {}

  Ch Peek() const { return src_ == end_ ? '\0' : *src_; }
  Ch Take() { return src_ == end_ ? '\0' : *src_++; }
  size_t Tell() const { return static_cast<size_t>(src_ - begin_); }

  // Output side of the stream concept; never used by a non-in-situ parse.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

  const char* src_;
  const char* begin_;
  const char* end_;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsNumberCharacter(char c) {
  return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

}  // namespace
}  // namespace Zorv

namespace rapidjson {

// The tokenizer works on the stream itself, not on local copies, so that the
// number handler can see where the number it reports ends.
template <>
struct StreamTraits<Zorv::ViewStream> {
  enum { copyOptimization = 0 };
};

// The vectorised blank skipper, entered only with at least 17 bytes left so
// that it never forms a pointer before the start of the text.
template <>
inline void SkipWhitespace(Zorv::ViewStream& is) {
  const char* p = is.src_;
  if (p == is.end_ || !Zorv::IsBlank(*p)) return;
#if defined(RAPIDJSON_SSE2) || defined(RAPIDJSON_SSE42)
  if (is.end_ - p > 16) {
    is.src_ = SkipWhitespace_SIMD(p, is.end_);
    return;
  }
#endif
  is.src_ = SkipWhitespace(p, is.end_);
}

}  // namespace rapidjson

namespace Zorv {
namespace {

constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag;

constexpr const char* kErrorTexts[] = {
    "No error.",
    "The document is empty.",
    "The document root must not be followed by other values.",
    "Invalid value.",
    "Missing a name for object member.",
    "Missing a colon after a name of object member.",
    "Missing a comma or '}' after an object member.",
    "Missing a comma or ']' after an array element.",
    "Incorrect hex digit after \\u escape in string.",
    "The surrogate pair in string is invalid.",
    "Invalid escape character in string.",
    "Missing a closing quotation mark in string.",
    "Invalid encoding in string.",
    "Number too big to be stored in double.",
    "Miss fraction part in number.",
    "Miss exponent in number.",
    "Terminate parsing due to Handler error.",
    "Unspecific syntax error.",
};

std::string ErrorMessage(rapidjson::ParseErrorCode code, size_t offset) {
  const auto index = static_cast<size_t>(code);
  const char* text = index < std::size(kErrorTexts) ? kErrorTexts[index] : "Unknown error.";
  std::string message = "Error: ";
  message += text;
  message += " at offset ";
  message += std::to_string(offset);
  message += '.';
  return message;
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

// Feeds the tokenizer's events into the tree.
class JsonEvents {
 public:
  JsonEvents(TreeBuilder& builder, const ViewStream& stream) : builder_(builder), stream_(stream) {}

  bool Null() {
    builder_.null();
    return true;
  }
  bool Bool(bool v) {
    builder_.boolean(v);
    return true;
  }
  // Integers arrive exactly: non-negative ones through Uint/Uint64, negative
  // ones (and "-0") through Int/Int64. Whatever does not fit in 64 bits, and
  // every number with a fraction or exponent, arrives through Double.
  bool Int(int v) {
    builder_.signedInteger(v);
    return true;
  }
  bool Uint(unsigned v) {
    builder_.unsignedInteger(v);
    return true;
  }
  bool Int64(int64_t v) {
    builder_.signedInteger(v);
    return true;
  }
  bool Uint64(uint64_t v) {
    builder_.unsignedInteger(v);
    return true;
  }
  // The tokenizer's own conversion may be a few units in the last place off
  // (its exact one fails on some long digit strings), so the number is read
  // again from its text, which ends where the stream stands now.
  bool Double(double approximate) {
    const char* end = stream_.src_;
    const char* start = end;
    while (start != stream_.begin_ && IsNumberCharacter(start[-1])) --start;
    double value = approximate;
    if (!ReadDouble(std::string_view(start, static_cast<size_t>(end - start)), value)) {
      numberTooBig_ = true;
      return false;
    }
    builder_.floating(value);
    return true;
  }
  bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }  // not enabled
  bool String(const char* s, rapidjson::SizeType n, bool) {
    builder_.string(std::string_view(s, n));
    return true;
  }
  bool StartObject() {
    builder_.beginObject();
    return true;
  }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    builder_.key(std::string_view(s, n));
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    builder_.endObject();
    return true;
  }
  bool StartArray() {
    builder_.beginArray();
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    builder_.endArray();
    return true;
  }

  // The parse stopped on a number beyond the range of a double.
  bool numberTooBig() const { return numberTooBig_; }

 private:
  TreeBuilder& builder_;
  const ViewStream& stream_;
  bool numberTooBig_ = false;
};

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

bool IsHighSurrogate(unsigned c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(unsigned c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// The tokenizer rejects a high surrogate escape without its low half but
// decodes a lone low half ("\uDC00".."\uDFFF") into bytes that are not UTF-8.
// This finds the first such escape: the offset of its backslash, or npos.
// Backslashes occur only inside strings of a valid text, so reading every
// backslash as the start of an escape walks the escapes exactly as far as the
// text is valid; beyond that the tokenizer's own error comes first.
size_t FindLoneLowSurrogate(std::string_view text) {
  size_t at = text.find('\\');
  while (at != std::string_view::npos) {
    size_t next = at + 2;
    unsigned unit;
    if (at + 1 < text.size() && text[at + 1] == 'u' && ReadHex4(text.substr(at + 2), unit)) {
      if (IsLowSurrogate(unit)) return at;
      next = at + 6;
      unsigned second;
      if (IsHighSurrogate(unit) && text.substr(next).starts_with("\\u") &&
          ReadHex4(text.substr(next + 2), second) && IsLowSurrogate(second)) {
        next += 6;
      }
    }
    at = text.find('\\', next);
  }
  return std::string_view::npos;
}

}  // namespace

BindingResult FromJsonText(std::string_view text) {
  BindingResult result;
  rapidjson::ParseErrorCode code = rapidjson::kParseErrorNone;
  size_t offset = 0;
  {
    TreeBuilder builder(result.value);
    ViewStream stream(text);
    JsonEvents events(builder, stream);
    rapidjson::Reader reader;
    const rapidjson::ParseResult parsed = reader.Parse<kParseFlags>(stream, events);
    if (parsed.IsError()) {
      code = parsed.Code();
      offset = parsed.Offset();
      // The tokenizer reports a handler's refusal at the start of the number.
      if (code == rapidjson::kParseErrorTermination && events.numberTooBig()) {
        code = rapidjson::kParseErrorNumberTooBig;
      }
      // A zero byte reads as the end of input, but it is content, not emptiness.
      if (code == rapidjson::kParseErrorDocumentEmpty && offset < text.size()) {
        code = rapidjson::kParseErrorValueInvalid;
      }
    } else if (stream.Tell() < text.size()) {
      // The tokenizer stopped at a zero byte after the value.
      code = rapidjson::kParseErrorDocumentRootNotSingular;
      offset = stream.Tell();
    }
  }
  const size_t lone = FindLoneLowSurrogate(text);
  if (lone != std::string_view::npos && (code == rapidjson::kParseErrorNone || lone < offset)) {
    code = rapidjson::kParseErrorStringUnicodeSurrogateInvalid;
    offset = lone;
  }
  if (code != rapidjson::kParseErrorNone) result.setFailure(ErrorMessage(code, offset));
  return result;
}

bool IsJson(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  return first != std::string_view::npos && (text[first] == '{' || text[first] == '[');
}

}  // namespace Zorv
