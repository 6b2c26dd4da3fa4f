#include "binding/json_reader.h"

#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "binding/json_scanner.h"
#include "binding/tree_builder.h"
#include "logging/allocator.h"

namespace Zorv {
namespace {

// The tokenizer reads a private copy of the text, zero-terminated and padded
// so that its 16-byte vector scans of strings and blanks (aligned loads that
// may reach up to 15 bytes past the terminator) stay inside the copy, and it
// decodes strings in place there. A zero byte inside the text reads as its
// end, as it would in the text itself.
class PaddedCopy {
 public:
  static constexpr size_t kPadding = 16;

  explicit PaddedCopy(std::string_view text) {
    const size_t bytes = text.size() + kPadding;
    if (bytes <= sizeof small_) {
      data_ = small_;
    } else {
      data_ = static_cast<char*>(AllocateAligned(bytes, kPadding));
      if (!data_) throw std::bad_alloc();
    }
    refill(text);
  }
  ~PaddedCopy() {
    if (data_ != small_) Free(data_);
  }
  PaddedCopy(const PaddedCopy&) = delete;
  PaddedCopy& operator=(const PaddedCopy&) = delete;

  // Copies `text` (the one given at construction) in again.
  void refill(std::string_view text) {
    if (!text.empty()) std::memcpy(data_, text.data(), text.size());
    std::memset(data_ + text.size(), 0, kPadding);
  }
  char* data() { return data_; }

 private:
  alignas(16) char small_[512];
  char* data_;
};

// Recursive descent is the tokenizer's fastest mode, and its stack use grows
// with the nesting depth: the handler stops it at this depth, and such a text
// is read again by the iterative mode, whose depth costs heap memory only.
constexpr unsigned kRecursiveFlags =
    rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag;
constexpr unsigned kIterativeFlags = kRecursiveFlags | rapidjson::kParseIterativeFlag;
constexpr size_t kRecursiveDepth = 64;

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

// Feeds the tokenizer's events into the tree.
class JsonEvents {
 public:
  JsonEvents(TreeBuilder& builder, bool limitDepth) : builder_(builder), limitDepth_(limitDepth) {}

  bool Null() {
    builder_.null();
    return true;
  }
  bool Bool(bool v) {
    builder_.boolean(v);
    return true;
  }
  // Numbers arrive as their checked text and are typed here.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    if (AddJsonNumber(builder_, text, text + length)) return true;
    numberTooBig_ = true;
    return false;
  }
  // Not called: numbers arrive as text.
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(int64_t) { return false; }
  bool Uint64(uint64_t) { return false; }
  bool Double(double) { return false; }
  bool String(const char* s, rapidjson::SizeType n, bool) {
    builder_.string(std::string_view(s, n));
    return true;
  }
  bool StartObject() {
    if (tooDeep()) return false;
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
    if (tooDeep()) return false;
    builder_.beginArray();
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    builder_.endArray();
    return true;
  }

  // The parse stopped on a number beyond the range of a double.
  bool numberTooBig() const { return numberTooBig_; }
  // The parse stopped at the depth limit of recursive descent.
  bool depthLimited() const { return depthLimited_; }

 private:
  bool tooDeep() {
    depthLimited_ = limitDepth_ && builder_.depth() >= kRecursiveDepth;
    return depthLimited_;
  }

  TreeBuilder& builder_;
  const bool limitDepth_;
  bool numberTooBig_ = false;
  bool depthLimited_ = false;
};

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

// One pass of the tokenizer over `copy` into `root`; false when it stopped at
// the depth limit of recursive descent.
template <unsigned kFlags>
bool Tokenize(char* copy, size_t size, BindingProperty& root, rapidjson::ParseErrorCode& code,
              size_t& offset) {
  TreeBuilder builder(root);
  rapidjson::InsituStringStream stream(copy);
  JsonEvents events(builder, (kFlags & rapidjson::kParseIterativeFlag) == 0);
  rapidjson::Reader reader;
  const rapidjson::ParseResult parsed = reader.Parse<kFlags>(stream, events);
  code = rapidjson::kParseErrorNone;
  offset = 0;
  if (parsed.IsError()) {
    if (events.depthLimited()) return false;
    code = parsed.Code();
    offset = parsed.Offset();
    // The tokenizer reports a handler's refusal at the start of the number.
    if (code == rapidjson::kParseErrorTermination && events.numberTooBig()) {
      code = rapidjson::kParseErrorNumberTooBig;
    }
    // A zero byte reads as the end of input, but it is content, not emptiness.
    if (code == rapidjson::kParseErrorDocumentEmpty && offset < size) {
      code = rapidjson::kParseErrorValueInvalid;
    }
  } else if (stream.Tell() < size) {
    // The tokenizer stopped at a zero byte after the value.
    code = rapidjson::kParseErrorDocumentRootNotSingular;
    offset = stream.Tell();
  }
  return true;
}

}  // namespace

BindingResult FromJsonText(std::string_view text) {
  {
    BindingResult result;
    {
      TreeBuilder builder(result.value);
      if (ScanJson(text, builder)) return result;
    }
    // A refused text's partial tree goes before the full reading builds its own.
  }
  return FromJsonTextByTokenizer(text);
}

BindingResult FromJsonTextByTokenizer(std::string_view text) {
  BindingResult result;
  rapidjson::ParseErrorCode code = rapidjson::kParseErrorNone;
  size_t offset = 0;
  PaddedCopy copy(text);
  if (!Tokenize<kRecursiveFlags>(copy.data(), text.size(), result.value, code, offset)) {
    // Strings decoded in place changed the copy.
    copy.refill(text);
    Tokenize<kIterativeFlags>(copy.data(), text.size(), result.value, code, offset);
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
