#include "framework/endpoints/invoke.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/endpoints/argument_binding.h"
#include "framework/hostapi/host_value_codec.h"
#include "logging/allocator.h"
#include "logging/format_string.h"
#include "logging/log.h"

namespace Zorv::Client {

namespace {

constexpr int32_t kStatusBadRequest = 400;
constexpr int32_t kStatusNotFound = 404;
constexpr int32_t kStatusInternalError = 500;

// Texts the result points to without owning them; release never frees these.
const char kSharedEmptyText[] = "";
const char kNoMemoryText[] = "Out of memory";

// An owned copy; the fixed out-of-memory text when the copy cannot be made,
// so that a failed call never looks like a success.
const char* CopyText(std::string_view text) {
  char* copy = static_cast<char*>(Allocate(text.size() + 1));
  if (copy == nullptr) return kNoMemoryText;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void FreeText(const char* text) {
  if (text != nullptr && text != kSharedEmptyText && text != kNoMemoryText) {
    Free(const_cast<char*>(text));
  }
}

uint8_t StreamRead(void* handle, void* buffer, uint32_t* inOutSize, uint8_t* outMore) {
  if (handle == nullptr || inOutSize == nullptr || outMore == nullptr) return 0;
  if (buffer == nullptr && *inOutSize != 0) return 0;
  try {
    bool more = false;
    uint32_t size = *inOutSize;
    const bool ok = static_cast<ResponseStream*>(handle)->read(buffer, size, more);
    *inOutSize = ok ? size : 0;
    *outMore = ok && more ? 1 : 0;
    return ok ? 1 : 0;
  } catch (...) {
    *inOutSize = 0;
    *outMore = 0;
    return 0;
  }
}

void StreamClose(void* handle) {
  delete static_cast<ResponseStream*>(handle);
}

// The packed record's value member, which may be misaligned for a HostValue.
unsigned char* ValueBytes(CallResult* result) {
  return reinterpret_cast<unsigned char*>(result) + offsetof(CallResult, value);
}

FunctionResult InvalidFunction() {
  return FunctionResult::Failed("Invalid function", kStatusNotFound);
}

FunctionResult BadCall(std::string message) {
  return FunctionResult::Failed(message, kStatusBadRequest);
}

// Name-value pairs in which a later name replaces the earlier value; the
// first appearance fixes the order. The index keeps many pairs linear.
class Pairs {
 public:
  void Put(std::string name, std::string value) {
    const auto [at, added] = index_.try_emplace(name, pairs_.size());
    if (added) {
      pairs_.emplace_back(std::move(name), std::move(value));
    } else {
      pairs_[at->second].second = std::move(value);
    }
  }
  auto begin() const { return pairs_.begin(); }
  auto end() const { return pairs_.end(); }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
  std::unordered_map<std::string, size_t> index_;
};

Pairs ParseQuery(std::string_view query) {
  Pairs out;
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (piece.empty()) continue;
    const size_t eq = piece.find('=');
    const std::string_view name = piece.substr(0, eq);
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1);
    out.Put(UrlDecode(name), UrlDecode(value));
  }
  return out;
}

}  // namespace

FunctionResult Dispatch(Endpoint& endpoint, const CallRecord& call) {
  if (call.url == nullptr || endpoint.routes.empty()) return InvalidFunction();
  const std::string_view url(call.url);
  const std::string_view path = UrlPath(url);
  const char* customMethod =
      call.method == HOST_METHOD_CUSTOM && call.customMethod != nullptr ? call.customMethod : "";
  std::vector<const Route*> routes;
  routes.reserve(endpoint.routes.size());
  for (const auto& route : endpoint.routes) routes.push_back(route.get());
  std::optional<RouteMatch> match = SelectRoute(routes, call.method, customMethod, path);
  if (!match) return InvalidFunction();
  const std::vector<TemplateParameter>& parameters =
      endpoint.routes[match->index]->matcher.parameters();

  if (call.headerCount != 0 && call.headers == nullptr) {
    return BadCall(FormatString("The call has %1 headers but no header pairs", call.headerCount));
  }
  Pairs headers;
  size_t valueBudget = kBaseValueBudget + url.size();
  for (uint32_t i = 0; i < call.headerCount; ++i) {
    const HostHeaderPair& pair = call.headers[i];
    if (pair.name == nullptr || pair.value == nullptr) {
      return BadCall(FormatString("Header %1 of the call has no name or no value", i));
    }
    const std::string_view name = pair.name;
    valueBudget += name.size();
    // Requests carry headers that no function asks for: only a header named
    // after a declared argument takes part in binding.
    if (endpoint.findArgument(name.substr(0, name.find('.'))) == nullptr) continue;
    headers.Put(std::string(name), pair.value);
  }
  const size_t question = url.find('?');
  const Pairs query =
      question == std::string_view::npos ? Pairs() : ParseQuery(url.substr(question + 1));

  ArgumentBinding binding(endpoint, valueBudget);
  for (const auto& [name, value] : headers)
    binding.BindArgument(name, value, ARGUMENT_LOCATION_HEADER);
  for (size_t i = 0; i < parameters.size() && i < match->captures.size(); ++i) {
    binding.BindArgument(parameters[i].name, match->captures[i], ARGUMENT_LOCATION_PATH);
  }
  for (const auto& [name, value] : query) {
    binding.BindArgument(name, value, ARGUMENT_LOCATION_QUERY);
  }
  if (call.argumentCount != 0 && call.arguments == nullptr) {
    binding.Fail(
        FormatString("The call has %1 arguments but no argument array", call.argumentCount));
  }
  for (uint32_t i = 0; i < call.argumentCount && !binding.failed(); ++i) {
    binding.BindCallArgument(call.arguments[i].name, i, call.arguments[i].value);
  }
  if (call.body != nullptr && call.bodySize != 0) {
    binding.BindBody(call.contentType,
                     std::string_view(static_cast<const char*>(call.body), call.bodySize));
  } else if (call.body == nullptr && call.bodySize != 0) {
    binding.Fail(
        FormatString("The call has a body of %1 bytes but no body pointer", call.bodySize));
  }
  if (binding.failed()) return BadCall(binding.failure());
  return endpoint.handler(binding.values(), call.hostHandle);
}

void EncodeFunctionResult(FunctionResult&& function, const TypeRegistry* registry,
                          CallResult* result) {
  result->release = &ReleaseCallResult;
  int32_t status = function.status;
  if (!function.value.success) {
    result->error = CopyText(function.value.error());
  } else {
    HostValue encoded{};
    const BindingResult done = EncodeHostValue(function.value.value, registry, encoded);
    if (done.success) {
      std::memcpy(ValueBytes(result), &encoded, sizeof encoded);
    } else {
      result->error = CopyText(done.error());
      status = kStatusBadRequest;
    }
  }
  result->responseFlag = function.responseFlag;
  result->responseKind = function.responseKind;
  result->status = status;
  result->responseText =
      function.responseText.empty() ? kSharedEmptyText : CopyText(function.responseText);
  if (!function.responseHeaders.empty()) {
    const size_t count = function.responseHeaders.size();
    auto* pairs = static_cast<HostHeaderPair*>(Allocate(count * sizeof(HostHeaderPair)));
    if (pairs != nullptr) {
      for (size_t i = 0; i < count; ++i) {
        pairs[i].name = CopyText(function.responseHeaders[i].first);
        pairs[i].value = CopyText(function.responseHeaders[i].second);
      }
      result->responseHeaders = pairs;
      result->responseHeaderCount = static_cast<uint32_t>(count);
    }
  }
  if (function.stream) {
    result->streamRead = &StreamRead;
    result->streamClose = &StreamClose;
    result->streamSize = function.stream->size();
    result->reserved50 = 0;
    result->streamHandle = function.stream.release();
  }
}

void ReleaseCallResult(CallResult* result) {
  if (result == nullptr) return;
  HostValue value;
  std::memcpy(&value, ValueBytes(result), sizeof value);
  ReleaseHostValue(value);
  FreeText(result->error);
  FreeText(result->responseText);
  const HostHeaderPair* pairs = result->responseHeaders;
  if (pairs != nullptr) {
    for (uint32_t i = 0; i < result->responseHeaderCount; ++i) {
      FreeText(pairs[i].name);
      FreeText(pairs[i].value);
    }
    Free(const_cast<HostHeaderPair*>(pairs));
  }
  std::memset(static_cast<void*>(result), 0, sizeof *result);
}

void Invoke(CallResult* result, const CallRecord* call) {
  if (result == nullptr) return;
  std::memset(static_cast<void*>(result), 0, sizeof *result);
  result->release = &ReleaseCallResult;
  Endpoint* endpoint = call != nullptr ? static_cast<Endpoint*>(call->context) : nullptr;
  try {
    FunctionResult function = endpoint != nullptr ? Dispatch(*endpoint, *call) : InvalidFunction();
    EncodeFunctionResult(std::move(function), endpoint != nullptr ? endpoint->registry : nullptr,
                         result);
  } catch (const std::exception& error) {
    ReleaseCallResult(result);
    if (endpoint != nullptr) {
      Log(LogLevel::Warn, kLogDBG, "%s: %s failed: %s", endpoint->moduleName.c_str(),
          endpoint->name.c_str(), error.what());
    }
    result->release = &ReleaseCallResult;
    result->error = CopyText(error.what());
    result->status = kStatusInternalError;
  } catch (...) {
    ReleaseCallResult(result);
    result->release = &ReleaseCallResult;
    result->error = CopyText("Unknown failure");
    result->status = kStatusInternalError;
  }
}

}  // namespace Zorv::Client
