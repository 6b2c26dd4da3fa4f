// The host's side of CallFunction: the decoded call (CallRequest), what a
// handler answers (CallAnswer), and the CallResult that carries the answer
// back across the boundary.
//
// FillCallResult gives the result one host-allocated block that holds every
// text, value and stream the result points to; the result's release function
// frees exactly that block, once. A streamed answer hands out read and close
// functions over its chunks: each read returns the rest of the current chunk
// (at most the buffer size), so a chunk boundary is a short read, and an empty
// chunk is a read of zero bytes. A CallLedger counts what was handed out and
// what came back, and outlives the host when a plug-in releases late.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Host {

struct CallRequest {
  uint32_t method = 0;
  std::string methodText;                  // empty for codes outside 1-7
  std::string url;                         // as sent
  std::string path;                        // url without its query
  std::vector<std::string> argumentNames;  // "" for a positional argument
  std::vector<BindingProperty> arguments;
  uint32_t hostHandle = 0;
};

struct CallAnswer {
  enum class Kind { Value, Error, Stream, Raw };

  static CallAnswer Value(BindingProperty value, int32_t status = 200);
  // The JSON text as a value; text that is not JSON answers an error with
  // status 500 and the reader's message.
  static CallAnswer Json(std::string_view json, int32_t status = 200);
  static CallAnswer Error(std::string text, int32_t status);
  // Chunks in order; read number `failingRead` (from 0) fails, -1 for none.
  static CallAnswer Stream(std::vector<std::string> chunks, int failingRead = -1,
                           int32_t status = 200);
  // Sent as it is and never released by the host: whatever the value points
  // to belongs to the caller and must outlive the plug-in's use of it. This is
  // how the not-owned text and byte tags are sent.
  static CallAnswer Raw(const HostValue& value, int32_t status = 200);

  Kind kind = Kind::Value;
  int32_t status = 200;
  BindingProperty value;
  std::string error;
  std::vector<std::string> chunks;
  int failingRead = -1;
  HostValue raw{};
};

struct CallLedger {
  size_t issued = 0;    // results filled
  size_t released = 0;  // release calls
  size_t streamReads = 0;
  size_t streamCloses = 0;
  size_t streams = 0;  // streamed results handed out
};

// Decodes the call's method, URL and arguments. False with `error` set when
// the URL is missing or an argument cannot be decoded.
bool DecodeCallRecord(const CallRecord& call, CallRequest& request, std::string& error);

// REQUIRES: `result` zero-filled. On an answer value that cannot be encoded the
// result carries that failure as an error with status 500.
void FillCallResult(CallResult* result, CallAnswer answer,
                    const std::shared_ptr<CallLedger>& ledger);

}  // namespace Zorv::Host
