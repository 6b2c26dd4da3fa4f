#include "binding/msgpack_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/tree_builder.h"
#include "logging/format_string.h"

namespace Zorv {

namespace {

enum class Family : uint8_t {
  PositiveFixint,
  NegativeFixint,
  FixMap,
  FixArray,
  FixStr,
  Nil,
  False,
  True,
  Bin8,
  Bin16,
  Bin32,
  Float32,
  Float64,
  UInt8,
  UInt16,
  UInt32,
  UInt64,
  Int8,
  Int16,
  Int32,
  Int64,
  Str8,
  Str16,
  Str32,
  Array16,
  Array32,
  Map16,
  Map32,
  Invalid,  // the never-used byte, ext 8/16/32, fixext 1-16
};

constexpr std::array<Family, 256> MakeFamilyTable() {
  std::array<Family, 256> table{};
  for (int b = 0x00; b <= 0x7f; ++b) table[b] = Family::PositiveFixint;
  for (int b = 0x80; b <= 0x8f; ++b) table[b] = Family::FixMap;
  for (int b = 0x90; b <= 0x9f; ++b) table[b] = Family::FixArray;
  for (int b = 0xa0; b <= 0xbf; ++b) table[b] = Family::FixStr;
  for (int b = 0xc0; b <= 0xdf; ++b) table[b] = Family::Invalid;
  for (int b = 0xe0; b <= 0xff; ++b) table[b] = Family::NegativeFixint;
  table[0xc0] = Family::Nil;
  table[0xc2] = Family::False;
  table[0xc3] = Family::True;
  table[0xc4] = Family::Bin8;
  table[0xc5] = Family::Bin16;
  table[0xc6] = Family::Bin32;
  table[0xca] = Family::Float32;
  table[0xcb] = Family::Float64;
  table[0xcc] = Family::UInt8;
  table[0xcd] = Family::UInt16;
  table[0xce] = Family::UInt32;
  table[0xcf] = Family::UInt64;
  table[0xd0] = Family::Int8;
  table[0xd1] = Family::Int16;
  table[0xd2] = Family::Int32;
  table[0xd3] = Family::Int64;
  table[0xd9] = Family::Str8;
  table[0xda] = Family::Str16;
  table[0xdb] = Family::Str32;
  table[0xdc] = Family::Array16;
  table[0xdd] = Family::Array32;
  table[0xde] = Family::Map16;
  table[0xdf] = Family::Map32;
  return table;
}

constexpr std::array<Family, 256> kFamilies = MakeFamilyTable();

// Walks the input once, feeding a TreeBuilder. The reader's own stack counts
// what is left of each open container; the builder places the values. A map
// is read a key and its value at a time.
class MsgPackReader {
 public:
  MsgPackReader(const uint8_t* data, size_t size, BindingResult& result)
      : data_(data), size_(size), result_(result), builder_(result.value) {
    stack_.reserve(16);
  }

  size_t run();

 private:
  enum class Open : uint8_t { Root, Array, Map };
  struct OpenContainer {
    uint64_t left;          // items (a map: key and value pairs) not yet started
    uint64_t reservedLeft;  // element slots reserved ahead and not yet filled
    Open kind;
  };

  size_t remaining() const { return size_ - pos_; }

  [[gnu::always_inline]] inline bool readKey(std::string_view& key);
  [[gnu::always_inline]] inline void readValue();
  void close(Open kind);
  [[gnu::always_inline]] inline void openArray(uint64_t count);
  [[gnu::always_inline]] inline void openMap(uint64_t entries);

  template <size_t N>
  [[gnu::always_inline]] inline bool readBigEndian(uint64_t& out);
  [[gnu::always_inline]] inline bool readLength(uint8_t type, Family family, uint64_t& length);
  [[gnu::always_inline]] inline bool readString(uint64_t length, std::string_view& out);
  void readBlob(uint64_t length);

  void fail(const std::string& message) {
    result_.setFailure(message);
    failed_ = true;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  BindingResult& result_;
  TreeBuilder builder_;
  std::vector<OpenContainer> stack_;
  // Reserved element slots not yet filled, over all open collections. Each
  // element takes at least one input byte, so reserving no more than the bytes
  // left beyond this keeps a run of lying counts from reserving more memory
  // than the input could ever fill.
  uint64_t promised_ = 0;
  bool failed_ = false;
};

size_t MsgPackReader::run() {
  // The root is the one item of a container that places into the builder's root.
  stack_.push_back({1, 0, Open::Root});
  while (!failed_ && !stack_.empty()) {
    OpenContainer& top = stack_.back();
    if (top.left == 0) {
      const Open kind = top.kind;
      stack_.pop_back();
      close(kind);
      continue;
    }
    if (pos_ == size_) break;
    if (top.kind == Open::Map) {
      std::string_view key;
      if (!readKey(key)) break;
      // A key at the end of the input adds no field.
      if (pos_ == size_) break;
      builder_.key(key);
    } else if (top.reservedLeft != 0) {
      --top.reservedLeft;
      --promised_;
    }
    --top.left;  // before readValue(), which may push and move the stack
    readValue();
  }
  // Input that ends inside containers keeps what was read of them.
  if (!failed_) builder_.closeAll();
  return pos_;
}

void MsgPackReader::close(Open kind) {
  if (kind == Open::Map) {
    builder_.endObject();
  } else if (kind == Open::Array) {
    builder_.endArray();
  }
}

bool MsgPackReader::readKey(std::string_view& key) {
  const uint8_t type = data_[pos_++];
  uint64_t length;
  if ((type & 0xe0) == 0xa0) {
    length = type & 0x1f;
  } else {
    const Family family = kFamilies[type];
    if (family != Family::Str8 && family != Family::Str16 && family != Family::Str32) {
      fail(FormatString("Invalid MessagePack data at position %1. Map keys must be strings.",
                        uint64_t{pos_}));
      return false;
    }
    if (!readLength(type, family, length)) return false;
  }
  return readString(length, key);
}

void MsgPackReader::readValue() {
  const uint8_t type = data_[pos_++];
  // Short strings, the most common values, skip the dispatch.
  if ((type & 0xe0) == 0xa0) {
    std::string_view text;
    if (readString(type & 0x1f, text)) builder_.string(text);
    return;
  }
  const Family family = kFamilies[type];
  uint64_t n = 0;
  switch (family) {
    case Family::PositiveFixint:
      builder_.signedInteger(type);
      return;
    case Family::NegativeFixint:
      builder_.signedInteger(static_cast<int8_t>(type));
      return;
    case Family::FixMap:
      openMap(type & 0x0f);
      return;
    case Family::FixArray:
      openArray(type & 0x0f);
      return;
    case Family::FixStr:
    case Family::Str8:
    case Family::Str16:
    case Family::Str32: {
      if (!readLength(type, family, n)) return;
      std::string_view text;
      if (readString(n, text)) builder_.string(text);
      return;
    }
    case Family::Nil:
      builder_.null();
      return;
    case Family::False:
      builder_.boolean(false);
      return;
    case Family::True:
      builder_.boolean(true);
      return;
    case Family::Bin8:
    case Family::Bin16:
    case Family::Bin32:
      if (readLength(type, family, n)) readBlob(n);
      return;
    case Family::Float32:
      if (readBigEndian<4>(n)) {
        builder_.floating(std::bit_cast<float>(static_cast<uint32_t>(n)));
      }
      return;
    case Family::Float64:
      if (readBigEndian<8>(n)) builder_.floating(std::bit_cast<double>(n));
      return;
    case Family::UInt8:
      if (readBigEndian<1>(n)) builder_.unsignedInteger(n);
      return;
    case Family::UInt16:
      if (readBigEndian<2>(n)) builder_.unsignedInteger(n);
      return;
    case Family::UInt32:
      if (readBigEndian<4>(n)) builder_.unsignedInteger(n);
      return;
    case Family::UInt64:
      if (readBigEndian<8>(n)) builder_.unsignedInteger(n);
      return;
    case Family::Int8:
      if (readBigEndian<1>(n)) builder_.signedInteger(static_cast<int8_t>(n));
      return;
    case Family::Int16:
      if (readBigEndian<2>(n)) builder_.signedInteger(static_cast<int16_t>(n));
      return;
    case Family::Int32:
      if (readBigEndian<4>(n)) builder_.signedInteger(static_cast<int32_t>(n));
      return;
    case Family::Int64:
      if (readBigEndian<8>(n)) builder_.signedInteger(static_cast<int64_t>(n));
      return;
    case Family::Array16:
      if (readBigEndian<2>(n)) openArray(n);
      return;
    case Family::Array32:
      if (readBigEndian<4>(n)) openArray(n);
      return;
    case Family::Map16:
      if (readBigEndian<2>(n)) openMap(n);
      return;
    case Family::Map32:
      if (readBigEndian<4>(n)) openMap(n);
      return;
    case Family::Invalid:
      break;
  }
  fail(FormatString("Invalid MessagePack data at position %1.", uint64_t{pos_}));
}

void MsgPackReader::openArray(uint64_t count) {
  const uint64_t unclaimed = remaining() > promised_ ? remaining() - promised_ : 0;
  const uint64_t reserve = std::min(count, unclaimed);
  builder_.beginArray(reserve);
  if (count == 0) {
    builder_.endArray();
    return;
  }
  stack_.push_back({count, reserve, Open::Array});
  promised_ += reserve;
}

void MsgPackReader::openMap(uint64_t entries) {
  builder_.beginObject();
  if (entries == 0) {
    builder_.endObject();
    return;
  }
  stack_.push_back({entries, 0, Open::Map});
}

template <size_t N>
bool MsgPackReader::readBigEndian(uint64_t& out) {
  static constexpr const char* kTruncated[] = {
      "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.",
      "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.",
      "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.",
      "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.",
  };
  static_assert(N == 1 || N == 2 || N == 4 || N == 8);
  if (remaining() < N) {
    fail(FormatString(kTruncated[std::countr_zero(N)], uint64_t{pos_}));
    return false;
  }
  uint64_t value = 0;
  for (size_t i = 0; i < N; ++i) value = (value << 8) | data_[pos_ + i];
  pos_ += N;
  out = value;
  return true;
}

// The length of a str or bin: in a fixstr's type byte, else the number after it.
bool MsgPackReader::readLength(uint8_t type, Family family, uint64_t& length) {
  switch (family) {
    case Family::Str8:
    case Family::Bin8:
      return readBigEndian<1>(length);
    case Family::Str16:
    case Family::Bin16:
      return readBigEndian<2>(length);
    case Family::Str32:
    case Family::Bin32:
      return readBigEndian<4>(length);
    default:  // fixstr
      length = type & 0x1f;
      return true;
  }
}

bool MsgPackReader::readString(uint64_t length, std::string_view& out) {
  if (length > remaining()) {
    fail(FormatString("Invalid MessagePack data. String of size %1 at position %2 is truncated.",
                      length, uint64_t{pos_}));
    return false;
  }
  out = std::string_view(reinterpret_cast<const char*>(data_ + pos_), length);
  pos_ += length;
  return true;
}

void MsgPackReader::readBlob(uint64_t length) {
  if (length > remaining()) {
    fail(
        FormatString("Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.",
                     length, uint64_t{pos_}));
    return;
  }
  builder_.blob(std::span<const uint8_t>(data_ + pos_, length));
  pos_ += length;
}

}  // namespace

MsgPackDecodeResult DecodeMsgPack(const uint8_t* data, size_t size) {
  MsgPackDecodeResult decoded;
  MsgPackReader reader(data, size, decoded.result);
  decoded.bytesUsed = reader.run();
  return decoded;
}

bool IsMsgPack(const uint8_t* data, size_t length) {
  if (length == 0) return false;
  return (data[0] >= 0x80 && data[0] <= 0x9f) || (data[0] >= 0xdc && data[0] <= 0xdf);
}

}  // namespace Zorv
