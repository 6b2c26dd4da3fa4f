// Writing replay files (.trec) for tests, benchmarks and the trec command,
// including files with deliberate defects.
//
//   TrecImage image;
//   image.metadata = MetadataJson({1800000, "14.3.1.200", 30, 15});
//   image.bodySize = 4096;
//   ApplyDefect(image, TrecDefect::OversizeLength);  // header claims 1 MiB + 1
//   std::string error;
//   if (!WriteTrecFile("/tmp/x/42.trec", image, &error)) { ... }
//
// The file is: the magic, filler up to position 268, the block's offset and
// length words (little-endian), then the metadata block at its offset and
// `bodySize` bytes of filler standing for the recorded game. Filler bytes are
// a non-zero pattern, so a reader that looks where it should not sees noise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "replays/store/trec_file.h"

namespace Zorv::Client::Replays {

struct TrecMetadataFields {
  uint32_t gameLength = 0;
  std::string gameVersion;
  uint32_t lastGameChunkId = 0;
  uint32_t lastKeyFrameId = 0;
};

// The compact JSON object of a metadata block.
std::string MetadataJson(const TrecMetadataFields& fields);

struct TrecImage {
  std::string magic{kTrecMagic, sizeof kTrecMagic};  // written as given, at position 0
  std::string metadata;                              // the block's bytes, written as given
  uint32_t metadataOffset = kTrecHeaderSize;         // where the block is written
  std::optional<uint32_t> offsetField;  // the header's offset word; metadataOffset when unset
  std::optional<uint32_t> lengthField;  // the header's length word; metadata.size() when unset
  uint64_t bodySize = 0;                // filler bytes after the block
  std::optional<uint64_t> truncateAt;   // the file is cut to this many bytes when set
};

enum class TrecDefect {
  None,
  BadMagic,        // "zorv" in place of the magic
  Truncated,       // the file ends halfway through the metadata block
  OversizeLength,  // the length word claims one byte more than the reader accepts
  NonJson,         // the block is text that is not JSON
};

inline constexpr TrecDefect kTrecDefects[] = {TrecDefect::None, TrecDefect::BadMagic,
                                              TrecDefect::Truncated, TrecDefect::OversizeLength,
                                              TrecDefect::NonJson};

// The defect's command-line name: "none", "bad-magic", "truncated",
// "oversize-length", "non-json".
std::string_view DefectName(TrecDefect defect);

void ApplyDefect(TrecImage& image, TrecDefect defect);

// The whole file as bytes.
std::string TrecBytes(const TrecImage& image);

// Writes the file, replacing any file at path; the body is streamed, so large
// bodies cost no memory. On failure sets *error (when given) and returns false.
bool WriteTrecFile(const std::string& path, const TrecImage& image, std::string* error = nullptr);

}  // namespace Zorv::Client::Replays
