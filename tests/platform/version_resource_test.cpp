#include "platform/version_resource.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pe/pe_writer.h"
#include "support/temp_folder.h"

namespace Zorv::Platform {
namespace {

using Testing::PeDefect;
using Testing::PeOptions;

// The three calls in the order a caller makes them; what each answered.
struct Reading {
  uint32_t size = 0;
  bool read = false;
  bool queried = false;
  std::vector<unsigned char> buffer;
  const void* value = nullptr;
  uint32_t length = 0;
};

class VersionResourceTest : public testing::Test {
 protected:
  ~VersionResourceTest() override { ::close(memory_); }

  std::string Write(const std::string& bytes, const std::string& name) {
    const std::string path = folder_.path() + "/" + name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
  }
  // The file most tests read: a regular file in memory, rewritten each time,
  // so tables of many files cost no disk.
  std::string Write(const std::string& bytes) {
    EXPECT_EQ(::ftruncate(memory_, 0), 0);
    EXPECT_EQ(::pwrite(memory_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
    return "/proc/self/fd/" + std::to_string(memory_);
  }

  static Reading Read(const std::string& path) {
    Reading r;
    r.size = GetFileVersionInfoSize(path);
    if (r.size == 0) return r;
    // A guard after the buffer shows a write past the size asked for.
    r.buffer.assign(r.size + 8, 0xEE);
    r.read = GetFileVersionInfo(path, r.size, r.buffer.data());
    if (r.read) r.queried = VerQueryValue(r.buffer.data(), r.size, "\\", &r.value, &r.length);
    EXPECT_EQ(std::vector<unsigned char>(r.buffer.end() - 8, r.buffer.end()),
              std::vector<unsigned char>(8, 0xEE));
    return r;
  }

  static FixedFileInfo Fixed(const Reading& r) {
    FixedFileInfo info{};
    if (r.queried && r.length >= sizeof info) std::memcpy(&info, r.value, sizeof info);
    return info;
  }

  Testing::TempFolder folder_{"version_resource"};
  int memory_ = ::memfd_create("version_resource_test", MFD_CLOEXEC);
};

TEST_F(VersionResourceTest, ReadsTheFixedInfoOfPe32AndPe32PlusFiles) {
  for (const bool plus : {false, true}) {
    PeOptions options;
    options.pe32Plus = plus;
    options.fileVersion = {10, 3, 311, 3581};
    options.productVersion = {11, 0, 65535, 7};
    const Testing::PeFileImage image = Testing::MakePeFile(options);
    const Reading r = Read(Write(image.bytes));

    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    EXPECT_EQ(r.size, image.layout.versionBlockSize);
    ASSERT_TRUE(r.read);
    EXPECT_EQ(0,
              std::memcmp(r.buffer.data(), image.bytes.data() + image.layout.versionBlock, r.size));
    ASSERT_TRUE(r.queried);
    EXPECT_EQ(r.value, r.buffer.data() + 40);  // after "VS_VERSION_INFO" and its padding
    EXPECT_EQ(r.length, sizeof(FixedFileInfo));
    const FixedFileInfo info = Fixed(r);
    EXPECT_EQ(info.signature, kFixedFileInfoSignature);
    EXPECT_EQ(info.fileVersionMS, (10u << 16) | 3);
    EXPECT_EQ(info.fileVersionLS, (311u << 16) | 3581);
    EXPECT_EQ(info.productVersionMS, 11u << 16);
    EXPECT_EQ(info.productVersionLS, (65535u << 16) | 7);
  }
}

TEST_F(VersionResourceTest, RefusesMalformedFilesAtTheRightStep) {
  for (const bool plus : {false, true}) {
    for (const Testing::PeDefectCase& c : Testing::kPeDefects) {
      SCOPED_TRACE(std::string(c.name) + (plus ? " in PE32+" : " in PE32"));
      PeOptions options;
      options.pe32Plus = plus;
      options.defect = c.defect;
      const std::string bytes = Testing::MakePeFile(options).bytes;
      const Reading r = Read(Write(bytes));
      EXPECT_LE(r.size, bytes.size());
      EXPECT_FALSE(r.queried);
      if (Testing::IsBlockDefect(c.defect)) {
        // Found and copied: only the query sees the damage.
        EXPECT_GT(r.size, 0u);
        EXPECT_TRUE(r.read);
      } else {
        EXPECT_EQ(r.size, 0u);
        std::vector<unsigned char> buffer(256);
        EXPECT_FALSE(GetFileVersionInfo(Write(bytes), 256, buffer.data()));
      }
    }
  }
}

TEST_F(VersionResourceTest, RefusesEveryTruncationOfAGoodFile) {
  const Testing::PeFileImage image = Testing::MakePeFile(PeOptions{});
  const size_t blockEnd = image.layout.versionBlock + image.layout.versionBlockSize;
  for (size_t length = 0; length < blockEnd; ++length) {
    const Reading r = Read(Write(image.bytes.substr(0, length)));
    EXPECT_EQ(r.size, 0u) << "cut at " << length;
  }
}

TEST_F(VersionResourceTest, RefusesWhatIsNotARegularPeFile) {
  const std::string fifo = folder_.path() + "/pipe.exe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {folder_.path() + "/missing.exe", folder_.path(), fifo,
                                  Write("", "empty.exe"), Write("MZ", "tiny.exe")}) {
    EXPECT_EQ(GetFileVersionInfoSize(path), 0u) << path;
    unsigned char buffer[64];
    EXPECT_FALSE(GetFileVersionInfo(path, sizeof buffer, buffer)) << path;
  }
}

TEST_F(VersionResourceTest, CopiesWhatFitsAndZeroesTheRest) {
  const Testing::PeFileImage image = Testing::MakePeFile(PeOptions{});
  const std::string path = Write(image.bytes);
  const size_t block = image.layout.versionBlockSize;
  std::vector<unsigned char> buffer(block + 16, 0xEE);

  ASSERT_TRUE(GetFileVersionInfo(path, static_cast<uint32_t>(block + 8), buffer.data()));
  EXPECT_EQ(0, std::memcmp(buffer.data(), image.bytes.data() + image.layout.versionBlock, block));
  EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + block, buffer.begin() + block + 8),
            std::vector<unsigned char>(8, 0));
  EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + block + 8, buffer.end()),
            std::vector<unsigned char>(8, 0xEE));

  // A buffer that ends inside the fixed information holds no answer.
  buffer.assign(block, 0xEE);
  ASSERT_TRUE(GetFileVersionInfo(path, 60, buffer.data()));
  EXPECT_EQ(buffer[60], 0xEE);
  const void* value = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(VerQueryValue(buffer.data(), 60, "\\", &value, &length));
  EXPECT_TRUE(VerQueryValue(buffer.data(), 92, "\\", &value, &length));
  EXPECT_FALSE(GetFileVersionInfo(path, 0, buffer.data()));
}

TEST_F(VersionResourceTest, QueriesOnlyTheRootOfABlock) {
  const Testing::PeFileImage image = Testing::MakePeFile(PeOptions{});
  const std::string block =
      image.bytes.substr(image.layout.versionBlock, image.layout.versionBlockSize);
  const uint32_t size = static_cast<uint32_t>(block.size());
  const void* value = nullptr;
  uint32_t length = 0;
  for (const char* name : {"", "\\\\", "\\VarFileInfo\\Translation", "/"}) {
    EXPECT_FALSE(VerQueryValue(block.data(), size, name, &value, &length)) << name;
  }
  EXPECT_FALSE(VerQueryValue(nullptr, size, "\\", &value, &length));
  EXPECT_FALSE(VerQueryValue(block.data(), 5, "\\", &value, &length));
  EXPECT_TRUE(VerQueryValue(block.data(), size, "\\", &value, &length));
}

}  // namespace
}  // namespace Zorv::Platform
