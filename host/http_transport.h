// HttpTransport: how the host performs the HTTP requests that a plug-in sends
// through SendRequest. FakeHttpTransport answers from canned responses keyed
// by method and URL and records every request, so tests can script servers
// and transport failures without a network.
//
// A transport answers every request: a transfer that fails is a response with
// a non-zero result code and an error text, never an exception. A transport
// that may block (a real network) is called on a worker thread, one transfer
// at a time per thread, while the host thread goes on with other work.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/ring_buffer.h"

namespace Zorv::Host {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  uint32_t method = 0;     // HostMethod code as the plug-in sent it
  std::string methodText;  // "GET", ...; empty for codes outside 1-7
  std::string url;
  HeaderList headers;
  std::string body;
  uint32_t optionWord = 0;
  uint32_t optionFlag = 0;
};

struct HttpResponse {
  int32_t resultCode = 0;  // 0: the transfer worked; else errorText says why
  int32_t status = 0;
  HeaderList headers;
  std::string body;
  std::string errorText;

  static HttpResponse Answer(int32_t status, std::string body, HeaderList headers = {});
  static HttpResponse Failure(int32_t resultCode, std::string errorText);
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  virtual HttpResponse Send(const HttpRequest& request) = 0;
  // True: Send may take long, so the host runs it off its own thread.
  virtual bool MayBlock() const { return false; }
};

// The text of a HostMethod code ("DELETE" ... "PUT"), empty for any other code.
std::string MethodText(uint32_t method);

class FakeHttpTransport final : public HttpTransport {
 public:
  // The answer to every later request with this method text and exact URL;
  // a later call for the same pair replaces the earlier answer.
  void Answer(const std::string& methodText, const std::string& url, HttpResponse response);

  // A canned answer, or a failure with result code 1 and the text
  // "no answer for <method> <url>" when none was set.
  HttpResponse Send(const HttpRequest& request) override;

  // The newest requests (kDefaultKeep unless SetKeep says otherwise).
  const RingBuffer<HttpRequest>& Requests() const { return requests_; }
  void SetKeep(size_t requests) { requests_.SetCapacity(requests); }

 private:
  std::map<std::pair<std::string, std::string>, HttpResponse> answers_;
  RingBuffer<HttpRequest> requests_;
};

}  // namespace Zorv::Host
