// HostValue decoding of any value graph a host could hand over. The bytes
// describe the graph in pre-order and the target builds it from real records,
// so the decoder is never given a pointer to nowhere, only what a host may
// really send: any tag (unknown ones too), any bool byte and double bits,
// texts and bytes with embedded zeros, null keys, and null pointers with
// non-zero counts.
//
// Framing, one node at a time: a tag byte (low four bits the tag, 11 to 15
// an unknown one; bit 4 makes the pointer of a text, bytes, array or map
// null), then the payload: one byte for a bool, eight for a number, a length
// byte and that many bytes for a text or bytes, a count byte for an array or
// map, each map entry's key as a length byte (255: a null key) and the key's
// bytes, followed by its value. Children come right after their parent.
//
// A value that decodes must encode, and decoding the encoded copy must give
// the same tree; releasing the copy must leave the null value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "framework/hostapi/host_value_codec.h"
#include "fuzz_support.h"

namespace {

using Zorv::Fuzz::Reader;

// Bounds the work of one input: slots beyond it are never created.
constexpr size_t kMaxNodes = 4096;

// Where a node goes: a HostValue of an array (or the root), or the value of a
// packed map entry, which is written with memcpy.
struct Slot {
  HostValue* value = nullptr;
  HostMapEntry* entry = nullptr;
};

class GraphBuilder {
 public:
  explicit GraphBuilder(Reader& in) : in_(in) {}

  HostValue Build() {
    HostValue root{};
    std::vector<Slot> pending{Slot{&root, nullptr}};
    nodes_ = 1;
    while (!pending.empty()) {
      const Slot slot = pending.back();
      pending.pop_back();
      HostValue value = Node(pending);
      if (slot.value != nullptr) {
        *slot.value = value;
      } else {
        std::memcpy(reinterpret_cast<unsigned char*>(slot.entry) + offsetof(HostMapEntry, value),
                    &value, sizeof value);
      }
    }
    return root;
  }

 private:
  HostValue Node(std::vector<Slot>& pending) {
    const uint8_t head = in_.byte();
    const uint32_t tag = head & 0x0f;
    const bool nullPointer = (head & 0x10) != 0;
    HostValue value{};
    value.tag = tag;
    switch (tag) {
      case HOST_VALUE_NULL:
        break;
      case HOST_VALUE_BOOL:
        value.payload.boolean = in_.byte();
        break;
      case HOST_VALUE_INT64:
      case HOST_VALUE_UINT64:
      case HOST_VALUE_DOUBLE:
        value.payload.uint64 = in_.number<uint64_t>();
        break;
      case HOST_VALUE_TEXT:
      case HOST_VALUE_OWNED_TEXT:
      case HOST_VALUE_BYTES:
      case HOST_VALUE_OWNED_BYTES: {
        const std::string& text = Text(in_.byte());
        value.payload.text.data = nullPointer ? nullptr : text.c_str();
        value.payload.text.length = static_cast<uint32_t>(text.size());
        break;
      }
      case HOST_VALUE_ARRAY: {
        const size_t count = Count();
        value.payload.array.count = static_cast<uint32_t>(count);
        if (nullPointer) break;
        std::vector<HostValue>& items = arrays_.emplace_back(count);
        value.payload.array.items = items.data();
        for (size_t i = count; i-- > 0;) pending.push_back(Slot{&items[i], nullptr});
        break;
      }
      case HOST_VALUE_MAP: {
        const size_t count = Count();
        value.payload.map.count = static_cast<uint32_t>(count);
        if (nullPointer) break;
        std::vector<HostMapEntry>& entries = maps_.emplace_back(count);
        value.payload.map.entries = entries.data();
        for (HostMapEntry& entry : entries) {
          const uint8_t length = in_.byte();
          entry.key = length == 255 ? nullptr : Text(length).c_str();
          entry.keyOwned = 0;
        }
        for (size_t i = count; i-- > 0;) pending.push_back(Slot{nullptr, &entries[i]});
        break;
      }
      default:  // an unknown tag: its payload bytes are whatever follows
        value.payload.uint64 = in_.number<uint64_t>();
        break;
    }
    return value;
  }

  const std::string& Text(uint8_t length) { return texts_.emplace_back(in_.text(length)); }

  size_t Count() {
    const size_t wanted = in_.byte();
    const size_t count = wanted < kMaxNodes - nodes_ ? wanted : kMaxNodes - nodes_;
    nodes_ += count;
    return count;
  }

  Reader& in_;
  size_t nodes_ = 0;
  std::deque<std::string> texts_;
  std::deque<std::vector<HostValue>> arrays_;
  std::deque<std::vector<HostMapEntry>> maps_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Zorv;
  Reader in(data, size);
  GraphBuilder builder(in);
  const HostValue graph = builder.Build();
  const BindingResult decoded = DecodeHostValue(graph);
  if (!decoded.success) {
    FUZZ_CHECK(!decoded.error().empty());
    return 0;
  }
  HostValue encoded{};
  const BindingResult written = EncodeHostValue(decoded.value, nullptr, encoded);
  FUZZ_CHECK(written.success);
  const BindingResult again = DecodeHostValue(encoded);
  FUZZ_CHECK(again.success);
  FUZZ_CHECK(Fuzz::SameTree(decoded.value, again.value, Fuzz::Match::Exact));
  ReleaseHostValue(encoded);
  FUZZ_CHECK(encoded.tag == HOST_VALUE_NULL);
  return 0;
}
