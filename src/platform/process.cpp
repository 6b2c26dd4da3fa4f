#include "platform/process.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

namespace Zorv::Platform {

uint64_t CurrentThreadId() {
  thread_local const uint64_t id = static_cast<uint64_t>(syscall(SYS_gettid));
  return id;
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0) return {};
  return std::string(path, static_cast<size_t>(length));
}

}  // namespace Zorv::Platform
