#include "platform/large_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace Zorv::Platform {
namespace {

// The content survives every reservation, small or past the huge-page size,
// and appending piece by piece grows the room geometrically.
TEST(LargeBufferTest, ReservationsKeepTheContentAndGrowGeometrically) {
  std::string buffer = "replay";
  for (const size_t size : {size_t{100}, kLargeBufferBytes, 3 * kLargeBufferBytes + 5}) {
    SCOPED_TRACE(size);
    ReserveLarge(buffer, size);
    EXPECT_GE(buffer.capacity(), size);
    EXPECT_EQ(buffer, "replay");
  }
  const size_t before = buffer.capacity();
  ReserveLarge(buffer, 10);
  EXPECT_EQ(buffer.capacity(), before);

  std::string grown;
  size_t growths = 0;
  for (int i = 0; i < 4096; ++i) {
    const size_t capacity = grown.capacity();
    ReserveToAppend(grown, 4096);
    if (grown.capacity() != capacity) {
      ++growths;
      EXPECT_GE(grown.capacity(), 2 * capacity);
    }
    grown.append(4096, static_cast<char>(i));
  }
  EXPECT_LE(growths, 25u);
  EXPECT_EQ(grown.size(), size_t{4096} * 4096);
  EXPECT_EQ(grown[4096 * 4095], static_cast<char>(4095));
}

}  // namespace
}  // namespace Zorv::Platform
