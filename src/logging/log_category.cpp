#include "logging/log_category.h"

#include <atomic>

namespace Zorv {
namespace {

// A code packed into one word, first character lowest, so that slots can be
// read while another thread registers.
constexpr uint32_t Pack(const char (&code)[4]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(code[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 16;
}

constexpr uint32_t kFree = Pack("???");

struct CategoryTable {
  std::atomic<uint32_t> codes[kLogCategorySlots];
  std::atomic<int32_t> highestInUse;
};

constinit CategoryTable gTable = {
    {Pack("DBG"), Pack("GEN"), Pack("XTR"), Pack("PRF"), Pack("MEM"), Pack("DSK"), Pack("NET"),
     Pack("TST"), kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree,       kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree,       kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree,       kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree,       kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree,       kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree,       kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree,       kFree,       kFree,       kFree,       kFree,       kFree,       kFree,
     kFree},
    7};

uint64_t SlotMask(int32_t slot) {
  return uint64_t{1} << slot;
}

}  // namespace

uint64_t RegisterLogCategory(const char* code) {
  if (!code || !*code) return 0;
  char key[4] = {};
  for (size_t i = 0; i < 3 && code[i]; ++i) key[i] = code[i];
  const uint32_t packed = Pack(key);

  const int32_t highest = gTable.highestInUse.load(std::memory_order_acquire);
  for (int32_t slot = 0; slot <= highest && slot < int32_t{kLogCategorySlots}; ++slot) {
    if (gTable.codes[slot].load(std::memory_order_acquire) == packed) return SlotMask(slot);
  }
  const int32_t slot = gTable.highestInUse.fetch_add(1, std::memory_order_acq_rel) + 1;
  if (slot >= int32_t{kLogCategorySlots}) {
    // Keep the count at the table's end so that later lookups stay in range.
    gTable.highestInUse.store(kLogCategorySlots - 1, std::memory_order_release);
    return 0;
  }
  gTable.codes[slot].store(packed, std::memory_order_release);
  return SlotMask(slot);
}

size_t LogCategoryNames(char* out, size_t size, uint64_t mask) {
  if (size == 0) return 0;
  size_t length = 0;
  auto put = [&](char c) {
    if (length + 1 < size) out[length++] = c;
  };
  bool first = true;
  for (size_t bit = 0; bit < kLogCategorySlots; ++bit) {
    if (!(mask & (uint64_t{1} << bit))) continue;
    if (!first) put(';');
    first = false;
    const uint32_t packed = gTable.codes[bit].load(std::memory_order_acquire);
    for (int shift = 0; shift < 24; shift += 8) {
      const char c = static_cast<char>((packed >> shift) & 0xFF);
      if (!c) break;
      put(c);
    }
  }
  out[length] = '\0';
  return length;
}

}  // namespace Zorv
