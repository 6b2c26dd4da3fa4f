// Invoke: the host's entry into one of the module's functions. The host calls
// the FunctionRecord's invoke pointer with a zero-filled CallResult and the
// incoming CallRecord, whose context is the Endpoint of that record.
//
//   Invoke(&result, &call);       // match, bind, run the handler, encode
//   use(result.value, result.error, result.status);
//   result.release(&result);      // frees what the module allocated, zero-fills
//
// Promises:
// - No exception leaves Invoke, and no call record makes it read out of
//   bounds: a null URL, null header texts, or a null array or body with a
//   non-zero count or size answer with an error text instead.
// - A failure always sets the error text (never null on failure): "Invalid
//   function" with status 404 when the path or method matches no route, the
//   binding's message with status 400 when an argument or the body cannot be
//   bound or converted, the handler's Failure with its code as the status, an
//   exception's text with status 500, and the encoder's message with status
//   400 when the result value cannot be encoded.
// - Everything the module puts in the result is owned by the result and freed
//   by its release function (ReleaseCallResult); a stream is handed over to the
//   host, which closes it through the stream close function.
#pragma once

#include "framework/endpoints/endpoint.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Client {

// The invoke pointer of every FunctionRecord.
void Invoke(CallResult* result, const CallRecord* call);

// Matches the call against the endpoint's routes, binds the arguments and runs
// the handler.
FunctionResult Dispatch(Endpoint& endpoint, const CallRecord& call);

// Writes `function` into `result` (which the caller has zero-filled), including
// the release function. `registry` names enumerators; it may be null.
void EncodeFunctionResult(FunctionResult&& function, const TypeRegistry* registry,
                          CallResult* result);

// The module's release function of a CallResult: frees the value, the error
// text, the response text and the header pairs, then zero-fills the record.
void ReleaseCallResult(CallResult* result);

}  // namespace Zorv::Client
