// A replay file of any bytes: its metadata block is located, read and parsed
// as the folder scan does. The file lives in memory (a memfd, which is a
// regular file), so the target reads it through its real path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "binding/type_registry.h"
#include "fuzz_support.h"
#include "replays/api/replays_api_registration.h"
#include "replays/store/trec_file.h"
#include "replays/store/trec_metadata.h"

namespace {

using namespace Zorv;
using namespace Zorv::Client::Replays;

const TypeRegistry& Registry() {
  static const TypeRegistry* registry = [] {
    auto* made = new TypeRegistry;
    RegisterReplaysApiTypes(*made, "PexReplays");
    return made;
  }();
  return *registry;
}

// One memfd reused for every input, truncated and rewritten each time.
int FileDescriptor() {
  static const int fd = memfd_create("trec_file_fuzz", MFD_CLOEXEC);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz::MuteLogger();
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

  static char buffer[kTrecReadBufferSize];
  const std::string text = ReadMetadataText(path, buffer);
  FUZZ_CHECK(text.size() <= kTrecMaxMetadataLength);
  FUZZ_CHECK(text.size() <= size);
  const std::optional<Api::TrecFileMetadata> metadata = ParseTrecMetadata(Registry(), path, text);
  if (text.empty()) FUZZ_CHECK(!metadata);
  return 0;
}
