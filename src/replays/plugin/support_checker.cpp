#include "replays/plugin/support_checker.h"

namespace Zorv::Client::Replays {

namespace {

const std::set<int32_t> kUnsupportedQueueIds{31,  32,  33,  52,  67,  90,  91,  92,  93,  94,
                                             95,  800, 801, 810, 811, 820, 821, 830, 831, 832,
                                             840, 841, 842, 850, 851, 852, 950, 951, 960, 961};

}  // namespace

const std::set<int32_t>& UnsupportedQueueIds() {
  return kUnsupportedQueueIds;
}

bool ReplaysSupportChecker::IsSupported(const std::string& gameType, int32_t queueId) const {
  if (gameType == kTutorialGameType) return false;
  return !kUnsupportedQueueIds.contains(queueId);
}

}  // namespace Zorv::Client::Replays
