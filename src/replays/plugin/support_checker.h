// Which games leave a replay that can be watched at all: not the tutorial, and
// not the queues listed in UnsupportedQueueIds. The MetadataStore owns one
// checker and marks the replays of every other game unsupported.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "replays/store/metadata_store.h"

namespace Zorv::Client::Replays {

inline constexpr char kTutorialGameType[] = "TUTORIAL_GAME";

// The 30 queues whose games have no watchable replay; built when the library
// is loaded.
const std::set<int32_t>& UnsupportedQueueIds();

class ReplaysSupportChecker final : public SupportChecker {
 public:
  // False for the tutorial game type (exact text) whatever the queue, and for
  // an unsupported queue; true otherwise.
  bool IsSupported(const std::string& gameType, int32_t queueId) const override;
};

}  // namespace Zorv::Client::Replays
