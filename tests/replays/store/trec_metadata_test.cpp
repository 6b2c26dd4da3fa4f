#include "replays/store/trec_metadata.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "binding/type_registry.h"
#include "logging/log.h"
#include "replays/api/replays_api_registration.h"
#include "support/capture_log_target.h"

namespace Zorv::Client::Replays {
namespace {

using Api::TrecFileMetadata;

const std::string kEmptyLine =
    "  WARN| DBG| FileManager: saw empty replay metadata in trec: '%s'\n";
const std::string kFailedLine =
    "  WARN| DBG| FileManager: failed to deserialize replay metadata from trec: '%s'\n";

std::string Line(std::string format, const std::string& path) {
  return format.replace(format.find("%s"), 2, path);
}

class TrecMetadataTest : public ::testing::Test {
 protected:
  TrecMetadataTest() {
    RegisterReplaysApiTypes(registry, "PexReplays");
    api_->acquire();
    api_->setLevel(0);
    capture.attach();
  }
  ~TrecMetadataTest() override {
    capture.detach();
    api_->release();
  }

  // Parses `text` and expects the failure line `format` for it, or no line.
  std::optional<TrecFileMetadata> Parse(std::string_view text) {
    capture.clear();
    return ParseTrecMetadata(registry, path, text);
  }
  void ExpectFailure(std::string_view text, const std::string& format) {
    const std::optional<TrecFileMetadata> metadata = Parse(text);
    EXPECT_FALSE(metadata.has_value());
    EXPECT_EQ(capture.lines(), std::vector<std::string>{Line(format, path)});
  }

  const std::string path = "/replays/NA1-4242.trec";
  TypeRegistry registry;
  Testing::CaptureLogTarget capture;

 private:
  const LoggerApi* api_ = GetLoggerApi();
};

TEST_F(TrecMetadataTest, ReadsTheMetadataBlock) {
  struct Case {
    std::string name;
    std::string text;
    TrecFileMetadata expected;
  };
  const std::string full =
      R"({"gameLength":1830000,"gameVersion":"14.3.562.1","lastGameChunkId":61,"lastKeyFrameId":30})";
  const Case cases[] = {
      {"all keys", full, {1830000, "14.3.562.1", 61, 30}},
      {"blanks around", " \r\n\t" + full + "\n ", {1830000, "14.3.562.1", 61, 30}},
      {"zero byte ends the text",
       R"({"gameVersion":"14.3.562.1"})" + std::string(1, '\0') + "\xff{[",
       {0, "14.3.562.1", 0, 0}},
      {"extra keys ignored, nested included",
       R"({"gameVersion":"1.2.3.4","extra":{"a":[1,{"b":null}]},"gameLength":5})",
       {5, "1.2.3.4", 0, 0}},
      {"missing keys keep defaults", "{}", {0, "", 0, 0}},
      {"numbers as texts and floats",
       R"({"gameLength":"0x10","lastGameChunkId":3.9})",
       {16, "", 3, 0}},
      {"largest uint32", R"({"lastKeyFrameId":4294967295})", {0, "", 0, 4294967295u}},
      {"null is a missing key", R"({"gameVersion":null,"gameLength":7})", {7, "", 0, 0}},
      {"later duplicate wins", R"({"gameVersion":"1","gameVersion":"2"})", {0, "2", 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<TrecFileMetadata> metadata = Parse(c.text);
    ASSERT_TRUE(metadata.has_value());
    EXPECT_EQ(metadata->gameLength, c.expected.gameLength);
    EXPECT_EQ(metadata->gameVersion, c.expected.gameVersion);
    EXPECT_EQ(metadata->lastGameChunkId, c.expected.lastGameChunkId);
    EXPECT_EQ(metadata->lastKeyFrameId, c.expected.lastKeyFrameId);
    EXPECT_TRUE(capture.lines().empty());
  }
}

TEST_F(TrecMetadataTest, EveryBadBlockGivesOneLineAndNoValue) {
  struct Case {
    std::string name;
    std::string text;
    const std::string& line;
  };
  const Case cases[] = {
      {"empty", "", kEmptyLine},
      {"zero byte first", std::string(1, '\0') + R"({"gameVersion":"1"})", kFailedLine},
      {"not JSON", "ZORV", kFailedLine},
      {"unterminated object", R"({"gameVersion":"1")", kFailedLine},
      {"trailing text", R"({"gameVersion":"1"} x)", kFailedLine},
      {"blanks only", "  \n", kFailedLine},
      {"array root", R"([{"gameVersion":"1"}])", kFailedLine},
      {"string root", R"("14.3.562.1")", kFailedLine},
      {"number root", "42", kFailedLine},
      {"null root", "null", kFailedLine},
      {"length as a word", R"({"gameLength":"long"})", kFailedLine},
      {"length negative", R"({"gameLength":-1})", kFailedLine},
      {"length past uint32", R"({"gameLength":4294967296})", kFailedLine},
      {"length past uint64", R"({"gameLength":184467440737095516160})", kFailedLine},
      {"number past double", R"({"gameLength":1e400})", kFailedLine},
      {"length as a bool", R"({"gameLength":true})", kFailedLine},
      {"version as a number", R"({"gameVersion":14.3})", kFailedLine},
      {"version as an object", R"({"gameVersion":{"major":14}})", kFailedLine},
      {"chunk id as an array", R"({"lastGameChunkId":[1]})", kFailedLine},
      {"lone surrogate", R"({"gameVersion":"\ud800"})", kFailedLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailure(c.text, c.line);
  }
}

// A valid block with `depth` levels of brackets under a key the type ignores
// (depth + 1 levels in all, depth + 2 counted items).
std::string Nested(size_t depth) {
  return R"({"gameVersion":"1.2.3.4","replay":)" + std::string(depth, '[') +
         std::string(depth, ']') + "}";
}

// A valid block with exactly `items` counted items (brackets and commas): an
// ignored array of items - 2 elements.
std::string Wide(size_t items) {
  std::string block = R"({"gameVersion":"1.2.3.4","replay":[0)";
  for (size_t i = 3; i < items; ++i) block += ",0";
  return block + "]}";
}

TEST_F(TrecMetadataTest, BlocksOfAnyShapeWithinTheBoundsAreRead) {
  const std::string atBounds[] = {
      Nested(kMaxMetadataDepth - 1),
      Wide(kMaxMetadataItems),
      // Brackets and commas inside strings, escaped quotes included, are text.
      R"({"gameVersion":"1.2.3.4","note":"[[[{,,\"[[,"})",
      // As many as a block can hold.
      R"({"gameVersion":"1.2.3.4","note":")" + std::string(1024 * 1024 - 40, ',') + R"(\"["})",
  };
  for (const std::string& block : atBounds) {
    SCOPED_TRACE(block.substr(0, 60));
    const std::optional<TrecFileMetadata> metadata = Parse(block);
    ASSERT_TRUE(metadata.has_value());
    EXPECT_EQ(metadata->gameVersion, "1.2.3.4");
    EXPECT_TRUE(capture.lines().empty());
  }
}

TEST_F(TrecMetadataTest, BlocksBeyondTheShapeBoundsAreRefused) {
  const size_t cap = 1024 * 1024;  // the largest block a replay file may hold
  const std::string cases[] = {
      Nested(kMaxMetadataDepth),
      Wide(kMaxMetadataItems + 1),
      std::string(cap / 2, '[') + std::string(cap / 2, ']'),
      std::string(cap, '['),
      std::string(cap, '{'),
      R"({"gameVersion":)" + std::string(cap / 2, '[') + std::string(cap / 2, ']') + "}",
      Wide(cap / 2),
  };
  for (const std::string& block : cases) {
    SCOPED_TRACE(block.substr(0, 60));
    ExpectFailure(block, kFailedLine);
  }
}

TEST_F(TrecMetadataTest, ARegistryWithoutTheTypeFailsCleanly) {
  TypeRegistry empty;
  capture.clear();
  EXPECT_FALSE(ParseTrecMetadata(empty, path, R"({"gameVersion":"1"})").has_value());
  EXPECT_EQ(capture.lines(), std::vector<std::string>{Line(kFailedLine, path)});
}

TEST_F(TrecMetadataTest, ThePathIsPrintedAsGiven) {
  const std::string odd = "/replays/%s %n 100%.trec";
  capture.clear();
  EXPECT_FALSE(ParseTrecMetadata(registry, odd, "[]").has_value());
  EXPECT_EQ(capture.lines(), std::vector<std::string>{Line(kFailedLine, odd)});
}

}  // namespace
}  // namespace Zorv::Client::Replays
