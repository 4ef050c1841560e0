#include "run_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace pagorin::sim::testing {

std::vector<nlohmann::json> SimRun::Events(const std::string& name) const {
  std::vector<nlohmann::json> found;
  for (const auto& event : events) {
    if (event.value("event", std::string()) == name) found.push_back(event);
  }
  return found;
}

SimRun RunSim(const std::vector<std::string>& args, const std::vector<std::string>& env,
              int timeoutSeconds) {
  SimRun run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return run;
  std::vector<std::string> argStore = args;
  argStore.insert(argStore.begin(), VELTRANE_SIM_PATH);
  std::vector<char*> argv;
  for (auto& arg : argStore)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e)
    envStore.emplace_back(*e);
  envStore.insert(envStore.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argStore[0].c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    return run;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[65536];
  for (;;) {
    pollfd fd{pipeFds[0], POLLIN, 0};
    int ready = poll(&fd, 1, 200);
    if (ready > 0) {
      ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      run.output.append(buffer, static_cast<std::size_t>(n));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::size_t start = 0;
  while (start < run.output.size()) {
    std::size_t end = run.output.find('\n', start);
    if (end == std::string::npos) end = run.output.size();
    auto line = nlohmann::json::parse(run.output.substr(start, end - start), nullptr, false);
    if (!line.is_discarded() && line.is_object()) run.events.push_back(std::move(line));
    start = end + 1;
  }
  return run;
}

}  // namespace pagorin::sim::testing
