#include "binding/base64.h"

namespace Zorv {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

char* Base64EncodeTo(std::span<const uint8_t> bytes, char* out) {
  const uint8_t* in = bytes.data();
  size_t left = bytes.size();
  for (; left >= 3; left -= 3, in += 3) {
    const uint32_t group = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
    out[0] = kAlphabet[group >> 18];
    out[1] = kAlphabet[(group >> 12) & 63];
    out[2] = kAlphabet[(group >> 6) & 63];
    out[3] = kAlphabet[group & 63];
    out += 4;
  }
  if (left > 0) {
    const uint32_t group = uint32_t{in[0]} << 16 | (left == 2 ? uint32_t{in[1]} << 8 : 0);
    out[0] = kAlphabet[group >> 18];
    out[1] = kAlphabet[(group >> 12) & 63];
    out[2] = left == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out[3] = '=';
    out += 4;
  }
  return out;
}

void Base64Append(std::span<const uint8_t> bytes, std::string& text) {
  const size_t start = text.size();
  text.resize(start + Base64EncodedSize(bytes.size()));
  Base64EncodeTo(bytes, text.data() + start);
}

std::string Base64Encode(std::span<const uint8_t> bytes) {
  std::string text;
  Base64Append(bytes, text);
  return text;
}

}  // namespace Zorv
