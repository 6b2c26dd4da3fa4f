#include "logging/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "logging/log.h"
#include "logging/logger_api.h"
#include "platform/process.h"
#include "support/capture_log_target.h"

namespace Zorv {
namespace {

using Testing::CaptureLogTarget;

// Each test runs with a Logger of its own, in its default settings.
class LoggerTest : public testing::Test {
 protected:
  void SetUp() override {
    // A Logger that an earlier log call created holds no reference: acquire
    // and release once to drop it, then hold a fresh one for the test.
    api->acquire();
    api->release();
    api->acquire();
  }
  void TearDown() override { api->release(); }

  // Detaches the console targets so that events reach only the test's targets.
  void Quiet() {
    for (LogTargetInterface* t : {api->stdErrTarget(), api->debuggerTarget()}) t->detach(t);
  }

  const LoggerApi* api = GetLoggerApi();
};

// Records the order in which targets receive events and are detached.
class OrderTarget : public LogTarget {
 public:
  OrderTarget(std::string name, std::vector<std::string>* journal)
      : name_(std::move(name)), journal_(journal) {
    setMinLevel(LogLevel::Okay);
  }
  ~OrderTarget() override { leaveLogger(); }
  bool write(const LogRecord&) override {
    journal_->push_back("write " + name_);
    return true;
  }
  void detach() override {
    if (isAttached()) journal_->push_back("detach " + name_);
    LogTarget::detach();
  }

 private:
  std::string name_;
  std::vector<std::string>* journal_;
};

void LogThroughApi(const LoggerApi* api, int32_t level, uint32_t low, uint32_t high,
                   const char* format, ...) __attribute__((format(printf, 5, 6)));
void LogThroughApi(const LoggerApi* api, int32_t level, uint32_t low, uint32_t high,
                   const char* format, ...) {
  va_list args;
  va_start(args, format);
  api->log(level, low, high, format, args);
  va_end(args);
}

struct GlobalFilterCase {
  const char* name;
  int32_t globalLevel;
  uint64_t suppressed;
  bool muted;
  LogLevel level;
  uint64_t mask;
  bool reaches;
};

TEST_F(LoggerTest, DropsEventsByGlobalLevelSuppressedCategoriesAndMute) {
  const GlobalFilterCase cases[] = {
      {"OKAY below the default WARN", 1, kLogXTR, false, LogLevel::Okay, kLogDBG, false},
      {"OKAY once the level is 0", 0, kLogXTR, false, LogLevel::Okay, kLogDBG, true},
      {"WARN with DBG and suppressed XTR", 1, kLogXTR, false, LogLevel::Warn, kLogDBG | kLogXTR,
       false},
      {"WARN with DBG alone", 1, kLogXTR, false, LogLevel::Warn, kLogDBG, true},
      {"nothing suppressed", 1, 0, false, LogLevel::Warn, kLogDBG | kLogXTR, true},
      {"suppressed bit in the high half", 1, uint64_t{1} << 40, false, LogLevel::Always,
       uint64_t{1} << 40, false},
      {"mask 0 is never suppressed", 1, ~uint64_t{0}, false, LogLevel::Warn, 0, true},
      {"negative level compares signed", 0, 0, false, static_cast<LogLevel>(-1), 0, false},
      {"muted drops ALWAYS", 0, 0, true, LogLevel::Always, 0, false},
      {"muted drops the highest level", INT32_MIN, 0, true, static_cast<LogLevel>(INT32_MAX), 0,
       false},
  };
  Quiet();
  CaptureLogTarget capture;
  capture.attach();
  for (const GlobalFilterCase& c : cases) {
    api->setLevel(c.globalLevel);
    api->setSuppressedCategories(static_cast<uint32_t>(c.suppressed),
                                 static_cast<uint32_t>(c.suppressed >> 32));
    c.muted ? api->mute() : api->unmute();
    capture.clear();
    Log(c.level, c.mask, "event %d", 1);
    EXPECT_EQ(capture.entries().size(), c.reaches ? 1u : 0u) << c.name;
    EXPECT_EQ(LogMayPass(c.level, c.mask), c.reaches) << c.name;
  }
}

struct TargetFilterCase {
  const char* name;
  LogLevel minLevel;
  uint64_t include;
  uint64_t exclude;
  LogLevel level;
  uint64_t mask;
  bool taken;
};

TEST_F(LoggerTest, TargetsFilterByTheirLevelThenExcludeThenIncludeMask) {
  const TargetFilterCase cases[] = {
      {"below the target's level", LogLevel::Error, 0, 0, LogLevel::Warn, 0, false},
      {"at the target's level", LogLevel::Error, 0, 0, LogLevel::Error, 0, true},
      {"mask 0 passes any masks", LogLevel::Okay, kLogDBG, kLogGEN, LogLevel::Warn, 0, true},
      {"included", LogLevel::Okay, kLogDBG, kLogGEN, LogLevel::Warn, kLogDBG, true},
      {"excluded", LogLevel::Okay, kLogDBG, kLogGEN, LogLevel::Warn, kLogGEN, false},
      {"exclude wins over include", LogLevel::Okay, kLogDBG, kLogGEN, LogLevel::Warn,
       kLogDBG | kLogGEN, false},
      {"not included", LogLevel::Okay, kLogDBG, 0, LogLevel::Warn, kLogNET, false},
      {"no include mask takes all", LogLevel::Okay, 0, kLogGEN, LogLevel::Warn, kLogNET, true},
      {"include in the high half", LogLevel::Okay, uint64_t{1} << 35, 0, LogLevel::Warn,
       uint64_t{1} << 35 | kLogNET, true},
  };
  Quiet();
  api->setLevel(INT32_MIN);
  api->setSuppressedCategories(0, 0);
  CaptureLogTarget capture;
  capture.attach();
  for (const TargetFilterCase& c : cases) {
    capture.setMinLevel(c.minLevel);
    capture.setCategories(c.include, c.exclude);
    capture.clear();
    Log(c.level, c.mask, "event");
    EXPECT_EQ(capture.entries().size(), c.taken ? 1u : 0u) << c.name;
  }
}

TEST_F(LoggerTest, RecordCarriesLevelMaskTimeAndTheMessageCutAt4095) {
  Quiet();
  CaptureLogTarget capture("#D| #L| #G| #M");
  capture.attach();
  const std::string huge(6000, 'y');
  const LogTime before = LocalLogTime();
  Log(LogLevel::Error, kLogDBG | kLogGEN, "game '%llu' %s", 42ull, "lost");
  LogCall(LogLevel::Warn, 1, 1, "%s", huge.c_str());
  LogThroughApi(api, 3, 0, 2, "via the table %d", 7);

  const std::vector<CaptureLogTarget::Entry> entries = capture.entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].level, LogLevel::Error);
  EXPECT_EQ(entries[0].categoryMask, kLogDBG | kLogGEN);
  EXPECT_EQ(entries[0].message, "game '42' lost");
  EXPECT_TRUE(
      testing::internal::RE::FullMatch(entries[0].line,
                                       "[0-9]{4}-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9]["
                                       "0-9]\\.[0-9]{3}\\|  ERROR\\| DBG;GEN\\| game '42' lost\n"))
      << entries[0].line;
  EXPECT_GE(entries[0].line.substr(0, 4), std::to_string(before.year));
  EXPECT_EQ(entries[1].categoryMask, uint64_t{1} << 32 | 1);
  EXPECT_EQ(entries[1].message, std::string(4095, 'y'));
  EXPECT_EQ(entries[2].level, LogLevel::Always);
  EXPECT_EQ(entries[2].categoryMask, uint64_t{2} << 32);
  EXPECT_EQ(entries[2].message, "via the table 7");
}

TEST_F(LoggerTest, BuiltInTargetsStartWithTheirSettings) {
  struct Expected {
    LogTargetInterface* target;
    const char* name;
    const char* format;
    int32_t level;
    uint64_t include;
    uint64_t exclude;
    bool attached;
  };
  const Expected expected[] = {
      {api->stdErrTarget(), "StdErrLogTarget", "#E(#T): #L| #M", 1, kLogDBG, kLogGEN, true},
      {api->stdOutTarget(), "StdOutLogTarget", "#M", 1, kLogGEN, kLogDBG, false},
      {api->debuggerTarget(), "DebuggerConsoleLogTarget", "#E(#T): #L| #M", 1, kLogDBG, 0, true},
  };
  const LogRecord record{};
  for (const Expected& e : expected) {
    LogTargetInterface* t = e.target;
    ASSERT_NE(t, nullptr) << e.name;
    EXPECT_EQ(t->version(t), 1);
    EXPECT_STREQ(t->name(t), e.name);
    EXPECT_STREQ(t->lineFormat(t, &record), e.format) << e.name;
    EXPECT_EQ(t->getMinLevel(t), e.level) << e.name;
    EXPECT_EQ(t->getIncludeMask(t), e.include) << e.name;
    EXPECT_EQ(t->getExcludeMask(t), e.exclude) << e.name;
    EXPECT_EQ(t->isAttached(t), e.attached) << e.name;
  }
  const std::vector<LogTargetInterface*> attachOrder = {api->stdErrTarget(), api->debuggerTarget()};
  EXPECT_EQ(Logger::Get()->targets(), attachOrder);
  EXPECT_EQ(api->getLevel(), 1);
  EXPECT_EQ(api->getSuppressedCategories(), kLogXTR);
  EXPECT_STREQ(api->programName(), "logging_tests");
}

TEST_F(LoggerTest, ConsoleTargetsWriteTheirLinesToTheirStreams) {
  char thread[32];
  std::snprintf(thread, sizeof thread, "%p",
                reinterpret_cast<void*>(static_cast<uintptr_t>(Platform::CurrentThreadId())));

  testing::internal::CaptureStderr();
  Log(LogLevel::Warn, kLogDBG, "disk %s", "full");
  Log(LogLevel::Warn, kLogGEN, "to nobody");      // standard error excludes GEN
  Log(LogLevel::Warn, kLogDBG | kLogXTR, "xtr");  // XTR is suppressed
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string("logging_tests(") + thread + "):   WARN| disk full\n");

  LogTargetInterface* out = api->stdOutTarget();
  out->attach(out);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Log(LogLevel::Warn, kLogGEN, "for the user\n");
  Log(LogLevel::Warn, kLogDBG, "for the developer");
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            std::string("logging_tests(") + thread + "):   WARN| for the developer\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "for the user\n");

  // The debugger target has no channel here: it takes the event and writes nothing.
  LogTargetInterface* debugger = api->debuggerTarget();
  const LogRecord record{{}, LogLevel::Warn, kLogDBG, "unseen"};
  testing::internal::CaptureStderr();
  EXPECT_TRUE(debugger->write(debugger, &record));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(LoggerTest, TargetListKeepsOrderDuplicatesAndRemovesEveryOccurrence) {
  Quiet();
  std::vector<std::string> journal;
  OrderTarget a("a", &journal), b("b", &journal);
  api->addTarget(a.table());
  api->addTarget(b.table());
  api->addTarget(a.table());
  Log(LogLevel::Warn, 0, "one");
  EXPECT_EQ(journal, (std::vector<std::string>{"write a", "write b", "write a"}));

  journal.clear();
  api->removeTarget(a.table());
  Log(LogLevel::Warn, 0, "two");
  EXPECT_EQ(journal, (std::vector<std::string>{"write b"}));

  EXPECT_EQ(api->findTarget("LogTarget"), b.table());
  EXPECT_EQ(api->findTarget("StdErrLogTarget"), nullptr) << "detached";
  api->removeTarget(b.table());
  EXPECT_EQ(api->findTarget("LogTarget"), nullptr);
}

TEST_F(LoggerTest, FindTargetMatchesTheClassNameExactly) {
  EXPECT_EQ(api->findTarget("StdErrLogTarget"), api->stdErrTarget());
  EXPECT_EQ(api->findTarget("DebuggerConsoleLogTarget"), api->debuggerTarget());
  EXPECT_EQ(api->findTarget("StdOutLogTarget"), nullptr) << "not attached";
  EXPECT_EQ(api->findTarget("stderrlogtarget"), nullptr);
  EXPECT_EQ(api->findTarget("StdErr"), nullptr);
  EXPECT_EQ(api->findTarget(nullptr), nullptr);
}

TEST_F(LoggerTest, AttachAndDetachAreIdempotent) {
  Quiet();
  CaptureLogTarget capture;
  capture.attach();
  capture.attach();
  EXPECT_TRUE(capture.isAttached());
  Log(LogLevel::Warn, 0, "once");
  EXPECT_EQ(capture.entries().size(), 1u);

  LogTargetInterface* t = capture.table();
  t->detach(t);
  t->detach(t);
  EXPECT_FALSE(t->isAttached(t));
  Log(LogLevel::Warn, 0, "never");
  EXPECT_EQ(capture.entries().size(), 1u);
  EXPECT_TRUE(Logger::Get()->targets().empty());
}

TEST_F(LoggerTest, SetCategoriesClearsExcludedBitsFromTheIncludeMask) {
  CaptureLogTarget capture;
  LogTargetInterface* t = capture.table();
  t->setCategories(t, 3, 0, 1, 0);
  EXPECT_EQ(t->getIncludeMask(t), 2u);
  EXPECT_EQ(t->getExcludeMask(t), 1u);
  t->setCategories(t, 0xF0, 0x3, 0x10, 0x1);
  EXPECT_EQ(t->getIncludeMask(t), uint64_t{0x2} << 32 | 0xE0);
  EXPECT_EQ(t->getExcludeMask(t), uint64_t{0x1} << 32 | 0x10);
  t->setMinLevel(t, 2);
  EXPECT_EQ(t->getMinLevel(t), 2);
}

TEST_F(LoggerTest, ConfigureAppliesEverySettingAndAttachesOnce) {
  Quiet();
  CaptureLogTarget capture;
  capture.attach();
  capture.Configure({LogLevel::Error, kLogDBG | kLogGEN, kLogDBG, "#G| #M"});
  EXPECT_TRUE(capture.isAttached());
  EXPECT_EQ(capture.minLevel(), LogLevel::Error);
  EXPECT_EQ(capture.includeMask(), kLogGEN);
  EXPECT_EQ(capture.excludeMask(), kLogDBG);
  EXPECT_EQ(Logger::Get()->targets().size(), 1u);

  Log(LogLevel::Warn, kLogGEN, "below the level");
  Log(LogLevel::Error, kLogGEN, "taken");
  Log(LogLevel::Error, kLogNET, "not included");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"GEN| taken\n"}));

  CaptureLogTarget detached;
  detached.Configure({LogLevel::Okay, 0, 0, "#M"});
  EXPECT_TRUE(detached.isAttached()) << "Configure attaches a detached target";
}

TEST_F(LoggerTest, ReleaseToZeroDestroysTheLoggerAndTheNextOneHasDefaults) {
  std::vector<std::string> journal;
  OrderTarget first("first", &journal), second("second", &journal);
  first.attach();
  second.attach();
  api->setLevel(0);
  api->setSuppressedCategories(0, 0);
  api->mute();

  api->acquire();
  api->release();
  ASSERT_NE(Logger::Existing(), nullptr) << "one reference is left";
  api->release();
  EXPECT_EQ(Logger::Existing(), nullptr);
  EXPECT_EQ(journal, (std::vector<std::string>{"detach second", "detach first"}));
  EXPECT_FALSE(first.isAttached());
  api->release();  // without a reference: nothing happens

  journal.clear();
  testing::internal::CaptureStderr();
  Log(LogLevel::Warn, kLogDBG, "fresh");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("  WARN| fresh\n"), std::string::npos);
  ASSERT_NE(Logger::Existing(), nullptr);
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(api->getLevel(), 1);
  EXPECT_EQ(api->getSuppressedCategories(), kLogXTR);
  EXPECT_FALSE(Logger::Existing()->muted());
  EXPECT_EQ(Logger::Existing()->targets().size(), 2u);
  // The fixture's release must not destroy the Logger that the log call made.
  api->acquire();
}

TEST_F(LoggerTest, DestroyedTargetLeavesTheListEvenWithoutTheAttachMark) {
  Quiet();
  {
    CaptureLogTarget capture;
    api->addTarget(capture.table());
    EXPECT_FALSE(capture.isAttached()) << "addTarget sets no mark";
    Log(LogLevel::Warn, 0, "seen");
    EXPECT_EQ(capture.entries().size(), 1u);
  }
  EXPECT_TRUE(Logger::Get()->targets().empty());
  Log(LogLevel::Warn, 0, "after the target is gone");
}

TEST_F(LoggerTest, FlagsAndMuteAreSetAndClearedThroughTheTable) {
  Quiet();
  CaptureLogTarget capture;
  capture.attach();
  api->setFlag();
  EXPECT_TRUE(Logger::Get()->flag());
  Log(LogLevel::Warn, 0, "the flag filters nothing");
  api->clearFlag();
  EXPECT_FALSE(Logger::Get()->flag());

  api->mute();
  Log(LogLevel::Always, 0, "muted");
  api->unmute();
  Log(LogLevel::Warn, 0, "unmuted");
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{"the flag filters nothing", "unmuted"}));
}

TEST_F(LoggerTest, TableHelpersFormatLikeTheLineRenderer) {
  EXPECT_EQ(api->version(), 1);
  EXPECT_STREQ(api->levelName(2), " ERROR");
  EXPECT_STREQ(api->levelName(0), "  OKAY");

  uint64_t mask = 0;
  api->registerCategory("DSK", &mask);
  EXPECT_EQ(mask, kLogDSK);

  char buffer[64];
  EXPECT_EQ(api->categoryNames(buffer, sizeof buffer, kLogDBG | kLogNET), 7u);
  EXPECT_STREQ(buffer, "DBG;NET");
  const LogTime time{1999, 12, 31, 23, 59, 58, 7};
  api->formatTimestamp(buffer, sizeof buffer, &time);
  EXPECT_STREQ(buffer, "1999-12-31T23:59:58.007");
  api->formatFileTimestamp(buffer, sizeof buffer, &time);
  EXPECT_STREQ(buffer, "1999-12-31T23-59-58");
  const LogRecord record{time, LogLevel::Okay, kLogGEN, "hi"};
  EXPECT_EQ(api->formatLine(buffer, sizeof buffer, "#L|#G|#M", &record), 14u);
  EXPECT_STREQ(buffer, "  OKAY|GEN|hi\n");

  LogTime now{};
  api->localTime(&now);
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
}

TEST_F(LoggerTest, ConcurrentLoggingAndReattachingNeitherTearsLinesNorDeadlocks) {
  Quiet();
  CaptureLogTarget capture("#M");
  capture.attach();
  CaptureLogTarget churn;  // attached and detached while it takes events

  // The churn goes on until every logger is done, so that the two overlap.
  const int kThreads = 3, kEvents = 300;
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int n = 0; n < kEvents; ++n) Log(LogLevel::Warn, kLogDBG, "thread %d event %d", i, n);
      ++finished;
    });
  }
  // Yields let the loggers in between the steps of the churn.
  while (finished.load() < kThreads) {
    churn.Configure({LogLevel::Warn, 0, 0, "#M"});
    std::this_thread::yield();
    churn.detach();
    std::this_thread::yield();
    churn.attach();
    std::this_thread::yield();
    churn.detach();
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> lines = capture.lines();
  EXPECT_EQ(lines.size(), size_t{kThreads * kEvents});
  for (const std::string& line : lines) {
    ASSERT_TRUE(testing::internal::RE::FullMatch(line, "thread [0-9] event [0-9]+\n")) << line;
  }
}

// The Logger comes and goes while other threads log and work through the
// table: no entry may use a Logger that a release on another thread freed
// (the sanitizer build catches that), and nothing deadlocks.
TEST_F(LoggerTest, LoggerSurvivesConcurrentAcquireReleaseLoggingAndTableCalls) {
  api->release();  // the cycling threads alone decide when the Logger lives
  CaptureLogTarget capture("#M");
  LogTargetInterface* table = capture.table();
  static constexpr int kRounds = 10000;
  auto worker = [](auto step) {
    return [step] {
      for (int n = 0; n < kRounds; ++n) step(n);
    };
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back(worker([this](int) {
      api->acquire();
      api->release();
    }));
  }
  // GEN at WARN: no built-in console target takes it, so nothing is printed.
  threads.emplace_back(worker([](int n) { Log(LogLevel::Warn, kLogGEN, "event %d", n); }));
  threads.emplace_back(
      worker([this](int n) { LogThroughApi(api, 1, kLogGEN, 0, "table event %d", n); }));
  auto tableCalls = worker([this, table](int n) {
    api->mute();
    api->setLevel(n % 2);
    api->unmute();
    api->setSuppressedCategories(static_cast<uint32_t>(kLogXTR), 0);
    api->addTarget(table);
    EXPECT_NE(api->getLevel(), 3);
    api->findTarget("CaptureLogTarget");
    api->removeTarget(table);
    api->setFlag();
    api->clearFlag();
    api->stdErrTarget();
    EXPECT_EQ(api->getSuppressedCategories() & ~kLogXTR, 0u);
  });
  for (int i = 0; i < 2; ++i) threads.emplace_back(tableCalls);
  threads.emplace_back(worker([table](int) {
    table->attach(table);
    table->detach(table);
  }));
  for (std::thread& thread : threads) thread.join();
  api->acquire();  // what TearDown gives back
}

// Gives tests the lock that a target holds while it writes.
class LockableTarget : public CaptureLogTarget {
 public:
  using LogTarget::mutex;
};

TEST_F(LoggerTest, TargetOperationsTakeTheLoggerLockBeforeTheTargetLock) {
  using Operation = void (*)(LogTarget&);
  const std::pair<const char*, Operation> operations[] = {
      {"attach", [](LogTarget& t) { t.attach(); }},
      {"detach", [](LogTarget& t) { t.detach(); }},
      {"Configure",
       [](LogTarget& t) {
         t.Configure({LogLevel::Okay, 0, 0, "#M"});
       }},
  };
  for (const auto& [name, operation] : operations) {
    LockableTarget target;
    target.attach();
    // As a write in progress would, hold the target's lock; the operation must
    // then wait for it while holding the Logger's lock, never the other way round.
    std::unique_lock targetLock(target.mutex());
    std::thread worker([&target, operation = operation] { operation(target); });
    bool loggerLockHeld = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!loggerLockHeld && std::chrono::steady_clock::now() < deadline) {
      if (Logger::Lock().try_lock()) {
        Logger::Lock().unlock();
        std::this_thread::yield();
      } else {
        loggerLockHeld = true;
      }
    }
    targetLock.unlock();
    worker.join();
    EXPECT_TRUE(loggerLockHeld) << name;
  }
}

}  // namespace
}  // namespace Zorv
