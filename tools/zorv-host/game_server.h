// GameServer: the game server's replay service "replays.retrieval", simulated
// on a PluginHost's service proxy from the replay files of one folder (each
// "<platformId>-<gameId>.trec"), with per-game rules that make it misbehave.
//
//   GameServer server(host, workspace.ServerFolder(), [port](const std::string& name) {
//     return "http://127.0.0.1:" + std::to_string(port) + "/zorv-host/v1/server/files/" + name;
//   });
//   server.SetRule(6001, R"({"status": "EXPIRED", "delayMs": 1500})");
//   std::optional<std::string> path = server.FileFor("NA1-6001.trec");  // for the file route
//
// Methods:
// - "getMultipleMetadata" answers one item for the request's first game id:
//   status OK with the game version of the file's metadata block and the
//   file's size when the platform's file of that game exists, else NOT_FOUND.
// - "getDownloadUrl" answers {"url": ...}: the builder's address of the
//   game's file (its name percent-encoded), or "" when there is no such file.
// Rules, per game id, for both methods unless said otherwise: "status" (the
// getMultipleMetadata status, upper-case spelling), "error" (the service
// fails with this text), "delayMs" (the answer comes this much later),
// "noAnswer" (no answer ever comes), "url" (what getDownloadUrl answers, as
// given: it may be empty or hostile on purpose).
//
// Everything runs on the host thread (the HTTP front hands work over with
// host.Work()). The services stay scripted on the host after the server goes
// away, answering an error, so a late request never reaches a dead object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "binding/binding_property.h"
#include "host/service_proxy_server.h"

namespace Zorv::Host {

class PluginHost;

inline constexpr char kReplayService[] = "replays.retrieval";

class GameServer {
 public:
  // Gets a file name that is already percent-encoded.
  using UrlBuilder = std::function<std::string(const std::string& encodedFileName)>;
  // Rules are for tests and experiments; this many is plenty.
  static constexpr size_t kMaxRules = 1000;
  static constexpr uint64_t kMaxDelayMs = 3'600'000;

  // Scripts both methods on host.ServiceProxy(). `host` must outlive the server.
  GameServer(PluginHost& host, std::string folder, UrlBuilder urlFor);
  ~GameServer();
  GameServer(const GameServer&) = delete;
  GameServer& operator=(const GameServer&) = delete;

  // Replaces the game's rule with `rule`, a JSON object. Answers the empty
  // text, or why the rule is refused (nothing changes then).
  std::string SetRule(uint64_t gameId, std::string_view json);
  std::string SetRule(uint64_t gameId, const BindingProperty& rule);
  // False when the game had no rule.
  bool RemoveRule(uint64_t gameId);
  // {"<gameId>": rule, ...}, each rule with the keys it was given.
  BindingProperty Rules() const;

  // The path of the server folder's file `name`, for a plain file name of that
  // folder only: no "/", "\\", "..", NUL, and a regular file that stays inside
  // the folder once symbolic links are followed. Nothing otherwise.
  std::optional<std::string> FileFor(std::string_view name) const;

  const std::string& Folder() const { return folder_; }

 private:
  struct Rule {
    std::optional<std::string> status;
    std::optional<std::string> error;
    std::optional<uint64_t> delayMs;
    bool noAnswer = false;
    std::optional<std::string> url;
  };
  // The rule's answer when it overrides the method's own; empty otherwise.
  std::optional<ServiceAnswer> Override(const Rule* rule) const;
  ServiceAnswer Delayed(const Rule* rule, ServiceAnswer answer) const;
  const Rule* RuleOf(uint64_t gameId) const;
  ServiceAnswer Metadata(const ServiceProxyRequest& request) const;
  ServiceAnswer DownloadUrl(const ServiceProxyRequest& request) const;

  PluginHost& host_;
  std::string folder_;
  UrlBuilder urlFor_;
  std::map<uint64_t, Rule> rules_;
};

// `text` with every byte outside A-Z a-z 0-9 "-._~" written as %XX.
std::string PercentEncode(std::string_view text);

}  // namespace Zorv::Host
