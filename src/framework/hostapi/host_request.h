// HostRequest and HostResponse: the module's side of an HTTP-style transfer
// that the host performs (AppModule::SendHttpRequest), for data that is not a
// dynamic value, such as a replay file.
//
//   HostRequest request;
//   request.method = HOST_METHOD_GET;
//   request.url = downloadUrl;
//   HostResponse response = module.SendHttpRequest(request);
//   if (response.resultCode != 0 || response.conversionFailed) ...response.error...
//
// SendHttpRequest adds ("user-agent", the module's user agent) first unless
// the request names that header itself, in any case. The response copies
// everything it needs from the host's record before returning.
//
// A body of many MiB (a replay) need not be copied: the form with a BodyTaker
// hands it over where the host holds it.
//
//   module.SendHttpRequest(request, [&](const HostResponse& head, std::string_view body) {
//     if (head.status == 200) written = WriteFile(path, body);  // body: valid in here only
//   });
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace Zorv::Client {

struct HostRequest {
  uint32_t method = 0;  // HostMethod; other codes travel as 0
  std::string url;
  std::map<std::string, std::string> headers;
  std::string note;  // kept with the request, never sent
  std::string body;
  uint32_t optionWord = 0;
  uint8_t optionFlag = 1;
};

struct HostResponse {
  // The host's result code: -1, 0 (success) and 2 as given, every other value 1.
  int32_t resultCode = 0;
  int32_t status = 0;
  // Set when the host's record promised headers or a body it did not point to.
  bool conversionFailed = false;
  // The host's error text when resultCode is not 0, else the conversion's.
  std::string error;
  std::map<std::string, std::string> headers;
  std::string body;
};

// Gets a response whose body was not copied, and the body in the host's
// memory: valid only until the taker returns.
using BodyTaker = std::function<void(const HostResponse& head, std::string_view body)>;

// The host's result code as HostResponse keeps it.
int32_t MapResultCode(int32_t hostCode);

}  // namespace Zorv::Client
