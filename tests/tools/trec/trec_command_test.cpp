#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "trec/trec_writer.h"

namespace Zorv::Client::Replays {
namespace {

struct Output {
  int status;
  std::string out;
};

// Runs trec with arguments given as shell text; stderr is discarded.
Output Trec(const std::string& arguments) {
  const std::string command = std::string("'") + TREC_COMMAND + "' " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {-1, ""};
  std::string out;
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, got);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class TrecCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "trec_command_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  std::string folder_;
};

TEST_F(TrecCommandTest, InfoShowsTheMetadataThatMakeWrote) {
  const std::string path = Path("42.trec");
  ASSERT_EQ(Trec("make '" + path +
                 "' --game-version 14.3.1.200 --game-length 1800000 --last-chunk-id 30"
                 " --last-key-frame-id 15 --body-size 100000")
                .status,
            0);
  const std::string json =
      R"({"gameLength":1800000,"gameVersion":"14.3.1.200","lastGameChunkId":30,"lastKeyFrameId":15})";
  EXPECT_EQ(std::filesystem::file_size(path), kTrecHeaderSize + json.size() + 100000);
  const Output info = Trec("info '" + path + "'");
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out, path + ": " + json + "\n");
}

TEST_F(TrecCommandTest, InfoGivesEachDefectiveFileItsFailureLine) {
  struct Case {
    TrecDefect defect;
    std::string line;  // '%s' stands for the path
  };
  const Case cases[] = {
      {TrecDefect::None, R"({"gameLength":0,"gameVersion":"14.3.1.200","lastGameChunkId":0,)"
                         R"("lastKeyFrameId":0})"},
      {TrecDefect::BadMagic, "FileManager: saw that file '%s' is not a valid trec"},
      {TrecDefect::Truncated, "FileManager: could not read metadata from trec '%s'"},
      {TrecDefect::OversizeLength,
       "FileManager: ignoring trec '%s' with very large metadata (1048577 bytes)"},
      {TrecDefect::NonJson, "metadata block is not JSON: Error: Invalid value. at offset 0."},
  };
  std::string paths;
  std::string expected;
  for (const Case& c : cases) {
    const std::string path = Path(std::string(DefectName(c.defect)) + ".trec");
    ASSERT_EQ(Trec("make '" + path + "' --defect " + std::string(DefectName(c.defect))).status, 0);
    std::string line = c.line;
    if (const size_t at = line.find("%s"); at != std::string::npos) line.replace(at, 2, path);
    paths += " '" + path + "'";
    expected += path + ": " + line + "\n";
  }
  // A file that is not there, and a block of length zero, say so too.
  const std::string missing = Path("missing.trec");
  TrecImage empty;
  const std::string emptyPath = Path("empty-block.trec");
  ASSERT_TRUE(WriteTrecFile(emptyPath, empty));
  paths += " '" + missing + "' '" + emptyPath + "'";
  expected += missing + ": FileManager: failed to open trec: '" + missing + "'\n";
  expected += emptyPath + ": empty metadata block\n";

  const Output info = Trec("info" + paths);
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.out, expected);
}

TEST_F(TrecCommandTest, InfoReadsTheBlockUpToItsFirstZeroByte) {
  TrecImage image;
  image.metadata = std::string(R"({"gameVersion":"1.2.3.4"})") + '\0' + "not json";
  const std::string path = Path("nul.trec");
  ASSERT_TRUE(WriteTrecFile(path, image));
  const Output info = Trec("info '" + path + "'");
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out, path + R"(: {"gameVersion":"1.2.3.4"})"
                             "\n");
}

TEST_F(TrecCommandTest, UsageErrorsWriteNothing) {
  EXPECT_EQ(Trec("--help").status, 0);
  EXPECT_NE(Trec("make '" + Path("x.trec") + "' --defect sideways").status, 0);
  EXPECT_NE(Trec("info").status, 0);
  EXPECT_NE(Trec("").status, 0);
  EXPECT_FALSE(std::filesystem::exists(Path("x.trec")));
}

}  // namespace
}  // namespace Zorv::Client::Replays
