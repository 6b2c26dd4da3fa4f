#include "replays/store/game_version_extractor.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "failing_allocation.h"
#include "logging/logger_api.h"
#include "platform/version_resource.h"
#include "support/capture_log_target.h"
#include "support/fake_host_module.h"
#include "pe/pe_writer.h"
#include "support/temp_folder.h"

namespace Zorv::Client::Replays {
namespace {

using Testing::CaptureLogTarget;
using Testing::FakeHostModule;
using Testing::PeOptions;

constexpr std::array<uint16_t, 4> kFileVersion{10, 3, 311, 3581};

class GameVersionExtractorTest : public testing::Test {
 protected:
  void SetUp() override {
    api_->acquire();
    capture_.attach();
  }
  void TearDown() override {
    capture_.detach();
    api_->release();
  }

  // The patcher resource answers `json`.
  void AnswerPaths(const std::string& json) {
    answer_ = FromJsonText(json).value;
    module_.answerCall = [this](CallResult* result, const CallRecord*) {
      FakeHostModule::AnswerValue(result, answer_);
    };
  }
  void AnswerFolder(const std::string& folder) {
    AnswerPaths(R"({"pex_game_client_air":"/elsewhere","pex_game_client_sln":")" + folder +
                R"("})");
  }
  // The game client, installed in the temporary folder.
  std::string Install(const Testing::PeFileImage& image) {
    const std::string path = folder_.path() + "/Vellmoor.exe";
    EXPECT_TRUE(Testing::WritePeFile(path, image));
    AnswerFolder(folder_.path());
    return path;
  }
  static Testing::PeFileImage Game(bool pe32Plus = false) {
    PeOptions options;
    options.fileVersion = kFileVersion;
    options.productVersion = {11, 0, 0, 1};
    options.pe32Plus = pe32Plus;
    return Testing::MakePeFile(options);
  }

  std::string Failed(MaybeType<Failure, std::string> result) {
    if (result) return "succeeded with " + result.value();
    EXPECT_EQ(result.failure().code, 0);
    return result.failure().message;
  }
  std::vector<std::string> Warnings() { return capture_.lines(); }

  FakeHostModule module_;
  Testing::TempFolder folder_{"game_version"};
  BindingProperty answer_;
  const LoggerApi* api_ = GetLoggerApi();
  CaptureLogTarget capture_;
};

TEST_F(GameVersionExtractorTest, ReadsTheFileVersionOfTheInstalledGame) {
  for (const bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    module_.calls.clear();
    Install(Game(plus));
    GameVersionExtractor extractor(module_);
    const auto version = extractor.GetInstalledGameVersion();
    ASSERT_TRUE(version) << version.failure().message;
    EXPECT_EQ(version.value(), "10.3.311.3581");  // the product version is 11.0.0.1
    ASSERT_EQ(module_.calls.size(), 1u);
    EXPECT_EQ(module_.calls[0].method, uint32_t{HOST_METHOD_GET});
    EXPECT_EQ(module_.calls[0].url, "/patcher/v1/products/vellmoor/paths");
    EXPECT_TRUE(module_.calls[0].arguments.empty());
  }
  EXPECT_EQ(FakeHostModule::releases, 2);
  EXPECT_TRUE(Warnings().empty());
}

TEST_F(GameVersionExtractorTest, FindsTheGameThroughAFolderWrittenWithBackslashes) {
  Install(Game());
  std::string json;  // the folder with every "/" a backslash, escaped for JSON
  for (const char c : folder_.path()) json += c == '/' ? std::string("\\\\") : std::string(1, c);
  AnswerPaths(R"({"pex_game_client_sln":")" + json + R"("})");
  GameVersionExtractor extractor(module_);
  EXPECT_EQ(extractor.GetGameClientPath("Vellmoor.exe").value(), folder_.path() + "/Vellmoor.exe");
  EXPECT_EQ(extractor.GetInstalledGameVersion().value(), "10.3.311.3581");
}

struct FolderCase {
  const char* name;
  std::optional<std::string> answer;  // JSON; nullopt: the host call fails
  std::string message;
};

TEST_F(GameVersionExtractorTest, NamesWhyTheGameCannotBeFound) {
  const std::string limit =
      "Unable to build game client path. Its file path exceeds the allowed limit of 260 "
      "characters.";
  const FolderCase cases[] = {
      {"call fails", std::nullopt, "VersionExtractor could not get path to Vellmoor game client"},
      {"answer not a map", "[1,2]", "VersionExtractor could not get path to Vellmoor game client"},
      {"no folder member", R"({"pex_game_client_air":"/x"})",
       "Could not find path to Vellmoor game client in paths from patcher"},
      {"joined path of 260 characters",
       R"({"pex_game_client_sln":")" + std::string(247, 'f') + R"("})", limit},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.name);
    capture_.clear();
    if (c.answer) {
      AnswerPaths(*c.answer);
    } else {
      module_.answerCall = [](CallResult* result, const CallRecord*) {
        FakeHostModule::AnswerError(result, "patcher is down", 503);
      };
    }
    GameVersionExtractor extractor(module_);
    EXPECT_EQ(Failed(extractor.GetGameClientPath("Vellmoor.exe")), c.message);
    EXPECT_TRUE(Warnings().empty());
    EXPECT_EQ(Failed(extractor.GetInstalledGameVersion()),
              "Unable to find game client application");
    EXPECT_EQ(Warnings(),
              std::vector<std::string>{"  WARN| DBG| GameVersionExtractor: Failure code '0'\n"});
  }
}

TEST_F(GameVersionExtractorTest, AJoinedPathOf259CharactersIsUsed) {
  const std::string folder(246, 'f');
  AnswerFolder(folder);
  GameVersionExtractor extractor(module_);
  EXPECT_EQ(extractor.GetGameClientPath("Vellmoor.exe").value(), folder + "/Vellmoor.exe");
  EXPECT_EQ(Failed(extractor.GetInstalledGameVersion()),
            "Unable to size version information from game client application, path=" + folder +
                "/Vellmoor.exe");
  EXPECT_TRUE(Warnings().empty());
}

TEST_F(GameVersionExtractorTest, NamesTheVersionResourceStepThatFailed) {
  const std::string path = folder_.path() + "/Vellmoor.exe";
  const std::string sizeFailed =
      "Unable to size version information from game client application, path=" + path;
  const std::string parseFailed =
      "Unable to parse game version from game client application, path=" + path;

  AnswerFolder(folder_.path());
  EXPECT_EQ(Failed(GameVersionExtractor(module_).GetInstalledGameVersion()), sizeFailed);

  Testing::PeFileImage image = Game();
  image.bytes.resize(image.layout.versionBlock);
  Install(image);
  EXPECT_EQ(Failed(GameVersionExtractor(module_).GetInstalledGameVersion()), sizeFailed);

  image = Game();
  Testing::PutLittleEndian(image.bytes, image.layout.versionBlock + 6, 'X', 2);  // the key
  Install(image);
  EXPECT_EQ(Failed(GameVersionExtractor(module_).GetInstalledGameVersion()), parseFailed);

  // A block that ends 20 bytes into its fixed information: the value found
  // is too short to hold it, and nothing past the block may be read.
  image = Game();
  Testing::PutLittleEndian(image.bytes, image.layout.versionDataEntry + 4, 60, 4);
  Testing::PutLittleEndian(image.bytes, image.layout.versionBlock, 60, 2);
  Testing::PutLittleEndian(image.bytes, image.layout.versionBlock + 2, 20, 2);
  Install(image);
  EXPECT_EQ(Platform::GetFileVersionInfoSize(path), 60u);
  EXPECT_EQ(Failed(GameVersionExtractor(module_).GetInstalledGameVersion()), parseFailed);
  EXPECT_TRUE(Warnings().empty());
}

// Version-resource calls that answer as scripted and record what they got.
struct ScriptedCalls {
  uint32_t size = 200;
  bool read = true;
  bool query = true;
  uint32_t length = sizeof(Platform::FixedFileInfo);
  std::vector<std::string> seen;

  VersionResourceCalls Calls() {
    return VersionResourceCalls{
        [this](const std::string& path) {
          seen.push_back("size " + path);
          return size;
        },
        [this](const std::string& path, uint32_t bytes, void* buffer) {
          seen.push_back("read " + path + " " + std::to_string(bytes));
          std::memset(buffer, 0, bytes);
          return read;
        },
        [this](const void*, uint32_t bytes, const char* name, const void** value,
               uint32_t* valueLength) {
          seen.push_back("query " + std::string(name) + " " + std::to_string(bytes));
          static const Platform::FixedFileInfo info = [] {
            Platform::FixedFileInfo made{};
            made.fileVersionMS = 0x00070002;
            made.fileVersionLS = 0x00010000;
            return made;
          }();
          *value = &info;
          *valueLength = length;
          return query;
        }};
  }
};

struct StepCase {
  const char* name;
  void (*script)(ScriptedCalls&);
  std::string message;  // its "%1" is the path; "" for success with "7.2.1.0"
  size_t steps;
};

TEST_F(GameVersionExtractorTest, GoesThroughTheThreeCallsInOrder) {
  const StepCase cases[] = {
      {"no size", [](ScriptedCalls& s) { s.size = 0; },
       "Unable to size version information from game client application, path=%1", 1},
      {"read fails", [](ScriptedCalls& s) { s.read = false; },
       "Unable to read version information from game client application, path=%1", 2},
      {"query fails", [](ScriptedCalls& s) { s.query = false; },
       "Unable to parse game version from game client application, path=%1", 3},
      {"short value", [](ScriptedCalls& s) { s.length = 51; },
       "Unable to parse game version from game client application, path=%1", 3},
      {"all answer", [](ScriptedCalls&) {}, "", 3},
  };
  const std::string path = "/games/vellmoor/Vellmoor.exe";
  AnswerPaths(R"({"pex_game_client_sln":"\\games\\vellmoor"})");
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedCalls scripted;
    c.script(scripted);
    GameVersionExtractor extractor(module_, scripted.Calls());
    const auto version = extractor.GetInstalledGameVersion();
    if (c.message.empty()) {
      EXPECT_EQ(version.value(), "7.2.1.0");
    } else {
      std::string message = c.message;
      EXPECT_EQ(Failed(version), message.replace(message.find("%1"), 2, path));
    }
    const std::vector<std::string> all = {"size " + path, "read " + path + " 200", "query \\ 200"};
    EXPECT_EQ(scripted.seen, std::vector<std::string>(all.begin(), all.begin() + c.steps));
  }
  EXPECT_TRUE(Warnings().empty());
}

TEST_F(GameVersionExtractorTest, ABufferThatCannotBeAllocatedIsReported) {
  AnswerPaths(R"({"pex_game_client_sln":"/games"})");
  ScriptedCalls scripted;
  scripted.size = 1u << 30;
  GameVersionExtractor extractor(module_, scripted.Calls());
  MaybeType<Failure, std::string> version = std::string();
  {
    Testing::FailLargeAllocations fail(1u << 20);
    version = extractor.GetInstalledGameVersion();
  }
  EXPECT_EQ(Failed(std::move(version)),
            "Unable to size version information from game client application, "
            "path=/games/Vellmoor.exe");
  EXPECT_EQ(scripted.seen, std::vector<std::string>{"size /games/Vellmoor.exe"});
  EXPECT_EQ(Warnings(), std::vector<std::string>{
                            "  WARN| DBG| GameVersionExtractor: malloc failed for 1073741824 "
                            "bytes\n"});
}

struct ParseCase {
  std::string text;
  std::optional<std::array<uint32_t, 4>> parts;
};

TEST(ParseGameVersion, ReadsFourNumbersAsScanfDoes) {
  const ParseCase cases[] = {
      {"10.3.311.3581", {{10, 3, 311, 3581}}},
      {"10.3.311.3581 text", {{10, 3, 311, 3581}}},
      {"10.3.311.3581.7", {{10, 3, 311, 3581}}},
      {" 010.\t3.+311. 3581x", {{10, 3, 311, 3581}}},
      {"4294967295.0.0.0", {{4294967295u, 0, 0, 0}}},
      {"10.3.311", std::nullopt},
      {"unknown_version", std::nullopt},
      {"", std::nullopt},
      {"10 .3.311.3581", std::nullopt},
      {"10.3.311.", std::nullopt},
      {"10..311.3581", std::nullopt},
      {"10.3.311.-1", std::nullopt},       // no wrapping of negative numbers
      {"4294967296.0.0.0", std::nullopt},  // nor of numbers beyond 32 bits
      {"1.2.3.99999999999999999999", std::nullopt},
      {"-1.2.3.4", std::nullopt},
      {"1.2.3.x", std::nullopt},
      {std::string("10.3\0.311.3581", 14), std::nullopt},  // the text ends at its NUL
  };
  const LoggerApi* api = GetLoggerApi();
  api->acquire();
  CaptureLogTarget capture;
  capture.attach();
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    capture.clear();
    EXPECT_EQ(ParseGameVersion(c.text), c.parts);
    const std::vector<std::string> warning = {
        "  WARN| DBG| Plugin could not parse full game "
        "version '" +
        std::string(c.text.c_str()) + "'\n"};
    EXPECT_EQ(capture.lines(), c.parts ? std::vector<std::string>{} : warning);
  }
  capture.detach();
  api->release();
}

}  // namespace
}  // namespace Zorv::Client::Replays
