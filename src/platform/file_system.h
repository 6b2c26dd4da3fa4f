// Folder helpers of the replay store on UTF-8 paths.
#pragma once

#include <string>

namespace Zorv::Platform {

// True when `path` names an existing directory (a symbolic link to one counts).
bool IsDirectory(const std::string& path);

// Creates `path` and every missing parent folder, one component at a time;
// both "/" and "\" separate components. Components that exist as directories
// are kept. Returns whether the whole path is a directory afterwards; callers
// that do not care may ignore it.
bool CreateDirectories(const std::string& path);

}  // namespace Zorv::Platform
