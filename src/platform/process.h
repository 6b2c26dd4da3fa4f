// Facts about the running process: its thread ids and its executable.
#pragma once

#include <cstdint>
#include <string>

namespace Zorv::Platform {

// The kernel's id of the calling thread.
uint64_t CurrentThreadId();

// Full path of the process executable, or the empty text when it cannot be read.
std::string ExecutablePath();

}  // namespace Zorv::Platform
