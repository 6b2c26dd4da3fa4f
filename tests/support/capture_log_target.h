// CaptureLogTarget: a log target that keeps what it receives, for tests that
// assert on log lines.
//
// It takes every level and every category by default, and keeps, per event,
// the level, the category mask, the message and the line rendered with its
// line format ("#L| #G| #M" unless given, so lines carry no time or thread).
// Attaching it does not open the Logger's own filters: the Logger drops OKAY
// events and XTR events by default, so lower them for the test:
//
//   Zorv::Testing::CaptureLogTarget capture;
//   const Zorv::LoggerApi* api = Zorv::GetLoggerApi();
//   api->acquire();                      // one Logger for the whole test
//   api->setLevel(0);                    // let OKAY events through
//   api->setSuppressedCategories(0, 0);  // and XTR ones
//   api->addTarget(capture.table());     // or capture.attach()
//
//   RunTheCodeUnderTest();
//
//   EXPECT_TRUE(capture.contains("MetadataStore: "));
//   EXPECT_EQ(capture.lines().at(0), "  WARN| DBG| FileManager: ...\n");
//   api->release();                      // the next test gets a fresh Logger
//
// The target leaves the Logger's list when it is destroyed, however it was
// added, so it may live on the test's stack. Reading it while other threads
// log is safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/log_line.h"
#include "logging/log_target.h"
#include "logging/logger_api.h"

namespace Zorv::Testing {

class CaptureLogTarget : public LogTarget {
 public:
  struct Entry {
    LogLevel level;
    uint64_t categoryMask;
    std::string message;
    std::string line;  // rendered with the target's line format; ends in "\n"
  };

  explicit CaptureLogTarget(std::string lineFormat = "#L| #G| #M") {
    setMinLevel(LogLevel::Okay);
    setLineFormat(std::move(lineFormat));
  }
  ~CaptureLogTarget() override { leaveLogger(); }

  const char* className() const override { return "CaptureLogTarget"; }

  bool write(const LogRecord& record) override {
    std::lock_guard lock(mutex());
    char line[kLogLineSize];
    const size_t length = FormatLine(line, sizeof line, lineFormat(record), record);
    entries_.push_back(Entry{record.level, record.categoryMask,
                             record.message ? record.message : "", std::string(line, length)});
    return true;
  }

  std::vector<Entry> entries() const {
    std::lock_guard lock(mutex());
    return entries_;
  }
  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex());
    std::vector<std::string> messages;
    for (const Entry& entry : entries_) messages.push_back(entry.message);
    return messages;
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex());
    std::vector<std::string> lines;
    for (const Entry& entry : entries_) lines.push_back(entry.line);
    return lines;
  }
  // True when some message contains part.
  bool contains(std::string_view part) const {
    std::lock_guard lock(mutex());
    for (const Entry& entry : entries_) {
      if (entry.message.find(part) != std::string::npos) return true;
    }
    return false;
  }
  void clear() {
    std::lock_guard lock(mutex());
    entries_.clear();
  }

 private:
  std::vector<Entry> entries_;
};

}  // namespace Zorv::Testing
