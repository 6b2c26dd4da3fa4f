#include "host/curl_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <utility>
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

// Answers each connection on 127.0.0.1 with `reply` as it is (after reading
// the request's first bytes) and closes it: for answers that an HTTP library
// would not send, such as a length it does not keep.
class RawServer {
 public:
  explicit RawServer(std::string reply) : reply_(std::move(reply)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    EXPECT_EQ(::listen(listener_, 4), 0);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0) return;
        char request[4096];
        (void)!::recv(connection, request, sizeof request, 0);
        (void)!::send(connection, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        ::close(connection);
      }
    });
  }
  ~RawServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  std::string reply_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
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

// Bodies of several MiB arrive byte for byte whether the length is announced
// (one reservation) or not (chunked: the buffer grows as the bytes come).
TEST(CurlHttpTransportTest, LargeBodiesArriveWholeWithOrWithoutAnAnnouncedLength) {
  std::string large((5 << 20) + 7, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 131 + (i >> 12));
  LocalServer local;
  local.server.Get("/announced", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(large, "application/octet-stream");
  });
  local.server.Get("/chunked", [&](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider(
        "application/octet-stream", [&](size_t offset, httplib::DataSink& sink) {
          if (offset == large.size()) {
            sink.done();
            return true;
          }
          return sink.write(large.data() + offset, std::min<size_t>(large.size() - offset, 70001));
        });
  });
  CurlHttpTransport curl;
  for (const std::string path : {"/announced", "/chunked"}) {
    SCOPED_TRACE(path);
    const HttpResponse response = curl.Send(Request("GET", local.Url(path)));
    EXPECT_EQ(response.resultCode, 0) << response.errorText;
    EXPECT_EQ(response.body.size(), large.size());
    EXPECT_TRUE(response.body == large);
  }
}

// A server's length is believed only up to a bound, and a body past the
// transport's limit ends the transfer: neither can make the host allocate
// what the server merely claims.
TEST(CurlHttpTransportTest, AnnouncedLengthsAndLongBodiesAreBounded) {
  struct Case {
    std::string name;
    std::string reply;
    size_t maxBody;
    std::string error;  // empty: any failure text
  };
  const std::vector<Case> cases = {
      {"a length far past the body", "HTTP/1.1 200 OK\r\nContent-Length: 68719476736\r\n\r\nabc",
       UINT32_MAX, ""},
      {"a length a little past the body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
       UINT32_MAX, ""},
      {"a body past the limit", "HTTP/1.1 200 OK\r\n\r\n" + std::string(5000, 'x'), 1000,
       "the response body is larger than 1000 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer raw(c.reply);
    CurlHttpTransport::Options options;
    options.maxBodyBytes = c.maxBody;
    const HttpResponse response = CurlHttpTransport(options).Send(Request("GET", raw.Url()));
    EXPECT_NE(response.resultCode, 0);
    EXPECT_EQ(response.status, 0);
    if (c.error.empty()) {
      EXPECT_FALSE(response.errorText.empty());
    } else {
      EXPECT_EQ(response.errorText, c.error);
    }
  }
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
