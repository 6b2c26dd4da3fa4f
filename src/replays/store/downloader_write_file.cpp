// DownloaderSubmodule::WriteFile: a downloaded replay appears in the folder
// whole or not at all.
//
// The file is not synced to disk: a replay is a copy of the server's, and a
// sync of 100 MiB doubled a download's time. After a power cut the file may be
// short, as any file written without a sync; the folder scan skips a short
// replay as it skips any broken one, and the game can be downloaded again.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "replays/store/downloader_submodule.h"

namespace Zorv::Client::Replays {
namespace {

// Names that collide with a file already there (left by anyone) are skipped,
// so a few tries always suffice unless the folder cannot take files at all.
constexpr int kTemporaryNameTries = 64;
// Writes go in pieces of 16 KiB. Larger writes make the kernel fill the page
// cache with larger blocks of new memory, which came out three to five times
// slower for a 100 MiB replay on ext4 (0.25-0.35 s against 0.05-0.09 s).
constexpr size_t kMaxWriteChunk = size_t{16} << 10;

uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// ".pex-" and eight letters or digits, then ".part": short whatever the
// target's length, hidden, and never taken for a replay by the folder listing.
std::string TemporaryName(const std::string& folder) {
  static std::atomic<uint64_t> counter{0};
  constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t bits = Mix(static_cast<uint64_t>(Platform::MonotonicNanoseconds()) ^
                      (static_cast<uint64_t>(::getpid()) << 40) ^ counter.fetch_add(1));
  std::string name = folder + ".pex-";
  for (int i = 0; i < 8; ++i, bits /= 36) name.push_back(kDigits[bits % 36]);
  return name + ".part";
}

// The folder part of `path`, separator included ("" for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a new file that no one else has open: mode 0666 less the umask.
int CreateTemporary(const std::string& folder, std::string& name) {
  for (int i = 0; i < kTemporaryNameTries; ++i) {
    name = TemporaryName(folder);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

size_t WriteAll(int fd, std::string_view bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const size_t chunk = std::min(bytes.size() - written, kMaxWriteChunk);
    const ssize_t n = ::write(fd, bytes.data() + written, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  return written;
}

Failure Discard(int fd, const std::string& temporary, std::string message) {
  if (fd >= 0) ::close(fd);
  ::unlink(temporary.c_str());
  return MakeFailureText(0, std::move(message));
}

}  // namespace

MaybeType<Failure, void> DownloaderSubmodule::WriteFile(const std::string& path,
                                                        std::string_view bytes) {
  const std::string folder = FolderOf(path);
  std::string temporary;
  const int fd = CreateTemporary(folder, temporary);
  if (fd < 0) return MakeFailureText(0, "could not open file for writing");

  const size_t written = WriteAll(fd, bytes);
  if (written < bytes.size()) {
    return Discard(fd, temporary,
                   "only wrote " + std::to_string(written) + "/" + std::to_string(bytes.size()) +
                       " bytes to file");
  }
  const int closed = ::close(fd);
  if (closed != 0) return Discard(-1, temporary, "could not close file");
  // rename replaces a file or a symbolic link at the target itself, atomically.
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    return Discard(-1, temporary, "could not replace file");
  }
  return {};
}

}  // namespace Zorv::Client::Replays
