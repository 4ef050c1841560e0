// The forecast: from the plug-in's configuration file, what the plug-in should do with each
// alarm answer and each call of its send function. The plug-in stays the authority: these are
// expectations, compared at the end with the pieces the modem accepted.
#pragma once

#include <string>
#include <vector>

#include "dialogue_watch.h"
#include "event_log.h"
#include "host/alarm_event.h"
#include "plugin_config.h"
#include "run_summary.h"

namespace pagorin::sim {

// A message the plug-in should send.
struct Expectation {
  std::string source;  // "alarm" or "script"
  std::string number;  // as configured or given (code page 936 digits)
  std::string text;    // UTF-8
};

// For each expectation, whether consecutive pieces sent to its number carry its text (joined).
// A piece serves one expectation at most.
std::vector<bool> MatchSentPieces(const std::vector<Expectation>& expected,
                                  const std::vector<SentPiece>& sent);

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

  // Compares the expectations with the pieces the modem accepted; a warning for each message
  // that was expected but not seen as expected.
  void Compare(const std::vector<SentPiece>& sent);

  const std::vector<Expectation>& Expected() const noexcept { return expected_; }
  const ForecastCounts& Counts() const noexcept { return counts_; }

 private:
  EventLog& log_;
  PluginConfig config_;
  bool haveConfig_ = false;
  bool firstAnswer_ = true;
  std::vector<AlarmEvent> lastAnswer_;
  std::vector<Expectation> expected_;
  ForecastCounts counts_;
};

}  // namespace pagorin::sim
