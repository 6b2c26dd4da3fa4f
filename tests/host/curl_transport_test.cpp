#include "host/curl_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "host/fake_plugin.h"
#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

std::string Header(const HttpResponse& response, const std::string& name) {
  for (const auto& [key, value] : response.headers) {
    if (key == name) return value;
  }
  return "(none)";
}

// A server on 127.0.0.1 at a port of the system's choice, for the test's life.
class LocalServer {
 public:
  LocalServer() {
    server.Get(R"(/status/(\d+))",
               [](const httplib::Request& request, httplib::Response& response) {
                 response.status = std::stoi(request.matches[1]);
                 if (response.status != 204)
                   response.set_content("status " + request.matches[1].str(), "text/plain");
                 response.set_header("X-Answer", "yes");
               });
    server.Post("/echo", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(
          request.method + " " + request.get_header_value("X-Test") + " " + request.body,
          "text/plain");
    });
    server.Put("/echo", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(request.method + " " + request.body, "text/plain");
    });
    port = server.bind_to_any_port("127.0.0.1");
    // Listening already: connections wait in the backlog until the loop runs.
    thread = std::thread([this] { server.listen_after_bind(); });
  }
  ~LocalServer() {
    server.stop();
    thread.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }

  httplib::Server server;
  int port = 0;
  std::thread thread;
};

HttpRequest Request(const std::string& method, std::string url, std::string body = "") {
  HttpRequest request;
  request.methodText = method;
  request.url = std::move(url);
  request.body = std::move(body);
  return request;
}

TEST(CurlHttpTransportTest, ACompletedTransferAnswersItsStatusHeadersAndBody) {
  LocalServer local;
  CurlHttpTransport curl;
  for (const int status : {200, 404, 204}) {
    SCOPED_TRACE(status);
    const HttpResponse response =
        curl.Send(Request("GET", local.Url("/status/" + std::to_string(status))));
    EXPECT_EQ(response.resultCode, 0) << response.errorText;
    EXPECT_EQ(response.status, status);
    EXPECT_EQ(Header(response, "X-Answer"), "yes");
    EXPECT_EQ(response.body, status == 204 ? "" : "status " + std::to_string(status));
  }

  HttpRequest post = Request("POST", local.Url("/echo"), std::string("a\0b", 3));
  post.headers = {{"X-Test", "sent"}};
  EXPECT_EQ(curl.Send(post).body, std::string("POST sent a\0b", 13));
  EXPECT_EQ(curl.Send(Request("PUT", local.Url("/echo"), "put body")).body, "PUT put body");
}

TEST(CurlHttpTransportTest, AFailedTransferAnswersCurlsCodeAndTextWithNoStatus) {
  // Bound but not listening: a connection to it is refused.
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(socket, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";

  CurlHttpTransport curl;
  for (const std::string& url :
       {refused, std::string("file:///etc/hostname"), std::string("not a url")}) {
    SCOPED_TRACE(url);
    const HttpResponse response = curl.Send(Request("GET", url));
    EXPECT_NE(response.resultCode, 0);
    EXPECT_EQ(response.status, 0);
    EXPECT_FALSE(response.errorText.empty());
    EXPECT_TRUE(response.body.empty());
  }
  close(socket);
}

TEST(CurlHttpTransportTest, TheHostServesHandedOverWorkWhileATransferIsInFlight) {
  LocalServer local;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  bool answeredAfterRelease = false;
  local.server.Get("/slow", [&](const httplib::Request&, httplib::Response& response) {
    // Bounded, so a host that stalls fails the test instead of hanging it.
    answeredAfterRelease = released.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    response.set_content("slow", "text/plain");
  });
  CurlHttpTransport curl;
  PluginHost::Options options;
  options.transport = &curl;
  PluginHost host(options);
  Testing::FakePlugin plugin;
  plugin.Attach(host);

  std::vector<std::string> steps;
  std::thread server([&] {
    host.Work().Submit([&] { steps.push_back("served meanwhile"); });
    release.set_value();
  });
  const Testing::FakeResponse response = plugin.Send(HOST_METHOD_GET, local.Url("/slow"));
  steps.push_back("transfer done");
  server.join();

  EXPECT_EQ(response.resultCode, 0) << response.body;
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "slow");
  EXPECT_TRUE(answeredAfterRelease);
  EXPECT_EQ(steps, (std::vector<std::string>{"served meanwhile", "transfer done"}));
}

}  // namespace
}  // namespace Zorv::Host
