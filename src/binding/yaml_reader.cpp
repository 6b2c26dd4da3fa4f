#include "binding/yaml_reader.h"

#include <yaml.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "binding/binding_property_access.h"
#include "binding/conversion.h"
#include "binding/structure_assembler.h"
#include "logging/format_string.h"

namespace Zorv {

namespace {

constexpr std::string_view kStrTag = "tag:yaml.org,2002:str";
constexpr std::string_view kIntTag = "tag:yaml.org,2002:int";
constexpr std::string_view kFloatTag = "tag:yaml.org,2002:float";
constexpr std::string_view kBoolTag = "tag:yaml.org,2002:bool";

constexpr std::array<std::string_view, 5> kNullWords = {"", "~", "null", "Null", "NULL"};
constexpr std::array<std::string_view, 11> kTrueWords = {"true", "True", "TRUE", "y",  "Y", "yes",
                                                         "Yes",  "YES",  "on",   "On", "ON"};
constexpr std::array<std::string_view, 11> kFalseWords = {
    "false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"};

template <size_t N>
bool IsOneOf(std::string_view text, const std::array<std::string_view, N>& words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

std::string_view Text(const yaml_char_t* text) {
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text));
}

std::string_view Text(const yaml_char_t* text, size_t length) {
  return std::string_view(reinterpret_cast<const char*>(text), length);
}

// Every value the reader types is a new element, a new field or the empty
// root, so it is set fresh: there is no old payload to free.

enum class DecimalInteger { NotDecimal, Read, OutOfRange };

// An optional sign and decimal digits only: such a text is read as an integer
// directly, because going through a double would round values above 2^53.
DecimalInteger ReadDecimalInteger(std::string_view text, BindingProperty& target) {
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  if (text.empty()) return DecimalInteger::NotDecimal;
  uint64_t magnitude = 0;
  const char* const last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, magnitude);
  if (error == std::errc::result_out_of_range) return DecimalInteger::OutOfRange;
  if (error != std::errc() || end != last) return DecimalInteger::NotDecimal;
  constexpr uint64_t kSignedMagnitudeLimit = uint64_t{1} << 63;
  if (!negative || magnitude == 0) {
    BindingPropertyAccess::SetFreshUnsigned(target, magnitude);
  } else if (magnitude <= kSignedMagnitudeLimit) {
    BindingPropertyAccess::SetFreshSigned(
        target, static_cast<int64_t>(0 - magnitude));  // two's complement of the magnitude
  } else {
    return DecimalInteger::OutOfRange;
  }
  return DecimalInteger::Read;
}

// What a scalar's first byte allows: a null or bool word starts with one of a
// few letters, and a number that the rules below accept with a digit, a sign,
// a point or white space (as std::isdigit and std::isspace classify bytes in
// the C locale). Most texts are told apart by this alone.
enum ScalarStart : uint8_t { kOtherStart = 0, kWordStart = 1, kNumberStart = 2 };

constexpr auto kScalarStarts = [] {
  std::array<uint8_t, 256> table{};
  for (const unsigned char c : std::string_view("~nNtTfFyYoO")) table[c] = kWordStart;
  for (const unsigned char c : std::string_view("0123456789-+. \t\n\v\f\r")) {
    table[c] = kNumberStart;
  }
  return table;
}();

ScalarStart StartOf(std::string_view text) {
  return static_cast<ScalarStart>(kScalarStarts[static_cast<unsigned char>(text.front())]);
}

// A decimal or exponent number that std::from_chars reads whole: the same
// double as strtod's, since both round correctly, at a fraction of strtod's
// cost. Other spellings (a leading '+' or white space, hexadecimal, numbers
// beyond the double range) are left to strtod.
bool ReadDecimalDouble(std::string_view text, double& value) {
  const char* const last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  return error == std::errc() && end == last;
}

// A whole-text strtod number, or false. NaN and positive infinity are not
// numbers here ("inf" and "1e999" stay strings); negative infinity is a double.
// Whole numbers that no 64-bit integer holds stay doubles: converting them to
// an integer would be undefined. Decimal integers are tried first: exact, and
// much cheaper than strtod.
// REQUIRES: !text.empty(), StartOf(text) == kNumberStart, and
// text.data()[text.size()] == '\0' (strtod reads up to a zero).
bool ReadNumber(std::string_view text, BindingProperty& target) {
  const DecimalInteger decimal = ReadDecimalInteger(text, target);
  if (decimal == DecimalInteger::Read) return true;
  double value = 0;
  if (!ReadDecimalDouble(text, value)) {
    char* end = nullptr;
    value = std::strtod(text.data(), &end);
    if (end != text.data() + text.size()) return false;
  }
  if (std::isnan(value) || (std::isinf(value) && value > 0)) return false;
  if (value != std::trunc(value) || decimal == DecimalInteger::OutOfRange) {
    BindingPropertyAccess::SetFreshFloat(target, value);
    return true;
  }
  // Other spellings of whole numbers: exponents, hexadecimal, "1.0".
  constexpr double kSignedMinimum = -9223372036854775808.0;  // -2^63
  constexpr double kUnsignedLimit = 18446744073709551616.0;  // 2^64
  if (value < 0 && value >= kSignedMinimum) {
    BindingPropertyAccess::SetFreshSigned(target, static_cast<int64_t>(value));
  } else if (value >= 0 && value < kUnsignedLimit) {
    BindingPropertyAccess::SetFreshUnsigned(target, static_cast<uint64_t>(value));
  } else {
    BindingPropertyAccess::SetFreshFloat(target, value);
  }
  return true;
}

// REQUIRES: text.data()[text.size()] == '\0'.
void TypeUntaggedScalar(std::string_view text, BindingProperty& target) {
  if (text.empty()) return;  // a null word
  switch (StartOf(text)) {
    case kNumberStart:
      if (!ReadNumber(text, target)) BindingPropertyAccess::SetFreshString(target, text);
      return;
    case kWordStart:
      // Null and bool words are at most five characters long.
      if (text.size() <= 5) {
        if (IsOneOf(text, kNullWords)) return;
        if (IsOneOf(text, kTrueWords)) {
          BindingPropertyAccess::SetFreshBool(target, true);
          return;
        }
        if (IsOneOf(text, kFalseWords)) {
          BindingPropertyAccess::SetFreshBool(target, false);
          return;
        }
      }
      BindingPropertyAccess::SetFreshString(target, text);
      return;
    case kOtherStart:
      BindingPropertyAccess::SetFreshString(target, text);
      return;
  }
}

// What copying `value` costs against the copy budget: kYamlValueBytes per
// value plus the bytes of its texts and keys. Stops counting once past
// `limit`, so a refused copy costs no more than the budget to look at.
size_t CopyBytes(const BindingProperty& value, size_t limit) {
  size_t bytes = 0;
  std::vector<const BindingProperty*> pending{&value};
  while (!pending.empty() && bytes <= limit) {
    const BindingProperty& next = *pending.back();
    pending.pop_back();
    bytes += kYamlValueBytes + next.asString().size() + next.asBlob().size();
    if (next.kind() == ValueKind::Collection) {
      for (size_t i = 0; i < next.size(); ++i) pending.push_back(&next.element(i));
    } else {
      for (const auto& field : next.fields()) {
        bytes += field.name.size();
        pending.push_back(&field.value);
      }
    }
  }
  return bytes;
}

struct ParserHandle {
  yaml_parser_t parser;
  bool initialized = false;
  ParserHandle() { initialized = yaml_parser_initialize(&parser) != 0; }
  ~ParserHandle() {
    if (initialized) yaml_parser_delete(&parser);
  }
  ParserHandle(const ParserHandle&) = delete;
  ParserHandle& operator=(const ParserHandle&) = delete;
};

struct EventHandle {
  yaml_event_t event;
  ~EventHandle() { yaml_event_delete(&event); }
};

// Keeps its own stack of open nodes rather than feeding the shared
// TreeBuilder: an alias puts a whole copied tree in place, and an anchor needs
// the node it names once that node has ended; the builder's event interface
// offers neither. Mappings are made like the builder makes structures: their
// fields collected and arranged once, at the mapping's end.
class YamlReader {
 public:
  BindingResult read(std::string_view text);

 private:
  // An open sequence or mapping.
  struct Frame {
    BindingProperty* node = nullptr;
    // A mapping's field that its last key made, where the next value goes;
    // null while a key is awaited. Fields do not move when the mapping grows.
    BindingProperty* field = nullptr;
    size_t mark = 0;  // of a mapping's fields in fields_
    bool isMapping = false;
    bool anchored = false;  // its anchor's name is the top of openAnchorNames_
  };

  void handle(const yaml_event_t& event);
  void documentStart();
  void scalar(const yaml_event_t& event);
  void key(const yaml_event_t& event);
  void alias(const yaml_event_t& event);
  void collectionStart(const yaml_event_t& event, bool isMapping);
  void collectionEnd(const yaml_event_t& event);

  bool awaitingKey() const {
    return !stack_.empty() && stack_.back().isMapping && stack_.back().field == nullptr;
  }
  // The value the next node goes into, emptied: the root, a new element of the
  // open sequence, or the field that the open mapping's last key selected.
  BindingProperty& target();
  // Takes the bytes of a copy of `value` from the copy budget; fails and
  // answers false when they do not fit.
  bool reserveCopy(const BindingProperty& value, const yaml_event_t& event);
  // The slot of a new anchor in the holder; fails and answers null when the
  // name is taken.
  BindingProperty* recordAnchor(std::string_view name, const yaml_event_t& event);
  void typeScalar(const yaml_event_t& event, BindingProperty& target);
  void failAt(const char* format, const yaml_event_t& event);
  void failAt(const char* format, FormatArg first, const yaml_event_t& event);
  void failWithParserError(const yaml_parser_t& parser);

  BindingResult result_;
  BindingProperty root_;
  std::vector<Frame> stack_;
  StructureAssembler fields_;  // of the open mappings
  // Every anchored value by its anchor's name, in one tree: a value for each
  // anchor with its own arena would cost kilobytes per anchor. An anchored
  // sequence or mapping gets its value when it ends; until then its name is
  // also in openAnchors_.
  BindingProperty anchored_;
  std::unordered_set<std::string> openAnchors_;
  std::vector<std::string> openAnchorNames_;  // of the anchored frames, innermost last
  size_t copyLimit_ = 0;
  size_t copiedBytes_ = 0;
  bool streamEnded_ = false;
};

BindingResult YamlReader::read(std::string_view text) {
  ParserHandle parserHandle;
  if (!parserHandle.initialized) {
    failWithParserError(parserHandle.parser);
    return std::move(result_);
  }
  copyLimit_ = kYamlCopyBytesAllowance + kYamlCopyBytesPerInputByte * text.size();
  anchored_.makeStructure();
  yaml_parser_t& parser = parserHandle.parser;
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  while (result_.success && !streamEnded_) {
    EventHandle event;
    if (yaml_parser_parse(&parser, &event.event) == 0) {
      failWithParserError(parser);
      break;
    }
    handle(event.event);
  }
  if (result_.success) result_.value = std::move(root_);
  return std::move(result_);
}

void YamlReader::handle(const yaml_event_t& event) {
  switch (event.type) {
    case YAML_STREAM_END_EVENT:
      streamEnded_ = true;
      break;
    case YAML_DOCUMENT_START_EVENT:
      documentStart();
      break;
    case YAML_SCALAR_EVENT:
      if (awaitingKey()) {
        key(event);
      } else {
        scalar(event);
      }
      break;
    case YAML_ALIAS_EVENT:
      alias(event);
      break;
    case YAML_SEQUENCE_START_EVENT:
      collectionStart(event, false);
      break;
    case YAML_MAPPING_START_EVENT:
      collectionStart(event, true);
      break;
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      collectionEnd(event);
      break;
    default:  // stream start, document end, no event
      break;
  }
}

void YamlReader::documentStart() {
  if (!root_.isEmpty()) {
    result_.setFailure("Multi-document YAML is not supported.");
    return;
  }
  // Anchors belong to their document.
  anchored_.clear();
  anchored_.makeStructure();
  openAnchors_.clear();
  openAnchorNames_.clear();
}

BindingProperty& YamlReader::target() {
  if (stack_.empty()) return root_;
  Frame& top = stack_.back();
  if (!top.isMapping) return BindingPropertyAccess::AppendFresh(*top.node);
  return *std::exchange(top.field, nullptr);
}

void YamlReader::key(const yaml_event_t& event) {
  const std::string_view tag = Text(event.data.scalar.tag);
  if (!tag.empty() && tag != kStrTag) {
    failAt("Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2", event);
    return;
  }
  const std::string_view name = Text(event.data.scalar.value, event.data.scalar.length);
  Frame& top = stack_.back();
  // Of repeated keys the later value stays, when the mapping ends.
  top.field = &fields_.add(*top.node, name);
  if (event.data.scalar.anchor != nullptr) {
    if (BindingProperty* slot = recordAnchor(Text(event.data.scalar.anchor), event)) {
      *slot = name;
    }
  }
}

void YamlReader::scalar(const yaml_event_t& event) {
  BindingProperty& value = target();
  typeScalar(event, value);
  if (!result_.success) return;
  if (event.data.scalar.anchor != nullptr) {
    if (BindingProperty* slot = recordAnchor(Text(event.data.scalar.anchor), event)) {
      *slot = value;
    }
  }
}

void YamlReader::typeScalar(const yaml_event_t& event, BindingProperty& target) {
  const std::string_view text = Text(event.data.scalar.value, event.data.scalar.length);
  const std::string_view tag = Text(event.data.scalar.tag);
  if (tag.empty()) {
    const yaml_scalar_style_t style = event.data.scalar.style;
    if (style == YAML_SINGLE_QUOTED_SCALAR_STYLE || style == YAML_DOUBLE_QUOTED_SCALAR_STYLE) {
      BindingPropertyAccess::SetFreshString(target, text);
    } else {
      TypeUntaggedScalar(text, target);  // the parser ends every scalar's text with a zero
    }
  } else if (tag == kStrTag) {
    BindingPropertyAccess::SetFreshString(target, text);
  } else if (tag == kIntTag) {
    const BindingProperty input(text);
    if (!text.empty() && text.front() == '-') {
      const int64_t value = ToSigned(result_, input, "yaml", std::numeric_limits<int64_t>::min(),
                                     std::numeric_limits<int64_t>::max(), "int64_t");
      if (result_.success) BindingPropertyAccess::SetFreshSigned(target, value);
    } else {
      const uint64_t value =
          ToUnsigned(result_, input, "yaml", std::numeric_limits<uint64_t>::max(), "uint64_t");
      if (result_.success) BindingPropertyAccess::SetFreshUnsigned(target, value);
    }
  } else if (tag == kFloatTag) {
    const double value =
        ToDouble(result_, BindingProperty(text), "yaml", std::numeric_limits<double>::lowest(),
                 std::numeric_limits<double>::max(), "double");
    if (result_.success) BindingPropertyAccess::SetFreshFloat(target, value);
  } else if (tag == kBoolTag) {
    if (IsOneOf(text, kTrueWords)) {
      BindingPropertyAccess::SetFreshBool(target, true);
    } else if (IsOneOf(text, kFalseWords)) {
      BindingPropertyAccess::SetFreshBool(target, false);
    }
  } else {
    result_.setFailure(FormatString("Unsupported YAML tag '%1'.", std::string(tag)));
  }
}

void YamlReader::alias(const yaml_event_t& event) {
  // A key must be a scalar; copying an alias into the mapping's place would
  // overwrite the open mapping itself.
  if (awaitingKey()) {
    failAt("Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2", event);
    return;
  }
  const std::string name(Text(event.data.alias.anchor));
  const BindingProperty& value = anchored_.find(name);
  if (&value == &BindingProperty::EmptyValue()) {
    failAt("Undefined alias encountered: \"%1\". At line: %2 col: %3", name, event);
    return;
  }
  if (openAnchors_.contains(name)) {
    failAt("Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", name, event);
    return;
  }
  if (!reserveCopy(value, event)) return;
  target() = value;
}

void YamlReader::collectionStart(const yaml_event_t& event, bool isMapping) {
  if (awaitingKey()) {
    failAt(isMapping ? "Unexpected start of mapping. At line: %1 col: %2"
                     : "Unexpected start of sequence. At line: %1 col: %2",
           event);
    return;
  }
  if (stack_.size() >= kMaxYamlNestingDepth) {
    failAt("YAML nesting is too deep (more than %1 levels). At line: %2 col: %3",
           static_cast<uint64_t>(kMaxYamlNestingDepth), event);
    return;
  }
  const yaml_char_t* anchorName =
      isMapping ? event.data.mapping_start.anchor : event.data.sequence_start.anchor;
  BindingProperty& node = target();
  BindingPropertyAccess::SetFreshContainer(
      node, isMapping ? ValueKind::Structure : ValueKind::Collection);
  if (anchorName != nullptr) {
    if (recordAnchor(Text(anchorName), event) == nullptr) return;
    openAnchorNames_.emplace_back(Text(anchorName));
    openAnchors_.insert(openAnchorNames_.back());
  }
  stack_.push_back({.node = &node,
                    .mark = fields_.open(),
                    .isMapping = isMapping,
                    .anchored = anchorName != nullptr});
}

void YamlReader::collectionEnd(const yaml_event_t& event) {
  if (stack_.empty()) return;  // the parser pairs every end with a start
  const Frame frame = stack_.back();
  stack_.pop_back();
  if (frame.isMapping) fields_.close(*frame.node, frame.mark);
  if (!frame.anchored) return;
  const std::string name = std::move(openAnchorNames_.back());
  openAnchorNames_.pop_back();
  openAnchors_.erase(name);
  // A copy, not the node itself: the node may move while its parent grows.
  if (!reserveCopy(*frame.node, event)) return;
  anchored_.field(name) = *frame.node;
}

bool YamlReader::reserveCopy(const BindingProperty& value, const yaml_event_t& event) {
  const size_t left = copyLimit_ - copiedBytes_;
  const size_t bytes = CopyBytes(value, left);
  if (bytes > left) {
    failAt("Too many bytes copied by YAML anchors and aliases (more than %1). At line: %2 col: %3",
           static_cast<uint64_t>(copyLimit_), event);
    return false;
  }
  copiedBytes_ += bytes;
  return true;
}

BindingProperty* YamlReader::recordAnchor(std::string_view name, const yaml_event_t& event) {
  const size_t before = anchored_.size();
  BindingProperty& slot = anchored_.field(name);
  if (anchored_.size() == before) {
    failAt("Duplicate occurrence of anchor \"%1\". At line: %2 col: %3", std::string(name), event);
    return nullptr;
  }
  return &slot;
}

void YamlReader::failAt(const char* format, const yaml_event_t& event) {
  result_.setFailure(FormatString(format, static_cast<uint64_t>(event.start_mark.line + 1),
                                  static_cast<uint64_t>(event.start_mark.column + 1)));
}

void YamlReader::failAt(const char* format, FormatArg first, const yaml_event_t& event) {
  result_.setFailure(FormatString(format, first, static_cast<uint64_t>(event.start_mark.line + 1),
                                  static_cast<uint64_t>(event.start_mark.column + 1)));
}

void YamlReader::failWithParserError(const yaml_parser_t& parser) {
  const char* problem = parser.problem;
  if (problem == nullptr) {
    problem = parser.error == YAML_MEMORY_ERROR ? "out of memory" : "unknown error";
  }
  result_.setFailure(FormatString("YAML parser error: %1. At line: %2 col: %3", problem,
                                  static_cast<uint64_t>(parser.problem_mark.line),
                                  static_cast<uint64_t>(parser.problem_mark.column)));
}

}  // namespace

BindingResult ParseYaml(std::string_view text) {
  return YamlReader().read(text);
}

bool IsYaml(std::string_view text) {
  const size_t start = text.find_first_not_of(' ');
  return start != std::string_view::npos && text.substr(start).starts_with("---");
}

}  // namespace Zorv
