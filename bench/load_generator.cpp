// bench_load: a small HTTP/1.1 load generator for the benchmark script.
// THREADS threads each keep one connection to 127.0.0.1:PORT alive and send
// GET PATH until REQUESTS requests in all have been answered; it prints
// "requests R errors E seconds S rps X". An answer that is not 200, or a
// connection that breaks, counts as an error (the connection is reopened).
//
//   bench_load PORT PATH THREADS REQUESTS [TOKEN]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Acknowledges received bytes at once. The server library writes an answer's
// headers and body in separate writes, so with delayed acknowledgements a
// server without TCP_NODELAY would stall every answer for tens of
// milliseconds, and the figure would measure the stall instead of the server.
void QuickAck(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

// Reads one answer with a Content-Length body; `pending` keeps bytes read past
// it. Answers whether the status was 200; false also when the connection broke.
// `broken` is also set when the server says it closes the connection after
// this answer (the server library closes one every few requests).
bool ReadAnswer(int fd, std::string& pending, bool& broken) {
  size_t headerEnd;
  char chunk[16384];
  while ((headerEnd = pending.find("\r\n\r\n")) == std::string::npos) {
    QuickAck(fd);
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      broken = true;
      return false;
    }
    pending.append(chunk, static_cast<size_t>(n));
  }
  const bool ok = pending.compare(0, 12, "HTTP/1.1 200") == 0;
  size_t length = 0;
  const std::string headers = pending.substr(0, headerEnd);
  for (const char* name : {"Content-Length: ", "content-length: "}) {
    const size_t at = headers.find(name);
    if (at != std::string::npos) length = std::strtoull(headers.c_str() + at + 16, nullptr, 10);
  }
  if (headers.find("Connection: close") != std::string::npos) broken = true;
  const size_t total = headerEnd + 4 + length;
  while (pending.size() < total) {
    QuickAck(fd);
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      broken = true;
      return false;
    }
    pending.append(chunk, static_cast<size_t>(n));
  }
  pending.erase(0, total);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_load PORT PATH THREADS REQUESTS [TOKEN]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string path = argv[2];
  const int threads = std::max(1, std::atoi(argv[3]));
  const long requests = std::atol(argv[4]);
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + argv[1] + "\r\n";
  if (argc > 5) request += std::string("Authorization: Bearer ") + argv[5] + "\r\n";
  request += "\r\n";

  std::atomic<long> next{0};
  std::atomic<long> errors{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      int fd = -1;
      std::string pending;
      while (next.fetch_add(1) < requests) {
        if (fd < 0 && (fd = Connect(port)) < 0) {
          ++errors;
          continue;
        }
        bool broken = false;
        if (!SendAll(fd, request) || !ReadAnswer(fd, pending, broken)) ++errors;
        if (broken) {
          ::close(fd);
          fd = -1;
          pending.clear();
        }
      }
      if (fd >= 0) ::close(fd);
    });
  }
  for (std::thread& worker : workers) worker.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("requests %ld errors %ld seconds %.4f rps %.1f\n", requests, errors.load(), seconds,
              static_cast<double>(requests) / seconds);
  return errors.load() == 0 ? 0 : 1;
}
