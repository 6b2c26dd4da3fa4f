// trec: makes replay files and shows their metadata blocks.
//
//   trec make 42.trec --game-version 14.3.1.200 --body-size 65536
//   trec make broken.trec --defect oversize-length
//   trec info 42.trec broken.trec
//   42.trec: {"gameLength":0,"gameVersion":"14.3.1.200","lastGameChunkId":0,"lastKeyFrameId":0}
//   broken.trec: FileManager: ignoring trec 'broken.trec' with very large metadata (1048577 bytes)
//
// `info` prints one line per file: the block as compact JSON, or why there is
// none (the reader's own failure line). It exits with 1 when some file has no
// JSON metadata.
#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "logging/log.h"
#include "logging/log_record.h"
#include "logging/log_target.h"
#include "logging/logger_api.h"
#include "replays/store/trec_file.h"
#include "trec/trec_writer.h"

namespace Zorv::Client::Replays {
namespace {

// Keeps the message of the last warning that the reader logs.
class LastWarning : public LogTarget {
 public:
  LastWarning() { setMinLevel(LogLevel::Warn); }
  ~LastWarning() override { leaveLogger(); }
  bool write(const LogRecord& record) override {
    std::lock_guard lock(mutex());
    message_ = record.message ? record.message : "";
    return true;
  }
  std::string take() {
    std::lock_guard lock(mutex());
    return std::exchange(message_, {});
  }

 private:
  std::string message_;
};

// The line for one file, and whether it holds JSON.
std::pair<std::string, bool> InfoLine(const std::string& path, std::span<char> buffer,
                                      LastWarning& warning) {
  const std::string text = ReadMetadataText(path, buffer);
  const std::string failure = warning.take();
  if (!failure.empty()) return {failure, false};
  if (text.empty()) return {"empty metadata block", false};
  // The block is JSON up to its first zero byte, as the replay store reads it.
  const BindingResult json = FromJsonText(std::string_view(text.c_str()));
  if (!json.success) return {"metadata block is not JSON: " + std::string(json.error()), false};
  return {ToJsonText(json.value), true};
}

int Info(const std::vector<std::string>& paths) {
  // The reader's warnings become the lines of this command, not stderr output.
  const LoggerApi* api = GetLoggerApi();
  api->acquire();
  api->removeTarget(api->stdErrTarget());
  LastWarning warning;
  warning.attach();
  std::vector<char> buffer(kTrecReadBufferSize);
  int status = 0;
  for (const std::string& path : paths) {
    auto [line, ok] = InfoLine(path, buffer, warning);
    std::printf("%s: %s\n", path.c_str(), line.c_str());
    if (!ok) status = 1;
  }
  warning.detach();
  api->release();
  return status;
}

}  // namespace
}  // namespace Zorv::Client::Replays

int main(int argc, char** argv) {
  using namespace Zorv::Client::Replays;
  CLI::App app{"Makes replay files (.trec) and shows their metadata blocks."};
  app.require_subcommand(1);

  CLI::App* make = app.add_subcommand("make", "Write a replay file");
  std::string output;
  TrecMetadataFields fields{0, "14.3.1.200", 0, 0};
  uint64_t bodySize = 0;
  TrecDefect defect = TrecDefect::None;
  std::map<std::string, TrecDefect> defects;
  for (TrecDefect each : kTrecDefects) defects.emplace(DefectName(each), each);
  make->add_option("file", output, "Replay file to write (replaced if it exists)")->required();
  make->add_option("--game-version", fields.gameVersion, "gameVersion of the metadata")
      ->capture_default_str();
  make->add_option("--game-length", fields.gameLength, "gameLength of the metadata")
      ->capture_default_str();
  make->add_option("--last-chunk-id", fields.lastGameChunkId, "lastGameChunkId of the metadata")
      ->capture_default_str();
  make->add_option("--last-key-frame-id", fields.lastKeyFrameId, "lastKeyFrameId of the metadata")
      ->capture_default_str();
  make->add_option("--body-size", bodySize, "Bytes of replay data after the metadata block")
      ->capture_default_str();
  make->add_option("--defect", defect, "A deliberate defect, for tests")
      ->transform(CLI::CheckedTransformer(defects, CLI::ignore_case))
      ->capture_default_str();

  CLI::App* info = app.add_subcommand("info", "Print each file's metadata block as JSON");
  std::vector<std::string> inputs;
  info->add_option("files", inputs, "Replay files")->required();

  CLI11_PARSE(app, argc, argv);

  if (*make) {
    TrecImage image;
    image.metadata = MetadataJson(fields);
    image.bodySize = bodySize;
    ApplyDefect(image, defect);
    std::string error;
    if (!WriteTrecFile(output, image, &error)) {
      std::fprintf(stderr, "trec: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  return Info(inputs);
}
