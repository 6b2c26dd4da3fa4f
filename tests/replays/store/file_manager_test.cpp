#include "replays/store/file_manager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/module/api_registry.h"
#include "replays/api/replays_api_registration.h"
#include "replays/store/metadata_store_fixture.h"
#include "support/temp_folder.h"
#include "trec/trec_writer.h"

namespace Zorv::Client::Replays {
namespace {

using namespace StoreTesting;
using Testing::TempFolder;

// (platform id, game id) of a name; (path, game id) of a listed file.
using Parsed = std::pair<std::string, uint64_t>;

const std::string kScanning = General("FileManager: scanning for trec files");

std::string ExtractWarning(const std::string& name) {
  return Warning("FileManager: failed to extract platform and gameId from trec '" + name + "'");
}
std::string InvalidIdWarning(const std::string& name) {
  return Warning("FileManager: ignoring trec with invalid game ID '" + name + "'");
}

TrecImage Replay(const std::string& version) {
  TrecImage image;
  image.metadata = MetadataJson({1800000, version, 30, 15});
  image.bodySize = 1024;
  return image;
}

std::function<void(TrecImage&)> Defect(TrecDefect defect) {
  return [defect](TrecImage& image) { ApplyDefect(image, defect); };
}

// A FileManager over a real MetadataStore (the store fixture's fakes and
// clocks) and a temporary replay folder.
class FileManagerTest : public MetadataStoreTest {
 protected:
  FileManagerTest() { RegisterReplaysApiTypes(registry.types(), "PexReplays"); }

  std::string PathOf(const std::string& name) const { return folder.path() + "/" + name; }

  std::string Write(const std::string& name, const TrecImage& image) {
    const std::string path = PathOf(name);
    std::string error;
    EXPECT_TRUE(WriteTrecFile(path, image, &error)) << error;
    return path;
  }

  // The listing as (path, game id) pairs in path order; the folder's order is the platform's.
  std::vector<Parsed> SortedEntries() const {
    std::vector<Parsed> listed;
    for (const TrecFileEntry& entry : files.entries())
      listed.emplace_back(entry.path, entry.gameId);
    std::sort(listed.begin(), listed.end());
    return listed;
  }

  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  ApiRegistry registry;
  TempFolder folder{"file_manager"};
  // The fixture owns the store; the manager shares it without owning it.
  FileManager files{registry, std::shared_ptr<MetadataStore>(std::shared_ptr<void>(), &store)};
};

TEST_F(FileManagerTest, ParseTrecFileNameTakesPlatformAndGameIdOrNamesTheFault) {
  struct Case {
    std::string name;
    std::optional<Parsed> parsed;
    std::function<std::string(const std::string&)> warning;  // null: no line
  };
  const std::string kDigits21 = "123456789012345678901";
  // clang-format off
  const Case cases[] = {
      {"PLAT1-4012345678.trec", Parsed{"PLAT1", 4012345678u}, nullptr},
      {"PLAT1-4012345678.TREC", Parsed{"PLAT1", 4012345678u}, nullptr},
      {"PLAT1-4012345678.Trec", Parsed{"PLAT1", 4012345678u}, nullptr},
      {"na 1.x_\xC3\xA9-0042.trec", Parsed{"na 1.x_\xC3\xA9", 42u}, nullptr},
      {"PLAT1-18446744073709551614.trec", Parsed{"PLAT1", 18446744073709551614u}, nullptr},
      {"PLAT1-0.trec", std::nullopt, InvalidIdWarning},
      {"PLAT1-000.trec", std::nullopt, InvalidIdWarning},
      {"PLAT1-18446744073709551615.trec", std::nullopt, InvalidIdWarning},
      {"PLAT1-18446744073709551616.trec", std::nullopt, InvalidIdWarning},
      {"PLAT1-" + kDigits21 + ".trec", std::nullopt, InvalidIdWarning},
      {"PLAT1-12a.trec", std::nullopt, ExtractWarning},
      {"-123.trec", std::nullopt, ExtractWarning},
      {"PLAT1-123.trec.bak", std::nullopt, ExtractWarning},
      {"A-B-123.trec", std::nullopt, ExtractWarning},
      {"PLAT1-.trec", std::nullopt, ExtractWarning},
      {"", std::nullopt, ExtractWarning},
      {"PLAT1-+12.trec", std::nullopt, ExtractWarning},
      {"PLAT1- 12.trec", std::nullopt, ExtractWarning},
      {"PLAT1-12.tre", std::nullopt, ExtractWarning},
      {"PLAT1-12trec", std::nullopt, ExtractWarning},
      {"PLAT1-12.trec\n", std::nullopt, ExtractWarning},
      {"PLAT1-12.trec ", std::nullopt, ExtractWarning},
      {"PLAT112.trec", std::nullopt, ExtractWarning},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE("name '" + c.name + "'");
    EXPECT_EQ(FileManager::ParseTrecFileName(c.name), c.parsed);
    const std::vector<std::string> expected =
        c.warning ? std::vector<std::string>{c.warning(c.name)} : std::vector<std::string>{};
    EXPECT_EQ(TakeLines(), expected);
  }
}

// Only regular files directly in the folder whose path ends in ".trec" are
// listed. A symbolic link to a replay file counts as the file (its path is the
// link's); a link to anything else, or to nothing, does not.
TEST_F(FileManagerTest, ListTrecFilesListsReplayFilesDirectlyInTheFolder) {
  TempFolder elsewhere("file_manager_elsewhere");
  const std::string target = elsewhere.path() + "/kept-elsewhere.trec";
  ASSERT_TRUE(WriteTrecFile(target, Replay("14.3.1.200")));
  ASSERT_TRUE(std::filesystem::create_directory(PathOf("NA1-9.trec")));
  ASSERT_TRUE(std::filesystem::create_directory(PathOf("sub")));

  const std::string plain = Write("NA1-1.trec", Replay("14.3.1.200"));
  Write("sub/NA1-2.trec", Replay("14.3.1.200"));
  Write("X-3.TREC", Replay("14.3.1.200"));
  Write("NA1-4.trec.bak", Replay("14.3.1.200"));
  Write("bad-name.trec", Replay("14.3.1.200"));
  Write("NA1-0.trec", Replay("14.3.1.200"));
  ASSERT_EQ(::mkfifo(PathOf("NA1-5.trec").c_str(), 0600), 0);
  ASSERT_EQ(::symlink(target.c_str(), PathOf("NA1-6.trec").c_str()), 0);
  ASSERT_EQ(::symlink((folder.path() + "/gone").c_str(), PathOf("NA1-7.trec").c_str()), 0);
  ASSERT_EQ(::symlink(PathOf("sub").c_str(), PathOf("NA1-8.trec").c_str()), 0);

  files.SetFolder(folder.path());
  files.ListTrecFiles();
  EXPECT_EQ(SortedEntries(), (std::vector<Parsed>{{plain, 1}, {PathOf("NA1-6.trec"), 6}}));
  EXPECT_EQ(Sorted(TakeLines()),
            Sorted({ExtractWarning("bad-name.trec"), InvalidIdWarning("NA1-0.trec")}));
  EXPECT_FALSE(files.scannedOnce());

  // A folder given with a trailing separator lists the same paths.
  files.SetFolder(folder.path() + "/");
  files.ListTrecFiles();
  EXPECT_EQ(SortedEntries(), (std::vector<Parsed>{{plain, 1}, {PathOf("NA1-6.trec"), 6}}));
}

// Every folder that cannot be listed gives an empty listing, drops the one
// before, and logs nothing past the scanning line.
TEST_F(FileManagerTest, ScanOfAFolderWithoutReplaysListsNothing) {
  const std::string listed = Write("NA1-1.trec", Replay("14.3.1.200"));
  TempFolder empty("file_manager_empty");
  ASSERT_EQ(::symlink((folder.path() + "/gone").c_str(), PathOf("dangling").c_str()), 0);
  struct Case {
    std::string name, folder;
  };
  const Case cases[] = {
      {"unset", ""},
      {"missing", folder.path() + "/missing"},
      {"empty", empty.path()},
      {"a replay file", listed},
      {"a dangling link", PathOf("dangling")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileManager fresh(registry, std::shared_ptr<MetadataStore>(std::shared_ptr<void>(), &store));
    fresh.SetFolder(folder.path());
    fresh.ListTrecFiles();
    ASSERT_EQ(fresh.entries().size(), 1u);
    TakeLines();

    fresh.SetFolder(c.folder);
    fresh.ScanAll();
    EXPECT_TRUE(fresh.entries().empty());
    EXPECT_TRUE(fresh.scannedOnce());
    EXPECT_EQ(TakeLines(), std::vector<std::string>{kScanning});
  }
  EXPECT_TRUE(store.records().empty());
  EXPECT_TRUE(publications.empty());
}

// Good files become watchable records; each broken one gives the reader's
// WARN and the manager's, and leaves the store as it was; the scan goes on.
TEST_F(FileManagerTest, ScanAllReadsEveryReplayIntoTheStoreAndSkipsBrokenOnes) {
  struct File {
    uint64_t gameId;
    std::function<void(TrecImage&)> spoil;  // null for a good file
    std::string readerWarning;  // the first WARN, '%s' for the path; empty for a good file
  };
  const File fileList[] = {
      {10, nullptr, ""},
      {11, nullptr, ""},
      {20, Defect(TrecDefect::BadMagic), "FileManager: saw that file '%s' is not a valid trec"},
      {21, Defect(TrecDefect::Truncated), "FileManager: could not read metadata from trec '%s'"},
      {22, Defect(TrecDefect::NonJson),
       "FileManager: failed to deserialize replay metadata from trec: '%s'"},
      {23, Defect(TrecDefect::OversizeLength),
       "FileManager: ignoring trec '%s' with very large metadata (1048577 bytes)"},
      // Read, but empty: the parser's line, where a failed read has the reader's alone.
      {24, [](TrecImage& image) { image.metadata.clear(); },
       "FileManager: saw empty replay metadata in trec: '%s'"},
  };
  std::map<uint64_t, std::vector<std::string>> linesOfGame;
  for (const File& file : fileList) {
    const std::string id = std::to_string(file.gameId);
    const std::string version = "14.3." + id + ".200";
    TrecImage image = Replay(version);
    if (file.spoil) file.spoil(image);
    const std::string path = Write("NA1-" + id + ".trec", image);
    if (!file.spoil) {
      linesOfGame[file.gameId] = {
          Detail("FileManager: reading metadata from trec game '" + id + "' at path '" + path +
                 "' succeeded"),
          Detail("FileManager: caching metadata for Replay gameId '" + id + "', gameVersion '" +
                 version + "', trecPath '" + path + "'"),
          Detail("MetadataStore: update Replay '" + id + "', state->Download"),
          Detail("MetadataStore: update Replay '" + id + "', trecPath->" + path),
      };
    } else {
      std::string reader = file.readerWarning;
      reader.replace(reader.find("%s"), 2, path);
      linesOfGame[file.gameId] = {
          Warning(reader),
          Warning("FileManager: reading metadata from trec for game '" + id + "' at path '" + path +
                  "' failed"),
      };
    }
  }
  ASSERT_EQ(::mkfifo(PathOf("NA1-30.trec").c_str(), 0600), 0);
  ASSERT_TRUE(std::filesystem::create_directory(PathOf("NA1-31.trec")));
  // A game already known keeps its record when its file turns out broken.
  store.GetOrCreateRecord(22).metadata.state = S::found;
  TakeLines();

  files.SetFolder(folder.path());
  files.ScanAll();

  EXPECT_TRUE(files.scannedOnce());
  std::vector<std::string> expected{kScanning};
  for (const TrecFileEntry& entry : files.entries()) {
    const auto& lines = linesOfGame.at(entry.gameId);
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  EXPECT_EQ(files.entries().size(), std::size(fileList));
  EXPECT_EQ(TakeLines(), expected);

  for (uint64_t gameId : {10u, 11u}) {
    const ReplayRecord* record = store.FindRecord(gameId);
    ASSERT_NE(record, nullptr) << gameId;
    EXPECT_EQ(record->metadata.state, S::watch);
    EXPECT_EQ(record->trecPath, PathOf("NA1-" + std::to_string(gameId) + ".trec"));
    EXPECT_EQ(record->gameVersion, "14.3." + std::to_string(gameId) + ".200");
  }
  std::vector<Publication> published = TakePublications();
  std::sort(published.begin(), published.end(),
            [](const auto& a, const auto& b) { return a.metadata.gameId < b.metadata.gameId; });
  EXPECT_EQ(published,
            (std::vector<Publication>{Published(S::watch, 10), Published(S::watch, 11)}));
  for (uint64_t gameId : {20u, 21u, 23u, 24u, 30u, 31u})
    EXPECT_EQ(store.FindRecord(gameId), nullptr);
  const ReplayRecord* kept = store.FindRecord(22);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->metadata.state, S::found);
  EXPECT_TRUE(kept->trecPath.empty());
}

TEST_F(FileManagerTest, OfTwoFilesWithOneGameIdTheLaterListedGivesThePath) {
  Write("NA1-40.trec", Replay("14.3.1.1"));
  Write("EUW1-40.trec", Replay("14.3.2.2"));
  files.SetFolder(folder.path());
  files.ScanAll();

  ASSERT_EQ(files.entries().size(), 2u);
  const std::string& later = files.entries().back().path;
  const std::string laterVersion = later == PathOf("NA1-40.trec") ? "14.3.1.1" : "14.3.2.2";
  const std::vector<std::string> lines = TakeLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.find("succeeded") != std::string::npos;
                          }),
            2);
  const ReplayRecord* record = store.FindRecord(40);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->trecPath, later);
  EXPECT_EQ(record->gameVersion, laterVersion);
  EXPECT_EQ(record->metadata.state, S::watch);
  EXPECT_EQ(TakePublications(), std::vector<Publication>{Published(S::watch, 40)});
}

}  // namespace
}  // namespace Zorv::Client::Replays
