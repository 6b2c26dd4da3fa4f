#include "zorv-host/game_client.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "binding/binding_property.h"
#include "host/plugin_host.h"

extern char** environ;

namespace Zorv::Host {
namespace {

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Why the replay at `path` cannot be watched; empty when it can be read.
std::string UnreadableReason(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return "not a file path";
  // O_NONBLOCK: a FIFO named like a replay must not hold the host thread.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ErrnoText(errno);
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular ? "" : "not a regular file";
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

}  // namespace

GameClient::GameClient(PluginHost& host, Options options)
    : host_(host), options_(std::move(options)), self_(std::make_shared<GameClient*>(this)) {
  host_.Handle(HOST_METHOD_POST, kWatchLaunchPath,
               [this](const CallRequest& request) { return Launch(request); });
}

GameClient::~GameClient() {
  host_.Handle(HOST_METHOD_POST, kWatchLaunchPath, [](const CallRequest&) {
    return CallAnswer::Error("the game client has stopped", 503);
  });
  self_.reset();
  StopCommand();
}

CallAnswer GameClient::Launch(const CallRequest& request) {
  if (watching_) return CallAnswer::Error("the game client is already playing a replay", 409);
  const BindingProperty* list = request.arguments.size() == 1 ? &request.arguments[0] : nullptr;
  std::vector<std::string> arguments;
  if (list && list->kind() == ValueKind::Collection) {
    for (size_t i = 0; i < list->size(); ++i) {
      if (list->element(i).kind() != ValueKind::String) break;
      arguments.emplace_back(list->element(i).asString());
    }
  }
  if (!list || arguments.empty() || arguments.size() != list->size()) {
    return CallAnswer::Error(
        "expected one argument: the list [replay path, optional -HighlightsPath=...]", 400);
  }
  const std::string reason = UnreadableReason(arguments[0]);
  if (!reason.empty()) {
    return CallAnswer::Error("cannot read the replay file '" + arguments[0] + "': " + reason, 404);
  }

  if (!options_.command.empty()) {
    CallAnswer failed = Spawn(arguments);
    if (failed.kind == CallAnswer::Kind::Error) return failed;
  } else {
    std::weak_ptr<GameClient*> self = self_;
    host_.ScheduleHostWork(
        "game client watch end",
        [self] {
          if (auto client = self.lock()) (*client)->EndWatch();
        },
        options_.watchSeconds);
  }
  watching_ = true;
  SetPhase("WatchInProgress");
  return CallAnswer::Value(BindingProperty());
}

CallAnswer GameClient::Spawn(const std::vector<std::string>& launchArguments) {
  // The previous command has exited (no watch is under way): collect its waiter.
  if (waiter_.joinable()) waiter_.join();
  std::vector<std::string> words = options_.command;
  words.insert(words.end(), launchArguments.begin(), launchArguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // The client starts with default signal handling and nothing blocked,
  // whatever the host's threads block (the program waits for its stop
  // signals on a thread of its own), so a stop signal still ends it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    return CallAnswer::Error(
        "cannot start the game client '" + options_.command[0] + "': " + ErrnoText(error), 500);
  }
  {
    std::lock_guard lock(mutex_);
    pid_ = pid;
    exited_ = false;
  }
  try {
    waiter_ = std::thread([this, pid, self = std::weak_ptr(self_)] { Wait(pid, self); });
  } catch (const std::system_error& e) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    exited_ = true;
    return CallAnswer::Error(std::string("cannot watch the game client: ") + e.what(), 500);
  }
  return CallAnswer::Value(BindingProperty());
}

// The waiter thread.
void GameClient::Wait(pid_t pid, std::weak_ptr<GameClient*> self) {
  siginfo_t info{};
  // Wait without reaping: until exited_ is set the pid cannot be reused, so
  // StopCommand never signals a stranger.
  while (::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  int status = 0;
  {
    std::lock_guard lock(mutex_);
    exited_ = true;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  exitedChanged_.notify_all();
  host_.Work().Post([self, status] {
    if (auto client = self.lock()) {
      (*client)->lastExit_ = ExitText(status);
      (*client)->EndWatch();
    }
  });
}

void GameClient::StopCommand() {
  if (!waiter_.joinable()) return;
  std::unique_lock lock(mutex_);
  if (!exited_) ::kill(pid_, SIGTERM);
  if (!exitedChanged_.wait_for(lock, kStopGrace, [this] { return exited_; })) {
    ::kill(pid_, SIGKILL);
  }
  lock.unlock();
  waiter_.join();
}

void GameClient::EndWatch() {
  if (!watching_) return;
  watching_ = false;
  SetPhase("None");
}

void GameClient::SetPhase(const char* phase) {
  host_.Resources().SetResourceValue(kWatchPhasePath, BindingProperty(phase));
}

}  // namespace Zorv::Host
