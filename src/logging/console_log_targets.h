// The console log targets: standard error, standard output and the debugger.
//
// Each renders the events it takes with its line format into a 4096-byte line
// on the stack and writes the line under its own lock, so lines of concurrent
// events never interleave. The Logger owns one of each; they start with these
// settings:
//
//   target                    line format        level  include  exclude
//   StdErrLogTarget           "#E(#T): #L| #M"   WARN   DBG      GEN
//   StdOutLogTarget           "#M"               WARN   GEN      DBG
//   DebuggerConsoleLogTarget  "#E(#T): #L| #M"   WARN   DBG      none
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "logging/log_target.h"

namespace Zorv {

class BaseConsoleLogTarget : public LogTarget {
 public:
  const char* className() const override { return "BaseConsoleLogTarget"; }
  // Renders the record and hands the line to output.
  bool write(const LogRecord& record) override;

 protected:
  // Called under the target's lock with a line that ends in "\n".
  virtual void output(const char* /*line*/, size_t /*length*/) {}
};

class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override { leaveLogger(); }
  const char* className() const override { return "StdErrLogTarget"; }
  void flush() override;

 protected:
  void output(const char* line, size_t length) override;
};

class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override { leaveLogger(); }
  const char* className() const override { return "StdOutLogTarget"; }
  void flush() override;

  // Standard output is flushed after each line while this flag is 1.
  void setFlushAfterWrite(int32_t flag) { flushAfterWrite_.store(flag); }
  int32_t flushAfterWrite() const { return flushAfterWrite_.load(); }

 protected:
  void output(const char* line, size_t length) override;

 private:
  std::atomic<int32_t> flushAfterWrite_{0};
};

// Linux has no debugger output channel: this target takes the events it is
// given and writes nothing, so code that configures it works unchanged.
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override { leaveLogger(); }
  const char* className() const override { return "DebuggerConsoleLogTarget"; }
  // Takes the record without rendering it: there is nowhere to write it.
  bool write(const LogRecord& record) override;
};

}  // namespace Zorv
