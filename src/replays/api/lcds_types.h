// The request and response types of the two server calls made through the
// service proxy: the metadata lookup and the download address. Their
// registration (replays_api_registration.h) fixes the JSON keys and the
// upper-case status spellings the server uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Zorv::Client::Replays::LCDS {

enum class ReplayResponseStatus : int32_t {
  OK = 0,
  NOT_FOUND = 1,
  EXPIRED = 2,
  BAD_REQUEST = 3,
  INTERNAL_SERVER_ERROR = 4,
};

struct ReplayMetadataV2 {
  std::string gameVersion;
  uint32_t fileSize = 0;
};

struct MultipleReplayMetadataResponseItemV2 {
  uint64_t gameId = 0;
  ReplayResponseStatus status = ReplayResponseStatus::OK;
  ReplayMetadataV2 metadata;
};

struct MultipleReplayMetadataResponseV2 {
  std::vector<MultipleReplayMetadataResponseItemV2> metadataResponses;
};

struct MultipleReplayMetadataRequestV2 {
  std::string platformId;
  std::vector<uint64_t> gameIds;
};

struct DownloadUrlRequestV2 {
  std::string platformId;
  uint64_t gameId = 0;
};

struct DownloadUrlResponseV2 {
  std::string url;
};

}  // namespace Zorv::Client::Replays::LCDS
