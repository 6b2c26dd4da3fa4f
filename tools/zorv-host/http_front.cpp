#include "zorv-host/http_front.h"

#include <httplib.h>

#include <fstream>
#include <future>
#include <optional>

#include "binding/json_writer.h"
#include "zorv-host/front_answers.h"
#include "zorv-host/game_server.h"
#include "zorv-host/security.h"

namespace Zorv::Host {

namespace {

constexpr char kFilesPrefix[] = "/zorv-host/v1/server/files/";
constexpr size_t kFileChunk = 64 * 1024;
constexpr size_t kMaxBody = 16 * 1024 * 1024;

const char* EventTypeText(uint32_t type) {
  switch (type) {
    case PLUGIN_RESOURCE_EVENT_UPDATE:
      return "Update";
    case PLUGIN_RESOURCE_EVENT_DELETE:
      return "Delete";
    default:
      return "Create";
  }
}

}  // namespace

HttpFront::HttpFront(PluginHost& host, GameServer& server, Config config)
    : host_(host),
      server_(server),
      config_(std::move(config)),
      telemetry_(std::make_shared<RingBuffer<TelemetryEntry>>(config_.keep)) {
  host_.TapEvents([this](const TappedEvent& event) { OnEvent(event); });
  host_.Resources().HandlePrefix(
      HOST_METHOD_POST, kTelemetryPrefix, [telemetry = telemetry_](const CallRequest& request) {
        TelemetryEntry entry;
        entry.name = request.path.substr(std::string_view(kTelemetryPrefix).size());
        if (!request.arguments.empty()) entry.fields = request.arguments.front();
        telemetry->push_back(std::move(entry));
        return CallAnswer::Value(BindingProperty(), 204);
      });
  for (const ModuleFunction& function : host_.ListModuleApi().functions) {
    const std::string& path = function.pathTemplate;
    const size_t start = path.starts_with('/') ? 1 : 0;
    pluginRoots_.insert(path.substr(start, path.find('/', start) - start));
  }
}

HttpFront::~HttpFront() {
  Stop();
  host_.TapEvents(nullptr);
}

std::string HttpFront::Start(uint16_t port) {
  http_ = std::make_unique<httplib::Server>();
  // Bodies are small JSON, YAML or MessagePack values, rules and resources.
  http_->set_payload_max_length(kMaxBody);
  // Set on the listening socket, which accepted sockets inherit: the library
  // writes an answer's headers and body separately, and with Nagle's
  // algorithm a client that delays its acknowledgements would wait for the
  // body each time.
  http_->set_tcp_nodelay(true);
  http_->set_keep_alive_max_count(kKeepAliveRequests);
  // Enough server threads for every event-stream client and the calls beside them.
  http_->new_task_queue = [] { return new httplib::ThreadPool(EventStream::kMaxClients + 8); };
  http_->set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        return Admit(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                        : httplib::Server::HandlerResponse::Handled;
      });
  const auto route = [this](const httplib::Request& request, httplib::Response& response) {
    Route(request, response);
  };
  http_->Get(".*", route);
  http_->Put(".*", route);
  http_->Post(".*", route);
  http_->Patch(".*", route);
  http_->Delete(".*", route);
  http_->Options(".*", route);
  const int bound = port == 0 ? http_->bind_to_any_port("127.0.0.1")
                              : (http_->bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) return "cannot listen on 127.0.0.1:" + std::to_string(port);
  port_ = static_cast<uint16_t>(bound);
  listener_ = std::thread([this] { http_->listen_after_bind(); });
  return "";
}

void HttpFront::Stop() {
  events_.Close();
  host_.Work().Stop();
  if (http_) http_->stop();
  if (listener_.joinable()) listener_.join();
}

bool HttpFront::Admit(const httplib::Request& request, httplib::Response& response) const {
  if (!AllowedHost(request.get_header_value("Host"), port_)) {
    SetFailure(response, 403,
               "the Host header must name 127.0.0.1, localhost or [::1] with "
               "this server's port");
    return false;
  }
  if (!AllowedOrigin(request.get_header_value("Origin"), port_)) {
    SetFailure(response, 403, "cross-origin requests are refused");
    return false;
  }
  const bool open = request.method == "GET" && request.path.starts_with(kFilesPrefix);
  if (config_.auth && !open &&
      !Authorized(request.get_header_value("Authorization"), config_.token)) {
    response.set_header("WWW-Authenticate", "Basic realm=\"zorv-host\"");
    SetFailure(response, 401, "a token is needed: Authorization: Bearer <token>");
    return false;
  }
  return true;
}

void HttpFront::Route(const httplib::Request& request, httplib::Response& response) {
  if (request.path == "/events" && request.method == "GET") return ServeEvents(response);
  if (request.path.starts_with(kFilesPrefix) && request.method == "GET")
    return ServeFile(request.path.substr(std::string_view(kFilesPrefix).size()), response);
  try {
    host_.Work().Submit([&] { Serve(request, response); });
  } catch (const std::future_error&) {
    SetFailure(response, 503, "zorv-host is stopping");
  }
}

void HttpFront::ServeEvents(httplib::Response& response) {
  std::shared_ptr<EventStream::Client> client = events_.Join();
  if (!client) return SetFailure(response, 503, "no more event-stream clients are taken");
  response.set_header("Cache-Control", "no-cache");
  auto greeted = std::make_shared<bool>(false);
  response.set_chunked_content_provider(
      "text/event-stream",
      [client, greeted](size_t, httplib::DataSink& sink) {
        if (!*greeted) {
          *greeted = true;
          constexpr std::string_view kHello = ": zorv-host events\n\n";
          return sink.write(kHello.data(), kHello.size());
        }
        std::optional<std::string> message;
        if (!client->Next(std::chrono::seconds(15), message)) return false;
        const std::string text = message ? "data: " + *message + "\n\n" : ": keep-alive\n\n";
        return sink.write(text.data(), text.size());
      },
      [this, client](bool) { events_.Leave(client); });
}

void HttpFront::ServeFile(const std::string& name, httplib::Response& response) {
  std::optional<std::string> path;
  try {
    path = host_.Work().Submit([&] { return server_.FileFor(name); });
  } catch (const std::future_error&) {
    return SetFailure(response, 503, "zorv-host is stopping");
  }
  auto file = path ? std::make_shared<std::ifstream>(*path, std::ios::binary) : nullptr;
  if (!file || !*file) return SetFailure(response, 404, "no such server file: " + name);
  file->seekg(0, std::ios::end);
  const auto size = static_cast<size_t>(file->tellg());
  file->seekg(0);
  response.set_content_provider(size, "application/octet-stream",
                                [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                  std::string chunk(std::min(length, kFileChunk), '\0');
                                  file->seekg(static_cast<std::streamoff>(offset));
                                  file->read(chunk.data(),
                                             static_cast<std::streamsize>(chunk.size()));
                                  const auto got = static_cast<size_t>(file->gcount());
                                  return got > 0 && sink.write(chunk.data(), got);
                                });
}

void HttpFront::OnEvent(const TappedEvent& event) {
  // The plug-in sends each change of its resources twice, under the grouped
  // name and under the URL; the URL's copy says the same with its URI.
  if (event.name.starts_with("OnJsonApiEvent_") && event.uri.empty()) return;
  if (events_.Clients() == 0) return;
  BindingProperty message;
  message.field("name") = std::string_view(event.name);
  message.field("uri") = std::string_view(event.uri);
  message.field("eventType") = std::string_view(EventTypeText(event.eventType));
  message.field("data") = event.data;
  events_.Publish(ToJsonText(message));
}

}  // namespace Zorv::Host
