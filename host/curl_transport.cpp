#include "host/curl_transport.h"

namespace Zorv::Host {

CurlHttpTransport::CurlHttpTransport(Options options) : options_(options) {}

HttpResponse CurlHttpTransport::Send(const HttpRequest&) {
  return HttpResponse::Failure(2, "not built yet");
}

}  // namespace Zorv::Host
