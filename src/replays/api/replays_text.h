// The text forms that log lines use for the plug-in's values.
//
//   std::ostringstream out;
//   out << Api::ReplayMetadata{Api::MetadataState::unsupported, 42, 0};  // { unsupported, 42, 0% }
//
// The configuration prints its flags, texts and the lost-minutes double (in
// the stream's default floating format, "%g"-like: 30.0 prints as 30) as
// "{ replaysEnabled=false, ..., replayConsideredLost=30 }". A state outside
// the enumeration prints as "invalid_value(<signed number>)"; a response status
// outside the enumeration prints nothing. The stream's own formatting flags
// are left as they were.
#pragma once

#include <iosfwd>
#include <string>

#include "replays/api/lcds_types.h"
#include "replays/api/replays_types.h"

namespace Zorv::Client::Replays {

namespace Api {

std::ostream& operator<<(std::ostream& out, const ReplaysConfiguration& configuration);
std::ostream& operator<<(std::ostream& out, const ReplayMetadata& metadata);

// The registered spelling of a state, or null for a value outside the enumeration.
const char* MetadataStateName(MetadataState state);

}  // namespace Api

namespace LCDS {

std::ostream& operator<<(std::ostream& out, ReplayResponseStatus status);

}  // namespace LCDS

// The text form of a value, for log calls.
template <typename T>
std::string ToText(const T& value);

extern template std::string ToText(const Api::ReplaysConfiguration&);
extern template std::string ToText(const Api::ReplayMetadata&);
extern template std::string ToText(const LCDS::ReplayResponseStatus&);

}  // namespace Zorv::Client::Replays
