// CurlHttpTransport: real HTTP and HTTPS transfers for the host, one libcurl
// easy handle per transfer, so concurrent transfers on different threads share
// nothing but libcurl's global state (set up once per process).
//
//   Zorv::Host::CurlHttpTransport curl;
//   HttpResponse response = curl.Send(request);  // blocks until done
//
// Promises:
// - Send takes the request's method text (or, for a code without a text,
//   "GET"), URL, headers and body. A transfer that completes answers result
//   code 0 with the server's status (any: 200, 404, 204, ...), headers and
//   body. One that fails (refused connection, unknown host, timeout, bad URL)
//   answers libcurl's non-zero code, status 0 and libcurl's error text.
// - The body is received into one buffer reserved from the announced
//   Content-Length (up to kMaxAnnouncedReservation; it grows geometrically
//   past that or without an announcement). A body that grows past
//   maxBodyBytes ends the transfer as a failure.
// - MayBlock is true: PluginHost runs each transfer on a worker thread while
//   the host thread keeps serving other work.
// - Send is safe to call from several threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "host/http_transport.h"

namespace Zorv::Host {

class CurlHttpTransport final : public HttpTransport {
 public:
  // The most room reserved up front on a server's word.
  static constexpr size_t kMaxAnnouncedReservation = size_t{256} << 20;

  struct Options {
    // Connection set-up limit; 0: libcurl's default.
    std::chrono::milliseconds connectTimeout{10000};
    // Whole-transfer limit; 0: none (a large download may take long).
    std::chrono::milliseconds totalTimeout{0};
    // Follow redirections (replay downloads come from a content network).
    bool followRedirects = true;
    // The largest body taken: the plug-in's response record has a 32-bit size.
    size_t maxBodyBytes = UINT32_MAX;
  };

  CurlHttpTransport() : CurlHttpTransport(Options{}) {}
  explicit CurlHttpTransport(Options options);

  HttpResponse Send(const HttpRequest& request) override;
  bool MayBlock() const override { return true; }

 private:
  Options options_;
};

}  // namespace Zorv::Host
