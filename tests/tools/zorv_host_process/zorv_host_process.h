// Test helpers that run the real zorv-host program: a process started on a
// demo workspace in a temporary folder (port and token read from its lock
// file), an HTTP client that carries the token, and a reader of its event
// stream. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "binding/binding_property.h"

namespace Zorv::Host::Testing {

// Long enough for a sanitizer build on a busy machine; a passing run takes far less.
inline constexpr std::chrono::seconds kPatience{30};

// Calls `done` until it answers true or `patience` has passed; answers its last answer.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds patience = kPatience);

class ZorvHostProcess {
 public:
  // Starts `zorv-host --demo <workspace> --port 0 <extra...>` and waits for its
  // lock file. Started() is false (with Output() telling why) when it did not come up.
  ZorvHostProcess(const std::string& workspace, std::vector<std::string> extra = {});
  // Kills the process if it still runs.
  ~ZorvHostProcess();

  bool Started() const { return port_ != 0; }
  pid_t Pid() const { return pid_; }
  int Port() const { return port_; }
  const std::string& Token() const { return token_; }
  const std::string& Workspace() const { return workspace_; }
  std::string LockFile() const { return workspace_ + "/zorv-host.lock"; }
  // What the process wrote to its standard output and error.
  std::string Output() const;

  // A client with the token (as a bearer) set.
  std::unique_ptr<httplib::Client> Client() const;

  // Sends `signal` and waits for the exit; answers the wait status, or -1
  // when the process did not end in time.
  int Stop(int signal);

 private:
  std::string workspace_;
  std::string outputPath_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string token_;
};

// The messages of GET /events, read on a thread of its own from the moment
// the stream is open.
class EventReader {
 public:
  explicit EventReader(const ZorvHostProcess& process);
  ~EventReader();
  // False when the stream did not open in time.
  bool Open();
  // Waits for a message (after those seen by earlier waits) that `match`
  // accepts; answers it, or an empty value after `patience`.
  BindingProperty Next(const std::function<bool(const BindingProperty&)>& match,
                       std::chrono::milliseconds patience = kPatience);
  std::vector<BindingProperty> Messages() const;

 private:
  void Receive(const char* data, size_t size);

  std::unique_ptr<httplib::Client> client_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string pending_;
  bool open_ = false;
  bool ended_ = false;
  std::vector<BindingProperty> messages_;
  size_t seen_ = 0;
  std::thread thread_;
};

}  // namespace Zorv::Host::Testing
