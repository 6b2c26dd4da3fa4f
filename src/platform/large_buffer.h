// Room for byte buffers of many MiB, such as a downloaded replay held whole in
// memory.
//
//   std::string body;
//   Platform::ReserveLarge(body, contentLength);  // one allocation, huge pages
//   body.append(chunk, n);                        // no reallocation up to there
//
// Filling a fresh buffer costs one page fault per 4 KiB page, and on a virtual
// machine a fault costs several microseconds: about 0.3 s for 100 MiB, more
// than the copy itself. Buffers of several MiB are therefore advised to the
// kernel for huge pages (2 MiB), which it may or may not grant; nothing else
// changes, so the advice is safe to give or to lose.
#pragma once

#include <cstddef>
#include <string>

namespace Zorv::Platform {

// Buffers from this size on get the huge-page advice.
inline constexpr size_t kLargeBufferBytes = size_t{4} << 20;

// Makes buffer.capacity() at least `size` (the content is kept); a new
// allocation of kLargeBufferBytes or more is advised for huge pages.
void ReserveLarge(std::string& buffer, size_t size);

// Room for `more` bytes after buffer.size(): at least twice the capacity when
// it must grow, so appending piece by piece copies each byte a bounded number
// of times.
void ReserveToAppend(std::string& buffer, size_t more);

}  // namespace Zorv::Platform
