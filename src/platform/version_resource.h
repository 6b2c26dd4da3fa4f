// The version resource of a Windows executable (a PE file), read on any
// platform through the three calls Windows offers for it:
//
//   uint32_t size = GetFileVersionInfoSize(path);              // 0: no usable resource
//   std::vector<unsigned char> buffer(size);
//   const void* value = nullptr;
//   uint32_t length = 0;
//   if (size && GetFileVersionInfo(path, size, buffer.data()) &&
//       VerQueryValue(buffer.data(), size, "\\", &value, &length) &&
//       length >= sizeof(FixedFileInfo)) {
//     FixedFileInfo info;
//     std::memcpy(&info, value, sizeof info);  // info.fileVersionMS >> 16 is the major number
//   }
//
// The resource is found the way the format lays it out: the DOS header's
// pointer to the "PE\0\0" header, the optional header (PE32 or PE32+) and its
// resource data directory, the section table that maps addresses to file
// offsets, then the resource tree: type 16 (version), its first name, that
// name's first language, and the data entry of the VS_VERSION_INFO block.
//
// Files are untrusted. Every offset and size is checked against the file
// before it is read; the tree is walked exactly three levels and a directory
// that leads back to one already on the walk is refused; directory entries
// are read in small fixed-size chunks. The reader allocates nothing sized
// by the file except the section table, which it reads only once the file
// is known to hold it, and GetFileVersionInfoSize never answers more than
// the file's size. Only regular files are opened, without waiting.
#pragma once

#include <cstdint>
#include <string>

namespace Zorv::Platform {

// The fixed file information (the VS_FIXEDFILEINFO layout, 52 bytes), the
// root value of a version block.
struct FixedFileInfo {
  uint32_t signature;  // kFixedFileInfoSignature in a well-formed block
  uint32_t structVersion;
  uint32_t fileVersionMS;  // major << 16 | minor
  uint32_t fileVersionLS;  // build << 16 | revision
  uint32_t productVersionMS;
  uint32_t productVersionLS;
  uint32_t fileFlagsMask;
  uint32_t fileFlags;
  uint32_t fileOS;
  uint32_t fileType;
  uint32_t fileSubtype;
  uint32_t fileDateMS;
  uint32_t fileDateLS;
};
static_assert(sizeof(FixedFileInfo) == 52);

inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

// Bytes of the version block of the executable at `path`, or 0 when the file
// cannot be read, is not a PE file or has no well-placed version resource.
// Never more than the file's size.
uint32_t GetFileVersionInfoSize(const std::string& path);

// Copies the version block into `buffer` (`size` bytes). When `size` is
// larger than the block, the rest of the buffer is zeroed; when smaller, only
// the first `size` bytes are copied. False when the block cannot be found
// again (the file changed) or `size` is 0.
bool GetFileVersionInfo(const std::string& path, uint32_t size, void* buffer);

// Looks up a value of a version block held in `buffer` (`size` bytes). Only
// the root "\" is known: its value is the fixed file information that follows
// the block's "VS_VERSION_INFO" key, aligned to 4 bytes. On success `*value`
// points into `buffer` and `*length` bytes from there lie inside both the
// buffer and the block's own length; the signature is not checked. False
// for any other name, a block that is too short, or a missing or misplaced
// value.
bool VerQueryValue(const void* buffer, uint32_t size, const char* subBlock, const void** value,
                   uint32_t* length);

}  // namespace Zorv::Platform
