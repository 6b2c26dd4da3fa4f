#include "platform/file_system.h"

#include <sys/stat.h>

namespace Zorv::Platform {

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  // "\" separates folders here as "/" does, so it is written as "/" on this platform.
  std::string prefix;
  prefix.reserve(path.size());
  for (size_t i = 0; i <= path.size(); ++i) {
    const bool end = i == path.size();
    const char c = end ? '/' : path[i];
    if (c == '/' || c == '\\') {
      if (!prefix.empty() && prefix.back() != '/' && !IsDirectory(prefix)) {
        ::mkdir(prefix.c_str(), 0777);
      }
      if (!end) prefix.push_back('/');
    } else {
      prefix.push_back(c);
    }
  }
  return IsDirectory(prefix);
}

}  // namespace Zorv::Platform
