#include "zorv-host/game_server.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "host/plugin_host.h"
#include "replays/store/trec_file.h"

namespace Zorv::Host {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 5> kStatuses = {"OK", "NOT_FOUND", "EXPIRED", "BAD_REQUEST",
                                                       "INTERNAL_SERVER_ERROR"};

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name.find('/') == std::string_view::npos &&
         name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

std::string ReplayFileName(std::string_view platformId, uint64_t gameId) {
  return std::string(platformId) + "-" + std::to_string(gameId) + ".trec";
}

ServiceAnswer BadRequest(std::string_view method, std::string_view why) {
  return ServiceAnswer::Error(std::string(method) + ": " + std::string(why), "400");
}

// The request's JSON object, or why it is not one.
std::optional<BindingProperty> RequestObject(const ServiceProxyRequest& request, std::string& why) {
  BindingResult parsed = FromJsonText(request.payload);
  if (!parsed.success) {
    why = std::string(parsed.error());
    return std::nullopt;
  }
  if (parsed.value.kind() != ValueKind::Structure) {
    why = "the payload is not a JSON object";
    return std::nullopt;
  }
  return std::move(parsed.value);
}

// The game version of a replay file's metadata block; empty when unreadable.
std::string GameVersionOf(const std::string& path) {
  const std::string block = Client::Replays::ReadMetadataText(path, {});
  if (block.empty()) return "";
  const BindingResult parsed = FromJsonText(block);
  return parsed.success ? std::string(parsed.value.find("gameVersion").asString()) : "";
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    // ASCII only, whatever the process's locale says a letter is.
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

GameServer::GameServer(PluginHost& host, std::string folder, UrlBuilder urlFor)
    : host_(host), folder_(std::move(folder)), urlFor_(std::move(urlFor)) {
  host_.ServiceProxy().Script(kReplayService, "getMultipleMetadata",
                              [this](const ServiceProxyRequest& r) { return Metadata(r); });
  host_.ServiceProxy().Script(kReplayService, "getDownloadUrl",
                              [this](const ServiceProxyRequest& r) { return DownloadUrl(r); });
}

GameServer::~GameServer() {
  for (const char* method : {"getMultipleMetadata", "getDownloadUrl"}) {
    host_.ServiceProxy().Answer(kReplayService, method,
                                ServiceAnswer::Error("the game server has stopped", "503"));
  }
}

// ---- Rules --------------------------------------------------------------------------------------

std::string GameServer::SetRule(uint64_t gameId, std::string_view json) {
  const BindingResult parsed = FromJsonText(json);
  if (!parsed.success)
    return "rule for game " + std::to_string(gameId) + ": " + std::string(parsed.error());
  return SetRule(gameId, parsed.value);
}

std::string GameServer::SetRule(uint64_t gameId, const BindingProperty& value) {
  const std::string prefix = "rule for game " + std::to_string(gameId) + ": ";
  if (value.kind() != ValueKind::Structure) return prefix + "expected a JSON object";
  if (!rules_.contains(gameId) && rules_.size() >= kMaxRules) {
    return prefix + "there are " + std::to_string(kMaxRules) + " rules already";
  }
  Rule rule;
  for (const BindingProperty::FieldEntry entry : value.fields()) {
    const std::string key(entry.name);
    const BindingProperty& field = entry.value;
    const bool isText = field.kind() == ValueKind::String;
    if (key == "status") {
      const auto known = std::find(kStatuses.begin(), kStatuses.end(), field.asString());
      if (!isText || known == kStatuses.end()) {
        return prefix +
               "\"status\" must be one of OK, NOT_FOUND, EXPIRED, BAD_REQUEST, "
               "INTERNAL_SERVER_ERROR";
      }
      rule.status = std::string(field.asString());
    } else if (key == "error") {
      if (!isText || field.asString().empty()) return prefix + "\"error\" must be a non-empty text";
      rule.error = std::string(field.asString());
    } else if (key == "delayMs") {
      if (field.kind() != ValueKind::Unsigned || field.asUnsigned() > kMaxDelayMs) {
        return prefix + "\"delayMs\" must be a whole number of milliseconds from 0 to " +
               std::to_string(kMaxDelayMs);
      }
      rule.delayMs = field.asUnsigned();
    } else if (key == "noAnswer") {
      if (field.kind() != ValueKind::Bool) return prefix + "\"noAnswer\" must be true or false";
      rule.noAnswer = field.asBool();
    } else if (key == "url") {
      if (!isText) return prefix + "\"url\" must be a text";
      rule.url = std::string(field.asString());
    } else {
      return prefix + "unknown key \"" + key + "\" (known: status, error, delayMs, noAnswer, url)";
    }
  }
  rules_[gameId] = std::move(rule);
  return "";
}

bool GameServer::RemoveRule(uint64_t gameId) {
  return rules_.erase(gameId) > 0;
}

BindingProperty GameServer::Rules() const {
  BindingProperty all;
  all.makeStructure();
  for (const auto& [gameId, rule] : rules_) {
    BindingProperty& out = all.field(std::to_string(gameId));
    out.makeStructure();
    if (rule.status) out.field("status") = *rule.status;
    if (rule.error) out.field("error") = *rule.error;
    if (rule.delayMs) out.field("delayMs") = *rule.delayMs;
    if (rule.noAnswer) out.field("noAnswer") = true;
    if (rule.url) out.field("url") = *rule.url;
  }
  return all;
}

const GameServer::Rule* GameServer::RuleOf(uint64_t gameId) const {
  const auto found = rules_.find(gameId);
  return found == rules_.end() ? nullptr : &found->second;
}

std::optional<ServiceAnswer> GameServer::Override(const Rule* rule) const {
  if (!rule) return std::nullopt;
  if (rule->noAnswer) return ServiceAnswer::NoAnswer();
  if (rule->error) return Delayed(rule, ServiceAnswer::Error(*rule->error));
  return std::nullopt;
}

ServiceAnswer GameServer::Delayed(const Rule* rule, ServiceAnswer answer) const {
  if (rule && rule->delayMs) answer.After(std::chrono::milliseconds(*rule->delayMs));
  return answer;
}

// ---- Files --------------------------------------------------------------------------------------

std::optional<std::string> GameServer::FileFor(std::string_view name) const {
  if (!IsPlainName(name)) return std::nullopt;
  const std::string path = folder_ + "/" + std::string(name);
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  if (error) return std::nullopt;
  const fs::path folder = fs::canonical(folder_, error);
  if (error || real.parent_path() != folder) return std::nullopt;
  if (!fs::is_regular_file(real, error)) return std::nullopt;
  return path;
}

// ---- Methods ------------------------------------------------------------------------------------

ServiceAnswer GameServer::Metadata(const ServiceProxyRequest& request) const {
  std::string why;
  const std::optional<BindingProperty> body = RequestObject(request, why);
  if (!body) return BadRequest("getMultipleMetadata", why);
  const BindingProperty& gameIds = body->find("gameIds");
  if (gameIds.kind() != ValueKind::Collection) {
    return BadRequest("getMultipleMetadata", "\"gameIds\" is not a list");
  }
  BindingProperty answer;
  answer.field("metadataResponses").makeCollection();
  if (gameIds.size() == 0) return ServiceAnswer::Payload(ToJsonText(answer));
  if (gameIds.element(0).kind() != ValueKind::Unsigned) {
    return BadRequest("getMultipleMetadata", "a game id is not an unsigned number");
  }
  const uint64_t gameId = gameIds.element(0).asUnsigned();
  const Rule* rule = RuleOf(gameId);
  if (std::optional<ServiceAnswer> override = Override(rule)) return *override;

  BindingProperty& item = answer.field("metadataResponses").append();
  item.field("gameId") = gameId;
  BindingProperty& metadata = item.field("metadata");
  metadata.field("gameVersion") = "";
  metadata.field("fileSize") = uint64_t{0};
  const std::string platformId(body->find("platformId").asString());
  const std::optional<std::string> file = FileFor(ReplayFileName(platformId, gameId));
  if (file) {
    std::error_code error;
    const uintmax_t size = fs::file_size(*file, error);
    metadata.field("gameVersion") = GameVersionOf(*file);
    metadata.field("fileSize") =
        uint64_t{error ? 0 : std::min<uintmax_t>(size, std::numeric_limits<uint32_t>::max())};
  }
  item.field("status") = rule && rule->status ? *rule->status : file ? "OK" : "NOT_FOUND";
  return Delayed(rule, ServiceAnswer::Payload(ToJsonText(answer)));
}

ServiceAnswer GameServer::DownloadUrl(const ServiceProxyRequest& request) const {
  std::string why;
  const std::optional<BindingProperty> body = RequestObject(request, why);
  if (!body) return BadRequest("getDownloadUrl", why);
  const BindingProperty& id = body->find("gameId");
  if (id.kind() != ValueKind::Unsigned) {
    return BadRequest("getDownloadUrl", "\"gameId\" is not an unsigned number");
  }
  const Rule* rule = RuleOf(id.asUnsigned());
  if (std::optional<ServiceAnswer> override = Override(rule)) return *override;

  std::string url;
  if (rule && rule->url) {
    url = *rule->url;
  } else {
    const std::string name = ReplayFileName(body->find("platformId").asString(), id.asUnsigned());
    if (FileFor(name)) url = urlFor_(PercentEncode(name));
  }
  BindingProperty answer;
  answer.field("url") = url;
  return Delayed(rule, ServiceAnswer::Payload(ToJsonText(answer)));
}

}  // namespace Zorv::Host
