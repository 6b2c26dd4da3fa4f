#include "host/call_answer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "binding/json_reader.h"
#include "framework/hostapi/host_value_codec.h"
#include "host/http_transport.h"

namespace Zorv::Host {
namespace {

struct StreamState {
  std::shared_ptr<CallLedger> ledger;
  std::vector<std::string> chunks;
  int failingRead = -1;
  int reads = 0;
  size_t chunk = 0;   // index of the chunk being read
  size_t offset = 0;  // bytes of it already read
};

// Everything one CallResult points to. The result's responseText points just
// behind a copy of the block's address, which is how release finds the block
// from the record alone.
struct ResultBlock {
  std::shared_ptr<CallLedger> ledger;
  HostValue value{};
  bool ownsValue = false;
  std::string error;
  std::unique_ptr<StreamState> stream;
  char* text = nullptr;  // the allocation behind responseText
};

constexpr size_t kTextOffset = sizeof(ResultBlock*);

uint8_t ReadStream(void* handle, void* buffer, uint32_t* inOutSize, uint8_t* outMore) {
  if (!handle || !inOutSize || !outMore || (*inOutSize != 0 && !buffer)) return 0;
  StreamState& stream = *static_cast<StreamState*>(handle);
  ++stream.ledger->streamReads;
  const int read = stream.reads++;
  if (read == stream.failingRead) {
    *inOutSize = 0;
    *outMore = 0;
    return 0;
  }
  uint32_t written = 0;
  if (stream.chunk < stream.chunks.size()) {
    const std::string& chunk = stream.chunks[stream.chunk];
    written = static_cast<uint32_t>(std::min<size_t>(*inOutSize, chunk.size() - stream.offset));
    if (written != 0) std::memcpy(buffer, chunk.data() + stream.offset, written);
    stream.offset += written;
    if (stream.offset == chunk.size()) {
      ++stream.chunk;
      stream.offset = 0;
    }
  }
  *inOutSize = written;
  *outMore = stream.chunk < stream.chunks.size() ? 1 : 0;
  return 1;
}

void CloseStream(void* handle) {
  if (handle) ++static_cast<StreamState*>(handle)->ledger->streamCloses;
}

void ReleaseResult(CallResult* result) {
  if (!result || !result->responseText) return;
  ResultBlock* block = nullptr;
  std::memcpy(&block, result->responseText - kTextOffset, sizeof(block));
  ++block->ledger->released;
  if (block->ownsValue) ReleaseHostValue(block->value);
  delete[] block->text;
  delete block;
}

void StoreValue(CallResult* result, const HostValue& value) {
  std::memcpy(reinterpret_cast<unsigned char*>(result) + offsetof(CallResult, value), &value,
              sizeof(value));
}

}  // namespace

CallAnswer CallAnswer::Value(BindingProperty value, int32_t status) {
  CallAnswer answer;
  answer.value = std::move(value);
  answer.status = status;
  return answer;
}

CallAnswer CallAnswer::Json(std::string_view json, int32_t status) {
  BindingResult parsed = FromJsonText(json);
  if (!parsed.success) return Error(std::string(parsed.error()), 500);
  return Value(std::move(parsed.value), status);
}

CallAnswer CallAnswer::Error(std::string text, int32_t status) {
  CallAnswer answer;
  answer.kind = Kind::Error;
  answer.error = std::move(text);
  answer.status = status;
  return answer;
}

CallAnswer CallAnswer::Stream(std::vector<std::string> chunks, int failingRead, int32_t status) {
  CallAnswer answer;
  answer.kind = Kind::Stream;
  answer.chunks = std::move(chunks);
  answer.failingRead = failingRead;
  answer.status = status;
  return answer;
}

CallAnswer CallAnswer::Raw(const HostValue& value, int32_t status) {
  CallAnswer answer;
  answer.kind = Kind::Raw;
  answer.raw = value;
  answer.status = status;
  return answer;
}

bool DecodeCallRecord(const CallRecord& call, CallRequest& request, std::string& error) {
  if (!call.url) {
    error = "call without a URL";
    return false;
  }
  request.method = call.method;
  request.methodText = MethodText(call.method);
  request.url = call.url;
  request.path = request.url.substr(0, request.url.find('?'));
  request.hostHandle = call.hostHandle;
  if (call.argumentCount != 0 && !call.arguments) {
    error = "arguments were null";
    return false;
  }
  for (uint32_t i = 0; i < call.argumentCount; ++i) {
    BindingResult decoded = DecodeHostValue(call.arguments[i].value);
    if (!decoded.success) {
      error = "argument " + std::to_string(i) + ": " + std::string(decoded.error());
      return false;
    }
    request.argumentNames.emplace_back(call.arguments[i].name ? call.arguments[i].name : "");
    request.arguments.push_back(std::move(decoded.value));
  }
  return true;
}

void FillCallResult(CallResult* result, CallAnswer answer,
                    const std::shared_ptr<CallLedger>& ledger) {
  auto block = std::make_unique<ResultBlock>();
  block->ledger = ledger;
  if (answer.kind == CallAnswer::Kind::Value) {
    BindingResult encoded = EncodeHostValue(answer.value, nullptr, block->value);
    if (encoded.success) {
      block->ownsValue = true;
    } else {
      answer = CallAnswer::Error(std::string(encoded.error()), 500);
    }
  } else if (answer.kind == CallAnswer::Kind::Raw) {
    block->value = answer.raw;
  }

  const std::string statusText = answer.kind == CallAnswer::Kind::Error ? "ERROR" : "OK";
  block->text = new char[kTextOffset + statusText.size() + 1];
  ResultBlock* address = block.get();
  std::memcpy(block->text, &address, sizeof(address));
  std::memcpy(block->text + kTextOffset, statusText.c_str(), statusText.size() + 1);

  StoreValue(result, block->value);
  result->status = answer.status;
  result->responseText = block->text + kTextOffset;
  result->release = ReleaseResult;
  if (answer.kind == CallAnswer::Kind::Error) {
    block->error = std::move(answer.error);
    result->error = block->error.c_str();
  } else if (answer.kind == CallAnswer::Kind::Stream) {
    size_t total = 0;
    for (const std::string& chunk : answer.chunks) total += chunk.size();
    block->stream = std::make_unique<StreamState>();
    block->stream->ledger = ledger;
    block->stream->chunks = std::move(answer.chunks);
    block->stream->failingRead = answer.failingRead;
    result->streamRead = ReadStream;
    result->streamClose = CloseStream;
    result->streamSize = static_cast<uint32_t>(total);
    result->streamHandle = block->stream.get();
    ++ledger->streams;
  }
  ++ledger->issued;
  // From here the record owns the block; its release function frees it.
  static_cast<void>(block.release());
}

}  // namespace Zorv::Host
