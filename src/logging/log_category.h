// Log categories: bit i of an event's 64-bit category mask names category i.
//
// A process-wide table of 64 three-letter codes names the bits. The first eight
// are preset (below); further codes take the next free bit on registration:
//
//   const uint64_t kLogLOC = RegisterLogCategory("LOC");   // 1 << 8 in a fresh process
//
// Registration is thread-safe and never blocks. Codes are compared on their
// first three characters. The table has 64 slots: once they are all taken,
// registering a new code returns 0 (no category) instead of a bit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zorv {

inline constexpr uint64_t kLogDBG = 1, kLogGEN = 2, kLogXTR = 4, kLogPRF = 8, kLogMEM = 16,
                          kLogDSK = 32, kLogNET = 64, kLogTST = 128;

inline constexpr size_t kLogCategorySlots = 64;

// A mask from the two 32-bit halves in which the C boundary passes it.
inline constexpr uint64_t JoinLogMask(uint32_t low, uint32_t high) {
  return uint64_t{low} | uint64_t{high} << 32;
}

// The mask of code's category, registering it when it is new. A null or empty
// code is not a category and gives 0.
uint64_t RegisterLogCategory(const char* code);

// Writes the codes of the categories in mask, lowest bit first, separated by
// ";" ("DBG;XTR" for 5, "" for 0; a bit no code has claimed reads "???").
// The text is cut to size - 1 characters and zero-terminated when size > 0.
// Returns the number of characters written.
size_t LogCategoryNames(char* out, size_t size, uint64_t mask);

}  // namespace Zorv
