#include "tools/zorv_host_process/zorv_host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "binding/json_reader.h"

extern char** environ;

namespace Zorv::Host::Testing {

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

ZorvHostProcess::ZorvHostProcess(const std::string& workspace, std::vector<std::string> extra)
    : workspace_(workspace), outputPath_(workspace + ".out") {
  std::vector<std::string> arguments = {ZORV_HOST_PATH, "--demo", workspace, "--port", "0"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    pid_ = -1;
    return;
  }
  BindingProperty lock;
  Eventually([&] {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return true;  // it ended: give up
    }
    const BindingResult parsed = FromJsonText(ReadAll(LockFile()));
    if (!parsed.success) return false;
    lock = parsed.value;
    return true;
  });
  port_ = static_cast<int>(lock.find("port").asUnsigned());
  token_ = std::string(lock.find("token").asString());
}

ZorvHostProcess::~ZorvHostProcess() {
  if (pid_ > 0 && Stop(SIGKILL) == -1) kill(pid_, SIGKILL);
}

std::string ZorvHostProcess::Output() const {
  return ReadAll(outputPath_);
}

std::unique_ptr<httplib::Client> ZorvHostProcess::Client() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
  client->set_bearer_token_auth(token_.c_str());
  client->set_read_timeout(std::chrono::seconds(kPatience));
  return client;
}

int ZorvHostProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  int status = -1;
  const bool ended = Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
  if (!ended) return -1;
  pid_ = -1;
  return status;
}

EventReader::EventReader(const ZorvHostProcess& process) : client_(process.Client()) {
  thread_ = std::thread([this] {
    client_->Get("/events", [this](const char* data, size_t size) {
      Receive(data, size);
      return true;
    });
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  });
}

EventReader::~EventReader() {
  client_->stop();
  thread_.join();
}

void EventReader::Receive(const char* data, size_t size) {
  std::lock_guard lock(mutex_);
  open_ = true;
  pending_.append(data, size);
  for (size_t end; (end = pending_.find("\n\n")) != std::string::npos;) {
    const std::string block = pending_.substr(0, end);
    pending_.erase(0, end + 2);
    if (!block.starts_with("data: ")) continue;
    BindingResult parsed = FromJsonText(std::string_view(block).substr(6));
    if (parsed.success) messages_.push_back(std::move(parsed.value));
  }
  changed_.notify_all();
}

bool EventReader::Open() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] { return open_ || ended_; }) && open_;
}

BindingProperty EventReader::Next(const std::function<bool(const BindingProperty&)>& match,
                                  std::chrono::milliseconds patience) {
  std::unique_lock lock(mutex_);
  BindingProperty found;
  changed_.wait_for(lock, patience, [&] {
    for (; seen_ < messages_.size(); ++seen_) {
      if (match(messages_[seen_])) {
        found = messages_[seen_++];
        return true;
      }
    }
    return ended_;
  });
  return found;
}

std::vector<BindingProperty> EventReader::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

}  // namespace Zorv::Host::Testing
