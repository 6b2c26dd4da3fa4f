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

}  // namespace

std::optional<Api::TrecFileMetadata> ParseTrecMetadata(const TypeRegistry& registry,
                                                       std::string_view path,
                                                       std::string_view text) {
  if (text.empty()) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: saw empty replay metadata in trec: '%.*s'",
        PrintLength(path), path.data());
    return std::nullopt;
  }
  // Writers hand the block over as a C string: its JSON ends at the first zero byte.
  text = text.substr(0, text.find('\0'));
  const BindingResult parsed = FromJsonText(text);
  if (parsed.success) {
    Api::TrecFileMetadata metadata;
    if (FromProperty(parsed.value, metadata, "<value>", registry).success) return metadata;
  }
  Log(LogLevel::Warn, kLogDBG,
      "FileManager: failed to deserialize replay metadata from trec: '%.*s'", PrintLength(path),
      path.data());
  return std::nullopt;
}

}  // namespace Zorv::Client::Replays
