// The HTTP front's work on the host thread: the plug-in's functions, the host
// resources and zorv-host's own routes.
#include <httplib.h>

#include <charconv>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "zorv-host/front_answers.h"
#include "zorv-host/game_server.h"
#include "zorv-host/http_front.h"

namespace Zorv::Host {

namespace {

constexpr std::string_view kOwnPrefix = "/zorv-host/";
constexpr std::string_view kRulesPath = "/zorv-host/v1/server/rules";

uint32_t MethodCode(const std::string& method) {
  if (method == "DELETE") return HOST_METHOD_DELETE;
  if (method == "GET") return HOST_METHOD_GET;
  if (method == "HEAD") return HOST_METHOD_HEAD;
  if (method == "OPTIONS") return HOST_METHOD_OPTIONS;
  if (method == "PATCH") return HOST_METHOD_PATCH;
  if (method == "POST") return HOST_METHOD_POST;
  if (method == "PUT") return HOST_METHOD_PUT;
  return HOST_METHOD_CUSTOM;
}

std::string FirstSegment(const std::string& path) {
  const size_t start = path.starts_with('/') ? 1 : 0;
  return path.substr(start, path.find('/', start) - start);
}

}  // namespace

void HttpFront::Serve(const httplib::Request& request, httplib::Response& response) {
  const std::string& path = request.path;
  if (path.starts_with(kOwnPrefix)) return ServeOwn(request, path, response);
  if (path == "/help") {
    if (request.method != "GET") return SetFailure(response, 405, "/help answers GET only");
    return SetJson(response, 200, HelpJson(host_.ListModuleApi()));
  }
  if (path == "/events") return SetFailure(response, 405, "/events answers GET only");
  if (pluginRoots_.count(FirstSegment(path))) return ServePlugin(request, response);
  ServeResource(request, response);
}

void HttpFront::ServePlugin(const httplib::Request& request, httplib::Response& response) {
  EndpointCall call;
  call.method = MethodCode(request.method);
  if (call.method == HOST_METHOD_CUSTOM) call.customMethod = request.method;
  // The raw target: the plug-in decodes its path parameters and query itself.
  call.url = request.target;
  for (const auto& [name, value] : request.headers) call.headers.emplace_back(name, value);
  call.contentType = request.get_header_value("Content-Type");
  call.body = request.body;
  call.hasBody = !request.body.empty() || request.has_header("Content-Type");
  const EndpointAnswer answer = host_.CallModule(call);
  if (!answer.ok) {
    const int status = answer.status >= 400 && answer.status <= 599 ? answer.status : 500;
    return SetFailure(response, status, answer.error);
  }
  const int status = answer.status >= 200 && answer.status <= 299 ? answer.status : 200;
  if (answer.streamed) {
    response.status = status;
    response.set_content(answer.streamBody, "application/octet-stream");
    return;
  }
  if (answer.value.isEmpty()) {
    response.status = 204;
    return;
  }
  SetJson(response, status, answer.value);
}

void HttpFront::ServeResource(const httplib::Request& request, httplib::Response& response) {
  ResourceTable& resources = host_.Resources();
  const std::string& path = request.path;
  if (request.method == "GET") {
    const BindingProperty* value = resources.Resource(path);
    if (!value) return SetFailure(response, 404, "no host resource at " + path);
    return SetJson(response, 200, *value);
  }
  if (request.method == "PUT") {
    BindingResult parsed = FromJsonText(request.body);
    if (!parsed.success)
      return SetFailure(response, 400, "the body must be JSON: " + std::string(parsed.error()));
    resources.SetResourceValue(path, std::move(parsed.value));
    response.status = 204;
    return;
  }
  if (request.method == "DELETE") {
    if (!resources.RemoveResource(path))
      return SetFailure(response, 404, "no host resource at " + path);
    response.status = 204;
    return;
  }
  SetFailure(response, 405, "a host resource answers GET, PUT and DELETE");
}

void HttpFront::ServeOwn(const httplib::Request& request, const std::string& path,
                         httplib::Response& response) {
  if (path.starts_with(kRulesPath)) return ServeRules(request, path, response);
  if (request.method != "GET") return SetFailure(response, 405, path + " answers GET only");
  if (path == "/zorv-host/v1/log") return SetJson(response, 200, LogJson(host_.Logs()));
  if (path == "/zorv-host/v1/telemetry") return SetJson(response, 200, TelemetryJson(*telemetry_));
  SetFailure(response, 404, "no such zorv-host route: " + path);
}

void HttpFront::ServeRules(const httplib::Request& request, const std::string& path,
                           httplib::Response& response) {
  if (path == kRulesPath) {
    if (request.method != "GET") return SetFailure(response, 405, path + " answers GET only");
    return SetJson(response, 200, server_.Rules());
  }
  const std::string_view id = std::string_view(path).substr(kRulesPath.size());
  uint64_t gameId = 0;
  const bool named = id.size() >= 2 && id.starts_with('/') && [&] {
    const auto [end, error] = std::from_chars(id.data() + 1, id.data() + id.size(), gameId);
    return error == std::errc() && end == id.data() + id.size();
  }();
  if (!named) return SetFailure(response, 400, "a rule's path ends with a decimal game id");
  if (request.method == "PUT") {
    const std::string refused = server_.SetRule(gameId, request.body);
    if (!refused.empty()) return SetFailure(response, 400, refused);
    response.status = 204;
    return;
  }
  if (request.method == "DELETE") {
    if (!server_.RemoveRule(gameId))
      return SetFailure(response, 404, "game " + std::to_string(gameId) + " has no rule");
    response.status = 204;
    return;
  }
  SetFailure(response, 405, "a rule answers PUT and DELETE");
}

}  // namespace Zorv::Host
