#include "binding/json_writer.h"

#include <rapidjson/internal/dtoa.h>
#include <rapidjson/internal/itoa.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "binding/base64.h"
#include "binding/type_registry.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Zorv {
namespace {

// What follows the backslash for each byte that needs escaping ('u' for
// \u00XX); 0 for bytes written as they are.
constexpr auto kEscapes = [] {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A growing text buffer written through raw pointers: callers reserve the
// most they may write, write, then commit where they stopped. It grows with
// realloc, which can extend large blocks in place or remap their pages, so a
// long text is not copied and zero-filled at every doubling; the result is
// copied out once.
class Output {
 public:
  Output() : data_(static_cast<char*>(std::malloc(kInitialCapacity))) {
    if (data_ == nullptr) throw std::bad_alloc();
  }
  ~Output() { std::free(data_); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  char* reserve(size_t count) {
    if (capacity_ - length_ < count) grow(count);
    return data_ + length_;
  }
  void commit(const char* end) { length_ = static_cast<size_t>(end - data_); }

  void put(char c) {
    *reserve(1) = c;
    ++length_;
  }
  void append(std::string_view s) {
    std::memcpy(reserve(s.size()), s.data(), s.size());
    length_ += s.size();
  }

  std::string take() const { return std::string(data_, length_); }

 private:
  static constexpr size_t kInitialCapacity = 256;

  void grow(size_t count) {
    const size_t capacity = std::max(capacity_ * 2, length_ + count);
    char* data = static_cast<char*>(std::realloc(data_, capacity));
    if (data == nullptr) throw std::bad_alloc();
    data_ = data;
    capacity_ = capacity;
  }

  char* data_;
  size_t capacity_ = kInitialCapacity;
  size_t length_ = 0;
};

char* EscapeByte(unsigned char c, char* out) {
  const char escape = kEscapes[c];
  if (escape == 0) {
    *out = static_cast<char>(c);
    return out + 1;
  }
  *out++ = '\\';
  *out++ = escape;
  if (escape == 'u') {
    *out++ = '0';
    *out++ = '0';
    *out++ = kHexDigits[c >> 4];
    *out++ = kHexDigits[c & 0xF];
  }
  return out;
}

// Nonzero when any of the bytes in `word` needs escaping: a quote, a
// backslash or a byte below 0x20. Each test is the exact "has a zero byte" /
// "has a byte below n" bit trick: a borrow only ever spreads above a byte that
// matches.
template <typename Word>
Word SpecialBytes(Word word) {
  constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
  constexpr Word kHighs = kOnes * 0x80;
  const auto hasZero = [](Word w) { return (w - kOnes) & ~w & kHighs; };
  return ((word - kOnes * 0x20) & ~word & kHighs) | hasZero(word ^ (kOnes * '"')) |
         hasZero(word ^ (kOnes * '\\'));
}

// Copies `count` bytes, 4 to 15 of them, from `in` to `out` when none needs
// escaping, through two overlapping word loads; otherwise copies nothing.
template <typename Word>
bool CopyPlainWords(const unsigned char* in, size_t count, char* out) {
  Word head;
  Word tail;
  std::memcpy(&head, in, sizeof head);
  std::memcpy(&tail, in + count - sizeof tail, sizeof tail);
  if ((SpecialBytes(head) | SpecialBytes(tail)) != 0) return false;
  std::memcpy(out, &head, sizeof head);
  std::memcpy(out + count - sizeof tail, &tail, sizeof tail);
  return true;
}

// Bytes from `in` to `end`, fewer than sixteen, escaped as needed. Most keys
// and short texts have nothing to escape and take two word copies.
char* EscapeShort(const unsigned char* in, const unsigned char* end, char* out) {
  const auto count = static_cast<size_t>(end - in);
  if (count >= 8 ? CopyPlainWords<uint64_t>(in, count, out)
                 : count >= 4 && CopyPlainWords<uint32_t>(in, count, out)) {
    return out + count;
  }
  for (; in != end; ++in) out = EscapeByte(*in, out);
  return out;
}

void WriteString(Output& output, std::string_view s) {
  char* out = output.reserve(2 + 6 * s.size());
  *out++ = '"';
  auto in = reinterpret_cast<const unsigned char*>(s.data());
  const auto end = in + s.size();
#if defined(__SSE2__)
  // Sixteen bytes at a time while none of them needs escaping.
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  while (end - in >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)),
                     _mm_cmpeq_epi8(_mm_max_epu8(chunk, lastControl), lastControl));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chunk);
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask == 0) {
      in += 16;
      out += 16;
      continue;
    }
    const int plain = __builtin_ctz(mask);
    in += plain;
    out = EscapeByte(*in++, out + plain);
  }
#else
  for (; end - in >= 16; ++in) out = EscapeByte(*in, out);
#endif
  out = EscapeShort(in, end, out);
  *out++ = '"';
  output.commit(out);
}

void WriteDouble(Output& output, double value) {
  if (!std::isfinite(value)) {
    output.append("null");
    return;
  }
  output.commit(rapidjson::internal::dtoa(value, output.reserve(32)));
}

template <bool kPretty>
class Writer {
 public:
  Writer(const TypeRegistry* registry, std::string_view lineBreak)
      : registry_(registry), lineBreak_(lineBreak) {}

  std::string write(const BindingProperty& root) {
    writeValue(root);
    while (!open_.empty()) {
      Open& top = open_.back();
      const BindingProperty& node = *top.node;
      if (node.kind() == ValueKind::Collection) {
        if (top.written == node.size()) {
          close(']');
          continue;
        }
        separate(top.written++);
        writeValue(node.element(top.written - 1));
      } else {
        BindingProperty::FieldIterator& next = fields_.back();
        if (next == node.fields().end()) {
          fields_.pop_back();
          close('}');
          continue;
        }
        const auto field = *next;
        ++next;  // before writeValue, which may grow fields_
        separate(top.written++);
        WriteString(output_, field.name);
        if constexpr (kPretty) {
          output_.append(": ");
        } else {
          output_.put(':');
        }
        writeValue(field.value);
      }
    }
    return output_.take();
  }

 private:
  struct Open {
    const BindingProperty* node;
    size_t written;  // elements or members so far
  };

  void writeValue(const BindingProperty& value) {
    char* out;
    switch (value.kind()) {
      case ValueKind::Empty:
        output_.append("null");
        return;
      case ValueKind::Bool:
        output_.append(value.asBool() ? "true" : "false");
        return;
      case ValueKind::Signed:
        out = output_.reserve(24);
        output_.commit(rapidjson::internal::i64toa(value.asSigned(), out));
        return;
      case ValueKind::Unsigned:
        out = output_.reserve(24);
        output_.commit(rapidjson::internal::u64toa(value.asUnsigned(), out));
        return;
      case ValueKind::Float:
        WriteDouble(output_, value.asDouble());
        return;
      case ValueKind::String:
        WriteString(output_, value.asString());
        return;
      case ValueKind::Blob:
        writeBlob(value.asBlob());
        return;
      case ValueKind::Enum:
        writeEnum(value.asEnum());
        return;
      case ValueKind::Collection:
        if (value.size() == 0) {
          output_.append("[]");
          return;
        }
        output_.put('[');
        open_.push_back({&value, 0});
        return;
      case ValueKind::Structure:
        if (value.size() == 0) {
          output_.append("{}");
          return;
        }
        output_.put('{');
        open_.push_back({&value, 0});
        fields_.push_back(value.fields().begin());
        return;
    }
    output_.append("null");  // a kind outside the enumeration, as for empty
  }

  void writeBlob(std::span<const uint8_t> bytes) {
    char* out = output_.reserve(Base64EncodedSize(bytes.size()) + 2);
    *out++ = '"';
    out = Base64EncodeTo(bytes, out);
    *out++ = '"';
    output_.commit(out);
  }

  void writeEnum(EnumValue value) {
    if (registry_ != nullptr) {
      if (const std::string* name = registry_->enumeratorName(value.value, value.typeId)) {
        WriteString(output_, *name);
        return;
      }
    }
    char* out = output_.reserve(16);
    output_.commit(rapidjson::internal::i64toa(value.value, out));
  }

  // Before an element or member: the comma after its predecessor, and in
  // pretty form the line break and indentation.
  void separate(size_t written) {
    if (written > 0) output_.put(',');
    if constexpr (kPretty) newLine(open_.size());
  }

  void close(char bracket) {
    open_.pop_back();
    if constexpr (kPretty) newLine(open_.size());
    output_.put(bracket);
  }

  void newLine(size_t depth) {
    const size_t indent = 4 * depth;
    char* out = output_.reserve(lineBreak_.size() + indent);
    std::memcpy(out, lineBreak_.data(), lineBreak_.size());
    std::memset(out + lineBreak_.size(), ' ', indent);
    output_.commit(out + lineBreak_.size() + indent);
  }

  const TypeRegistry* registry_;
  std::string_view lineBreak_;
  Output output_;
  std::vector<Open> open_;
  std::vector<BindingProperty::FieldIterator> fields_;  // one per open structure
};

}  // namespace

std::string ToJsonText(const BindingProperty& value, const TypeRegistry* registry,
                       std::string_view lineBreak) {
  if (value.isEmpty()) return {};
  if (lineBreak.empty()) return Writer<false>(registry, {}).write(value);
  return Writer<true>(registry, lineBreak).write(value);
}

}  // namespace Zorv
