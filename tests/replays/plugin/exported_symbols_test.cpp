#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct ExportedSymbol {
  std::string name;
  unsigned type;
};

template <typename T>
T ReadAt(const std::vector<char>& image, size_t offset) {
  T value;
  if (offset + sizeof(T) > image.size()) {
    throw std::runtime_error("read past the end of the file");
  }
  std::memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}

// The defined global and weak symbols of the dynamic symbol table.
std::vector<ExportedSymbol> ReadExportedSymbols(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  const auto header = ReadAt<Elf64_Ehdr>(image, 0);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
    throw std::runtime_error("not a 64-bit ELF file");
  }
  std::vector<Elf64_Shdr> sections;
  for (size_t i = 0; i < header.e_shnum; ++i) {
    sections.push_back(ReadAt<Elf64_Shdr>(image, header.e_shoff + i * header.e_shentsize));
  }
  std::vector<ExportedSymbol> exported;
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_type != SHT_DYNSYM) {
      continue;
    }
    const Elf64_Shdr& strings = sections.at(section.sh_link);
    for (size_t offset = 0; offset + sizeof(Elf64_Sym) <= section.sh_size;
         offset += sizeof(Elf64_Sym)) {
      const auto symbol = ReadAt<Elf64_Sym>(image, section.sh_offset + offset);
      const unsigned binding = ELF64_ST_BIND(symbol.st_info);
      // Absolute symbols are the linker's version-node names, not code or data.
      if (symbol.st_shndx == SHN_UNDEF || symbol.st_shndx == SHN_ABS ||
          (binding != STB_GLOBAL && binding != STB_WEAK)) {
        continue;
      }
      const char* name = image.data() + strings.sh_offset + symbol.st_name;
      exported.push_back({name, ELF64_ST_TYPE(symbol.st_info)});
    }
  }
  return exported;
}

TEST(ExportedSymbolsTest, LibraryExportsOnlyItsEntryFunction) {
  const std::vector<ExportedSymbol> exported = ReadExportedSymbols(PEX_REPLAYS_LIBRARY);
  std::set<std::string> codeAndData;
  bool entryIsFunction = false;
  for (const ExportedSymbol& symbol : exported) {
    // Section and file symbols, and the linker's untyped markers, carry no code or data.
    if (symbol.type == STT_SECTION || symbol.type == STT_FILE || symbol.type == STT_NOTYPE) {
      continue;
    }
    codeAndData.insert(symbol.name);
    entryIsFunction |= symbol.name == "load_pex_replays" && symbol.type == STT_FUNC;
  }
  EXPECT_EQ(codeAndData, std::set<std::string>{"load_pex_replays"});
  EXPECT_TRUE(entryIsFunction);
}

}  // namespace
