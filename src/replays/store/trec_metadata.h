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
// A block is a flat object of a few members, so one nested deeper than
// kMaxMetadataDepth or holding more than kMaxMetadataItems containers and
// commas is refused before any value tree is built: a value tree costs tens of
// bytes per item, and a block of up to 1 MiB must not cost tens of MiB.
//
// Promises: any text gives either a value or, after exactly one WARN line
// naming `path`, no value. Bad input raises no exception, and no input,
// however deep its nesting or large its numbers, can crash, recurse without
// bound or take memory beyond a copy of its strings plus a fixed amount.
// `path` appears only in the log line.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "replays/api/replays_types.h"

namespace Zorv {
class TypeRegistry;
}

namespace Zorv::Client::Replays {

inline constexpr size_t kMaxMetadataDepth = 64;
inline constexpr size_t kMaxMetadataItems = 4096;

std::optional<Api::TrecFileMetadata> ParseTrecMetadata(const TypeRegistry& registry,
                                                       std::string_view path,
                                                       std::string_view text);

}  // namespace Zorv::Client::Replays
