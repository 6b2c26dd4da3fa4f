// An executable of any bytes: its version block is sized, read and queried as
// the installed game's version is. The file lives in memory (a memfd, which
// is a regular file), so the reader opens it through its real path.
//
// Checked: the size answered never exceeds the file; a read fills the buffer
// it is given, whatever its size, with bytes that stand in the file in that
// order; a query answers a value that lies wholly inside the buffer.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/version_resource.h"

namespace {

using namespace Zorv;

int FileDescriptor() {
  static const int fd = memfd_create("pe_version_fuzz", MFD_CLOEXEC);
  return fd;
}

void Query(const std::vector<unsigned char>& buffer, uint32_t size) {
  const void* value = nullptr;
  uint32_t length = 0;
  if (!Platform::VerQueryValue(buffer.data(), size, "\\", &value, &length)) return;
  const auto* at = static_cast<const unsigned char*>(value);
  FUZZ_CHECK(at >= buffer.data() && length > 0 && length <= size);
  FUZZ_CHECK(static_cast<size_t>(at - buffer.data()) <= size - length);
  if (length >= sizeof(Platform::FixedFileInfo)) {
    Platform::FixedFileInfo info;
    std::memcpy(&info, value, sizeof info);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = FileDescriptor();
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(ftruncate(fd, 0) == 0);
  size_t written = 0;
  while (written < size) {
    const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
    FUZZ_CHECK(n > 0);
    written += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  const uint32_t blockSize = Platform::GetFileVersionInfoSize(path);
  FUZZ_CHECK(blockSize <= size);
  if (blockSize == 0) return 0;
  // The whole block, then a buffer that cuts it in half: both are read and
  // queried with exactly the size they have (the sanitizers see any overrun).
  for (const uint32_t bufferSize : {blockSize, blockSize / 2}) {
    if (bufferSize == 0) continue;
    std::vector<unsigned char> buffer(bufferSize);
    if (!Platform::GetFileVersionInfo(path, bufferSize, buffer.data())) continue;
    const std::boyer_moore_horspool_searcher block(buffer.begin(), buffer.end());
    FUZZ_CHECK(std::search(data, data + size, block) != data + size);
    Query(buffer, bufferSize);
  }
  return 0;
}
