#include "framework/module/plugin_identity.h"

#include <cctype>

#include "logging/format_string.h"
#include "logging/log.h"

namespace Zorv::Client {

const PluginType& BackendPluginType() {
  static const PluginType type{"backend", ""};
  return type;
}

const PluginType& FrontendPluginType() {
  static const PluginType type{"frontend", ""};
  return type;
}

PluginIdentity GetFullNameFromShortNameAndType(std::string_view shortName, const PluginType& type) {
  const std::string name(shortName);
  const char* prefix = "tnk-xx-";
  if (type.typeName == "backend") {
    prefix = "tnk-be-";
  } else if (type.typeName == "frontend") {
    prefix = "tnk-fe-";
  } else {
    const std::string message =
        FormatString("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
                     name, type.typeName);
    Log(LogLevel::Error, kLogDBG, "            Plugin Manager| %s", message.c_str());
  }
  return PluginIdentity{prefix + name, name, type.typeName, type.subtype};
}

std::string MakeIdentifier(std::string_view methodText, std::string_view path) {
  std::string source;
  if (!methodText.empty()) {
    source += methodText.front();
    for (char c : methodText.substr(1)) {
      source += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    source += '/';
  }
  source += path;

  std::string identifier;
  bool capitalizeNext = true;
  for (char c : source) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        capitalizeNext = true;
        break;
      case '{':
        identifier += "By";
        capitalizeNext = true;
        break;
      case '}':
        break;
      default:
        if (capitalizeNext) {
          identifier += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
          capitalizeNext = false;
        } else {
          identifier += c;
        }
    }
  }
  return identifier;
}

}  // namespace Zorv::Client
