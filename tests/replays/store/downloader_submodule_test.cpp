#include "replays/store/downloader_submodule.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "replays/store/downloader_fixture.h"
#include "replays/store/failing_allocation.h"
#include "replays/store/trec_file.h"

namespace Zorv::Client::Replays {
namespace {

using namespace DownloaderTesting;

constexpr const char* kUrl = "https://cdn.example/a/b/NA1-42.trec?sig=1#x";

TEST_F(DownloaderTest, DownloadsTheReplayIntoTheFolderAndTheRecordBecomesWatch) {
  const std::string body = ReplayBytes();
  Serve(kUrl, body);
  downloader->QueueDownload(42);

  EXPECT_EQ(TakePublications(), (std::vector{Published(S::downloading, 42)}));
  ASSERT_EQ(module.timers.size(), 1u);
  const std::string prefix = "replays download trec job ";
  const std::string& name = module.timers[0].name;
  ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
  EXPECT_GT(name.size(), prefix.size());
  EXPECT_EQ(name.find_first_not_of("0123456789", prefix.size()), std::string::npos) << name;
  EXPECT_EQ(module.timers[0].delaySeconds, 0.0);
  EXPECT_TRUE(downloader->downloadJobRunning());

  RunJobs();

  EXPECT_EQ(TakePublications(), (std::vector{Published(S::downloading, 42, false, 100),
                                             Published(S::watch, 42, false, 100)}));
  const std::string path = PathOf("NA1-42.trec");
  EXPECT_EQ(ReadFile(path), body);
  EXPECT_EQ(Listing(replayFolder), (std::set<std::string>{"NA1-42.trec"}));
  EXPECT_EQ(store.FindRecord(42)->trecPath, path);
  EXPECT_EQ(store.FindRecord(42)->gameVersion, "14.3.1.200");
  EXPECT_EQ(sender.steps, (std::vector<std::string>{
                              "trec-url-request", "trec-url-response-ok", "trec-download-request",
                              "trec-download-ok trecSize=" + std::to_string(body.size())}));
  EXPECT_FALSE(downloader->downloadJobRunning());
  EXPECT_TRUE(downloader->downloadQueue().empty());

  ASSERT_EQ(module.calls.size(), 1u);
  EXPECT_EQ(module.calls[0].url, "/pex-login/v1/service-proxy-uuid-requests");
  ASSERT_EQ(module.calls[0].arguments.size(), 4u);
  EXPECT_EQ(module.calls[0].arguments[0], BindingProperty("replays.retrieval"));
  EXPECT_EQ(module.calls[0].arguments[1], BindingProperty("getDownloadUrl"));
  EXPECT_EQ(module.calls[0].arguments[3].asString(), R"({"gameId":42,"platformId":"NA1"})");
  ASSERT_EQ(module.requests.size(), 1u);
  const auto& request = module.requests[0];
  EXPECT_EQ(request.method, static_cast<uint32_t>(HOST_METHOD_GET));
  EXPECT_EQ(request.url, kUrl);
  EXPECT_EQ(request.headers,
            (std::vector<std::pair<std::string, std::string>>{{"user-agent", "FakeAgent/1.0"}}));
  EXPECT_EQ(request.body, "");
  EXPECT_EQ(request.optionWord, 0u);
  EXPECT_EQ(request.optionFlag, 1u);

  EXPECT_EQ(StoreLines(),
            (std::vector<std::string>{
                General("DownloaderSubmodule: instantiated with platform id 'NA1'"),
                General("DownloaderSubmodule: trec path set to '" + replayFolder + "'"),
                Detail("MetadataStore: update Replay '42', state->Download"),
                General("DownloaderSubmodule: Trec download job started"),
                General("DownloaderSubmodule: fetching download URL for platform 'NA1' game '42'"),
                General("DownloaderSubmodule: server request, WEB trec download for game '42'"),
                General("DownloaderSubmodule: server response OK, WEB trec download for game '42'"),
                Detail("FileManager: scanning trec for game '42' at path '" + path + "'"),
                Detail("FileManager: reading metadata from trec game '42' at path '" + path +
                       "' succeeded"),
                Detail("FileManager: caching metadata for Replay gameId '42', gameVersion "
                       "'14.3.1.200', trecPath '" +
                       path + "'"),
                Detail("MetadataStore: update Replay '42', trecPath->" + path),
                General("DownloaderSubmodule: Trec download job ending"),
            }));
}

TEST_F(DownloaderTest, EveryFailureBeforeTheFileIsWrittenMarksRetryDownload) {
  const std::string longName = std::string(300, 'n') + ".trec";
  struct Case {
    std::string name;
    std::function<void()> script;
    std::string warning;
    std::vector<std::string> steps;
  };
  const std::string blocked = folder.path() + "/file/replays";
  const std::string blockedPath = blocked + "/NA1-42.trec";
  const std::vector<Case> cases = {
      {"server answers with an error",
       [this] { FailUrl("no replay service"); },
       "DownloaderSubmodule: fetching download URL failed: platform 'NA1', game '42', error code "
       "'0'",
       {"trec-url-request", "trec-url-response-error response=no replay service"}},
      {"server answers without an address",
       [this] { ServeUrl(""); },
       "DownloaderSubmodule: server response OK, LCDS could not retrieve download URL for "
       "platform 'NA1' game '42'",
       {"trec-url-request",
        "trec-url-response-error response=server response OK, but no url returned"}},
      {"address without a file name",
       [this] { ServeUrl("https://cdn/a/b/"); },
       "DownloaderSubmodule: failed to extract filename from url for game '42'",
       {"trec-url-request", "trec-url-response-ok",
        "processing-anomaly response=Failed to extract filename from url"}},
      {"folder and name do not fit",
       [&] { ServeUrl("https://cdn/a/" + longName); },
       "DownloaderSubmodule: failed to join path '" + replayFolder + "' with filename '" +
           longName + "' for game '42'",
       {"trec-url-request", "trec-url-response-ok",
        "processing-anomaly response=Downloader failed to join path " + replayFolder +
            " with filename " + longName}},
      {"host transfer fails",
       [this] {
         ServeUrl(kUrl);
         ServeHttp({1, 0, "connection reset", false});
       },
       "DownloaderSubmodule: server response ERROR, WEB trec download failed with HTTP status 0 "
       "for gameId '42'",
       {"trec-url-request", "trec-url-response-ok", "trec-download-request",
        "trec-download-error response=Downloader server response ERROR, WEB trec download failed "
        "with HTTP status 0"}},
      {"status 404",
       [this] {
         ServeUrl(kUrl);
         ServeHttp({0, 404, "not here", false});
       },
       "DownloaderSubmodule: server response ERROR, WEB trec download failed with response code "
       "'404' for game '42'",
       {"trec-url-request", "trec-url-response-ok", "trec-download-request",
        "trec-download-error response=Downloader server response ERROR, WEB trec download failed "
        "with error: "}},
      {"response with an error text",
       [this] {
         ServeUrl(kUrl);
         ServeHttp({0, 200, "", true});
       },
       "DownloaderSubmodule: server response ERROR, WEB trec download failed with response code "
       "'200' for game '42'",
       {"trec-url-request", "trec-url-response-ok", "trec-download-request",
        "trec-download-error response=Downloader server response ERROR, WEB trec download failed "
        "with error: Error converting response for GET " +
            std::string(kUrl) + ": body was null"}},
      // Running as root, permissions stop no write: the folder's parent is a regular file.
      {"file cannot be written",
       [&] {
         WriteText(folder.path() + "/file", "not a folder");
         downloader->SetTrecPath(blocked);
         Serve(kUrl, ReplayBytes());
       },
       "DownloaderSubmodule: failed to write file '" + blockedPath +
           "' for game '42: could not open file for writing",
       {"trec-url-request", "trec-url-response-ok", "trec-download-request",
        "processing-anomaly response=DownloaderSubmodule: failed to write file " + blockedPath}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(replayFolder);
    downloader->SetTrecPath(replayFolder);
    c.script();
    capture.clear();
    sender.steps.clear();
    downloader->QueueDownload(42);
    RunJobs();

    EXPECT_EQ(Warnings(), std::vector<std::string>{Warning(c.warning)});
    EXPECT_TRUE(capture.contains("MetadataStore: update Replay '42', state->RetryDownload"));
    EXPECT_EQ(sender.steps, c.steps);
    EXPECT_EQ(TakePublications(),
              (std::vector{Published(S::downloading, 42), Published(S::retryDownload, 42)}));
    EXPECT_TRUE(Listing(replayFolder).empty());
    EXPECT_TRUE(urlAnswers.empty() && httpAnswers.empty());
  }
}

TEST_F(DownloaderTest, AnEmptyNoContentAnswerIsWrittenAndTheRecordStaysDownloadingAt100) {
  ServeUrl(kUrl);
  ServeHttp({0, 204, "", false});
  downloader->QueueDownload(42);
  RunJobs();

  EXPECT_EQ(ReadFile(PathOf("NA1-42.trec")), "");
  EXPECT_TRUE(std::filesystem::exists(PathOf("NA1-42.trec")));
  EXPECT_EQ(sender.steps.back(), "trec-download-ok trecSize=0");
  EXPECT_EQ(TakePublications(), (std::vector{Published(S::downloading, 42),
                                             Published(S::downloading, 42, false, 100)}));
  EXPECT_EQ(store.FindRecord(42)->trecPath, "");
  EXPECT_TRUE(capture.contains("FileManager: reading metadata from trec for game '42' at path '" +
                               PathOf("NA1-42.trec") + "' failed"));
}

// Whatever the server's address says, a file is only created directly in
// the replay folder, under a plain name; anything else is the extract failure.
TEST_F(DownloaderTest, AHostileAddressNeverWritesOutsideTheFolder) {
  const size_t room = 259 - replayFolder.size() - 1;  // the longest name that joins
  const std::string megabytes(1 << 20, 'a');
  struct Case {
    std::string name;
    std::string url;
    std::string written;  // the file name created, or empty: refused
    bool joinFails = false;
  };
  const std::vector<Case> cases = {
      {"dot segments of the address", "https://h/a/../../x.trec", "x.trec"},
      {"backslash climbs", "https://h/a/..\\..\\x.trec", ""},
      {"drive-relative name", "https://h/a/C:x.trec", ""},
      {"drive-absolute name", "https://h/a/C:\\x.trec", ""},
      {"trailing slash", "https://h/a/b/", ""},
      {"slash only in the query", "https://h/a/?f=/x.trec", ""},
      {"encoded dots stay text", "https://h/a/%2e%2e", "%2e%2e"},
      {"encoded climb stays text", "https://h/a/%2e%2e%2fx.trec", "%2e%2e%2fx.trec"},
      {"dot", "https://h/a/.", ""},
      {"dot dot", "https://h/a/..", ""},
      {"dot dot before the query", "https://h/a/..?x=1", ""},
      {"control character", "https://h/a/x\x01.trec", ""},
      {"line break", "https://h/a/x\n.trec", ""},
      {"delete character", "https://h/a/x\x7f.trec", ""},
      {"longest name that fits", "https://h/a/" + std::string(room, 'r'), std::string(room, 'r')},
      {"one character longer", "https://h/a/" + std::string(room + 1, 'r'), "", true},
      {"megabytes of path", "https://h/" + megabytes + "/NA1-1.trec", "NA1-1.trec"},
      {"megabytes of query", "https://h/a/NA1-2.trec?" + megabytes, "NA1-2.trec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(replayFolder);
    std::filesystem::create_directory(replayFolder);
    capture.clear();
    ServeHttp({0, 200, "replay", false});
    const std::string path = downloader->DownloadTrec(c.url, 42);

    if (c.written.empty()) {
      EXPECT_EQ(path, "");
      EXPECT_EQ(Listing(replayFolder), std::set<std::string>{});
      const std::string expected =
          c.joinFails ? "DownloaderSubmodule: failed to join path '"
                      : "DownloaderSubmodule: failed to extract filename from url for game '42'";
      ASSERT_EQ(Warnings().size(), 1u);
      EXPECT_EQ(Warnings()[0].rfind(Warning(expected).substr(0, Warning(expected).size() - 1), 0),
                0u)
          << Warnings()[0];
      httpAnswers.clear();
    } else {
      EXPECT_EQ(path, PathOf(c.written));
      EXPECT_EQ(Listing(replayFolder), std::set<std::string>{c.written});
      EXPECT_EQ(ReadFile(path), "replay");
      EXPECT_EQ(Warnings(), std::vector<std::string>{});
    }
    EXPECT_EQ(Listing(folder.path()), std::set<std::string>{"replays"});
  }
}

TEST_F(DownloaderTest, WithoutAFolderNothingIsWrittenToTheWorkingDirectory) {
  downloader->SetTrecPath("");
  ServeHttp({0, 200, "replay", false});
  const std::set<std::string> before = Listing(".");
  EXPECT_EQ(downloader->DownloadTrec(kUrl, 42), "");
  EXPECT_EQ(Warnings(), std::vector<std::string>{
                            Warning("DownloaderSubmodule: failed to join path '' with filename "
                                    "'NA1-42.trec' for game '42'")});
  EXPECT_EQ(Listing("."), before);
  EXPECT_TRUE(module.requests.empty());
}

TEST_F(DownloaderTest, AGameQueuedTwiceIsDownloadedTwiceAndTheSecondFileReplacesTheFirst) {
  Serve(kUrl, ReplayBytes("14.3.1.200"));
  Serve(kUrl, ReplayBytes("14.4.2.300"));
  downloader->QueueDownload(42);
  downloader->QueueDownload(42);
  EXPECT_EQ(module.timers.size(), 1u);
  RunJobs();

  EXPECT_EQ(module.requests.size(), 2u);
  EXPECT_EQ(ReadFile(PathOf("NA1-42.trec")), ReplayBytes("14.4.2.300"));
  EXPECT_EQ(Listing(replayFolder), std::set<std::string>{"NA1-42.trec"});
  EXPECT_EQ(store.FindRecord(42)->gameVersion, "14.4.2.300");
  EXPECT_EQ(TakePublications(),
            (std::vector{
                Published(S::downloading, 42), Published(S::downloading, 42),
                Published(S::downloading, 42, false, 100), Published(S::watch, 42, false, 100),
                Published(S::downloading, 42, false, 100), Published(S::watch, 42, false, 100)}));
}

TEST_F(DownloaderTest, AShortWriteLeavesTheEarlierReplayIntactAndNoPartialFile) {
  const std::string first = ReplayBytes();
  Serve(kUrl, first);
  downloader->QueueDownload(42);
  RunJobs();
  ASSERT_EQ(ReadFile(PathOf("NA1-42.trec")), first);

  const std::string second(first.size() + 1000, 'x');
  Serve(kUrl, second);
  capture.clear();
  {
    FileSizeLimit limit(first.size());
    downloader->QueueDownload(42);
    RunJobs();
  }
  EXPECT_EQ(Warnings(), std::vector<std::string>{Warning(
                            "DownloaderSubmodule: failed to write file '" + PathOf("NA1-42.trec") +
                            "' for game '42: only wrote " + std::to_string(first.size()) + "/" +
                            std::to_string(second.size()) + " bytes to file")});
  EXPECT_EQ(ReadFile(PathOf("NA1-42.trec")), first);
  EXPECT_EQ(Listing(replayFolder), std::set<std::string>{"NA1-42.trec"});
  EXPECT_EQ(store.FindRecord(42)->metadata.state, S::retryDownload);
}

TEST_F(DownloaderTest, GamesQueuedWhileTheJobWaitsAreTakenByTheSameRun) {
  Serve("https://cdn/NA1-42.trec", ReplayBytes());
  Serve("https://cdn/NA1-43.trec", ReplayBytes());
  downloader->QueueDownload(42);
  duringWait = [this] { downloader->QueueDownload(43); };
  RunJobs();

  EXPECT_EQ(module.timers.size(), 1u);
  EXPECT_EQ(Listing(replayFolder), (std::set<std::string>{"NA1-42.trec", "NA1-43.trec"}));
  EXPECT_EQ(store.FindRecord(43)->metadata.state, S::watch);
  const std::vector<std::string> lines = capture.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       General("DownloaderSubmodule: Trec download job ending")),
            1);
  EXPECT_EQ(lines.back(), General("DownloaderSubmodule: Trec download job ending"));
  EXPECT_FALSE(downloader->downloadJobRunning());
}

// Login data replace the downloader; its job, already scheduled or waiting
// for the server, finishes on the downloader it belongs to.
TEST_F(DownloaderTest, AReplacedDownloaderLivesUntilItsJobEnds) {
  for (const bool whileWaiting : {false, true}) {
    SCOPED_TRACE(whileWaiting ? "replaced while the job waits" : "replaced before the job runs");
    std::filesystem::remove_all(replayFolder);
    Serve(kUrl, ReplayBytes());
    downloader->QueueDownload(42);
    const std::weak_ptr<DownloaderSubmodule> old = downloader;
    auto replace = [this] {
      downloader = DownloaderSubmodule::Create(module, sharedStore, "EUW1", metrics, files);
    };
    if (whileWaiting) {
      duringWait = replace;
    } else {
      replace();
    }
    EXPECT_FALSE(old.expired());
    RunJobs();

    EXPECT_TRUE(old.expired());
    EXPECT_EQ(Listing(replayFolder), std::set<std::string>{"NA1-42.trec"});
    EXPECT_EQ(store.FindRecord(42)->metadata.state, S::watch);
    EXPECT_EQ(module.calls.back().arguments[3].asString(), R"({"gameId":42,"platformId":"NA1"})");
    downloader = DownloaderSubmodule::Create(module, sharedStore, "NA1", metrics, files);
    downloader->SetTrecPath(replayFolder);
  }
}

// A replay of several MiB reaches the file byte for byte, written from the
// host's memory: no allocation of its size is made on the way.
TEST_F(DownloaderTest, ALargeReplayIsWrittenExactlyWithoutACopyOfItsBody) {
  TrecImage image;
  image.metadata = MetadataJson({1800000, "14.3.1.200", 30, 15});
  image.bodySize = (9 << 20) + 123;
  const std::string body = TrecBytes(image);
  Serve("https://cdn/NA1-42.trec", body);
  downloader->QueueDownload(42);
  {
    Testing::FailLargeAllocations fail(1 << 20);
    RunJobs();
  }
  EXPECT_EQ(Warnings(), std::vector<std::string>{});
  EXPECT_EQ(store.FindRecord(42)->metadata.state, S::watch);
  EXPECT_TRUE(ReadFile(replayFolder + "/NA1-42.trec") == body);
  EXPECT_EQ(sender.steps.back(), "trec-download-ok trecSize=" + std::to_string(body.size()));
}

// The body is written from the host's memory, so running out of memory shows
// later in a download: here at the buffer that reads the new file's metadata.
TEST_F(DownloaderTest, AGameWhoseDownloadRunsOutOfMemoryIsMarkedForRetryAndTheQueueGoesOn) {
  Serve("https://cdn/NA1-42.trec", ReplayBytes());
  Serve("https://cdn/NA1-43.trec", ReplayBytes());
  std::optional<Testing::FailLargeAllocations> fail;
  // Armed while game 42 waits for its address, disarmed while game 43 waits for its own.
  duringWait = [&] {
    fail.emplace(kTrecReadBufferSize);
    duringWait = [&] { fail.reset(); };
  };
  downloader->QueueDownload(42);
  downloader->QueueDownload(43);
  RunJobs();
  ASSERT_FALSE(fail.has_value());
  EXPECT_EQ(Warnings(), std::vector<std::string>{Warning(
                            "DownloaderSubmodule: download of game '42' failed: std::bad_alloc")});
  EXPECT_EQ(store.FindRecord(42)->metadata.state, S::retryDownload);
  EXPECT_EQ(store.FindRecord(43)->metadata.state, S::watch);
  EXPECT_FALSE(downloader->downloadJobRunning());

  Serve("https://cdn/NA1-42.trec", ReplayBytes());
  downloader->QueueDownload(42);
  RunJobs();
  EXPECT_EQ(store.FindRecord(42)->metadata.state, S::watch);
}

// Writes go to a temporary file of the folder that is renamed over the
// target: the target is replaced whole or left as it was, never written through.
TEST(DownloaderWriteFileTest, ReplacesTheTargetWholeOrLeavesItAsItWas) {
  struct Case {
    std::string name;
    std::function<void(const std::string& folder, const std::string& target)> setup;
    std::string bytes;
    rlim_t sizeLimit;       // RLIM_INFINITY: none
    std::string failure;    // empty: success
    std::string remaining;  // the target's content afterwards
  };
  const rlim_t unlimited = RLIM_INFINITY;
  const std::vector<Case> cases = {
      {"new file", [](const std::string&, const std::string&) {}, "new", unlimited, "", "new"},
      {"replaces a file",
       [](const std::string&, const std::string& target) { WriteText(target, "old"); }, "new",
       unlimited, "", "new"},
      {"replaces a symbolic link, not what it points to",
       [](const std::string& folder, const std::string& target) {
         WriteText(folder + "/outside", "outside");
         ASSERT_EQ(::symlink((folder + "/outside").c_str(), target.c_str()), 0);
       },
       "new", unlimited, "", "new"},
      {"short write keeps the earlier file",
       [](const std::string&, const std::string& target) { WriteText(target, "old"); },
       std::string(2000, 'x'), 100, "only wrote 100/2000 bytes to file", "old"},
      {"target is a folder",
       [](const std::string&, const std::string& target) {
         std::filesystem::create_directory(target);
         WriteText(target + "/inside", "inside");
       },
       "new", unlimited, "could not replace file", ""},
  };
  const mode_t previousMask = ::umask(027);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Testing::TempFolder folder("write_file");
    const std::string target = folder.path() + "/NA1-42.trec";
    c.setup(folder.path(), target);
    const std::set<std::string> before = Listing(folder.path());
    MaybeType<Failure, void> written = [&] {
      if (c.sizeLimit == unlimited) return DownloaderSubmodule::WriteFile(target, c.bytes);
      FileSizeLimit limit(c.sizeLimit);
      return DownloaderSubmodule::WriteFile(target, c.bytes);
    }();

    EXPECT_EQ(written ? "" : written.failure().message, c.failure);
    std::set<std::string> expectedListing = before;
    expectedListing.insert("NA1-42.trec");
    EXPECT_EQ(Listing(folder.path()), expectedListing);
    if (c.remaining.empty()) continue;
    EXPECT_EQ(ReadFile(target), c.remaining);
    struct stat info {};
    ASSERT_EQ(::lstat(target.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    if (c.failure.empty()) {
      EXPECT_EQ(info.st_mode & 07777, 0640u);
    }
    if (before.contains("outside")) {
      EXPECT_EQ(ReadFile(folder.path() + "/outside"), "outside");
    }
  }
  ::umask(previousMask);
}

TEST(DownloaderWriteFileTest, AFolderThatCannotHoldFilesFailsToOpen) {
  Testing::TempFolder folder("write_file");
  WriteText(folder.path() + "/file", "not a folder");
  MaybeType<Failure, void> written =
      DownloaderSubmodule::WriteFile(folder.path() + "/file/NA1-42.trec", "new");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.failure().message, "could not open file for writing");
  EXPECT_EQ(Listing(folder.path()), std::set<std::string>{"file"});
}

}  // namespace
}  // namespace Zorv::Client::Replays
