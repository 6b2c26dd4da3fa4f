#include "framework/hostapi/host_request.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "framework/hostapi/host_method.h"
#include "framework/module/app_module.h"
#include "logging/format_string.h"
#include "platform/large_buffer.h"

namespace Zorv::Client {
namespace {

constexpr const char kUserAgent[] = "user-agent";

bool IsUserAgent(std::string_view name) {
  if (name.size() != sizeof kUserAgent - 1) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kUserAgent[i]) return false;
  }
  return true;
}

// The host owns the texts it points to; a null one reads as empty.
std::string CopyText(const char* text) {
  return text ? std::string(text) : std::string();
}

// Converts everything but a body that the caller takes from the record itself (copyBody false).
void ConvertResponse(const HostResponseRecord& record, const std::string& label, bool copyBody,
                     HostResponse& response) {
  response.resultCode = MapResultCode(record.resultCode);
  if (response.resultCode != 0) {
    if (record.body) {
      response.error.assign(static_cast<const char*>(record.body), record.bodySize);
    }
    return;
  }
  response.status = record.status;
  if (record.headerCount != 0 && !record.headers) {
    response.error = FormatString("Error converting response for %1: headers was null", label);
    response.conversionFailed = true;
  } else {
    for (uint32_t i = 0; i < record.headerCount; ++i) {
      response.headers[CopyText(record.headers[i].name)] = CopyText(record.headers[i].value);
    }
  }
  if (record.bodySize != 0 && !record.body) {
    response.error = FormatString("Error converting response for %1: body was null", label);
    response.conversionFailed = true;
  } else if (record.bodySize != 0 && copyBody) {
    // A body of many MiB: its room comes in huge pages when the kernel grants them.
    Platform::ReserveLarge(response.body, record.bodySize);
    response.body.assign(static_cast<const char*>(record.body), record.bodySize);
  }
}

}  // namespace

int32_t MapResultCode(int32_t hostCode) {
  return hostCode == -1 || hostCode == 0 || hostCode == 2 ? hostCode : 1;
}

HostResponse AppModule::SendHttpRequest(const HostRequest& request) {
  return SendHttpRequest(request, nullptr);
}

HostResponse AppModule::SendHttpRequest(const HostRequest& request, const BodyTaker& takeBody) {
  const uint32_t method = NormalizeMethod(request.method);
  std::vector<HostHeaderPair> headers;
  headers.reserve(request.headers.size() + 1);
  bool hasUserAgent = false;
  for (const auto& [name, value] : request.headers) hasUserAgent |= IsUserAgent(name);
  if (!hasUserAgent) headers.push_back(HostHeaderPair{kUserAgent, userAgent_.c_str()});
  for (const auto& [name, value] : request.headers) {
    headers.push_back(HostHeaderPair{name.c_str(), value.c_str()});
  }

  HostRequestRecord record;
  std::memset(&record, 0, sizeof record);
  record.method = method;
  record.url = request.url.c_str();
  record.headers = headers.data();
  record.headerCount = static_cast<uint32_t>(headers.size());
  record.body = request.body.data();
  record.bodySize = static_cast<uint32_t>(request.body.size());
  record.optionWord = request.optionWord;
  record.optionFlag = request.optionFlag;

  HostResponseRecord answer;
  std::memset(&answer, 0, sizeof answer);
  SendRequest(&record, &answer);

  HostResponse response;
  ConvertResponse(answer, FormatString("%1 %2", MethodText(method), request.url), !takeBody,
                  response);
  if (takeBody && response.resultCode == 0 && !response.conversionFailed) {
    takeBody(response,
             answer.body ? std::string_view(static_cast<const char*>(answer.body), answer.bodySize)
                         : std::string_view());
  }
  return response;
}

}  // namespace Zorv::Client
