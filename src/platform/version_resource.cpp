#include "platform/version_resource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace Zorv::Platform {
namespace {

uint16_t U16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Layout of the headers, as offsets from the start of each record.
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kDosNewHeaderOffset = 0x3C;
constexpr size_t kPeHeadersSize = 24;  // "PE\0\0" and the COFF header
constexpr size_t kCoffSectionCount = 2;
constexpr size_t kCoffOptionalHeaderSize = 16;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr size_t kDataDirectorySize = 8;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kResourceDirectorySize = 16;
constexpr size_t kResourceEntrySize = 8;
constexpr size_t kResourceDataEntrySize = 16;
constexpr uint32_t kVersionResourceType = 16;
constexpr uint32_t kHighBit = 0x80000000u;
// Directory entries are read this many at a time, into the stack.
constexpr size_t kEntryChunk = 64;

// A regular file opened for reading; every read must lie wholly inside it.
class PeFile {
 public:
  explicit PeFile(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info {};
    if (fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
      size_ = static_cast<uint64_t>(info.st_size);
      regular_ = true;
    }
  }
  ~PeFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  PeFile(const PeFile&) = delete;
  PeFile& operator=(const PeFile&) = delete;

  bool ok() const { return regular_; }
  uint64_t size() const { return size_; }
  bool Holds(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  bool Read(uint64_t offset, void* out, size_t length) const {
    if (!regular_ || !Holds(offset, length)) return false;
    auto* bytes = static_cast<unsigned char*>(out);
    size_t done = 0;
    while (done < length) {
      const ssize_t got =
          ::pread(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // an error, or the file shrank
      done += static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_ = -1;
  bool regular_ = false;
  uint64_t size_ = 0;
};

struct Section {
  uint32_t virtualAddress;
  uint32_t rawSize;
  uint32_t rawOffset;
};

// The parts of the headers that the resource walk needs.
struct Image {
  uint32_t resourceRva = 0;
  std::vector<Section> sections;

  // File offset of `length` bytes at address `rva`, when one section's raw
  // data holds them all.
  std::optional<uint64_t> Map(uint64_t rva, uint64_t length) const {
    for (const Section& section : sections) {
      if (rva < section.virtualAddress) continue;
      const uint64_t delta = rva - section.virtualAddress;
      if (delta < section.rawSize && length <= section.rawSize - delta) {
        return uint64_t{section.rawOffset} + delta;
      }
    }
    return std::nullopt;
  }
};

std::optional<Image> ReadImage(const PeFile& file) {
  unsigned char dos[kDosHeaderSize];
  if (!file.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
  const uint64_t peOffset = U32(dos + kDosNewHeaderOffset);

  unsigned char pe[kPeHeadersSize];
  if (!file.Read(peOffset, pe, sizeof pe) || std::memcmp(pe, "PE\0\0", 4) != 0) return std::nullopt;
  const uint16_t sectionCount = U16(pe + 4 + kCoffSectionCount);
  const uint16_t optionalSize = U16(pe + 4 + kCoffOptionalHeaderSize);
  const uint64_t optionalOffset = peOffset + kPeHeadersSize;

  unsigned char magic[2];
  if (!file.Read(optionalOffset, magic, sizeof magic)) return std::nullopt;
  size_t countAt = 0;
  if (U16(magic) == kPe32Magic) {
    countAt = 92;
  } else if (U16(magic) == kPe32PlusMagic) {
    countAt = 108;
  } else {
    return std::nullopt;
  }
  // The directory count is followed by the directories themselves.
  const size_t directoryAt = countAt + 4 + kResourceDirectoryIndex * kDataDirectorySize;
  if (optionalSize < directoryAt + kDataDirectorySize) return std::nullopt;
  unsigned char count[4];
  unsigned char directory[kDataDirectorySize];
  if (!file.Read(optionalOffset + countAt, count, sizeof count) ||
      !file.Read(optionalOffset + directoryAt, directory, sizeof directory) ||
      U32(count) <= kResourceDirectoryIndex) {
    return std::nullopt;
  }
  Image image;
  image.resourceRva = U32(directory);
  if (image.resourceRva == 0 || sectionCount == 0) return std::nullopt;

  const uint64_t tableOffset = optionalOffset + optionalSize;
  if (!file.Holds(tableOffset, uint64_t{sectionCount} * kSectionHeaderSize)) return std::nullopt;
  image.sections.reserve(sectionCount);
  for (uint16_t i = 0; i < sectionCount; ++i) {
    unsigned char header[kSectionHeaderSize];
    if (!file.Read(tableOffset + uint64_t{i} * kSectionHeaderSize, header, sizeof header)) {
      return std::nullopt;
    }
    image.sections.push_back(Section{U32(header + 12), U32(header + 16), U32(header + 20)});
  }
  return image;
}

// A directory entry: the name or id, and where it leads (a subdirectory when
// the high bit is set, else a data entry), both relative to the resource root.
struct Entry {
  uint32_t name;
  uint32_t target;
};

class ResourceTree {
 public:
  ResourceTree(const PeFile& file, const Image& image) : file_(file), image_(image) {}

  // The first entry of the directory at `offset` for which `wanted` holds.
  template <typename Predicate>
  std::optional<Entry> Find(uint32_t offset, Predicate wanted) const {
    unsigned char header[kResourceDirectorySize];
    if (!Read(offset, header, sizeof header)) return std::nullopt;
    const uint32_t count = uint32_t{U16(header + 12)} + U16(header + 14);
    const uint64_t first = uint64_t{offset} + kResourceDirectorySize;
    // The whole entry array must be there before any of it is scanned.
    if (!At(first, uint64_t{count} * kResourceEntrySize)) return std::nullopt;
    std::array<unsigned char, kEntryChunk * kResourceEntrySize> chunk;
    for (uint32_t done = 0; done < count;) {
      const uint32_t n = std::min<uint32_t>(count - done, kEntryChunk);
      if (!Read(first + uint64_t{done} * kResourceEntrySize, chunk.data(),
                n * kResourceEntrySize)) {
        return std::nullopt;
      }
      for (uint32_t i = 0; i < n; ++i) {
        const Entry entry{U32(&chunk[i * kResourceEntrySize]),
                          U32(&chunk[i * kResourceEntrySize + 4])};
        if (wanted(entry)) return entry;
      }
      done += n;
    }
    return std::nullopt;
  }

  bool Read(uint64_t offset, void* out, size_t length) const {
    const std::optional<uint64_t> at = At(offset, length);
    return at && file_.Read(*at, out, length);
  }

  // File offset of `length` bytes at `offset` from the resource root.
  std::optional<uint64_t> At(uint64_t offset, uint64_t length) const {
    const std::optional<uint64_t> at = image_.Map(uint64_t{image_.resourceRva} + offset, length);
    if (!at || !file_.Holds(*at, length)) return std::nullopt;
    return at;
  }

 private:
  const PeFile& file_;
  const Image& image_;
};

struct BlockLocation {
  uint64_t offset;
  uint32_t size;
};

// Version type, first name, first language: three directories, each of which
// must be new to the walk, then the data entry.
std::optional<BlockLocation> FindVersionBlock(const PeFile& file) {
  if (!file.ok()) return std::nullopt;
  const std::optional<Image> image = ReadImage(file);
  if (!image) return std::nullopt;
  const ResourceTree tree(file, *image);

  std::optional<Entry> entry = tree.Find(
      0, [](const Entry& e) { return (e.name & kHighBit) == 0 && e.name == kVersionResourceType; });
  const auto any = [](const Entry&) { return true; };
  std::array<uint32_t, 3> visited{0, 0, 0};
  for (size_t level = 1; level < visited.size(); ++level) {
    if (!entry || (entry->target & kHighBit) == 0) return std::nullopt;
    const uint32_t next = entry->target & ~kHighBit;
    if (std::find(visited.begin(), visited.begin() + static_cast<ptrdiff_t>(level), next) !=
        visited.begin() + static_cast<ptrdiff_t>(level)) {
      return std::nullopt;
    }
    visited[level] = next;
    entry = tree.Find(next, any);
  }
  if (!entry || (entry->target & kHighBit) != 0) return std::nullopt;

  unsigned char data[kResourceDataEntrySize];
  if (!tree.Read(entry->target, data, sizeof data)) return std::nullopt;
  const uint32_t size = U32(data + 4);
  const std::optional<uint64_t> at = image->Map(U32(data), size);
  if (size == 0 || !at || !file.Holds(*at, size)) return std::nullopt;
  return BlockLocation{*at, size};
}

constexpr size_t kBlockHeaderSize = 6;  // wLength, wValueLength, wType
constexpr char16_t kRootKey[] = u"VS_VERSION_INFO";
constexpr size_t kRootKeyBytes = sizeof kRootKey;  // with its NUL
constexpr size_t kRootValueOffset = (kBlockHeaderSize + kRootKeyBytes + 3) & ~size_t{3};

}  // namespace

uint32_t GetFileVersionInfoSize(const std::string& path) {
  const PeFile file(path);
  const std::optional<BlockLocation> block = FindVersionBlock(file);
  return block ? block->size : 0;
}

bool GetFileVersionInfo(const std::string& path, uint32_t size, void* buffer) {
  if (size == 0 || buffer == nullptr) return false;
  const PeFile file(path);
  const std::optional<BlockLocation> block = FindVersionBlock(file);
  if (!block) return false;
  const uint32_t copied = std::min(size, block->size);
  if (!file.Read(block->offset, buffer, copied)) return false;
  std::memset(static_cast<unsigned char*>(buffer) + copied, 0, size - copied);
  return true;
}

bool VerQueryValue(const void* buffer, uint32_t size, const char* subBlock, const void** value,
                   uint32_t* length) {
  if (buffer == nullptr || subBlock == nullptr || value == nullptr || length == nullptr ||
      std::strcmp(subBlock, "\\") != 0 || size < kBlockHeaderSize) {
    return false;
  }
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  const size_t end = std::min<size_t>(U16(bytes), size);
  const uint16_t valueLength = U16(bytes + 2);
  if (end < kRootValueOffset) return false;
  for (size_t i = 0; i < kRootKeyBytes / 2; ++i) {
    if (U16(bytes + kBlockHeaderSize + 2 * i) != kRootKey[i]) return false;
  }
  if (valueLength == 0 || valueLength > end - kRootValueOffset) return false;
  *value = bytes + kRootValueOffset;
  *length = valueLength;
  return true;
}

}  // namespace Zorv::Platform
