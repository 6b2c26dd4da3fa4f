// The HTTP front in this process over real loopback connections, with the real
// plug-in behind it and this thread as the host thread: how long a kept-alive
// connection lasts, and that answers are not held back by Nagle's algorithm.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "demo_host.h"
#include "host/plugin_host.h"
#include "support/temp_folder.h"
#include "zorv-host/demo_workspace.h"
#include "zorv-host/game_server.h"
#include "zorv-host/http_front.h"
#include "zorv-host/workspace.h"

namespace Zorv::Host {
namespace {

constexpr char kToken[] = "0123456789abcdef";

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

uint16_t PortOf(int fd, bool peer) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  const int got = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return got == 0 && address.sin_family == AF_INET ? ntohs(address.sin_port) : 0;
}

// Sends one request and reads its answer (headers and a Content-Length body);
// the empty text when the connection broke.
std::string Exchange(int fd, const std::string& request) {
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size()))
    return "";
  std::string answer;
  char chunk[4096];
  size_t end = std::string::npos;
  size_t total = 0;
  while (end == std::string::npos || answer.size() < total) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return "";
    answer.append(chunk, static_cast<size_t>(n));
    if (end == std::string::npos && (end = answer.find("\r\n\r\n")) != std::string::npos) {
      const size_t at = answer.find("Content-Length: ");
      total = end + 4 + (at < end ? std::strtoull(answer.c_str() + at + 16, nullptr, 10) : 0);
    }
  }
  return answer;
}

class HttpFrontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartDemoHost(workspace, host));
    front.emplace(host, server, HttpFront::Config{.auth = true, .token = kToken});
    ASSERT_EQ(front->Start(0), "");
  }

  // Runs `client` on a thread of its own while this thread is the host thread.
  void WithClient(const std::function<void()>& client) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
      client();
      done = true;
      host.Work().Wake();
    });
    while (!done) {
      host.RunPending();
      host.WaitForWork();
    }
    thread.join();
  }

  std::string Request(const std::string& path, bool token = true) const {
    const std::string port = std::to_string(front->Port());
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n" +
           (token ? std::string("Authorization: Bearer ") + kToken + "\r\n" : "") + "\r\n";
  }

  // The front's end of the connection `client` opened: a descriptor of this process.
  int ServerEnd(int client) const {
    int found = -1;
    DIR* folder = ::opendir("/proc/self/fd");
    while (dirent* entry = folder ? ::readdir(folder) : nullptr) {
      const int fd = std::atoi(entry->d_name);
      if (fd != client && PortOf(fd, false) == front->Port() &&
          PortOf(fd, true) == PortOf(client, false))
        found = fd;
    }
    if (folder) ::closedir(folder);
    return found;
  }

  Testing::TempFolder temp{"http_front"};
  Workspace workspace{temp.path() + "/ws"};
  PluginHost host;
  GameServer server{host, workspace.ServerFolder(), [](const std::string& name) { return name; }};
  std::optional<HttpFront> front;  // last: stopped before the host goes
};

TEST_F(HttpFrontTest, AKeptAliveConnectionServesManyPluginCallsWithoutNagleDelays) {
  const int fd = Connect(front->Port());
  ASSERT_GE(fd, 0);
  std::vector<std::string> answers;
  WithClient([&] {
    for (int i = 0; i < 12; ++i)
      answers.push_back(Exchange(fd, Request("/pex-replays/v1/metadata/5001")));
  });
  ASSERT_EQ(answers.size(), 12u);
  for (const std::string& answer : answers) {
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
    EXPECT_NE(answer.find(R"("state":"watch")"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("Connection: close"), std::string::npos) << answer;
  }
  const int serverEnd = ServerEnd(fd);
  ASSERT_GE(serverEnd, 0);
  int nodelay = 0;
  socklen_t size = sizeof nodelay;
  ASSERT_EQ(::getsockopt(serverEnd, IPPROTO_TCP, TCP_NODELAY, &nodelay, &size), 0);
  EXPECT_NE(nodelay, 0);
  ::close(fd);
}

TEST_F(HttpFrontTest, AKeptAliveConnectionIsClosedAfterItsLastRequest) {
  // Refused requests (no token) never reach the host thread.
  const int fd = Connect(front->Port());
  ASSERT_GE(fd, 0);
  const std::string request = Request("/pex-replays/v1/metadata/5001", false);
  for (size_t i = 1; i < HttpFront::kKeepAliveRequests; ++i) {
    const std::string answer = Exchange(fd, request);
    ASSERT_TRUE(answer.starts_with("HTTP/1.1 401")) << i << ": " << answer;
    ASSERT_EQ(answer.find("Connection: close"), std::string::npos) << i;
  }
  EXPECT_NE(Exchange(fd, request).find("Connection: close"), std::string::npos);
  char byte;
  EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);  // the front closed its end
  ::close(fd);
}

}  // namespace
}  // namespace Zorv::Host
