#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

#include "platform/system_error.h"

extern char** environ;

namespace pagorin::sim {

ChildProcess::~ChildProcess() {
  Stop();
}

int ChildProcess::ExitCode(int status) noexcept {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool ChildProcess::Start(const ChildOptions& options, std::string& error) {
  if (options.args.empty()) {
    error = "no program to start";
    return false;
  }
  std::vector<std::string> args = options.args;
  std::vector<char*> argv;
  for (auto& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e)
    envStore.emplace_back(*e);
  envStore.insert(envStore.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> envp;
  for (auto& e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  if (options.output == ChildOptions::Output::kPipe && pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = "cannot make a pipe: " + platform::ErrorText(errno);
    return false;
  }
  platform::UniqueFd readEnd(pipeFds[0]);
  platform::UniqueFd writeEnd(pipeFds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  switch (options.output) {
    case ChildOptions::Output::kDiscard:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      break;
    case ChildOptions::Output::kFile:
      posix_spawn_file_actions_addopen(&actions, 1, options.outputFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
      break;
    case ChildOptions::Output::kPipe:
      posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
      break;
    case ChildOptions::Output::kInherit:
      break;
  }
  if (options.mergeErrorOutput && options.output != ChildOptions::Output::kInherit) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else if (!options.mergeErrorOutput && !options.errorFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, options.errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (options.ownProcessGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  int rc = posix_spawn(&pid_, args[0].c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.Reset();  // the child has its copy; the pipe ends when the child closes it
  if (rc != 0) {
    pid_ = -1;
    error = "cannot start " + args[0] + ": " + platform::ErrorText(rc);
    return false;
  }
  output_ = std::move(readEnd);
  exitCode_.reset();
  groupLeader_ = options.ownProcessGroup;
  return true;
}

bool ChildProcess::ReadOutput(std::string& out, int waitMs) {
  if (!output_.valid()) return false;
  pollfd fd{output_.get(), POLLIN, 0};
  int ready = poll(&fd, 1, waitMs);
  if (ready < 0) return errno == EINTR;
  if (ready == 0) return true;
  char buffer[65536];
  ssize_t n = read(output_.get(), buffer, sizeof buffer);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) {
    output_.Reset();
    return false;
  }
  out.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool ChildProcess::ReadAllOutput(std::string& out, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (ReadOutput(out, 200)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
  }
  return true;
}

void ChildProcess::Signal(int signal) noexcept {
  if (pid_ > 0) kill(pid_, signal);
}

int ChildProcess::Kill() noexcept {
  // The leader is not reaped yet, so its id still names its group and nothing else.
  if (pid_ > 0) kill(groupLeader_ ? -pid_ : pid_, SIGKILL);
  return Wait();
}

std::optional<int> ChildProcess::TryWait() noexcept {
  if (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exitCode_ = ExitCode(status);
      pid_ = -1;
    }
  }
  return exitCode_;
}

int ChildProcess::Wait() noexcept {
  if (pid_ > 0) {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exitCode_ = ExitCode(status);
    pid_ = -1;
  }
  return exitCode_.value_or(-1);
}

void ChildProcess::Stop(std::chrono::milliseconds grace) noexcept {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (std::chrono::steady_clock::now() < deadline) {
    if (TryWait()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  Wait();
}

}  // namespace pagorin::sim
