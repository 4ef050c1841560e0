// The forecast: from the plug-in's configuration file, what the plug-in should do with each
// alarm answer and each call of its send function. The plug-in stays the authority; these are
// expectations, shown for the user to compare with what the modem saw.
#pragma once

#include <string>
#include <vector>

#include "event_log.h"
#include "host/alarm_event.h"
#include "plugin_config.h"
#include "run_summary.h"

namespace pagorin::sim {

class Forecast {
 public:
  explicit Forecast(EventLog& log) : log_(log) {}

  // Reads the configuration file of `projectDir`; false when there is none that parses.
  bool ReadConfig(const std::string& projectDir);
  // Takes `config` as the configuration read.
  void SetConfig(PluginConfig config) {
    config_ = std::move(config);
    haveConfig_ = true;
  }
  bool HasConfig() const noexcept { return haveConfig_; }
  const PluginConfig& Config() const noexcept { return config_; }
  // Emits the configuration: its port, phone book and rules.
  void Describe();

  // A new plug-in object: its first alarm answer is a baseline again.
  void Restart();
  // The host answered an alarm request with `records`; the texts read `source`.
  void Answered(const std::vector<AlarmEvent>& records, TextSource& source);
  // A script called the plug-in's function `name` with `texts` (its text arguments) and `ints`.
  void FunctionCalled(const std::string& name, const std::vector<std::string>& texts,
                      const std::vector<int>& ints);

  const ForecastCounts& Counts() const noexcept { return counts_; }

 private:
  EventLog& log_;
  PluginConfig config_;
  bool haveConfig_ = false;
  bool firstAnswer_ = true;
  std::vector<AlarmEvent> lastAnswer_;
  ForecastCounts counts_;
};

}  // namespace pagorin::sim
