// AppModule::Call: calls of host API functions with converted arguments.
// (Definitions of the Call templates; included by app_module.h.)
//
//   MaybeType<Failure, LoginData> login = Call<LoginData>(HOST_METHOD_GET, "/pex-login/v1/x");
//   MaybeType<Failure, void> sent = Call<void>(HOST_METHOD_POST, url, fields);
//
// Every argument is converted with the module's registry before anything is
// sent; the first one that fails makes the call a failure with code 400 and
// nothing reaches the host. Texts (std::string, std::string_view, C strings)
// travel as strings. Failure texts and codes are those of CallWithProperties;
// a result that does not convert to T fails with code 0.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/conversion.h"
#include "framework/hostapi/failure.h"
#include "framework/hostapi/maybe_type.h"
#include "framework/module/app_module.h"

namespace Zorv::Client {
namespace internal {

// The templates of the failures that CallWithProperties shares with Call.
inline constexpr const char kParametersFailure[] =
    "Request not sent: Error converting parameters for {method} {url}: {error}";
inline constexpr const char kResponseFailure[] =
    "Error converting response for {method} {url}: {error}";

// A failure of `templateText` with the method's text, the URL and the error.
Failure MakeCallFailure(int32_t code, const char* templateText, uint32_t method,
                        std::string_view url, std::string_view error);

template <typename T>
bool ToCallArgument(BindingProperty& out, const T& argument, const TypeRegistry& registry,
                    std::string& error) {
  using U = std::decay_t<T>;
  if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*> ||
                std::is_same_v<U, std::string_view>) {
    out = std::string_view(argument);
    return true;
  } else {
    return ToProperty(out, argument, registry, error);
  }
}

}  // namespace internal

template <typename T, typename... Args>
MaybeType<Failure, T> AppModule::Call(uint32_t method, std::string_view url,
                                      const Args&... arguments) {
  std::array<BindingProperty, sizeof...(Args)> properties;
  if constexpr (sizeof...(Args) > 0) {
    std::string error;
    size_t index = 0;
    const bool converted =
        (internal::ToCallArgument(properties[index++], arguments, registry(), error) && ...);
    if (!converted) {
      return internal::MakeCallFailure(400, internal::kParametersFailure, method, url, error);
    }
  }
  MaybeType<Failure, BindingProperty> result =
      CallWithProperties(method, url, properties.data(), properties.size(), !std::is_void_v<T>);
  if constexpr (std::is_void_v<T>) {
    if (!result) return std::move(result.failure());
    return {};
  } else if constexpr (std::is_same_v<T, BindingProperty>) {
    return result;
  } else {
    if (!result) return std::move(result.failure());
    T native{};
    const BindingResult converted = FromProperty(result.value(), native, "<result>", registry());
    if (!converted.success) {
      return internal::MakeCallFailure(0, internal::kResponseFailure, method, url,
                                       converted.error());
    }
    return native;
  }
}

}  // namespace Zorv::Client
