#include "replays/api/replays_text.h"

#include <locale>
#include <ostream>
#include <streambuf>

namespace Zorv::Client::Replays {

namespace {

// Appends everything written to a string of the caller's. A std::ostringstream
// would grow its string inside the C++ runtime library, with the runtime's
// operator new, and a module built with its own operator delete (module_heap)
// would then free it with the other one: harmless over plain malloc, an
// allocation mismatch that stops the process under AddressSanitizer. Writing
// through this buffer keeps every allocation of the text on the caller's side.
class StringOutput final : public std::streambuf {
 public:
  explicit StringOutput(std::string& text) : text_(text) {}

 protected:
  int_type overflow(int_type character) override {
    if (!traits_type::eq_int_type(character, traits_type::eof())) {
      text_.push_back(traits_type::to_char_type(character));
    }
    return traits_type::not_eof(character);
  }
  std::streamsize xsputn(const char* characters, std::streamsize count) override {
    text_.append(characters, static_cast<size_t>(count));
    return count;
  }

 private:
  std::string& text_;
};

// The text of `value` as a classic-locale stream writes it.
template <typename T>
std::string StreamText(const T& value) {
  std::string text;
  StringOutput buffer(text);
  std::ostream out(&buffer);
  out.imbue(std::locale::classic());
  out << value;
  return text;
}

const char* Flag(bool value) {
  return value ? "true" : "false";
}

// The double in a stream's default floating format, whatever the caller's
// stream has been set to.
std::string DefaultFloat(double value) {
  return StreamText(value);
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
  return StreamText(value);
}

template std::string ToText(const Api::ReplaysConfiguration&);
template std::string ToText(const Api::ReplayMetadata&);
template std::string ToText(const LCDS::ReplayResponseStatus&);

}  // namespace Zorv::Client::Replays
