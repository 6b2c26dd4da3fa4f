#include "host/http_transport.h"

namespace Zorv::Host {

HttpResponse HttpResponse::Answer(int32_t status, std::string body, HeaderList headers) {
  HttpResponse response;
  response.status = status;
  response.body = std::move(body);
  response.headers = std::move(headers);
  return response;
}

HttpResponse HttpResponse::Failure(int32_t resultCode, std::string errorText) {
  HttpResponse response;
  response.resultCode = resultCode;
  response.errorText = std::move(errorText);
  return response;
}

std::string MethodText(uint32_t method) {
  static const char* const kTexts[] = {"",        "DELETE", "GET",  "HEAD",
                                       "OPTIONS", "PATCH",  "POST", "PUT"};
  return method < std::size(kTexts) ? kTexts[method] : "";
}

void FakeHttpTransport::Answer(const std::string& methodText, const std::string& url,
                               HttpResponse response) {
  answers_[{methodText, url}] = std::move(response);
}

HttpResponse FakeHttpTransport::Send(const HttpRequest& request) {
  requests_.push_back(request);
  const auto it = answers_.find({request.methodText, request.url});
  if (it == answers_.end()) {
    return HttpResponse::Failure(1, "no answer for " + request.methodText + " " + request.url);
  }
  return it->second;
}

}  // namespace Zorv::Host
