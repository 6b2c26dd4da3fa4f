#include "zorv-host/security.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "binding/json_reader.h"

namespace Zorv::Host {

std::string MakeToken() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::system_error(errno, std::generic_category(), "getrandom");
    got += static_cast<size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

bool AllowedHost(std::string_view host, uint16_t port) {
  const std::string suffix = ":" + std::to_string(port);
  if (!host.ends_with(suffix)) return false;
  host.remove_suffix(suffix.size());
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

bool AllowedOrigin(std::string_view origin, uint16_t port) {
  if (origin.empty()) return true;
  constexpr std::string_view kScheme = "http://";
  if (!origin.starts_with(kScheme)) return false;
  origin.remove_prefix(kScheme.size());
  return AllowedHost(origin, port);
}

namespace {

bool EqualInConstantTime(std::string_view a, std::string_view b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) differ |= a[i] ^ b[i % (b.empty() ? 1 : b.size())];
  return differ == 0 && !b.empty();
}

// Standard alphabet with '=' padding; false for anything else.
bool DecodeBase64(std::string_view text, std::string& out) {
  uint32_t bits = 0;
  int count = 0;
  size_t padding = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z')
      value = c - 'A';
    else if (c >= 'a' && c <= 'z')
      value = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      value = c - '0' + 52;
    else if (c == '+')
      value = 62;
    else if (c == '/')
      value = 63;
    else if (c == '=') {
      ++padding;
      continue;
    } else
      return false;
    if (padding) return false;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return padding <= 2;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool Authorized(std::string_view authorization, std::string_view token) {
  if (StartsWithNoCase(authorization, "bearer ")) {
    return EqualInConstantTime(authorization.substr(7), token);
  }
  if (StartsWithNoCase(authorization, "basic ")) {
    std::string text;
    if (!DecodeBase64(authorization.substr(6), text)) return false;
    const size_t colon = text.find(':');
    return colon != std::string::npos &&
           EqualInConstantTime(std::string_view(text).substr(colon + 1), token);
  }
  return false;
}

namespace {

// The pid a lock file names when that process still runs; 0 otherwise.
long RunningOwner(const std::string& path) {
  std::ifstream in(path);
  if (!in) return 0;
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  const BindingResult parsed = FromJsonText(text);
  if (!parsed.success) return 0;
  const BindingProperty& field = parsed.value.find("pid");
  const long pid = field.kind() == ValueKind::Unsigned ? static_cast<long>(field.asUnsigned())
                                                       : static_cast<long>(field.asSigned());
  if (pid <= 0 || pid == static_cast<long>(getpid())) return 0;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

}  // namespace

std::string LockFile::Write(const std::string& workspace, uint16_t port, const std::string& token) {
  const std::string path = workspace + "/" + kLockFileName;
  if (const long owner = RunningOwner(path))
    return path + ": zorv-host (pid " + std::to_string(owner) + ") serves this workspace already";
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  const int fd =
      open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return temporary + ": " + std::generic_category().message(errno);
  const std::string text = "{\"port\": " + std::to_string(port) + ", \"token\": \"" + token +
                           "\", \"pid\": " + std::to_string(getpid()) + "}\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    return path + ": " + std::generic_category().message(error);
  }
  path_ = path;
  return "";
}

void LockFile::Remove() {
  if (path_.empty()) return;
  unlink(path_.c_str());
  path_.clear();
}

}  // namespace Zorv::Host
