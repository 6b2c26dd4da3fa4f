// The main of the fuzz targets in the ordinary builds: runs the target once
// over every file given on the command line, and over every file of every
// folder given (in name order, hidden files skipped). A file whose name ends
// in ".hex" holds its input as hexadecimal digits: blanks and line breaks
// between them are ignored, and '#' starts a comment up to the end of the line,
// so a binary input stays a readable file.
//
// The target aborts on a broken check and the sanitizers stop the process on a
// fault; the line naming each input before it runs tells which one it was.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool DecodeHex(const std::string& text, std::string& out) {
  out.clear();
  int high = -1;
  bool comment = false;
  for (const char c : text) {
    if (comment) {
      comment = c != '\n';
      continue;
    }
    if (c == '#') {
      comment = true;
    } else if (const int digit = HexDigit(c); digit >= 0) {
      if (high < 0) {
        high = digit;
      } else {
        out.push_back(static_cast<char>(high * 16 + digit));
        high = -1;
      }
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return high < 0;
}

bool RunFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  if (path.extension() == ".hex") {
    std::string decoded;
    if (!DecodeHex(bytes, decoded)) {
      std::fprintf(stderr, "%s: not hexadecimal digits\n", path.c_str());
      return false;
    }
    bytes.swap(decoded);
  }
  std::fprintf(stderr, "input %s (%zu bytes)\n", path.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code error;
    std::vector<fs::path> files;
    if (fs::is_directory(path, error)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.front() != '.') files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(path, error)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
      return 2;
    }
    for (const fs::path& file : files) {
      if (!RunFile(file)) return 2;
      ++runs;
    }
  }
  std::fprintf(stderr, "%zu inputs passed\n", runs);
  return 0;
}
