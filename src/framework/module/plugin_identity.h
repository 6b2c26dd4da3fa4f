// A module's names: its type (backend or frontend) and its identity, derived
// from the short name, plus MakeIdentifier, which turns a method and a path or
// name into an upper camel case identifier.
//
//   MakeIdentifier("", "pex-replays")
//       // "PexReplays"
//   MakeIdentifier("GET", "/pex-replays/v1/metadata/{gameId}")
//       // "GetPexReplaysV1MetadataByGameId"
#pragma once

#include <string>
#include <string_view>

namespace Zorv::Client {

struct PluginType {
  std::string typeName;
  std::string subtype;
};

const PluginType& BackendPluginType();   // "backend"
const PluginType& FrontendPluginType();  // "frontend"

struct PluginIdentity {
  std::string fullName;
  std::string shortName;
  std::string typeName;
  std::string subtype;
};

// "tnk-be-", "tnk-fe-" or (logging an error) "tnk-xx-" followed by the short name.
PluginIdentity GetFullNameFromShortNameAndType(std::string_view shortName, const PluginType& type);

std::string MakeIdentifier(std::string_view methodText, std::string_view path);

}  // namespace Zorv::Client
