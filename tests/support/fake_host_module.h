// FakeHostModule: an AppModule whose host is the test. It stands in for the
// host's function table by overriding the module's forwarders: every call,
// request, event, subscription, timer and wait is recorded, and host calls
// and requests are answered by scripts the test sets.
//
//   Zorv::Testing::FakeHostModule module;
//   module.answerCall = [](CallResult* result, const CallRecord*) {
//     FakeHostModule::AnswerValue(result, BindingProperty(int64_t{7}));
//   };
//   auto r = module.Call<int32_t>(HOST_METHOD_GET, "/x");
//   EXPECT_EQ(module.calls.at(0).url, "/x");
//   EXPECT_EQ(FakeHostModule::releases, 1);
//
// Answers are made the way a host makes them: owned values released by the
// record's release function, which also counts its calls (`releases`), so a
// missed or repeated release shows as a count and, under ASan, as a leak or
// a double free. FakeStream serves a streamed result chunk by chunk.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "framework/hostapi/host_value_codec.h"
#include "framework/module/app_module.h"

namespace Zorv::Testing {

// A streamed result: serves `chunks` in order, one per read; `failAt` makes
// that read fail, `claimAt` makes that read claim `claimedSize` bytes.
struct FakeStream {
  FakeStream() = default;
  explicit FakeStream(std::vector<std::string> chunks, int failAt = -1)
      : chunks(std::move(chunks)), failAt(failAt) {}

  std::vector<std::string> chunks;
  int failAt = -1;
  int claimAt = -1;
  uint32_t claimedSize = 0;
  int reads = 0;
  int closes = 0;
  std::vector<uint32_t> bufferSizes;  // the size offered by each read

  static uint8_t Read(void* handle, void* buffer, uint32_t* inOutSize, uint8_t* outMore) {
    auto* stream = static_cast<FakeStream*>(handle);
    const int index = stream->reads++;
    stream->bufferSizes.push_back(*inOutSize);
    if (index == stream->failAt) return 0;
    const std::string& chunk = stream->chunks.at(static_cast<size_t>(index));
    const uint32_t size = std::min<uint32_t>(*inOutSize, static_cast<uint32_t>(chunk.size()));
    std::memcpy(buffer, chunk.data(), size);
    *inOutSize = index == stream->claimAt ? stream->claimedSize : size;
    *outMore = static_cast<size_t>(index) + 1 < stream->chunks.size() ? 1 : 0;
    return 1;
  }
  static void Close(void* handle) { ++static_cast<FakeStream*>(handle)->closes; }
};

class FakeHostModule : public Client::AppModule {
 public:
  using Client::AppModule::ScheduleCallback;

  struct RecordedCall {
    uint32_t method;
    std::string url;
    uint32_t hostHandle;
    std::vector<BindingProperty> arguments;  // decoded
    std::vector<bool> named;                 // whether each argument had a name
  };
  struct RecordedRequest {
    uint32_t method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    uint32_t optionWord;
    uint32_t optionFlag;
  };
  struct RecordedTimer {
    std::string name;
    HostTimerCallback callback;
    void* context;
    double delaySeconds;
    uint32_t zero;
  };

  // Counts calls of the answers' release function (in every FakeHostModule).
  inline static int releases = 0;

  FakeHostModule() {
    releases = 0;
    hostHandle_ = 0x5150;
    userAgent_ = "FakeAgent/1.0";
  }

  void RegisterApi() override {}
  bool Start() override { return true; }

  // ---- Scripts ---------------------------------------------------------------------------------
  std::function<void(CallResult*, const CallRecord*)> answerCall;
  std::function<void(const HostRequestRecord*, HostResponseRecord*)> answerRequest;
  // Runs at each YieldToHost, after it is counted.
  std::function<void()> onYield;

  // ---- Answers ---------------------------------------------------------------------------------
  static void Release(CallResult* result) {
    ++releases;
    HostValue value;
    std::memcpy(&value, result, sizeof value);
    ReleaseHostValue(value);
    std::memcpy(result, &value, sizeof value);
  }
  static void AnswerValue(CallResult* result, const BindingProperty& value) {
    HostValue encoded;
    std::memset(&encoded, 0, sizeof encoded);
    EncodeHostValue(value, nullptr, encoded);
    std::memcpy(result, &encoded, sizeof encoded);
    SetRelease(result);
  }
  static void AnswerRaw(CallResult* result, const HostValue& value) {
    std::memcpy(result, &value, sizeof value);
    SetRelease(result);
  }
  static void AnswerError(CallResult* result, const char* error, int32_t status) {
    std::memcpy(reinterpret_cast<unsigned char*>(result) + offsetof(CallResult, error), &error,
                sizeof error);
    std::memcpy(reinterpret_cast<unsigned char*>(result) + offsetof(CallResult, status), &status,
                sizeof status);
    SetRelease(result);
  }
  static void AnswerStream(CallResult* result, FakeStream* stream, uint32_t sizeHint,
                           bool withRead = true) {
    const HostStreamReadFunction read = withRead ? &FakeStream::Read : nullptr;
    const HostStreamCloseFunction close = &FakeStream::Close;
    void* handle = stream;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(result);
    std::memcpy(bytes + offsetof(CallResult, streamRead), &read, sizeof read);
    std::memcpy(bytes + offsetof(CallResult, streamClose), &close, sizeof close);
    std::memcpy(bytes + offsetof(CallResult, streamSize), &sizeHint, sizeof sizeHint);
    std::memcpy(bytes + offsetof(CallResult, streamHandle), &handle, sizeof handle);
    SetRelease(result);
  }

  // ---- Records ---------------------------------------------------------------------------------
  std::vector<RecordedCall> calls;
  std::vector<RecordedRequest> requests;
  std::vector<std::string> sentEvents;
  std::vector<std::string> subscribed;
  std::vector<std::string> unsubscribed;
  std::vector<RecordedTimer> timers;
  std::vector<std::string> waits;  // BeginWait descriptions
  int yields = 0;
  int endWaits = 0;

  size_t pendingTimers() {
    std::lock_guard lock(timerMutex_);
    return timers_.size();
  }
  void RunTimer(size_t index) { timers.at(index).callback(timers.at(index).context); }

  // ---- Forwarders ------------------------------------------------------------------------------
  void CallFunction(CallResult* result, const CallRecord* call) override {
    RecordedCall recorded{call->method, call->url ? call->url : "", call->hostHandle, {}, {}};
    for (uint32_t i = 0; i < call->argumentCount; ++i) {
      recorded.arguments.push_back(DecodeHostValue(call->arguments[i].value).value);
      recorded.named.push_back(call->arguments[i].name != nullptr);
    }
    calls.push_back(std::move(recorded));
    if (answerCall) answerCall(result, call);
  }
  void SendRequest(const HostRequestRecord* request, HostResponseRecord* response) override {
    RecordedRequest recorded{
        request->method,    request->url ? request->url : "", {}, {}, request->optionWord,
        request->optionFlag};
    for (uint32_t i = 0; i < request->headerCount; ++i) {
      recorded.headers.emplace_back(request->headers[i].name, request->headers[i].value);
    }
    if (request->bodySize) {
      recorded.body.assign(static_cast<const char*>(request->body), request->bodySize);
    }
    requests.push_back(std::move(recorded));
    if (answerRequest) answerRequest(request, response);
  }
  void SendEvent(const EventRecord* event) override { sentEvents.push_back(event->name); }
  void SubscribeEvent(const char* name, uint32_t, HostEventCallback, void*, uint32_t) override {
    subscribed.push_back(name);
  }
  void UnsubscribeEvent(const char* name, uint32_t) override { unsubscribed.push_back(name); }
  void ScheduleCallback(const char* name, HostTimerCallback callback, void* context,
                        double delaySeconds, uint32_t zero) override {
    timers.push_back(RecordedTimer{name, callback, context, delaySeconds, zero});
  }
  void YieldToHost() override {
    ++yields;
    if (onYield) onYield();
  }
  void BeginWait(const std::string& description) override { waits.push_back(description); }
  void EndWait() override { ++endWaits; }

 private:
  static void SetRelease(CallResult* result) {
    const CallResultReleaseFunction release = &Release;
    std::memcpy(reinterpret_cast<unsigned char*>(result) + offsetof(CallResult, release), &release,
                sizeof release);
  }
};

}  // namespace Zorv::Testing
