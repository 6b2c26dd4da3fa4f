#include "replays/api/replays_text.h"

#include <locale>
#include <ostream>
#include <sstream>

namespace Zorv::Client::Replays {

namespace {

const char* Flag(bool value) {
  return value ? "true" : "false";
}

// The double in a stream's default floating format, whatever the caller's
// stream has been set to.
std::string DefaultFloat(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << value;
  return std::move(text).str();
}

}  // namespace

namespace Api {

std::ostream& operator<<(std::ostream& out, const ReplaysConfiguration& c) {
  return out << "{ replaysEnabled=" << Flag(c.isReplaysEnabled)
             << ", endOfGameEnabled=" << Flag(c.isReplaysForEndOfGameEnabled)
             << ", matchHistoryEnabled=" << Flag(c.isReplaysForMatchHistoryEnabled)
             << ", patching=" << Flag(c.isPatching) << ", isInTournament=" << Flag(c.isInTournament)
             << ", playingGame=" << Flag(c.isPlayingGame)
             << ", playingReplay=" << Flag(c.isPlayingReplay) << ", loggedIn=" << Flag(c.isLoggedIn)
             << ", gameVersion=" << c.gameVersion << ", minServerVersion=" << c.minServerVersion
             << ", replayConsideredLost=" << DefaultFloat(c.minutesUntilReplayConsideredLost)
             << " }";
}

const char* MetadataStateName(MetadataState state) {
  switch (state) {
    case MetadataState::checking:
      return "checking";
    case MetadataState::found:
      return "found";
    case MetadataState::watch:
      return "watch";
    case MetadataState::download:
      return "download";
    case MetadataState::downloading:
      return "downloading";
    case MetadataState::incompatible:
      return "incompatible";
    case MetadataState::missingOrExpired:
      return "missingOrExpired";
    case MetadataState::retryDownload:
      return "retryDownload";
    case MetadataState::lost:
      return "lost";
    case MetadataState::unsupported:
      return "unsupported";
    case MetadataState::error:
      return "error";
  }
  return nullptr;
}

std::ostream& operator<<(std::ostream& out, const ReplayMetadata& metadata) {
  out << "{ ";
  if (const char* name = MetadataStateName(metadata.state)) {
    out << name;
  } else {
    out << "invalid_value(" << std::to_string(static_cast<int32_t>(metadata.state)) << ")";
  }
  return out << ", " << std::to_string(metadata.gameId) << ", "
             << std::to_string(metadata.downloadProgress) << "% }";
}

}  // namespace Api

namespace LCDS {

std::ostream& operator<<(std::ostream& out, ReplayResponseStatus status) {
  switch (status) {
    case ReplayResponseStatus::OK:
      return out << "ok";
    case ReplayResponseStatus::NOT_FOUND:
      return out << "notFound";
    case ReplayResponseStatus::EXPIRED:
      return out << "expired";
    case ReplayResponseStatus::BAD_REQUEST:
      return out << "badRequest";
    case ReplayResponseStatus::INTERNAL_SERVER_ERROR:
      return out << "internalServerError";
  }
  return out;
}

}  // namespace LCDS

template <typename T>
std::string ToText(const T& value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << value;
  return std::move(text).str();
}

template std::string ToText(const Api::ReplaysConfiguration&);
template std::string ToText(const Api::ReplayMetadata&);
template std::string ToText(const LCDS::ReplayResponseStatus&);

}  // namespace Zorv::Client::Replays
