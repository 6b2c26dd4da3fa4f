#include "framework/hostapi/host_call.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "framework/hostapi/host_method.h"
#include "framework/hostapi/host_value_codec.h"

namespace Zorv::Client {
namespace internal {

Failure MakeCallFailure(int32_t code, const char* templateText, uint32_t method,
                        std::string_view url, std::string_view error) {
  const std::string urlText(url);
  const std::string errorText(error);
  return MakeFailure(code, templateText, {MethodText(method), urlText, errorText});
}

}  // namespace internal

namespace {

constexpr const char kErrorResponse[] = "Error response for {method} {url}: {error}";
constexpr const char kStreamFailure[] =
    "Error reading streamed response for {method} {url}: {error}";
constexpr uint32_t kChunkSize = 4096;
// The size hint comes from the host: it only pre-sizes the buffer, up to this.
constexpr size_t kMaxReserve = size_t{1} << 20;

// CallResult is packed: its members are copied out, never referenced.
template <typename T>
T ReadField(const CallResult& result, size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(&result) + offset, sizeof value);
  return value;
}
#define ZORV_RESULT_FIELD(result, field) \
  ReadField<decltype(CallResult::field)>(result, offsetof(CallResult, field))

// The encoded arguments of one call; released however the call ends.
class EncodedArguments {
 public:
  explicit EncodedArguments(size_t count) : arguments_(count) {
    for (HostArgument& argument : arguments_) std::memset(&argument, 0, sizeof argument);
  }
  ~EncodedArguments() {
    for (HostArgument& argument : arguments_) ReleaseHostValue(argument.value);
  }
  EncodedArguments(const EncodedArguments&) = delete;
  EncodedArguments& operator=(const EncodedArguments&) = delete;

  HostArgument& operator[](size_t index) { return arguments_[index]; }
  const HostArgument* data() const { return arguments_.empty() ? nullptr : arguments_.data(); }
  uint32_t count() const { return static_cast<uint32_t>(arguments_.size()); }

 private:
  std::vector<HostArgument> arguments_;
};

// The host's answer, owned by the module once the call returns: a stream that
// was handed over is closed and the record released, once each, whichever
// path the call takes.
class OwnedResult {
 public:
  OwnedResult() { std::memset(&result_, 0, sizeof result_); }
  ~OwnedResult() {
    CloseStream();
    const CallResultReleaseFunction release = ZORV_RESULT_FIELD(result_, release);
    if (release) release(&result_);
  }
  OwnedResult(const OwnedResult&) = delete;
  OwnedResult& operator=(const OwnedResult&) = delete;

  CallResult* record() { return &result_; }
  const CallResult& get() const { return result_; }

  void CloseStream() {
    if (closed_) return;
    closed_ = true;
    const HostStreamCloseFunction close = ZORV_RESULT_FIELD(result_, streamClose);
    if (close) close(ZORV_RESULT_FIELD(result_, streamHandle));
  }

 private:
  CallResult result_;
  bool closed_ = false;
};

}  // namespace

MaybeType<Failure, BindingProperty> AppModule::CallWithProperties(uint32_t method,
                                                                  std::string_view url,
                                                                  const BindingProperty* arguments,
                                                                  size_t count, bool wantResult) {
  method = NormalizeMethod(method);
  EncodedArguments encoded(count);
  for (size_t i = 0; i < count; ++i) {
    const BindingResult converted = EncodeHostValue(arguments[i], &registry(), encoded[i].value);
    if (!converted.success) {
      return internal::MakeCallFailure(400, internal::kParametersFailure, method, url,
                                       converted.error());
    }
  }

  const std::string urlText(url);
  CallRecord call;
  std::memset(&call, 0, sizeof call);
  call.method = method;
  call.url = urlText.c_str();
  call.arguments = encoded.data();
  call.argumentCount = encoded.count();
  call.hostHandle = hostHandle_;

  OwnedResult owned;
  CallFunction(owned.record(), &call);
  const CallResult& result = owned.get();

  if (const char* error = ZORV_RESULT_FIELD(result, error)) {
    return internal::MakeCallFailure(ZORV_RESULT_FIELD(result, status), kErrorResponse, method, url,
                                     error);
  }
  if (!wantResult) return BindingProperty();

  const HostStreamReadFunction read = ZORV_RESULT_FIELD(result, streamRead);
  if (!read) {
    BindingResult decoded = DecodeHostValue(ZORV_RESULT_FIELD(result, value));
    if (!decoded.success) {
      return internal::MakeCallFailure(0, internal::kResponseFailure, method, url, decoded.error());
    }
    return std::move(decoded.value);
  }

  void* const handle = ZORV_RESULT_FIELD(result, streamHandle);
  std::string bytes;
  bytes.reserve(std::min<size_t>(ZORV_RESULT_FIELD(result, streamSize), kMaxReserve));
  bool readFailed = false;
  for (bool more = true; more;) {
    const size_t used = bytes.size();
    bytes.resize(used + kChunkSize);
    uint32_t size = kChunkSize;
    uint8_t moreByte = 0;
    // A chunk larger than the buffer cannot be trusted: it counts as a failed read.
    if (!read(handle, bytes.data() + used, &size, &moreByte) || size > kChunkSize) {
      bytes.resize(used);
      readFailed = true;
      break;
    }
    bytes.resize(used + size);
    more = moreByte != 0;
    if (more && size < kChunkSize) Yield();
  }
  owned.CloseStream();
  if (readFailed) {
    return internal::MakeCallFailure(0, kStreamFailure, method, url, "Stream read error");
  }
  BindingResult parsed = FromJsonText(bytes);
  if (!parsed.success) {
    return internal::MakeCallFailure(0, kStreamFailure, method, url, parsed.error());
  }
  return std::move(parsed.value);
}

Failure AppModule::MakeNotFound(std::string_view message) {
  return MakeFailureText(404, message.empty() ? std::string("Not found") : std::string(message));
}

}  // namespace Zorv::Client
