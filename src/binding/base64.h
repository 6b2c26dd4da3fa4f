// Base64 encoding with the standard alphabet (A-Z a-z 0-9 + /) and '='
// padding, as blobs are shown in display text and written in JSON.
//
//   Base64Encode(bytes);            // "YWJj" for the bytes of "abc"
//   Base64Append(bytes, text);      // appends to an existing string
//   char* end = Base64EncodeTo(bytes, buffer);  // buffer of Base64EncodedSize()
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace Zorv {

// Characters that `size` bytes encode to: 4 for every started group of 3.
constexpr size_t Base64EncodedSize(size_t size) {
  return (size + 2) / 3 * 4;
}

// Writes exactly Base64EncodedSize(bytes.size()) characters at `out` (no
// terminating zero) and returns the position after them.
char* Base64EncodeTo(std::span<const uint8_t> bytes, char* out);

void Base64Append(std::span<const uint8_t> bytes, std::string& text);

std::string Base64Encode(std::span<const uint8_t> bytes);

}  // namespace Zorv
