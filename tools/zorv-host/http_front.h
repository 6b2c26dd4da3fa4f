// HttpFront: zorv-host's HTTP server on 127.0.0.1. Server threads only check
// the request (Host, Origin, token), hand the work to the host thread
// (host.Work().Submit) and wait for its answer; everything that touches the
// plug-in, the resources or the game server runs on the host thread.
//
//   HttpFront front(host, server, {.auth = true, .token = token});
//   std::string error = front.Start(0);   // binds; front.Port() is known now
//   ... HostLoop on this thread ...
//   front.Stop();                          // before the plug-in shuts down
//
// Routes (front_routes.cpp): the plug-in's functions at their paths, any
// other path a host resource (GET, PUT, DELETE), GET /events, GET /help and
// the /zorv-host/v1/ routes (log, telemetry, server rules and files).
// Promises:
// - Only the simulated server's files (GET /zorv-host/v1/server/files/...)
//   are served without the token; a wrong Host header or a foreign Origin is
//   refused with 403 before anything else, a missing token with 401.
// - No answer carries Access-Control-Allow-Origin.
// - A request whose work cannot run any more (the host is stopping) is
//   answered 503.
// - Accepted sockets have TCP_NODELAY set, and a kept-alive connection serves
//   up to kKeepAliveRequests requests before it is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "host/plugin_host.h"
#include "host/ring_buffer.h"
#include "zorv-host/event_stream.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace Zorv::Host {

class GameServer;

struct TelemetryEntry {
  std::string name;
  BindingProperty fields;
};

class HttpFront {
 public:
  // A browser or script polling the host keeps its connection this long (the
  // server library's default closes it every 5 requests), and no connection
  // lives for ever.
  static constexpr size_t kKeepAliveRequests = 1000;

  struct Config {
    bool auth = true;
    std::string token;
    size_t keep = 1000;  // log and telemetry entries answered
  };

  // On the host thread, with the plug-in initialised: taps the host's events
  // and takes the telemetry resource. `host` and `server` outlive the front.
  HttpFront(PluginHost& host, GameServer& server, Config config);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Binds 127.0.0.1:port (0: a free port) and serves on threads of its own.
  // Answers the empty text, or why it cannot listen.
  std::string Start(uint16_t port);
  uint16_t Port() const { return port_; }
  // Ends the event streams, refuses handed-over work (waiting requests get
  // 503) and stops the server threads. On the host thread, after its loop.
  void Stop();

 private:
  void Route(const httplib::Request& request, httplib::Response& response);
  bool Admit(const httplib::Request& request, httplib::Response& response) const;
  void ServeEvents(httplib::Response& response);
  void ServeFile(const std::string& name, httplib::Response& response);
  // On the host thread.
  void Serve(const httplib::Request& request, httplib::Response& response);
  void ServeOwn(const httplib::Request& request, const std::string& path,
                httplib::Response& response);
  void ServePlugin(const httplib::Request& request, httplib::Response& response);
  void ServeResource(const httplib::Request& request, httplib::Response& response);
  void ServeRules(const httplib::Request& request, const std::string& path,
                  httplib::Response& response);
  void OnEvent(const TappedEvent& event);

  PluginHost& host_;
  GameServer& server_;
  Config config_;
  uint16_t port_ = 0;
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;
  EventStream events_;
  // First path segments of the plug-in's functions ("pex-replays").
  std::set<std::string> pluginRoots_;
  // Shared with the telemetry resource's handler, which the host keeps.
  std::shared_ptr<RingBuffer<TelemetryEntry>> telemetry_;
};

}  // namespace Zorv::Host
