// Deterministic benchmark inputs: the same pseudo-random game records as
// JSON, MessagePack and YAML text, made from a fixed seed so every run and
// every machine measures the same bytes. Nothing is read from disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Zorv::Bench {

// `count` records as one JSON array of objects (about 128 bytes a record).
std::string RecordsJson(size_t count);
// The same records as one MessagePack array of maps.
std::string RecordsMsgPack(size_t count);
// The same records as a YAML block sequence of block mappings.
std::string RecordsYaml(size_t count);
// A replay file's metadata block as trec_writer writes it.
std::string MetadataBlock();

}  // namespace Zorv::Bench
