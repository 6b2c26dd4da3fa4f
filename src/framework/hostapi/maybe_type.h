// MaybeType<E, T>: the result of a framework operation: a value of T, or a
// failure of type E (always Failure in this system). MaybeType<E, void> holds
// only the failure, when there is one.
//
//   MaybeType<Failure, std::string> r = module.Call<std::string>(HOST_METHOD_GET, "/x");
//   if (!r) Log(LogLevel::Warn, kLogDBG, "%s", r.failure().message.c_str());
//   else use(r.value());
#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace Zorv {

template <typename E, typename T>
class [[nodiscard]] MaybeType {
 public:
  MaybeType(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  MaybeType(E failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // REQUIRES: ok().
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  // REQUIRES: !ok().
  E& failure() & { return std::get<1>(state_); }
  const E& failure() const& { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

template <typename E>
class [[nodiscard]] MaybeType<E, void> {
 public:
  MaybeType() = default;
  MaybeType(E failure) : failure_(std::move(failure)) {}

  bool ok() const { return !failure_.has_value(); }
  explicit operator bool() const { return ok(); }

  // REQUIRES: !ok().
  E& failure() & { return *failure_; }
  const E& failure() const& { return *failure_; }

 private:
  std::optional<E> failure_;
};

}  // namespace Zorv
