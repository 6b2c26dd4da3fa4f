#include "replays/store/game_version_extractor.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "framework/module/app_module.h"
#include "logging/format_string.h"
#include "logging/log.h"
#include "platform/join_path.h"
#include "platform/version_resource.h"

namespace Zorv::Client::Replays {

VersionResourceCalls VersionResourceCalls::Platform() {
  return VersionResourceCalls{&Zorv::Platform::GetFileVersionInfoSize,
                              &Zorv::Platform::GetFileVersionInfo, &Zorv::Platform::VerQueryValue};
}

GameVersionExtractor::GameVersionExtractor(AppModule& module, VersionResourceCalls calls)
    : module_(module), calls_(std::move(calls)) {}

MaybeType<Failure, std::string> GameVersionExtractor::GetGameClientFolder() {
  auto paths =
      module_.Call<std::map<std::string, std::string>>(HOST_METHOD_GET, kPatcherPathsResource);
  if (!paths) {
    return MakeFailureText(0, "VersionExtractor could not get path to Vellmoor game client");
  }
  const auto found = paths.value().find(kGameClientFolderKey);
  if (found == paths.value().end()) {
    return MakeFailureText(0, "Could not find path to Vellmoor game client in paths from patcher");
  }
  return std::move(found->second);
}

MaybeType<Failure, std::string> GameVersionExtractor::GetGameClientPath(
    std::string_view executableName) {
  MaybeType<Failure, std::string> folder = GetGameClientFolder();
  if (!folder) return folder;
  std::optional<std::string> path = Zorv::Platform::JoinPath({folder.value(), executableName});
  if (!path) {
    return MakeFailureText(0, FormatString("Unable to build game client path. Its file path "
                                           "exceeds the allowed limit of %1 characters.",
                                           Zorv::Platform::kMaxPathChars));
  }
  return std::move(*path);
}

MaybeType<Failure, std::string> GameVersionExtractor::GetInstalledGameVersion() {
  MaybeType<Failure, std::string> found = GetGameClientPath(kGameClientExecutable);
  if (!found) {
    Log(LogLevel::Warn, kLogDBG, "GameVersionExtractor: Failure code '%d'", found.failure().code);
    return MakeFailureText(0, "Unable to find game client application");
  }
  const std::string& path = found.value();
  const auto failure = [&path](const char* message) {
    return MakeFailureText(0, FormatString(message, path));
  };

  const uint32_t size = calls_.getSize(path);
  if (size == 0) {
    return failure("Unable to size version information from game client application, path=%1");
  }
  const std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
  if (!buffer) {
    Log(LogLevel::Warn, kLogDBG, "GameVersionExtractor: malloc failed for %lu bytes",
        static_cast<unsigned long>(size));
    return failure("Unable to size version information from game client application, path=%1");
  }
  if (!calls_.getInfo(path, size, buffer.get())) {
    return failure("Unable to read version information from game client application, path=%1");
  }
  // The fixed information is copied out only when the block holds all of it.
  const void* value = nullptr;
  uint32_t length = 0;
  Zorv::Platform::FixedFileInfo info;
  if (!calls_.query(buffer.get(), size, "\\", &value, &length) || value == nullptr ||
      length < sizeof info) {
    return failure("Unable to parse game version from game client application, path=%1");
  }
  std::memcpy(&info, value, sizeof info);
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", info.fileVersionMS >> 16,
                info.fileVersionMS & 0xFFFF, info.fileVersionLS >> 16, info.fileVersionLS & 0xFFFF);
  return std::string(text);
}

std::optional<GameVersionNumbers> ParseGameVersion(const std::string& text) {
  GameVersionNumbers parts{};
  const char* at = text.c_str();
  const char* const end = at + std::strlen(at);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) {
      if (*at != '.') break;
      ++at;
    }
    while (std::isspace(static_cast<unsigned char>(*at))) ++at;
    if (*at == '+') ++at;
    const auto [next, error] = std::from_chars(at, end, parts[i]);
    if (error != std::errc{}) break;
    at = next;
    if (i + 1 == parts.size()) return parts;
  }
  Log(LogLevel::Warn, kLogDBG, "Plugin could not parse full game version '%s'", text.c_str());
  return std::nullopt;
}

}  // namespace Zorv::Client::Replays
