#include "host/endpoint_call.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "framework/endpoints/path_template.h"
#include "framework/hostapi/host_value_codec.h"
#include "host/module_api.h"
#include "host/route_table.h"

namespace Zorv::Host {
namespace {

HostValue LoadValue(const CallResult& result) {
  HostValue value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(&result) + offsetof(CallResult, value),
              sizeof(value));
  return value;
}

void ReadStream(const CallResult& result, EndpointAnswer& answer) {
  const HostStreamReadFunction read = result.streamRead;
  void* const handle = result.streamHandle;
  answer.streamed = true;
  for (;;) {
    char buffer[4096];
    uint32_t size = sizeof(buffer);
    uint8_t more = 0;
    if (!read(handle, buffer, &size, &more)) {
      answer.streamFailed = true;
      break;
    }
    answer.streamBody.append(buffer, size);
    if (!more) break;
  }
  const HostStreamCloseFunction close = result.streamClose;
  if (close) close(handle);
}

}  // namespace

int FindFunction(const ApiDescription& description, uint32_t method,
                 const std::string& customMethod, const std::string& path) {
  return RouteTable(&description).Find(method, customMethod, path);
}

int FindFunctionNamed(const ApiDescription& description, const std::string& name) {
  for (uint32_t i = 0; description.functions && i < description.functionCount; ++i) {
    const FunctionRecord record = LoadFunctionRecord(description, i);
    if (record.name && record.invoke && name == record.name) return static_cast<int>(i);
  }
  return -1;
}

EndpointAnswer InvokeEndpoint(const ApiDescription& description, const EndpointCall& call) {
  return InvokeEndpoint(description, RouteTable(&description), call);
}

EndpointAnswer InvokeEndpoint(const ApiDescription& description, const RouteTable& routes,
                              const EndpointCall& call) {
  EndpointAnswer answer;
  const int index = call.functionName.empty() ? routes.Find(call.method, call.customMethod,
                                                            std::string(Client::UrlPath(call.url)))
                                              : FindFunctionNamed(description, call.functionName);
  if (index < 0) {
    answer.error = kInvalidFunction;
    answer.status = 404;
    return answer;
  }
  answer.found = true;
  const FunctionRecord record = LoadFunctionRecord(description, static_cast<uint32_t>(index));

  std::vector<HostArgument> arguments(call.arguments.size());
  for (size_t i = 0; i < call.arguments.size(); ++i) {
    const auto& [name, value] = call.arguments[i];
    arguments[i].name = name.empty() ? nullptr : name.c_str();
    std::memset(&arguments[i].value, 0, sizeof(HostValue));
    const BindingResult encoded = EncodeHostValue(value, nullptr, arguments[i].value);
    if (encoded.success) continue;
    // Sent as null it would read as a value the caller never gave.
    for (size_t j = 0; j < i; ++j) ReleaseHostValue(arguments[j].value);
    answer.error =
        "argument " + std::to_string(i) + " cannot be sent: " + std::string(encoded.error());
    answer.status = 400;
    return answer;
  }
  std::vector<HostHeaderPair> headers;
  for (const auto& [name, value] : call.headers) {
    headers.push_back(HostHeaderPair{name.c_str(), value.c_str()});
  }
  CallRecord record_{};
  record_.method = call.method;
  record_.url = call.url.c_str();
  record_.arguments = arguments.empty() ? nullptr : arguments.data();
  record_.argumentCount = static_cast<uint32_t>(arguments.size());
  record_.context = record.context;
  record_.headers = headers.empty() ? nullptr : headers.data();
  record_.headerCount = static_cast<uint32_t>(headers.size());
  record_.contentType = call.contentType.empty() ? nullptr : call.contentType.c_str();
  record_.body = call.hasBody ? call.body.data() : nullptr;
  record_.bodySize = call.hasBody ? static_cast<uint32_t>(call.body.size()) : 0;
  record_.hostHandle = call.contextWord;
  record_.customMethod = call.method == HOST_METHOD_CUSTOM ? call.customMethod.c_str() : nullptr;

  CallResult result;
  std::memset(static_cast<void*>(&result), 0, sizeof(result));
  record.invoke(&result, &record_);

  const char* error = result.error;
  answer.ok = error == nullptr;
  if (error) answer.error = error;
  answer.status = result.status;
  answer.responseFlag = result.responseFlag;
  answer.responseKind = result.responseKind;
  const char* responseText = result.responseText;
  if (responseText) answer.responseText = responseText;
  const HostHeaderPair* responseHeaders = result.responseHeaders;
  const uint32_t headerCount = result.responseHeaderCount;
  for (uint32_t i = 0; responseHeaders && i < headerCount; ++i) {
    answer.headers.emplace_back(responseHeaders[i].name ? responseHeaders[i].name : "",
                                responseHeaders[i].value ? responseHeaders[i].value : "");
  }
  BindingResult value = DecodeHostValue(LoadValue(result));
  answer.valueDecoded = value.success;
  if (value.success) answer.value = std::move(value.value);
  if (result.streamRead) ReadStream(result, answer);

  const CallResultReleaseFunction release = result.release;
  if (release) release(&result);
  for (HostArgument& argument : arguments) ReleaseHostValue(argument.value);
  return answer;
}

}  // namespace Zorv::Host
