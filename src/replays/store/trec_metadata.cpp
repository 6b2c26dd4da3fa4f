#include "replays/store/trec_metadata.h"

#include <algorithm>
#include <climits>

#include "binding/conversion.h"
#include "binding/json_reader.h"
#include "binding/type_registry.h"
#include "logging/log.h"

namespace Zorv::Client::Replays {

namespace {

int PrintLength(std::string_view text) {
  return static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
}

// Whether the block's shape stays within kMaxMetadataDepth and
// kMaxMetadataItems: brackets and commas outside strings, found by one scan
// that allocates nothing. Whether the text is valid JSON is the parser's call.
bool ShapeWithinBounds(std::string_view text) {
  size_t depth = 0;
  size_t items = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > kMaxMetadataDepth || ++items > kMaxMetadataItems) return false;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      case ',':
        if (++items > kMaxMetadataItems) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

std::optional<Api::TrecFileMetadata> ParseTrecMetadata(const TypeRegistry& registry,
                                                       std::string_view path,
                                                       std::string_view text) {
  if (text.empty()) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: saw empty replay metadata in trec: '%.*s'",
        PrintLength(path), path.data());
    return std::nullopt;
  }
  // The block is read as a C string: its JSON ends at the first zero byte.
  text = text.substr(0, text.find('\0'));
  if (ShapeWithinBounds(text)) {
    const BindingResult parsed = FromJsonText(text);
    if (parsed.success) {
      Api::TrecFileMetadata metadata;
      if (FromProperty(parsed.value, metadata, "<value>", registry).success) return metadata;
    }
  }
  Log(LogLevel::Warn, kLogDBG,
      "FileManager: failed to deserialize replay metadata from trec: '%.*s'", PrintLength(path),
      path.data());
  return std::nullopt;
}

}  // namespace Zorv::Client::Replays
