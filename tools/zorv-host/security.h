// The front's guards and the lock file that tells clients where it listens.
//
// - MakeToken: 32 hexadecimal digits from getrandom.
// - AllowedHost: the Host header names this server on loopback
//   ("127.0.0.1", "localhost" or "[::1]" with the server's port), so a page
//   whose own name was re-pointed at 127.0.0.1 (DNS rebinding) is refused.
// - AllowedOrigin: no Origin header (a program, not a browser) or this
//   server's own origin; a page of any other origin is refused.
// - Authorized: "Bearer <token>", or basic authentication whose password is
//   the token; compared in constant time.
// - LockFile: <workspace>/zorv-host.lock holding {"port", "token", "pid"},
//   mode 0600 from its creation, removed by Remove or the destructor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Zorv::Host {

inline constexpr char kLockFileName[] = "zorv-host.lock";

// Throws std::system_error when the system has no randomness to give.
std::string MakeToken();
bool AllowedHost(std::string_view host, uint16_t port);
bool AllowedOrigin(std::string_view origin, uint16_t port);
bool Authorized(std::string_view authorization, std::string_view token);

class LockFile {
 public:
  LockFile() = default;
  ~LockFile() { Remove(); }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Writes the file (through a temporary file renamed into place). Refuses,
  // with a message, when a lock file names a process that still runs.
  std::string Write(const std::string& workspace, uint16_t port, const std::string& token);
  void Remove();

 private:
  std::string path_;
};

}  // namespace Zorv::Host
