#include "logging/format_template.h"

#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "logging/format_placeholder.h"
#include "logging/format_string.h"

namespace Zorv {
namespace {

constexpr size_t kMessageSize = 4096;

constexpr std::string_view kKnownSuffixes[] = {"_bool", "_int",  "_long", "_float",
                                               "_str",  "_time", "_ip"};

TemplateValue Own(const TemplateArg& arg) {
  switch (arg.kind) {
    case TemplateArgKind::Bool:
      return arg.b;
    case TemplateArgKind::Int64:
      return arg.i64;
    case TemplateArgKind::UInt64:
      return arg.u64;
    case TemplateArgKind::Double:
      return arg.d;
    case TemplateArgKind::String:
      return std::string(arg.s != nullptr ? arg.s : "");
  }
  return std::string();
}

FormatArgKind PrintKind(const TemplateValue& value) {
  switch (static_cast<TemplateArgKind>(value.index() + 1)) {
    case TemplateArgKind::Bool:
      return FormatArgKind::Int32;
    case TemplateArgKind::Int64:
      return FormatArgKind::Int64;
    case TemplateArgKind::UInt64:
      return FormatArgKind::UInt64;
    case TemplateArgKind::Double:
      return FormatArgKind::Double;
    case TemplateArgKind::String:
      return FormatArgKind::String;
  }
  return FormatArgKind::String;
}

FormatArg ToFormatArg(const TemplateValue& value) {
  switch (value.index()) {
    case 0:
      return FormatArg(static_cast<int32_t>(std::get<bool>(value)));
    case 1:
      return FormatArg(std::get<int64_t>(value));
    case 2:
      return FormatArg(std::get<uint64_t>(value));
    case 3:
      return FormatArg(std::get<double>(value));
    default:
      return FormatArg(std::get<std::string>(value));
  }
}

std::string ToText(const TemplateValue& value) {
  char buffer[400];  // "%f" of the largest double needs 317
  switch (value.index()) {
    case 0:
      return std::get<bool>(value) ? "true" : "false";
    case 1:
      return std::to_string(std::get<int64_t>(value));
    case 2:
      return std::to_string(std::get<uint64_t>(value));
    case 3:
      std::snprintf(buffer, sizeof(buffer), "%f", std::get<double>(value));
      return buffer;
    default:
      return std::get<std::string>(value);
  }
}

bool IsEmptyValue(const TemplateValue& value) {
  switch (value.index()) {
    case 0:
      return !std::get<bool>(value);
    case 1:
      return std::get<int64_t>(value) == 0;
    case 2:
      return std::get<uint64_t>(value) == 0;
    case 3:
      return std::get<double>(value) == 0.0;
    default:
      return std::get<std::string>(value).empty();
  }
}

std::string FieldName(const std::string& name, const TemplateValue& value) {
  for (std::string_view suffix : kKnownSuffixes) {
    if (name.ends_with(suffix)) return name;
  }
  static constexpr const char* kKindSuffix[] = {"_bool", "_int", "_int", "_float", "_str"};
  return name + kKindSuffix[value.index()];
}

struct Braced {
  std::string name;
  std::string conversion;
  std::string spec;
  std::string alternative;
  bool hasAlternative = false;
  bool trim = false;
};

// Reads "{...}" from the character after the '{'; null when the text ends first.
const char* ReadBraced(const char* p, Braced* b) {
  if (*p == '#') ++p;
  std::string* part = &b->name;
  while (*p != '\0') {
    const char c = *p++;
    switch (c) {
      case '}':
        return p;
      case '\\':
        if (*p == '\0') return nullptr;
        part->push_back(*p++);
        break;
      case '!':
        part = &b->conversion;
        part->clear();
        break;
      case ':':
        part = &b->spec;
        part->clear();
        break;
      case '?':
        part = &b->alternative;
        part->clear();
        b->hasAlternative = true;
        break;
      case '@':
        b->trim = true;
        break;
      default:
        part->push_back(c);
    }
  }
  return nullptr;
}

// The format being written. A bare "%N" reference is kept bare until a digit
// or a '$' follows it, which would otherwise read as part of the reference.
class FormatWriter {
 public:
  void Text(std::string_view text) {
    for (char c : text) {
      Guard(c);
      out_.push_back(c);
      if (c == '%') out_.push_back('%');
    }
  }
  void Literal(std::string_view format) {
    if (format.empty()) return;
    Guard(format.front());
    out_.append(format);
  }
  void Reference(size_t number, std::string_view spec, char defaultConversion) {
    out_.push_back('%');
    out_.append(std::to_string(number));
    if (spec.empty()) {
      bareEnd_ = out_.size();
      bareConversion_ = defaultConversion;
      return;
    }
    out_.push_back('$');
    out_.append(spec);
  }
  void TrimBlanks() {
    while (!out_.empty() && (out_.back() == ' ' || out_.back() == '\t')) out_.pop_back();
  }
  std::string Take() { return std::move(out_); }

 private:
  void Guard(char next) {
    if (out_.size() != bareEnd_ || !((next >= '0' && next <= '9') || next == '$')) return;
    out_.push_back('$');
    out_.push_back(bareConversion_);
  }

  std::string out_;
  size_t bareEnd_ = SIZE_MAX;
  char bareConversion_ = 's';
};

// A placeholder's printf directive in a form that FormatString reads
// back as exactly one directive, or empty when it is not one.
std::string CheckedSpec(const std::string& spec, FormatArgKind kind) {
  if (spec.empty()) return spec;
  for (std::string candidate : {spec, spec + DefaultConversion(kind)}) {
    Placeholder ph;
    const PlaceholderRead read = ReadPlaceholder(candidate.c_str(), 0, &ph);
    if (read == PlaceholderRead::Cut) continue;
    if (read != PlaceholderRead::Ok || HasStar(ph) || ph.size != candidate.size()) return {};
    return candidate;
  }
  return {};
}

class TemplateReader {
 public:
  TemplateReader(const TemplateArg* args, size_t count) : count_(count) {
    values_.reserve(count);
    for (size_t i = 0; i < count; ++i) values_.push_back(Own(args[i]));
  }

  void Read(const char* p) {
    while (*p != '\0') {
      if (*p == '%') {
        p = Percent(p);
      } else if ((*p == '{' && p[1] == '{') || (*p == '}' && p[1] == '}')) {
        out_.Text(std::string_view(p, 1));
        p += 2;
      } else if (*p == '{') {
        p = Brace(p);
      } else {
        out_.Text(std::string_view(p, 1));
        ++p;
      }
    }
  }

  std::string TakeFormat() { return out_.Take(); }
  std::vector<TemplateField> TakeFields() { return std::move(fields_); }
  // Each argument as the format prints it, after "str" and "hex".
  const std::vector<TemplateValue>& Values() const { return values_; }

 private:
  const char* Percent(const char* p) {
    if (p[1] == '%') {
      out_.Literal("%%");
      return p + 2;
    }
    Placeholder ph;
    if (ReadPlaceholder(p + 1, count_, &ph) != PlaceholderRead::Ok) {
      out_.Text("%");
      return p + 1;
    }
    const char* end = p + 1 + ph.size;
    size_t next = next_;
    std::string spec(ph.flags);
    bool present = Number(ph.width, &next, &spec);
    if (present && ph.precision.form != PlaceholderNumber::Form::None) {
      spec.push_back('.');
      present = Number(ph.precision, &next, &spec);
    }
    const size_t number = ph.argNumber != 0 ? ph.argNumber : next++;
    if (!present || number > count_) {
      next_ = next;
      return end;
    }
    const FormatArgKind kind = PrintKind(values_[number - 1]);
    if (!ph.bare) {
      spec.append(ph.length);
      spec.push_back(ph.conversion == 'n' ? 'n' : ResolveConversion(kind, ph.conversion));
    }
    if (!Fits(number, spec)) {  // numbering made it too long to read back
      out_.Text(std::string_view(p, static_cast<size_t>(end - p)));
      return end;
    }
    next_ = next;
    out_.Reference(number, spec, DefaultConversion(kind));
    return end;
  }

  static bool Fits(size_t number, const std::string& spec) {
    const size_t length = 1 + std::to_string(number).size() + (spec.empty() ? 0 : 1 + spec.size());
    return length <= kMaxPlaceholderLength;
  }

  // Appends a width or precision, numbering a '*' that takes the next
  // argument; false when the argument it names is missing.
  bool Number(const PlaceholderNumber& n, size_t* next, std::string* spec) const {
    if (n.form == PlaceholderNumber::Form::Digits) spec->append(std::to_string(n.value));
    if (n.form != PlaceholderNumber::Form::Star) return true;
    const size_t number = n.argNumber != 0 ? n.argNumber : (*next)++;
    if (number > count_) return false;
    spec->push_back('*');
    spec->append(std::to_string(number));
    spec->push_back('$');
    return true;
  }

  const char* Brace(const char* p) {
    Braced b;
    const char* end = ReadBraced(p + 1, &b);
    if (end == nullptr) {  // unterminated: the rest is text
      out_.Text(p);
      return p + std::char_traits<char>::length(p);
    }
    if (b.trim) out_.TrimBlanks();
    const size_t number = next_++;
    if (number > count_) return end;
    TemplateValue& value = values_[number - 1];
    std::string spec = b.spec;
    if (b.conversion == "str") {
      value = ToText(value);
    } else if (b.conversion == "hex" && (value.index() == 1 || value.index() == 2)) {
      char hex[17];
      const uint64_t bits = value.index() == 1 ? static_cast<uint64_t>(std::get<int64_t>(value))
                                               : std::get<uint64_t>(value);
      std::snprintf(hex, sizeof(hex), "%016" PRIX64, bits);
      value = std::string(hex);
      spec = "016llX";
    }
    if (!b.name.empty()) fields_.push_back({FieldName(b.name, value), value});
    if (b.hasAlternative && IsEmptyValue(value)) {
      out_.Text(b.alternative);
      return end;
    }
    const FormatArgKind kind = PrintKind(value);
    spec = CheckedSpec(spec, kind);
    if (!Fits(number, spec)) spec.clear();
    out_.Reference(number, spec, DefaultConversion(kind));
    return end;
  }

  size_t count_;
  size_t next_ = 1;
  std::vector<TemplateValue> values_;
  std::vector<TemplateField> fields_;
  FormatWriter out_;
};

}  // namespace

TemplateFormat FormatTemplate(const char* text, const TemplateArg* args, size_t count) {
  TemplateReader reader(args, count);
  reader.Read(text != nullptr ? text : "");
  return {reader.TakeFormat(), reader.TakeFields()};
}

TemplateMessage FormatTemplateMessage(const char* text, const TemplateArg* args, size_t count) {
  TemplateReader reader(args, count);
  reader.Read(text != nullptr ? text : "");
  const std::string format = reader.TakeFormat();
  std::vector<FormatArg> printArgs;
  printArgs.reserve(count);
  for (const TemplateValue& value : reader.Values()) printArgs.push_back(ToFormatArg(value));
  char buffer[kMessageSize];
  const size_t n = FormatString(buffer, sizeof(buffer), format.c_str(), printArgs.data(), count);
  return {std::string(buffer, n), reader.TakeFields()};
}

TemplateMessage FormatTemplateMessage(const char* text, std::initializer_list<TemplateArg> args) {
  return FormatTemplateMessage(text, args.begin(), args.size());
}

}  // namespace Zorv
