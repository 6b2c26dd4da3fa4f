#include "platform/large_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace Zorv::Platform {
namespace {

// madvise takes whole pages: the advice covers the pages inside the buffer.
void AdviseHugePages(char* data, size_t size) {
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto end = reinterpret_cast<uintptr_t>(data) + size;
  if (end <= start) return;
  ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace

void ReserveLarge(std::string& buffer, size_t size) {
  if (size <= buffer.capacity()) return;
  buffer.reserve(size);
  if (buffer.capacity() >= kLargeBufferBytes) AdviseHugePages(buffer.data(), buffer.capacity());
}

void ReserveToAppend(std::string& buffer, size_t more) {
  const size_t needed = buffer.size() + more;
  if (needed <= buffer.capacity()) return;
  ReserveLarge(buffer, std::max(needed, buffer.capacity() * 2));
}

}  // namespace Zorv::Platform
