#include "replays/store/trec_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <optional>
#include <streambuf>
#include <utility>

#include "logging/log.h"

namespace Zorv::Client::Replays {
namespace {

// An input stream buffer over a file descriptor, reading with pread into the
// caller's buffer. A seek into the bytes already buffered costs no system
// call, so a small replay file is read with one pread.
class FileReadBuffer : public std::streambuf {
 public:
  FileReadBuffer(int fd, std::span<char> buffer)
      : fd_(fd), buffer_(buffer.empty() ? std::span<char>(fallback_) : buffer) {
    setg(buffer_.data(), buffer_.data(), buffer_.data());
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    start_ = position();
    const ssize_t got = ReadAt(buffer_.data(), buffer_.size(), start_);
    setg(buffer_.data(), buffer_.data(), buffer_.data() + std::max<ssize_t>(got, 0));
    if (got <= 0) return traits_type::eof();
    return traits_type::to_int_type(*gptr());
  }

  std::streamsize xsgetn(char* out, std::streamsize count) override {
    std::streamsize done = std::min<std::streamsize>(count, egptr() - gptr());
    std::memcpy(out, gptr(), static_cast<size_t>(done));
    gbump(static_cast<int>(done));
    // Large reads go straight into the destination instead of through the buffer.
    while (done < count) {
      const std::streamsize want = count - done;
      if (want < static_cast<std::streamsize>(buffer_.size())) {
        if (traits_type::eq_int_type(underflow(), traits_type::eof())) break;
        const std::streamsize part = std::min<std::streamsize>(want, egptr() - gptr());
        std::memcpy(out + done, gptr(), static_cast<size_t>(part));
        gbump(static_cast<int>(part));
        done += part;
        continue;
      }
      const ssize_t got = ReadAt(out + done, static_cast<size_t>(want), position());
      if (got <= 0) break;
      start_ = position() + got;
      setg(buffer_.data(), buffer_.data(), buffer_.data());
      done += got;
    }
    return done;
  }

  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override {
    if (direction == std::ios_base::beg) return seekpos(pos_type(offset), which);
    if (direction == std::ios_base::cur) return seekpos(pos_type(position() + offset), which);
    return pos_type(off_type(-1));
  }

  pos_type seekpos(pos_type target, std::ios_base::openmode which) override {
    const off_type to = target;
    if (!(which & std::ios_base::in) || to < 0) return pos_type(off_type(-1));
    if (to >= start_ && to <= start_ + (egptr() - eback())) {
      setg(eback(), eback() + (to - start_), egptr());
    } else {
      start_ = to;
      setg(buffer_.data(), buffer_.data(), buffer_.data());
    }
    return target;
  }

 private:
  off_type position() const { return start_ + (gptr() - eback()); }

  ssize_t ReadAt(char* out, size_t size, off_type at) const {
    ssize_t got;
    do {
      got = ::pread(fd_, out, size, at);
    } while (got < 0 && errno == EINTR);
    return got;
  }

  int fd_;
  std::span<char> buffer_;
  off_type start_ = 0;  // file position of eback()
  char fallback_[64];   // for a caller that gives no buffer
};

// Closes the descriptor on every way out of the reader.
struct FileCloser {
  int fd;
  ~FileCloser() { ::close(fd); }
};

// Reads a little-endian 32-bit word; false when the stream is no longer good.
bool ReadWord(std::istream& in, uint32_t& word) {
  unsigned char bytes[4] = {};
  in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  word = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
  return in.good();
}

std::optional<std::string> ReadOpenFile(const std::string& path, FileReadBuffer& file) {
  std::istream in(&file);
  char magic[4] = {};
  in.read(magic, sizeof magic);
  if (std::memcmp(magic, kTrecMagic, sizeof magic) != 0) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: saw that file '%s' is not a valid trec",
        path.c_str());
    return std::nullopt;
  }
  uint32_t offset = 0;
  uint32_t length = 0;
  if (!in.seekg(kTrecMetadataOffsetPosition) || !ReadWord(in, offset)) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: could not read metadata offset from trec '%s'",
        path.c_str());
    return std::nullopt;
  }
  if (!ReadWord(in, length)) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: could not read metadata size from trec '%s'",
        path.c_str());
    return std::nullopt;
  }
  if (length > kTrecMaxMetadataLength) {
    Log(LogLevel::Warn, kLogDBG,
        "FileManager: ignoring trec '%s' with very large metadata (%u bytes)", path.c_str(),
        length);
    return std::nullopt;
  }
  in.seekg(offset);
  std::string text(length, '\0');
  in.read(text.data(), length);
  if (!in.good()) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: could not read metadata from trec '%s'",
        path.c_str());
    return std::nullopt;
  }
  return text;
}

}  // namespace

std::optional<std::string> ReadMetadataBlock(const std::string& path, std::span<char> readBuffer) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; only
  // regular files are read, and for them the flag changes nothing.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: failed to open trec: '%s'", path.c_str());
    return std::nullopt;
  }
  FileCloser closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: failed to open trec: '%s'", path.c_str());
    return std::nullopt;
  }
  try {
    FileReadBuffer file(fd, readBuffer);
    return ReadOpenFile(path, file);
  } catch (...) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: encountered unexpected exception reading trec '%s'",
        path.c_str());
    return std::nullopt;
  }
}

std::string ReadMetadataText(const std::string& path, std::span<char> readBuffer) {
  std::optional<std::string> block = ReadMetadataBlock(path, readBuffer);
  return block ? std::move(*block) : std::string();
}

}  // namespace Zorv::Client::Replays
