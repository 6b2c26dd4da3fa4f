// The log call: an event the Logger filters out against the cheapest level
// check a caller could write, and a formatted event handed to a target that
// drops it against formatting alone (snprintf) and spdlog with a null sink.
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "logging/log.h"
#include "logging/log_category.h"
#include "logging/log_target.h"
#include "logging/logger.h"

namespace Zorv::Bench {
namespace {

// A target that takes every event and keeps nothing.
class DiscardTarget : public LogTarget {
 public:
  ~DiscardTarget() override { leaveLogger(); }
  const char* className() const override { return "DiscardTarget"; }
  bool write(const LogRecord& record) override {
    benchmark::DoNotOptimize(record.message);
    return true;
  }
};

// The Logger at its defaults (WARN) with no console target, so that passing
// events reach only the targets a benchmark attaches.
class QuietLogger {
 public:
  QuietLogger() {
    std::lock_guard lock(Logger::Lock());
    Logger* logger = Logger::Get();
    logger->stdErrTarget().detach();
    logger->stdOutTarget().detach();
    logger->debuggerTarget().detach();
    logger->setLevel(LogLevel::Warn);
  }
  ~QuietLogger() {
    std::lock_guard lock(Logger::Lock());
    Logger::Get()->stdErrTarget().attach();
  }

 private:
  LoggerReference reference_;
};

std::atomic<int32_t> gMinLevel{static_cast<int32_t>(LogLevel::Warn)};

// What a caller that filters by level alone pays: one call and one compare.
[[gnu::noinline]] bool LevelPasses(LogLevel level) {
  return static_cast<int32_t>(level) >= gMinLevel.load(std::memory_order_relaxed);
}

void BM_LogFiltered_Ours(benchmark::State& state) {
  QuietLogger quiet;
  uint64_t gameId = 5001;
  for (auto _ : state) {
    Log(LogLevel::Okay, kLogDBG, "MetadataStore: no record for '%llu'",
        static_cast<unsigned long long>(gameId));
    benchmark::ClobberMemory();
  }
}

void BM_LogFiltered_LevelCheck(benchmark::State& state) {
  uint64_t gameId = 5001;
  for (auto _ : state) {
    if (LevelPasses(LogLevel::Okay)) benchmark::DoNotOptimize(gameId);
    benchmark::ClobberMemory();
  }
}

std::shared_ptr<spdlog::logger> NullSinkLogger() {
  auto logger =
      std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
  logger->set_level(spdlog::level::warn);
  return logger;
}

void BM_LogFiltered_Spdlog(benchmark::State& state) {
  const auto logger = NullSinkLogger();
  uint64_t gameId = 5001;
  for (auto _ : state) {
    logger->info("MetadataStore: no record for '{}'", gameId);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LogFiltered_Ours);
BENCHMARK(BM_LogFiltered_LevelCheck);
BENCHMARK(BM_LogFiltered_Spdlog);

constexpr char kPath[] = "/home/player/Documents/Replays/NA1-5001.trec";

void BM_LogFormatted_Ours(benchmark::State& state) {
  QuietLogger quiet;
  DiscardTarget target;
  target.Configure({LogLevel::Okay, 0, 0, "#M"});
  uint64_t gameId = 5001;
  for (auto _ : state) {
    Log(LogLevel::Warn, kLogDBG, "FileManager: trec '%s' of game %llu has version %s (%d bytes)",
        kPath, static_cast<unsigned long long>(gameId), "14.3.1.200", 93);
  }
}

void BM_LogFormatted_Snprintf(benchmark::State& state) {
  char buffer[4096];
  uint64_t gameId = 5001;
  for (auto _ : state) {
    std::snprintf(buffer, sizeof buffer,
                  "FileManager: trec '%s' of game %llu has version %s (%d bytes)", kPath,
                  static_cast<unsigned long long>(gameId), "14.3.1.200", 93);
    benchmark::DoNotOptimize(buffer);
  }
}

void BM_LogFormatted_Spdlog(benchmark::State& state) {
  const auto logger = NullSinkLogger();
  uint64_t gameId = 5001;
  for (auto _ : state) {
    logger->warn("FileManager: trec '{}' of game {} has version {} ({} bytes)", kPath, gameId,
                 "14.3.1.200", 93);
  }
}
BENCHMARK(BM_LogFormatted_Ours);
BENCHMARK(BM_LogFormatted_Snprintf);
BENCHMARK(BM_LogFormatted_Spdlog);

}  // namespace
}  // namespace Zorv::Bench
