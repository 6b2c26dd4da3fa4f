#include "pe/pe_writer.h"

#include <fstream>
#include <initializer_list>
#include <utility>

namespace Zorv::Testing {
namespace {

constexpr size_t kPeHeader = 0x80;
constexpr size_t kHeadersEnd = 0x200;
constexpr size_t kTextOffset = 0x200;
constexpr size_t kTextSize = 0x200;
constexpr size_t kResourceOffset = 0x400;
constexpr uint32_t kTextRva = 0x1000;
constexpr uint32_t kResourceRva = 0x2000;
constexpr uint32_t kSubdirectory = 0x80000000u;

// The resource section, by offset from its start: the icon's subtree, the
// version's subtree, the icon's data, then the version block.
constexpr uint32_t kRoot = 0x00;
constexpr uint32_t kIconNames = 0x20;
constexpr uint32_t kIconLanguages = 0x38;
constexpr uint32_t kIconData = 0x50;
constexpr uint32_t kVersionNames = 0x60;
constexpr uint32_t kVersionLanguages = 0x78;
constexpr uint32_t kVersionData = 0x90;
constexpr uint32_t kIconBytes = 0xA0;
constexpr uint32_t kIconSize = 0x10;
constexpr uint32_t kBlock = 0xB0;

class Bytes {
 public:
  explicit Bytes(std::string& bytes) : bytes_(bytes) {}

  void Put(size_t at, uint32_t value, size_t width) {
    Grow(at + width);
    for (size_t i = 0; i < width; ++i) bytes_[at + i] = static_cast<char>(value >> (8 * i));
  }
  void Put16(size_t at, uint32_t value) { Put(at, value, 2); }
  void Put32(size_t at, uint32_t value) { Put(at, value, 4); }
  void PutText(size_t at, std::string_view text) {
    Grow(at + text.size());
    bytes_.replace(at, text.size(), text);
  }
  // A UTF-16 key with its NUL, as version blocks hold them.
  void PutKey(size_t at, std::string_view key) {
    for (size_t i = 0; i <= key.size(); ++i) Put16(at + 2 * i, i < key.size() ? key[i] : 0);
  }

 private:
  void Grow(size_t size) {
    if (bytes_.size() < size) bytes_.resize(size, '\0');
  }

  std::string& bytes_;
};

// A directory of id entries at `at`: {id, target} pairs.
void PutDirectory(Bytes& out, size_t at, std::initializer_list<std::pair<uint32_t, uint32_t>> ids) {
  out.Put16(at + 14, static_cast<uint32_t>(ids.size()));
  size_t entry = at + 16;
  for (const auto& [id, target] : ids) {
    out.Put32(entry, id);
    out.Put32(entry + 4, target);
    entry += 8;
  }
}

uint32_t High(const std::array<uint16_t, 4>& v) {
  return uint32_t{v[0]} << 16 | v[1];
}
uint32_t Low(const std::array<uint16_t, 4>& v) {
  return uint32_t{v[2]} << 16 | v[3];
}

// VS_VERSION_INFO: the fixed file information, then a VarFileInfo block with
// one Translation value. Returns the block's length.
size_t PutVersionBlock(Bytes& out, size_t at, const PeOptions& options) {
  constexpr size_t kFixed = 40;  // after the header and the key, aligned to 4
  constexpr size_t kFixedSize = 52;
  const uint32_t fixed[13] = {0xFEEF04BD,
                              0x00010000,
                              High(options.fileVersion),
                              Low(options.fileVersion),
                              High(options.productVersion),
                              Low(options.productVersion),
                              0x3F,
                              0,
                              0x00040004,
                              1,
                              0,
                              0,
                              0};
  out.Put16(at + 2, kFixedSize);
  out.PutKey(at + 6, "VS_VERSION_INFO");
  for (size_t i = 0; i < 13; ++i) out.Put32(at + kFixed + 4 * i, fixed[i]);

  const size_t var = at + kFixed + kFixedSize;  // 92: aligned already
  out.Put16(var, 68);
  out.Put16(var + 4, 1);
  out.PutKey(var + 6, "VarFileInfo");
  const size_t translation = var + 32;
  out.Put16(translation, 36);
  out.Put16(translation + 2, 4);
  out.PutKey(translation + 6, "Translation");
  out.Put32(translation + 32, 0x04B00409);

  const size_t length = translation + 36 - at;
  out.Put16(at, static_cast<uint32_t>(length));
  return length;
}

void ApplyDefect(std::string& bytes, Bytes& out, const PeLayout& layout, size_t countAt,
                 PeDefect defect) {
  const size_t coff = layout.peHeader + 4;
  const size_t resourceEntry = layout.optionalHeader + countAt + 4 + 2 * 8;
  const size_t resourceSection = layout.sectionTable + 40;
  const size_t root = layout.resourceSection;
  const size_t versionType = root + 16 + 8;  // the root's second entry
  const size_t nameEntry = root + kVersionNames + 16;
  const size_t languageEntry = root + kVersionLanguages + 16;
  const size_t data = layout.versionDataEntry;
  const size_t block = layout.versionBlock;
  switch (defect) {
    case PeDefect::None:
      break;
    case PeDefect::TruncatedDosHeader:
      bytes.resize(40);
      break;
    case PeDefect::BadDosMagic:
      bytes[1] = 'X';
      break;
    case PeDefect::PeOffsetPastEnd:
      out.Put32(0x3C, 0xFFFFFFF0);
      break;
    case PeDefect::BadPeSignature:
      bytes[layout.peHeader + 1] = 'X';
      break;
    case PeDefect::TruncatedCoffHeader:
      bytes.resize(coff + 12);
      break;
    case PeDefect::UnknownOptionalMagic:
      out.Put16(layout.optionalHeader, 0x107);
      break;
    case PeDefect::TruncatedOptionalHeader:
      bytes.resize(layout.optionalHeader + 60);
      break;
    case PeDefect::OptionalHeaderTooSmall:
      out.Put16(coff + 16, static_cast<uint32_t>(resourceEntry + 4 - layout.optionalHeader));
      break;
    case PeDefect::FewDataDirectories:
      out.Put32(layout.optionalHeader + countAt, 2);
      break;
    case PeDefect::NoResourceDirectory:
      out.Put32(resourceEntry, 0);
      out.Put32(resourceEntry + 4, 0);
      break;
    case PeDefect::NoResourceSection:
      out.Put16(coff + 2, 1);
      break;
    case PeDefect::HugeSectionCount:
      out.Put16(coff + 2, 0xFFFF);
      break;
    case PeDefect::ResourceRawDataPastEnd:
      out.Put32(resourceSection + 20, 0x7FFFFE00);
      break;
    case PeDefect::HugeEntryCount:
      out.Put16(root + 12, 0xFFFF);
      out.Put16(root + 14, 0xFFFF);
      break;
    case PeDefect::NoVersionType:
      out.Put32(versionType, 14);
      break;
    case PeDefect::VersionTypeIsNamed:
      out.Put32(versionType, kSubdirectory | 16);
      break;
    case PeDefect::VersionTypeIsData:
      out.Put32(versionType + 4, kVersionNames);
      break;
    case PeDefect::VersionTypePointsAtRoot:
      out.Put32(versionType + 4, kSubdirectory | kRoot);
      break;
    case PeDefect::NameDirectoryPointsAtItself:
      out.Put32(nameEntry + 4, kSubdirectory | kVersionNames);
      break;
    case PeDefect::NameEntryPointsAtRoot:
      out.Put32(root + 16 + 4, kIconData);
      out.Put32(nameEntry + 4, kSubdirectory | kRoot);
      break;
    case PeDefect::LanguageEntryPointsAtNameDirectory:
      out.Put32(languageEntry + 4, kSubdirectory | kVersionNames);
      break;
    case PeDefect::EmptyLanguageDirectory:
      out.Put16(root + kVersionLanguages + 14, 0);
      break;
    case PeDefect::DataEntryOffsetPastEnd:
      out.Put32(languageEntry + 4, 0x7FFFFFF0);
      break;
    case PeDefect::DataPastEnd:
      out.Put32(data, 0x7FFF0000);
      break;
    case PeDefect::DataSizeLargerThanFile:
      out.Put32(data + 4, 0xFFFFFFF0);
      break;
    case PeDefect::DataSizeZero:
      out.Put32(data + 4, 0);
      break;
    case PeDefect::WrongBlockKey:
      bytes[block + 6 + 2 * 5] = 'X';
      break;
    case PeDefect::BlockLengthTooShort:
      out.Put16(block, 20);
      break;
    case PeDefect::NoFixedInfo:
      out.Put16(block + 2, 0);
      break;
    case PeDefect::FixedInfoPastBlock:
      out.Put16(block + 2, 0x400);
      break;
  }
}

}  // namespace

PeFileImage MakePeFile(const PeOptions& options) {
  PeFileImage image;
  std::string& bytes = image.bytes;
  PeLayout& layout = image.layout;
  Bytes out(bytes);

  out.PutText(0, "MZ");
  out.Put32(0x3C, kPeHeader);
  out.PutText(0x40, "This program cannot be run in DOS mode.");

  layout.peHeader = kPeHeader;
  const size_t coff = kPeHeader + 4;
  const size_t optionalSize = options.pe32Plus ? 240 : 224;
  const size_t countAt = options.pe32Plus ? 108 : 92;
  out.PutText(kPeHeader, std::string_view("PE\0\0", 4));
  out.Put16(coff, options.pe32Plus ? 0x8664 : 0x014C);
  out.Put16(coff + 2, 2);
  out.Put16(coff + 16, static_cast<uint32_t>(optionalSize));
  out.Put16(coff + 18, options.pe32Plus ? 0x0022 : 0x0102);

  layout.optionalHeader = coff + 20;
  const size_t optional = layout.optionalHeader;
  out.Put16(optional, options.pe32Plus ? 0x20B : 0x10B);
  out.Put32(optional + 16, kTextRva);     // entry point
  out.Put32(optional + 32, 0x1000);       // section alignment
  out.Put32(optional + 36, 0x200);        // file alignment
  out.Put32(optional + 56, 0x3000);       // image size
  out.Put32(optional + 60, kHeadersEnd);  // headers size
  out.Put16(optional + 68, 2);            // a GUI program
  out.Put32(optional + countAt, 16);      // data directories
  const size_t resourceEntry = optional + countAt + 4 + 2 * 8;

  layout.sectionTable = optional + optionalSize;
  const size_t text = layout.sectionTable;
  out.PutText(text, ".text");
  out.Put32(text + 8, 0x10);
  out.Put32(text + 12, kTextRva);
  out.Put32(text + 16, kTextSize);
  out.Put32(text + 20, kTextOffset);
  out.Put32(text + 36, 0x60000020);
  out.Put32(kTextOffset, 0xC3);  // ret

  layout.resourceSection = kResourceOffset;
  const size_t root = kResourceOffset;
  PutDirectory(out, root + kRoot,
               {{3, kSubdirectory | kIconNames}, {16, kSubdirectory | kVersionNames}});
  PutDirectory(out, root + kIconNames, {{1, kSubdirectory | kIconLanguages}});
  PutDirectory(out, root + kIconLanguages, {{0x409, kIconData}});
  out.Put32(root + kIconData, kResourceRva + kIconBytes);
  out.Put32(root + kIconData + 4, kIconSize);
  PutDirectory(out, root + kVersionNames, {{1, kSubdirectory | kVersionLanguages}});
  PutDirectory(out, root + kVersionLanguages, {{0x409, kVersionData}});
  out.Put32(root + kIconBytes, 0x00010000);

  layout.versionDataEntry = root + kVersionData;
  layout.versionBlock = root + kBlock;
  layout.versionBlockSize = PutVersionBlock(out, layout.versionBlock, options);
  out.Put32(root + kVersionData, kResourceRva + kBlock);
  out.Put32(root + kVersionData + 4, static_cast<uint32_t>(layout.versionBlockSize));

  const uint32_t resourceSize = static_cast<uint32_t>(kBlock + layout.versionBlockSize);
  const uint32_t rawSize = (resourceSize + 0x1FF) & ~0x1FFu;
  const size_t rsrc = layout.sectionTable + 40;
  out.PutText(rsrc, ".rsrc");
  out.Put32(rsrc + 8, resourceSize);
  out.Put32(rsrc + 12, kResourceRva);
  out.Put32(rsrc + 16, rawSize);
  out.Put32(rsrc + 20, kResourceOffset);
  out.Put32(rsrc + 36, 0x40000040);
  out.Put32(resourceEntry, kResourceRva);
  out.Put32(resourceEntry + 4, resourceSize);
  bytes.resize(kResourceOffset + rawSize, '\0');

  ApplyDefect(bytes, out, layout, countAt, options.defect);
  return image;
}

bool WritePeFile(const std::string& path, const PeOptions& options) {
  return WritePeFile(path, MakePeFile(options));
}

bool WritePeFile(const std::string& path, const PeFileImage& image) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(image.bytes.data(), static_cast<std::streamsize>(image.bytes.size()));
  return static_cast<bool>(file.flush());
}

void PutLittleEndian(std::string& bytes, size_t at, uint32_t value, size_t width) {
  Bytes(bytes).Put(at, value, width);
}

bool IsBlockDefect(PeDefect defect) {
  switch (defect) {
    case PeDefect::WrongBlockKey:
    case PeDefect::BlockLengthTooShort:
    case PeDefect::NoFixedInfo:
    case PeDefect::FixedInfoPastBlock:
      return true;
    default:
      return false;
  }
}

}  // namespace Zorv::Testing
