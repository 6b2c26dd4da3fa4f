// Helpers shared by the fuzz targets: a check that stops the run with a message,
// tree comparisons that walk without recursion, and a reader that takes typed
// pieces off the front of a fuzz input.
//
// Every target defines LLVMFuzzerTestOneInput and nothing else; libFuzzer or
// replay_main.cpp supplies main. A target that finds a broken promise calls
// FUZZ_CHECK, which prints the condition and aborts, so both drivers report the
// input as a crash.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/base64.h"
#include "binding/binding_property.h"
#include "logging/logger_api.h"

#define FUZZ_CHECK(condition)                                             \
  do {                                                                    \
    if (!(condition)) ::Zorv::Fuzz::Fail(__FILE__, __LINE__, #condition); \
  } while (false)

namespace Zorv::Fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
  std::abort();
}

// Targets whose code logs (a handler's exception, say) would flood the fuzzer's
// output; the text of a log line is not what they test.
inline void MuteLogger() {
  static const bool muted = [] {
    GetLoggerApi()->mute();
    return true;
  }();
  (void)muted;
}

// How loosely two trees may differ and still count as the same.
enum class Match {
  // Same kinds and payloads; NaN equals NaN, and 0.0 equals -0.0.
  Exact,
  // `b` is `a` written as JSON and read back: a signed and an unsigned integer
  // of the same value are equal ("-0" reads signed and is written as 0).
  JsonNumbers,
  // JsonNumbers, and what JSON cannot hold: a blob in `a` is its Base64 text
  // in `b`, a NaN or an infinity in `a` is empty (null) in `b`.
  JsonText,
};

inline bool SameScalar(const BindingProperty& a, const BindingProperty& b, Match match) {
  const ValueKind ka = a.kind();
  const ValueKind kb = b.kind();
  const bool integers = (ka == ValueKind::Signed || ka == ValueKind::Unsigned) &&
                        (kb == ValueKind::Signed || kb == ValueKind::Unsigned);
  if (match != Match::Exact && integers && ka != kb) {
    const BindingProperty& s = ka == ValueKind::Signed ? a : b;
    const BindingProperty& u = ka == ValueKind::Signed ? b : a;
    return s.asSigned() >= 0 && static_cast<uint64_t>(s.asSigned()) == u.asUnsigned();
  }
  if (match == Match::JsonText) {
    if (ka == ValueKind::Blob && kb == ValueKind::String) {
      return Base64Encode(a.asBlob()) == b.asString();
    }
    if (ka == ValueKind::Float && !std::isfinite(a.asDouble())) return kb == ValueKind::Empty;
  }
  if (ka != kb) return false;
  switch (ka) {
    case ValueKind::Float: {
      const double x = a.asDouble();
      const double y = b.asDouble();
      return x == y || (std::isnan(x) && std::isnan(y));
    }
    case ValueKind::Collection:
    case ValueKind::Structure:
      return a.size() == b.size();
    default:
      return a == b;
  }
}

// Compares two trees of any depth with an explicit stack.
inline bool SameTree(const BindingProperty& a, const BindingProperty& b, Match match) {
  std::vector<std::pair<const BindingProperty*, const BindingProperty*>> pending{{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (!SameScalar(*x, *y, match)) return false;
    if (x->kind() == ValueKind::Collection) {
      for (size_t i = 0; i < x->size(); ++i) pending.emplace_back(&x->element(i), &y->element(i));
    } else if (x->kind() == ValueKind::Structure) {
      auto yi = y->fields().begin();
      for (const auto& field : x->fields()) {
        if (field.name != (*yi).name) return false;
        pending.emplace_back(&field.value, &(*yi).value);
        ++yi;
      }
    }
  }
  return true;
}

// Takes typed pieces off the front of the input; once the bytes run out every
// read answers zero or the empty text.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }
  size_t remaining() const { return size_; }

  uint8_t byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  template <typename T>
  T number() {
    T value{};
    unsigned char bytes[sizeof(T)] = {};
    const size_t n = take(sizeof(T));
    std::memcpy(bytes, data_ - n, n);
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  std::string_view text(size_t length) {
    const size_t n = take(length);
    return {reinterpret_cast<const char*>(data_ - n), n};
  }
  std::string_view rest() { return text(size_); }

 private:
  size_t take(size_t n) {
    n = n < size_ ? n : size_;
    data_ += n;
    size_ -= n;
    return n;
  }

  const uint8_t* data_;
  size_t size_;
};

}  // namespace Zorv::Fuzz
