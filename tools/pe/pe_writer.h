// MakePeFile: small Windows executables (PE files) with a version resource,
// for tests of the version-resource reader and the development host's game client.
//
//   PeOptions options;
//   options.fileVersion = {10, 3, 311, 3581};
//   options.pe32Plus = true;
//   WritePeFile(folder.path() + "/Vellmoor.exe", options);
//
// A file holds a DOS header, the PE headers, a .text section and a .rsrc
// section with the resource tree: an icon type entry (3) and the version
// type (16), each leading to name 1, language 0x409 and one data entry whose
// data is the VS_VERSION_INFO block (the fixed file information and a
// VarFileInfo child). A defect breaks one thing of that file; the layout
// tells where each part went, for tests that patch a byte themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Zorv::Testing {

// The defects a made file can carry, one at a time.
#define PEX_PE_DEFECTS(X)                                                              \
  /* headers */                                                                        \
  X(TruncatedDosHeader)                                                                \
  X(BadDosMagic)                                                                       \
  X(PeOffsetPastEnd)                                                                   \
  X(BadPeSignature)                                                                    \
  X(TruncatedCoffHeader)                                                               \
  X(UnknownOptionalMagic)                                                              \
  X(TruncatedOptionalHeader)                                                           \
  X(OptionalHeaderTooSmall) /* its declared size ends before the resource directory */ \
  X(FewDataDirectories)                                                                \
  X(NoResourceDirectory)                                                               \
  /* sections */                                                                       \
  X(NoResourceSection)                                                                 \
  X(HugeSectionCount)                                                                  \
  X(ResourceRawDataPastEnd)                                                            \
  /* the resource tree */                                                              \
  X(HugeEntryCount)                                                                    \
  X(NoVersionType)                                                                     \
  X(VersionTypeIsNamed)                                                                \
  X(VersionTypeIsData)                                                                 \
  X(VersionTypePointsAtRoot)                                                           \
  X(NameDirectoryPointsAtItself)                                                       \
  X(NameEntryPointsAtRoot) /* whose first entry is made a data entry */                \
  X(LanguageEntryPointsAtNameDirectory)                                                \
  X(EmptyLanguageDirectory)                                                            \
  X(DataEntryOffsetPastEnd)                                                            \
  X(DataPastEnd)                                                                       \
  X(DataSizeLargerThanFile)                                                            \
  X(DataSizeZero)                                                                      \
  /* the version block (found and copied, but holding no usable fixed information) */  \
  X(WrongBlockKey)                                                                     \
  X(BlockLengthTooShort)                                                               \
  X(NoFixedInfo)                                                                       \
  X(FixedInfoPastBlock)

#define PEX_PE_DEFECT_ENUMERATOR(name) name,
enum class PeDefect { None, PEX_PE_DEFECTS(PEX_PE_DEFECT_ENUMERATOR) };
#undef PEX_PE_DEFECT_ENUMERATOR

struct PeDefectCase {
  PeDefect defect;
  const char* name;
};

#define PEX_PE_DEFECT_CASE(name) PeDefectCase{PeDefect::name, #name},
inline constexpr PeDefectCase kPeDefects[] = {PEX_PE_DEFECTS(PEX_PE_DEFECT_CASE)};
#undef PEX_PE_DEFECT_CASE

// True for the defects inside the version block: the block is still found
// and copied; only the query of its fixed information fails.
bool IsBlockDefect(PeDefect defect);

struct PeOptions {
  std::array<uint16_t, 4> fileVersion{1, 0, 0, 0};
  std::array<uint16_t, 4> productVersion{1, 0, 0, 0};
  bool pe32Plus = false;
  PeDefect defect = PeDefect::None;
};

// Where the parts of a made file start (file offsets).
struct PeLayout {
  size_t peHeader = 0;        // "PE\0\0"
  size_t optionalHeader = 0;  // its magic
  size_t sectionTable = 0;
  size_t resourceSection = 0;   // the root directory
  size_t versionDataEntry = 0;  // address and size of the version block
  size_t versionBlock = 0;
  size_t versionBlockSize = 0;
};

struct PeFileImage {
  std::string bytes;
  PeLayout layout;
};

PeFileImage MakePeFile(const PeOptions& options);

// Writes the image's bytes, or MakePeFile(options), to `path`; false when the
// file cannot be written.
bool WritePeFile(const std::string& path, const PeFileImage& image);
bool WritePeFile(const std::string& path, const PeOptions& options);

// Overwrites `width` bytes at `at` with `value`, little-endian, as a test
// patches one field of a made file.
void PutLittleEndian(std::string& bytes, size_t at, uint32_t value, size_t width);

}  // namespace Zorv::Testing
