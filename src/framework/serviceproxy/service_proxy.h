// AppModule's service-proxy client: requests to the game server's services,
// sent through the login plug-in's host resource and answered later by host
// events. (Definitions of the templates; included by app_module.h.)
//
//   MaybeType<Failure, DownloadUrlResponseV2> url =
//       CallServiceProxySync<DownloadUrlRequestV2, DownloadUrlResponseV2>(
//           "replays.retrieval", "getDownloadUrl", request);
//
// Promises:
// - A request is answered once: its completion runs when an answer with its
//   identifier has arrived, whichever of the two came first. Each arrival or
//   request start completes at most one request: the one whose answer arrived
//   first.
// - Answers without a request wait for one, up to
//   ServiceProxyTables::kMaxUnclaimedAnswers (1,000); past that the oldest is
//   dropped with a WARN line naming its identifier.
// - A uuid that the host gives to a second request while the first is still
//   pending fails the second one at once ("Request identifier <uuid> is
//   already in flight", WARN line); the first completes normally.
// - CallServiceProxy's future is ready as soon as the request cannot be sent
//   (finalizing, unconvertible request, host failure) or its answer is matched;
//   an answer with an error text fails with that text, and one whose payload
//   does not read as a Response fails with the deserialize message.
// - A request that is never answered leaves its future unready, and a
//   synchronous caller keeps yielding to the host.
// REQUIRES: a completion given to InvokeServiceProxy starts no service-proxy
// request itself: completions run while the (non-recursive) proxy mutex is held.
#pragma once

#include <future>
#include <memory>
#include <string>
#include <utility>

#include "binding/conversion.h"
#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "binding/static_type.h"
#include "framework/hostapi/failure.h"
#include "framework/module/app_module.h"

namespace Zorv::Client {
namespace internal {

inline constexpr const char kRequestConversionFailure[] =
    "Failed to convert type {type} to BindingProperty for serialization";
inline constexpr const char kResponseConversionFailure[] =
    "Failed to deserialize response payload \"{payload}\" to a {type}";

}  // namespace internal

template <typename Request>
std::string AppModule::InvokeServiceProxy(const std::string& serviceName,
                                          const std::string& methodName, const Request& request,
                                          const std::string& selector,
                                          const std::string& selectorArgument,
                                          ServiceProxyEventHandler completion) {
  if (finalizing_) return "Finalizing";
  const BindingResult converted = ToProperty(request, registry());
  if (!converted.success) {
    return MakeFailure(0, internal::kRequestConversionFailure, {StaticTypeName<Request>()}).message;
  }
  return InvokeServiceProxyPayload(serviceName, methodName,
                                   ToJsonText(converted.value, &registry()), selector,
                                   selectorArgument, std::move(completion));
}

template <typename Request, typename Response>
std::future<MaybeType<Failure, Response>> AppModule::CallServiceProxy(
    const std::string& serviceName, const std::string& methodName, const Request& request) {
  auto promise = std::make_shared<std::promise<MaybeType<Failure, Response>>>();
  std::future<MaybeType<Failure, Response>> future = promise->get_future();
  ServiceProxyEventHandler completion = [this, promise](const PluginServiceProxyResponse& answer) {
    if (!answer.error.empty()) {
      promise->set_value(MakeFailureText(0, answer.error));
      return;
    }
    const BindingResult parsed = FromJsonText(answer.payload);
    Response response{};
    if (!parsed.success || !FromProperty(parsed.value, response, "<value>", registry()).success) {
      promise->set_value(MakeFailure(0, internal::kResponseConversionFailure,
                                     {answer.payload, StaticTypeName<Response>()}));
      return;
    }
    promise->set_value(std::move(response));
  };
  const std::string error =
      InvokeServiceProxy(serviceName, methodName, request, {}, {}, std::move(completion));
  if (!error.empty()) promise->set_value(MakeFailureText(0, error));
  return future;
}

template <typename Request, typename Response>
MaybeType<Failure, Response> AppModule::CallServiceProxySync(const std::string& serviceName,
                                                             const std::string& methodName,
                                                             const Request& request) {
  return Await(CallServiceProxy<Request, Response>(serviceName, methodName, request));
}

}  // namespace Zorv::Client
