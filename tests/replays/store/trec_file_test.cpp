#include "replays/store/trec_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "failing_allocation.h"
#include "logging/logger_api.h"
#include "support/capture_log_target.h"
#include "trec/trec_writer.h"

namespace Zorv::Client::Replays {
namespace {

using Testing::CaptureLogTarget;

constexpr std::string_view kGoodJson =
    R"({"gameLength":1800000,"gameVersion":"14.3.1.200","lastGameChunkId":30,"lastKeyFrameId":15})";

TrecImage Good(std::string metadata = std::string(kGoodJson)) {
  TrecImage image;
  image.metadata = std::move(metadata);
  image.bodySize = 4096;
  return image;
}

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// A folder of replay files and the warnings that reading them logs.
class TrecFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "trec_file_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    api_->acquire();
    capture_.attach();
  }
  void TearDown() override {
    capture_.detach();
    api_->release();
    std::filesystem::remove_all(folder_);
  }

  std::string Write(const std::string& name, const TrecImage& image) {
    const std::string path = folder_ + "/" + name;
    std::string error;
    EXPECT_TRUE(WriteTrecFile(path, image, &error)) << error;
    return path;
  }

  std::string Read(const std::string& path) {
    buffer_.fill(0);
    return ReadMetadataText(path, buffer_);
  }

  // The warning expected for path: format with '%s' standing for the path.
  static std::vector<std::string> Warning(const std::string& format, const std::string& path) {
    if (format.empty()) return {};
    std::string line = "  WARN| DBG| " + format + "\n";
    line.replace(line.find("%s"), 2, path);
    return {line};
  }

  std::string folder_;
  std::array<char, kTrecReadBufferSize> buffer_{};
  const LoggerApi* api_ = GetLoggerApi();
  CaptureLogTarget capture_;
};

struct FileCase {
  const char* name;
  TrecImage image;
  std::optional<std::string> text;  // what is read; nullopt: the image's metadata
  std::string warning;              // "" when nothing is logged
};

TrecImage Cut(TrecImage image, uint64_t size) {
  image.truncateAt = size;
  return image;
}
TrecImage WithMagic(std::string magic) {
  TrecImage image = Good();
  image.magic = std::move(magic);
  return image;
}
TrecImage WithLength(uint32_t length, std::string metadata = std::string(kGoodJson)) {
  TrecImage image = Good(std::move(metadata));
  image.lengthField = length;
  return image;
}
TrecImage At(uint32_t offset, std::string metadata, uint64_t bodySize = 0) {
  TrecImage image;
  image.metadata = std::move(metadata);
  image.metadataOffset = offset;
  image.bodySize = bodySize;
  return image;
}
TrecImage Defective(TrecDefect defect) {
  TrecImage image = Good();
  ApplyDefect(image, defect);
  return image;
}

const std::string kNotTrec = "FileManager: saw that file '%s' is not a valid trec";
const std::string kNoOffset = "FileManager: could not read metadata offset from trec '%s'";
const std::string kNoSize = "FileManager: could not read metadata size from trec '%s'";
const std::string kNoBlock = "FileManager: could not read metadata from trec '%s'";

TEST_F(TrecFileTest, EachFileGivesItsTextOrItsOneWarning) {
  const std::string mebibyte(kTrecMaxMetadataLength, 'm');
  const std::string withNul = std::string(R"({"gameVersion":"1.2.3.4"})") + '\0' + "trailing";
  const std::vector<FileCase> cases = {
      {"empty.trec", Cut(Good(), 0), "", kNotTrec},
      {"three-bytes.trec", Cut(Good(), 3), "", kNotTrec},
      {"lower-case.trec", WithMagic("ZORv"), "", kNotTrec},
      {"first-byte.trec", WithMagic("XORV"), "", kNotTrec},
      {"bad-magic.trec", Defective(TrecDefect::BadMagic), "", kNotTrec},
      {"magic-only.trec", Cut(Good(), 4), "", kNoOffset},
      {"271-bytes.trec", Cut(Good(), 271), "", kNoOffset},
      {"272-bytes.trec", Cut(Good(), 272), "", kNoSize},
      {"275-bytes.trec", Cut(Good(), 275), "", kNoSize},
      {"oversize.trec", Defective(TrecDefect::OversizeLength), "",
       "FileManager: ignoring trec '%s' with very large metadata (1048577 bytes)"},
      {"largest-word.trec", WithLength(0xFFFFFFFF), "",
       "FileManager: ignoring trec '%s' with very large metadata (4294967295 bytes)"},
      {"one-mebibyte.trec", At(kTrecHeaderSize, mebibyte, 100), mebibyte, ""},
      {"zero-length.trec", WithLength(0), "", ""},
      {"zero-length-past-end.trec",
       [] {
         TrecImage image = WithLength(0);
         image.offsetField = 0xFFFFFFF0;
         return image;
       }(),
       "", ""},
      {"truncated.trec", Defective(TrecDefect::Truncated), "", kNoBlock},
      {"block-past-end.trec",
       [] {
         TrecImage image = At(kTrecHeaderSize, std::string(kGoodJson));
         image.offsetField = kTrecHeaderSize + kGoodJson.size() + 1;
         return image;
       }(),
       "", kNoBlock},
      {"one-byte-short.trec",
       Cut(At(kTrecHeaderSize, std::string(kGoodJson)), kTrecHeaderSize + kGoodJson.size() - 1), "",
       kNoBlock},
      {"ends-at-end-of-file.trec", At(kTrecHeaderSize, std::string(kGoodJson)), std::nullopt, ""},
      {"block-before-header-words.trec", At(4, std::string(kGoodJson), 1000), std::nullopt, ""},
      {"block-after-the-body.trec", At(200000, std::string(kGoodJson)), std::nullopt, ""},
      {"block-across-buffer-end.trec", At(kTrecReadBufferSize - 10, std::string(kGoodJson)),
       std::nullopt, ""},
      {"nul-inside.trec", Good(withNul), withNul, ""},
      {"not-json.trec", Defective(TrecDefect::NonJson), std::nullopt, ""},
      {"array.trec", Good("[1,2]"), std::nullopt, ""},
  };
  const size_t descriptors = OpenDescriptors();
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(c.name, c.image);
    capture_.clear();
    const std::string text = Read(path);
    const std::string& expected = c.text ? *c.text : c.image.metadata;
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_TRUE(text == expected);
    EXPECT_EQ(capture_.lines(), Warning(c.warning, path));
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the file was left open";
  }
}

TEST_F(TrecFileTest, WhatIsNotARegularFileIsNeverOpenedForReading) {
  const std::string missing = folder_ + "/missing.trec";
  const std::string fifo = folder_ + "/fifo.trec";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = folder_ + "/folder.trec";
  std::filesystem::create_directory(folder);
  const std::string device = folder_ + "/device.trec";
  std::filesystem::create_symlink("/dev/zero", device);
  const std::string dangling = folder_ + "/dangling.trec";
  std::filesystem::create_symlink(folder_ + "/nowhere", dangling);

  const size_t descriptors = OpenDescriptors();
  for (const std::string& path : {missing, fifo, folder, device, dangling}) {
    SCOPED_TRACE(path);
    capture_.clear();
    EXPECT_EQ(Read(path), "");
    EXPECT_EQ(capture_.lines(), Warning("FileManager: failed to open trec: '%s'", path));
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
}

TEST_F(TrecFileTest, ReadsThroughTheCallersBuffer) {
  const std::string path = Write("42.trec", Good());
  EXPECT_EQ(Read(path), kGoodJson);
  EXPECT_EQ(std::string(buffer_.data(), 4), "ZORV");

  // Without a buffer of the caller's the file still reads.
  EXPECT_EQ(ReadMetadataText(path, {}), kGoodJson);
  EXPECT_TRUE(capture_.lines().empty());
}

TEST_F(TrecFileTest, AnAllocationFailureIsCaughtAndLogged) {
  const std::string path = Write("large.trec", Good(std::string(kTrecMaxMetadataLength, 'm')));
  const size_t descriptors = OpenDescriptors();
  std::string text = "unchanged";
  {
    Testing::FailLargeAllocations fail(kTrecMaxMetadataLength);
    text = Read(path);
  }
  EXPECT_EQ(text, "");
  EXPECT_EQ(capture_.lines(),
            Warning("FileManager: encountered unexpected exception reading trec '%s'", path));
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(TrecFileTest, ASymlinkToAReplayFileIsRead) {
  const std::string path = Write("42.trec", Good());
  const std::string link = folder_ + "/link.trec";
  std::filesystem::create_symlink(path, link);
  EXPECT_EQ(Read(link), kGoodJson);
}

}  // namespace
}  // namespace Zorv::Client::Replays
