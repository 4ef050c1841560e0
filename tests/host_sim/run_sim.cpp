#include "run_sim.h"

#include "child_process.h"

namespace pagorin::sim::testing {

std::vector<nlohmann::json> SimRun::Events(const std::string& name) const {
  std::vector<nlohmann::json> found;
  for (const auto& event : events) {
    if (event.value("event", std::string()) == name) found.push_back(event);
  }
  return found;
}

void SimRun::Parse() {
  events.clear();
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    auto line = nlohmann::json::parse(output.substr(start, end - start), nullptr, false);
    if (!line.is_discarded() && line.is_object()) events.push_back(std::move(line));
    start = end + 1;
  }
}

ChildOptions SimOptions(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  ChildOptions options;
  options.args = args;
  options.args.insert(options.args.begin(), VELTRANE_SIM_PATH);
  options.environment = env;
  options.output = ChildOptions::Output::kPipe;
  options.mergeErrorOutput = false;  // what Qt or the leak checker says shows in the test's log
  return options;
}

SimRun RunSim(const std::vector<std::string>& args, const std::vector<std::string>& env,
              int timeoutSeconds) {
  SimRun run;
  ChildProcess sim;
  std::string error;
  if (!sim.Start(SimOptions(args, env), error)) return run;
  if (!sim.ReadAllOutput(run.output, std::chrono::seconds(timeoutSeconds))) sim.Stop();
  run.exitCode = sim.Wait();
  run.Parse();
  return run;
}

}  // namespace pagorin::sim::testing
