// Runs veltrane-sim as a child process and collects what it printed: the JSON events, one per
// line, parsed.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_process.h"

namespace pagorin::sim::testing {

struct SimRun {
  int exitCode = -1;
  std::string output;                  // stdout as printed
  std::vector<nlohmann::json> events;  // the lines of stdout that parse as JSON objects

  // The events named `name`, in order.
  std::vector<nlohmann::json> Events(const std::string& name) const;
  // Fills `events` from `output`.
  void Parse();
};

// How RunSim starts the simulator: `args` after the program, `env` added, stdout to a pipe.
ChildOptions SimOptions(const std::vector<std::string>& args,
                        const std::vector<std::string>& env = {});

// Runs the simulator with `args` and the environment additions `env` ("NAME=value"), waiting at
// most `timeoutSeconds` of real time (then it is ended). The exit code is 128 plus the signal for
// a simulator ended by a signal.
SimRun RunSim(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              int timeoutSeconds = 120);

}  // namespace pagorin::sim::testing
