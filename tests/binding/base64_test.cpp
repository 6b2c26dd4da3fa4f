#include "binding/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace Zorv {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Base64, EncodesEveryPaddingCaseAndBothHighCharacters) {
  struct Case {
    std::string_view bytes;
    const char* expected;
  };
  const Case cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string_view("\xfb\xff\xbf", 3), "+/+/"},
      {std::string_view("\0\0\0\xff", 4), "AAAA/w=="},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Base64Encode(Bytes(c.bytes)), c.expected) << "bytes: " << c.bytes;
  }
}

TEST(Base64, AppendAndBufferFormsWriteExactlyTheEncodedText) {
  std::string text = "blob:";
  Base64Append(Bytes("abcd"), text);
  EXPECT_EQ(text, "blob:YWJjZA==");

  char buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), '#');
  ASSERT_EQ(Base64EncodedSize(5), 8u);
  const char* end = Base64EncodeTo(Bytes("hello"), buffer);
  EXPECT_EQ(end - buffer, 8);
  EXPECT_EQ(std::string_view(buffer, 9), "aGVsbG8=#");
}

}  // namespace
}  // namespace Zorv
