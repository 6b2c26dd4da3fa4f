#include "logging/format_placeholder.h"

#include <cstring>

namespace Zorv {
namespace {

constexpr uint32_t kSaturated = 1000000000;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsNonZeroDigit(char c) {
  return c >= '1' && c <= '9';
}

// Scans one placeholder, keeping count of its length so that no run of
// flags or digits is followed further than the limit allows.
class Scanner {
 public:
  explicit Scanner(const char* text) : text_(text), p_(text) {}

  char Peek() const { return *p_; }
  char PeekAt(size_t i) const { return p_[i]; }
  const char* Position() const { return p_; }
  size_t Read() const { return static_cast<size_t>(p_ - text_); }
  // The '%' counts too.
  bool TooLong() const { return Read() + 1 > kMaxPlaceholderLength; }
  void Skip(size_t n = 1) { p_ += n; }
  void Reset(const char* at) { p_ = at; }

  uint32_t Digits() {
    uint32_t value = 0;
    while (IsDigit(*p_) && !TooLong()) {
      value = value >= kSaturated / 10 ? kSaturated : value * 10 + static_cast<uint32_t>(*p_ - '0');
      ++p_;
    }
    return value;
  }

 private:
  const char* text_;
  const char* p_;
};

void ReadNumber(Scanner& s, PlaceholderNumber* number) {
  if (IsDigit(s.Peek())) {
    number->form = PlaceholderNumber::Form::Digits;
    number->value = s.Digits();
    return;
  }
  if (s.Peek() != '*') return;
  s.Skip();
  number->form = PlaceholderNumber::Form::Star;
  if (!IsNonZeroDigit(s.Peek())) return;
  const char* digits = s.Position();
  const uint32_t n = s.Digits();
  if (s.Peek() == '$') {
    number->argNumber = n;
    s.Skip();
  } else {
    s.Reset(digits);  // not an argument number: the digits are what follows the '*'
  }
}

std::string_view Allowed(FormatArgKind kind) {
  switch (kind) {
    case FormatArgKind::String:
      return "s";
    case FormatArgKind::Int32:
    case FormatArgKind::Int64:
      return "dciouxX";
    case FormatArgKind::UInt32:
    case FormatArgKind::UInt64:
      return "ucdioxX";
    case FormatArgKind::Double:
      return "gaefGAEF";
    case FormatArgKind::Char:
      return "cdiouxX";
  }
  return "s";
}

}  // namespace

PlaceholderRead ReadPlaceholder(const char* text, size_t argCount, Placeholder* out) {
  Placeholder ph;
  Scanner s(text);

  if (IsNonZeroDigit(s.Peek())) {
    const uint32_t n = s.Digits();
    if (n <= argCount) {
      ph.argNumber = n;
      if (s.Peek() != '$') {
        if (s.TooLong()) return PlaceholderRead::TooLong;
        ph.bare = true;
        ph.size = s.Read();
        *out = ph;
        return PlaceholderRead::Ok;
      }
      s.Skip();
    } else {
      s.Reset(text);
    }
  }

  const char* flags = s.Position();
  while (s.Peek() != '\0' && std::strchr("-+ #0", s.Peek()) != nullptr && !s.TooLong()) s.Skip();
  ph.flags = std::string_view(flags, static_cast<size_t>(s.Position() - flags));

  ReadNumber(s, &ph.width);
  if (s.Peek() == '.') {
    s.Skip();
    ReadNumber(s, &ph.precision);
    if (ph.precision.form == PlaceholderNumber::Form::None) {
      ph.precision.form = PlaceholderNumber::Form::Digits;
    }
  }

  const char* length = s.Position();
  const char l = s.Peek();
  if (l == 'L' || l == 'j' || l == 't' || l == 'z') {
    s.Skip();
  } else if (l == 'h' || l == 'l') {
    s.Skip(s.PeekAt(1) == l ? 2 : 1);
  }
  ph.length = std::string_view(length, static_cast<size_t>(s.Position() - length));

  if (s.TooLong()) return PlaceholderRead::TooLong;
  if (s.Peek() == '\0') return PlaceholderRead::Cut;
  ph.conversion = s.Peek();
  s.Skip();
  if (s.TooLong()) return PlaceholderRead::TooLong;
  ph.size = s.Read();
  *out = ph;
  return PlaceholderRead::Ok;
}

bool HasStar(const Placeholder& placeholder) {
  return placeholder.width.form == PlaceholderNumber::Form::Star ||
         placeholder.precision.form == PlaceholderNumber::Form::Star;
}

char DefaultConversion(FormatArgKind kind) {
  return Allowed(kind)[0];
}

char ResolveConversion(FormatArgKind kind, char conversion) {
  const std::string_view allowed = Allowed(kind);
  return conversion != '\0' && allowed.find(conversion) != std::string_view::npos ? conversion
                                                                                  : allowed[0];
}

}  // namespace Zorv
