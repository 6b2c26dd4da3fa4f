// Registration of a module's endpoints: AppModule::Get, Post and AddEndpoint
// (definitions of the templates; included by app_module.h) and the builder on
// which the module declares the handler's arguments, in parameter order.
//
//   Get("/pex-replays/v1/metadata/{gameId}", &ReplaysPlugin::GetMetadata)
//       .path("gameId", "Game id")
//       .description("The replay metadata of one game.");
//   Post("/pex-replays/v2/metadata/{gameId}/create", &ReplaysPlugin::CreateMetadata)
//       .path("gameId", "Game id")
//       .body("request", "What the game was");
//
// A handler is a member function of the derived module, or a plain function or
// callable (a lambda, say) that needs no module. Its parameters give the
// arguments' types (converted from the bound values with the module's registry;
// a value that does not convert fails the call with status 400 and the
// conversion message; an argument that the call does not supply keeps its
// default value). It returns void, a value R (converted with the registry),
// MaybeType<Failure, R> or MaybeType<Failure, void> (a Failure's code becomes
// the status: MakeNotFound answers 404), or a FunctionResult for full control.
// Successful calls answer status 200. A last parameter of type CallContext
// receives the call's context word instead of an argument:
//
//   Get("/t/v1/who", [](CallContext context) { return context.word; });
//
// An argument the builder does not declare keeps the name "arg" followed by its
// index and may come from anywhere; declaring more arguments than the handler
// takes throws std::invalid_argument, which fails the module's registration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/conversion.h"
#include "binding/type_identifier.h"
#include "framework/endpoints/endpoint.h"
#include "framework/hostapi/failure.h"
#include "framework/hostapi/host_method.h"
#include "framework/hostapi/maybe_type.h"
#include "framework/module/api_registry.h"
#include "framework/module/app_module.h"
#include "framework/module/plugin_identity.h"

namespace Zorv::Client {

class EndpointBuilder {
 public:
  explicit EndpointBuilder(Endpoint& endpoint) : endpoint_(&endpoint) {}

  // The next handler parameter, taken from the path template's parameter of
  // that name.
  EndpointBuilder& path(std::string_view name, std::string_view description = {}) {
    return declare(name, description, ARGUMENT_LOCATION_PATH);
  }
  // The next handler parameter, decoded from the request body.
  EndpointBuilder& body(std::string_view name, std::string_view description = {}) {
    return declare(name, description, ARGUMENT_LOCATION_BODY);
  }
  EndpointBuilder& query(std::string_view name, std::string_view description = {}) {
    return declare(name, description, ARGUMENT_LOCATION_QUERY);
  }
  EndpointBuilder& header(std::string_view name, std::string_view description = {}) {
    return declare(name, description, ARGUMENT_LOCATION_HEADER);
  }
  // The next handler parameter, from any location.
  EndpointBuilder& argument(std::string_view name, std::string_view description = {}) {
    return declare(name, description, ARGUMENT_LOCATION_ANY);
  }

  EndpointBuilder& description(std::string_view text) {
    endpoint_->description = text;
    return *this;
  }
  EndpointBuilder& nameSpace(std::string_view text) {
    endpoint_->nameSpace = text;
    return *this;
  }
  // A further template that reaches the same function with the same method;
  // of several matching templates the one capturing the fewest characters wins.
  EndpointBuilder& alsoAt(std::string_view pathTemplate) {
    const Route& first = *endpoint_->routes.front();
    endpoint_->routes.push_back(std::make_unique<Route>(
        Route{first.method, first.customMethod, first.getOnly, PathMatcher(pathTemplate)}));
    return *this;
  }
  // Restricts every route to GET and HEAD calls.
  EndpointBuilder& getOnly() {
    for (auto& route : endpoint_->routes) route->getOnly = 1;
    return *this;
  }

  Endpoint& endpoint() { return *endpoint_; }

 private:
  EndpointBuilder& declare(std::string_view name, std::string_view description, uint32_t location) {
    if (declared_ >= endpoint_->arguments.size()) {
      throw std::invalid_argument("Endpoint " + endpoint_->name +
                                  " declares more arguments than its handler takes");
    }
    ArgumentDeclaration& argument = endpoint_->arguments[declared_++];
    argument.name = name;
    argument.description = description;
    argument.location = location;
    return *this;
  }

  Endpoint* endpoint_;
  size_t declared_ = 0;
};

namespace internal {

// A handler's module, result and parameter types. Member functions run on the
// module; plain functions and callables (their call operator) run alone.
template <typename F>
struct HandlerTraits;

template <typename D, typename R, typename... A>
struct HandlerTraits<R (D::*)(A...)> {
  using Module = D;
  using Result = R;
  using Arguments = std::tuple<std::remove_cvref_t<A>...>;
  static constexpr bool kMember = true;
};
template <typename D, typename R, typename... A>
struct HandlerTraits<R (D::*)(A...) const> : HandlerTraits<R (D::*)(A...)> {};
template <typename D, typename R, typename... A>
struct HandlerTraits<R (D::*)(A...) noexcept> : HandlerTraits<R (D::*)(A...)> {};
template <typename D, typename R, typename... A>
struct HandlerTraits<R (D::*)(A...) const noexcept> : HandlerTraits<R (D::*)(A...)> {};

template <typename R, typename... A>
struct HandlerTraits<R (*)(A...)> {
  using Module = AppModule;
  using Result = R;
  using Arguments = std::tuple<std::remove_cvref_t<A>...>;
  static constexpr bool kMember = false;
};

template <typename F>
struct HandlerTraits : HandlerTraits<decltype(&F::operator())> {
  using Module = AppModule;
  static constexpr bool kMember = false;
};

template <typename Handler, typename... T>
decltype(auto) CallHandler([[maybe_unused]] typename HandlerTraits<Handler>::Module* module,
                           Handler& handler, T&&... arguments) {
  if constexpr (HandlerTraits<Handler>::kMember) {
    return (module->*handler)(std::forward<T>(arguments)...);
  } else {
    return handler(std::forward<T>(arguments)...);
  }
}

// Whether a handler's parameters end with a CallContext.
template <typename Arguments>
struct EndsWithContext : std::false_type {};
template <typename... A>
requires(sizeof...(A) > 0) struct EndsWithContext<std::tuple<A...>>
    : std::is_same<std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>, CallContext> {
};

template <typename T>
struct IsMaybe : std::false_type {};
template <typename T>
struct IsMaybe<MaybeType<Failure, T>> : std::true_type {
  using Value = T;
};

template <typename R>
constexpr TypeIdentifier ResultTypeOf() {
  if constexpr (std::is_void_v<R>) {
    return {};
  } else if constexpr (std::is_same_v<R, FunctionResult>) {
    return {TypeKind::Object, TypeKind::None, 0};
  } else if constexpr (IsMaybe<R>::value) {
    return ResultTypeOf<typename IsMaybe<R>::Value>();
  } else {
    return TypeIdentifierOf<R>();
  }
}

template <typename T>
FunctionResult ValueResult(const T& native, const TypeRegistry& registry) {
  FunctionResult result;
  std::string error;
  if (!ToProperty(result.value.value, native, registry, error)) {
    return FunctionResult::Failed(error, 400);
  }
  return result;
}

// Converts the bound values to the handler's parameter types (the
// arguments I...), hands it the context word when it takes one, runs it and
// turns what it returns into a FunctionResult.
template <typename Handler, size_t... I>
FunctionResult RunHandler(typename HandlerTraits<Handler>::Module* module, Handler& handler,
                          const Endpoint& endpoint,
                          [[maybe_unused]] std::span<BindingProperty> values,
                          [[maybe_unused]] uint32_t contextWord, std::index_sequence<I...>) {
  using Traits = HandlerTraits<Handler>;
  using R = typename Traits::Result;
  using Arguments = typename Traits::Arguments;
  [[maybe_unused]] const TypeRegistry& registry = *endpoint.registry;
  [[maybe_unused]] Arguments natives;
  BindingResult conversion;
  // An argument that nothing bound keeps its native default, as an absent
  // optional field of a structure does.
  ((values[I].isEmpty() ? void()
                        : FromProperty(conversion, values[I], std::get<I>(natives),
                                       endpoint.arguments[I].name, registry)),
   ...);
  if (!conversion.success) return FunctionResult::Failed(conversion.error(), 400);
  if constexpr (EndsWithContext<Arguments>::value) {
    std::get<std::tuple_size_v<Arguments> - 1>(natives).word = contextWord;
  }
  auto call = [&]() -> decltype(auto) {
    return std::apply(
        [&](auto&... parameters) -> decltype(auto) {
          return CallHandler(module, handler, std::move(parameters)...);
        },
        natives);
  };
  if constexpr (std::is_void_v<R>) {
    call();
    return FunctionResult{};
  } else if constexpr (std::is_same_v<R, FunctionResult>) {
    return call();
  } else if constexpr (IsMaybe<R>::value) {
    R result = call();
    if (!result) return FunctionResult::Failed(result.failure().message, result.failure().code);
    if constexpr (std::is_void_v<typename IsMaybe<R>::Value>) {
      return FunctionResult{};
    } else {
      return ValueResult(result.value(), registry);
    }
  } else {
    return ValueResult(call(), registry);
  }
}

}  // namespace internal

template <typename Handler>
EndpointBuilder AppModule::AddEndpoint(uint32_t method, std::string_view path, Handler handler,
                                       std::string_view customMethod) {
  using Traits = internal::HandlerTraits<Handler>;
  using Module = typename Traits::Module;
  static_assert(std::is_base_of_v<AppModule, Module>, "handlers are members of the module");
  using Arguments = typename Traits::Arguments;
  constexpr bool kTakesContext = internal::EndsWithContext<Arguments>::value;
  // The function's arguments: every parameter but a trailing CallContext.
  constexpr size_t kArity = std::tuple_size_v<Arguments> - (kTakesContext ? 1 : 0);

  auto endpoint = std::make_unique<Endpoint>();
  const uint32_t code = NormalizeMethod(method);
  endpoint->method = code;
  if (code == HOST_METHOD_CUSTOM) endpoint->customMethod = customMethod;
  endpoint->name =
      MakeIdentifier(code == HOST_METHOD_CUSTOM ? customMethod : MethodText(code), path);
  endpoint->tags = tags();
  endpoint->routes.push_back(
      std::make_unique<Route>(Route{code, endpoint->customMethod, 0, PathMatcher(path)}));
  endpoint->moduleName = identity().shortName;
  endpoint->registry = &registry();
  endpoint->resultType = internal::ResultTypeOf<typename Traits::Result>();
  endpoint->arguments.resize(kArity);
  [&]<size_t... I>(std::index_sequence<I...>) {
    static_assert((!std::is_same_v<std::tuple_element_t<I, Arguments>, CallContext> && ...),
                  "a CallContext parameter comes last");
    ((endpoint->arguments[I].name = "arg" + std::to_string(I),
      endpoint->arguments[I].type = TypeIdentifierOf<std::tuple_element_t<I, Arguments>>()),
     ...);
  }
  (std::make_index_sequence<kArity>{});

  Module* module = static_cast<Module*>(this);
  Endpoint& added = apiRegistry().addFunction(std::move(endpoint));
  const Endpoint* target = &added;
  added.handler = [module, handler, target](std::span<BindingProperty> values,
                                            uint32_t contextWord) mutable {
    return internal::RunHandler(module, handler, *target, values, contextWord,
                                std::make_index_sequence<kArity>{});
  };
  return EndpointBuilder(added);
}

template <typename Handler>
EndpointBuilder AppModule::Get(std::string_view path, Handler handler) {
  return AddEndpoint(HOST_METHOD_GET, path, handler);
}

template <typename Handler>
EndpointBuilder AppModule::Post(std::string_view path, Handler handler) {
  return AddEndpoint(HOST_METHOD_POST, path, handler);
}

}  // namespace Zorv::Client
