// ParseTrecMetadata: turns the metadata block of a replay file into a
// TrecFileMetadata value.
//
//   std::optional<Api::TrecFileMetadata> metadata =
//       ParseTrecMetadata(registry, path, ReadMetadataText(path, buffer));
//
// The block is JSON; a zero byte ends it (what follows is ignored). It is read
// into a value tree and converted through `registry`, which must hold the
// replay API types (RegisterReplaysApiTypes). Keys the type does not name are
// ignored; a missing key leaves that member at its default.
//
// Promises: any text gives either a value or, after exactly one WARN line
// naming `path`, no value. Nothing is thrown and no input, however deep its
// nesting or large its numbers, can crash or recurse without bound.
// `path` appears only in the log line.
#pragma once

#include <optional>
#include <string_view>

#include "replays/api/replays_types.h"

namespace Zorv {
class TypeRegistry;
}

namespace Zorv::Client::Replays {

std::optional<Api::TrecFileMetadata> ParseTrecMetadata(const TypeRegistry& registry,
                                                       std::string_view path,
                                                       std::string_view text);

}  // namespace Zorv::Client::Replays
