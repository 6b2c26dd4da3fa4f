#include <sys/stat.h>

#include <array>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/join_path.h"
#include "support/temp_folder.h"

namespace Zorv::Platform {
namespace {

struct JoinCase {
  std::initializer_list<std::string_view> parts;
  size_t bufferSize;
  std::optional<std::string> expected;
};

TEST(JoinPath, FollowsItsRulesPartByPart) {
  const std::string folder247(247, 'f');
  const std::string folder246(246, 'f');
  const JoinCase cases[] = {
      {{"C:/Users/x/Documents", "Vellmoor", "Replays"},
       260,
       "C:/Users/x/Documents/Vellmoor/Replays"},
      {{"C:\\Users\\x\\Documents", "Vellmoor", "Replays"},
       260,
       "C:/Users/x/Documents/Vellmoor/Replays"},
      {{"/home/a", "", "b"}, 260, "/home/a/b"},                   // empty part skipped
      {{"/home/a/", "b"}, 260, "/home/a/b"},                      // no doubled separator
      {{"C:\\a\\", "b"}, 260, "C:/a/b"},                          // nor after a backslash
      {{"/home/a", "/etc", "b"}, 260, "/etc/b"},                  // absolute part restarts
      {{"/home/a", "\\\\server\\share"}, 260, "//server/share"},  // so does a backslash one
      {{"/home/a", "D:x.trec"}, 260, "D:x.trec"},                 // and a drive letter
      {{"a", "..\\..\\x.trec"}, 260, "a/../../x.trec"},           // relative parts are kept
      {{}, 260, ""},
      {{"", ""}, 1, ""},
      {{"abc"}, 4, "abc"},  // part shorter than the room: fits with its NUL
      {{"abcd"}, 4, std::nullopt},
      {{"ab", "c"}, 5, "ab/c"},
      {{"ab", "cd"}, 5, std::nullopt},
      {{"abc", "d"}, 5, std::nullopt},  // one character of room: no separator, and no fit
      {{folder246, "Vellmoor.exe"}, 260, folder246 + "/Vellmoor.exe"},  // 259 characters
      {{folder247, "Vellmoor.exe"}, 260, std::nullopt},                 // 260 characters
      {{"x"}, 0, std::nullopt},
  };
  for (const JoinCase& c : cases) {
    std::string shown;
    for (std::string_view part : c.parts) shown += "[" + std::string(part.substr(0, 20)) + "]";
    EXPECT_EQ(JoinPath(c.parts, c.bufferSize), c.expected) << shown << " in " << c.bufferSize;
  }
}

TEST(JoinPath, NeverWritesPastTheBuffer) {
  std::array<char, 12> guarded{};
  guarded.fill('#');
  std::span<char> buffer(guarded.data(), 8);
  EXPECT_TRUE(JoinPath(buffer, {"abc", "def"}));
  EXPECT_STREQ(guarded.data(), "abc/def");
  EXPECT_FALSE(JoinPath(buffer, {"abc", "defg"}));
  EXPECT_EQ(std::string(guarded.data() + 8, 4), "####");
}

TEST(CreateDirectories, CreatesEveryMissingFolderAndKeepsExistingOnes) {
  Testing::TempFolder root("path_test");
  const std::string deep = root.path() + "/a\\b//c/";
  EXPECT_TRUE(CreateDirectories(deep));
  EXPECT_TRUE(IsDirectory(root.path() + "/a/b/c"));
  std::ofstream(root.path() + "/a/b/keep.txt") << "kept";
  EXPECT_TRUE(CreateDirectories(root.path() + "/a/b/c/d"));
  EXPECT_TRUE(IsDirectory(root.path() + "/a/b/c/d"));
  std::ifstream kept(root.path() + "/a/b/keep.txt");
  std::string text;
  kept >> text;
  EXPECT_EQ(text, "kept");
}

TEST(CreateDirectories, ReportsAPathThatCannotBeAFolder) {
  Testing::TempFolder root("path_test");
  std::ofstream(root.path() + "/file") << "x";
  EXPECT_FALSE(CreateDirectories(root.path() + "/file/sub"));
  EXPECT_FALSE(IsDirectory(root.path() + "/file"));
  EXPECT_FALSE(CreateDirectories(""));
  EXPECT_FALSE(IsDirectory(""));
}

}  // namespace
}  // namespace Zorv::Platform
