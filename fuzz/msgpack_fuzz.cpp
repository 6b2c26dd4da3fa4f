// The MessagePack reader on any bytes. A decoded value is read again from
// exactly the bytes it used, copied, and written as JSON and read back.
#include <cstddef>
#include <cstdint>

#include "binding/msgpack_reader.h"
#include "fuzz_support.h"
#include "json_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Zorv;
  (void)IsMsgPack(data, size);
  const MsgPackDecodeResult decoded = DecodeMsgPack(data, size);
  FUZZ_CHECK(decoded.bytesUsed <= size);
  if (!decoded.result.success) {
    FUZZ_CHECK(!decoded.result.error().empty());
    return 0;
  }
  const MsgPackDecodeResult again = DecodeMsgPack(data, decoded.bytesUsed);
  FUZZ_CHECK(again.result.success && again.bytesUsed == decoded.bytesUsed);
  FUZZ_CHECK(Fuzz::SameTree(decoded.result.value, again.result.value, Fuzz::Match::Exact));

  const BindingProperty copy = decoded.result.value;
  FUZZ_CHECK(Fuzz::SameTree(decoded.result.value, copy, Fuzz::Match::Exact));
  Fuzz::CheckJsonRoundTrip(decoded.result.value, Fuzz::Match::JsonText);
  return 0;
}
