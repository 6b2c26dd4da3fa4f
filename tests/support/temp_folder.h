// TempFolder: a fresh, empty folder under the test's temporary directory,
// removed with everything in it when the object goes away.
//
//   Zorv::Testing::TempFolder folder("file_manager");
//   WriteSomething(folder.path() + "/a.trec");
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace Zorv::Testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& stem = "pex") {
    std::string pattern = testing::TempDir() + stem + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("mkdtemp failed: " + pattern);
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; open them up so removal works.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
      }
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace Zorv::Testing
