// The fixture of the DownloaderSubmodule tests: a downloader over a module
// whose host is the test, a real MetadataStore (the store fixture's, which
// records publications), a real FileManager and a real replay folder.
//
// The test scripts the server's download addresses (ServeUrl, FailUrl) and
// the web's answers (ServeHttp), runs the scheduled jobs (RunJobs) and reads
// back the metric steps (Steps), the WARN lines (Warnings) and the folder.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "framework/events/event_host_module.h"
#include "framework/telemetry/telemetry_sender.h"
#include "replays/api/replays_api_registration.h"
#include "replays/metrics/replay_metrics.h"
#include "replays/store/downloader_submodule.h"
#include "replays/store/file_manager.h"
#include "replays/store/metadata_store_fixture.h"
#include "support/temp_folder.h"
#include "trec/trec_writer.h"

namespace Zorv::Client::Replays::DownloaderTesting {

using namespace StoreTesting;

// A module with the service-proxy handlers and the replay types, as the plug-in has them.
class DownloaderModule : public Testing::EventHostModule {
 public:
  DownloaderModule() {
    RegisterServiceProxyHandlers();
    RegisterReplaysApiTypes(registry(), "PexReplays");
    RegisterLcdsContractTypes(registry());
  }
};

// Keeps each metric event as one text: the step, then " response=..." or
// " trecSize=..." when the event has them.
class RecordingSender : public TelemetrySender {
 public:
  explicit RecordingSender(AppModule* module) : TelemetrySender(module) {}

  std::future<MaybeType<Failure, void>> Send(std::string_view eventName,
                                             const BindingProperty& fields) override {
    EXPECT_EQ(eventName, "tnk-be-pex-replays.downloadingReplay");
    std::string step;
    std::string extra;
    for (const auto& field : fields.fields()) {
      if (field.name == "step") step = field.value.asString();
      if (field.name == "response" || field.name == "trecSize") {
        extra += " " + std::string(field.name) + "=" + std::string(field.value.asString());
      }
    }
    steps.push_back(step + extra);
    std::promise<MaybeType<Failure, void>> sent;
    sent.set_value({});
    return sent.get_future();
  }

  std::vector<std::string> steps;
};

// The web's answer to one GET.
struct HttpAnswer {
  int32_t resultCode = 0;
  int32_t status = 200;
  std::string body;       // the error text when resultCode is not 0
  bool nullBody = false;  // a body size without a body pointer
};

inline std::string JsonQuoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// A replay file whose metadata block reads.
inline std::string ReplayBytes(const std::string& gameVersion = "14.3.1.200") {
  TrecImage image;
  image.metadata = MetadataJson({1800000, gameVersion, 30, 15});
  image.bodySize = 64;
  return TrecBytes(image);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Every name in `folder`, sorted.
inline std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Files larger than `bytes` cannot be written while this lives (writes past
// it fail with EFBIG), even for root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

class DownloaderTest : public MetadataStoreTest {
 protected:
  DownloaderTest() {
    module.answerCall = [this](CallResult* result, const CallRecord*) {
      pendingUuids.push_back("uuid-" + std::to_string(++uuids));
      Testing::FakeHostModule::AnswerValue(result,
                                           BindingProperty(std::string_view(pendingUuids.back())));
    };
    module.onYield = [this] {
      if (duringWait) std::exchange(duringWait, nullptr)();
      if (pendingUuids.empty() || urlAnswers.empty()) return;
      const auto [payload, error] = urlAnswers.front();
      urlAnswers.pop_front();
      const std::string uuid = pendingUuids.front();
      pendingUuids.pop_front();
      BindingProperty answer;
      answer.field("uuid") = std::string_view(uuid);
      answer.field("serviceName") = "replays.retrieval";
      answer.field("methodName") = "getDownloadUrl";
      answer.field("payload") = std::string_view(payload);
      answer.field("status") = "200";
      answer.field("error") = std::string_view(error);
      ASSERT_TRUE(module.Deliver("OnServiceProxyUuidEvent", answer));
    };
    module.answerRequest = [this](const HostRequestRecord*, HostResponseRecord* response) {
      ASSERT_FALSE(httpAnswers.empty()) << "no HTTP answer scripted";
      answered = std::move(httpAnswers.front());
      httpAnswers.pop_front();
      response->resultCode = answered.resultCode;
      response->status = answered.status;
      response->body = answered.nullBody ? nullptr : answered.body.data();
      response->bodySize = static_cast<uint32_t>(answered.nullBody ? 16 : answered.body.size());
    };
    downloader->SetTrecPath(replayFolder);
  }

  // The server's next answers: an address, or a failure with an error text.
  void ServeUrl(const std::string& url) {
    urlAnswers.push_back({"{\"url\":" + JsonQuoted(url) + "}", ""});
  }
  void FailUrl(const std::string& error) { urlAnswers.push_back({"{}", error}); }
  void ServeHttp(HttpAnswer answer) { httpAnswers.push_back(std::move(answer)); }
  // An address and the replay at it.
  void Serve(const std::string& url, std::string body) {
    ServeUrl(url);
    ServeHttp({0, 200, std::move(body), false});
  }

  // Runs every scheduled job, including jobs scheduled meanwhile.
  void RunJobs() {
    while (timersRun < module.timers.size()) module.RunTimer(timersRun++);
    EXPECT_EQ(module.pendingTimers(), 0u);
  }

  std::vector<std::string> Warnings() const {
    std::vector<std::string> lines;
    for (const auto& entry : capture.entries()) {
      if (entry.level == LogLevel::Warn) lines.push_back(entry.line);
    }
    return lines;
  }
  // The replay store's own lines (the framework's service-proxy lines left out).
  std::vector<std::string> StoreLines() const {
    std::vector<std::string> lines;
    for (const auto& entry : capture.entries()) {
      if (entry.message.rfind("pex-replays: ", 0) != 0) lines.push_back(entry.line);
    }
    return lines;
  }
  std::string PathOf(const std::string& name) const { return replayFolder + "/" + name; }

  Testing::TempFolder folder{"downloader"};
  const std::string replayFolder = folder.path() + "/replays";
  DownloaderModule module;
  RecordingSender sender{&module};
  ReplayMetrics metrics{&sender, [] { return int64_t{17'654'321'239'876'543}; }};
  // The fixture owns the store; the downloader shares it without owning it.
  std::shared_ptr<MetadataStore> sharedStore{std::shared_ptr<void>(), &store};
  FileManager files{module.apiRegistry(), sharedStore};
  std::shared_ptr<DownloaderSubmodule> downloader =
      DownloaderSubmodule::Create(module, sharedStore, "NA1", metrics, files);

  std::deque<std::pair<std::string, std::string>> urlAnswers;  // payload, error
  std::deque<std::string> pendingUuids;
  std::deque<HttpAnswer> httpAnswers;
  HttpAnswer answered;               // the body the host's record points to
  std::function<void()> duringWait;  // runs once, at the next wait for the server
  size_t timersRun = 0;
  int uuids = 0;
};

}  // namespace Zorv::Client::Replays::DownloaderTesting
