#include "trec/trec_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "binding/binding_property.h"
#include "binding/json_writer.h"

namespace Zorv::Client::Replays {
namespace {

constexpr std::string_view kBadMagic = "zorv";
constexpr std::string_view kNonJson = "gameVersion=14.3.1.200";

char FillerByte(uint64_t position) {
  return static_cast<char>(position * 31 % 255 + 1);
}

void PutWord(std::string& bytes, size_t at, uint32_t word) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(word >> (8 * i) & 0xFF);
}

// Everything up to the end of the block (or of the header, whichever is later).
std::string Prefix(const TrecImage& image) {
  const size_t blockEnd = size_t{image.metadataOffset} + image.metadata.size();
  std::string bytes(std::max({size_t{kTrecHeaderSize}, blockEnd, image.magic.size()}), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = FillerByte(i);
  image.magic.copy(bytes.data(), image.magic.size());
  image.metadata.copy(bytes.data() + image.metadataOffset, image.metadata.size());
  PutWord(bytes, kTrecMetadataOffsetPosition, image.offsetField.value_or(image.metadataOffset));
  PutWord(bytes, kTrecMetadataLengthPosition,
          image.lengthField.value_or(static_cast<uint32_t>(image.metadata.size())));
  return bytes;
}

uint64_t FileSize(const TrecImage& image, uint64_t prefixSize) {
  const uint64_t full = prefixSize + image.bodySize;
  return image.truncateAt ? std::min(full, *image.truncateAt) : full;
}

}  // namespace

std::string MetadataJson(const TrecMetadataFields& fields) {
  BindingProperty object;
  object.field("gameLength") = uint64_t{fields.gameLength};
  object.field("gameVersion") = fields.gameVersion;
  object.field("lastGameChunkId") = uint64_t{fields.lastGameChunkId};
  object.field("lastKeyFrameId") = uint64_t{fields.lastKeyFrameId};
  return ToJsonText(object);
}

std::string_view DefectName(TrecDefect defect) {
  switch (defect) {
    case TrecDefect::None:
      return "none";
    case TrecDefect::BadMagic:
      return "bad-magic";
    case TrecDefect::Truncated:
      return "truncated";
    case TrecDefect::OversizeLength:
      return "oversize-length";
    case TrecDefect::NonJson:
      return "non-json";
  }
  return {};
}

void ApplyDefect(TrecImage& image, TrecDefect defect) {
  switch (defect) {
    case TrecDefect::None:
      break;
    case TrecDefect::BadMagic:
      image.magic = kBadMagic;
      break;
    case TrecDefect::Truncated:
      // At least one byte of the block is missing, even for an empty or one-byte block.
      if (image.metadata.size() < 2) image.metadata = "{}";
      image.truncateAt = uint64_t{image.metadataOffset} + image.metadata.size() / 2;
      break;
    case TrecDefect::OversizeLength:
      image.lengthField = kTrecMaxMetadataLength + 1;
      break;
    case TrecDefect::NonJson:
      image.metadata = kNonJson;
      break;
  }
}

std::string TrecBytes(const TrecImage& image) {
  std::string bytes = Prefix(image);
  const uint64_t size = FileSize(image, bytes.size());
  const size_t prefixSize = bytes.size();
  bytes.resize(size);
  for (size_t i = prefixSize; i < size; ++i) bytes[i] = FillerByte(i);
  return bytes;
}

bool WriteTrecFile(const std::string& path, const TrecImage& image, std::string* error) {
  const std::string prefix = Prefix(image);
  const uint64_t size = FileSize(image, prefix.size());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out)
    out.write(prefix.data(), static_cast<std::streamsize>(std::min<uint64_t>(size, prefix.size())));
  char chunk[65536];
  for (uint64_t at = prefix.size(); out && at < size;) {
    const size_t part = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, size - at));
    for (size_t i = 0; i < part; ++i) chunk[i] = FillerByte(at + i);
    out.write(chunk, static_cast<std::streamsize>(part));
    at += part;
  }
  out.close();
  if (out) return true;
  if (error) *error = "cannot write '" + path + "': " + std::strerror(errno);
  return false;
}

}  // namespace Zorv::Client::Replays
