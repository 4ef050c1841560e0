// What the simulator tells its user: one line per event, either as text for a person or as one
// JSON object per line for tools and tests. All text is UTF-8.
#pragma once

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace pagorin::sim {

class EventLog {
 public:
  EventLog(std::FILE* out, bool json) : out_(out), json_(json) {}

  // The simulated time, in seconds, stamped on every event.
  void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }
  bool Json() const noexcept { return json_; }

  // One event: `fields` go into the JSON form, `human` is the line shown to a person.
  void Emit(std::string_view event, nlohmann::json fields, std::string_view human);

  // Also hands every event to `listener` (a window onto the run).
  using Listener = std::function<void(std::string_view event, const nlohmann::json& fields,
                                      std::string_view human)>;
  void SetListener(Listener listener) { listener_ = std::move(listener); }

 private:
  std::FILE* out_;
  bool json_;
  std::function<double()> clock_;
  Listener listener_;
};

// Code page 936 bytes as UTF-8 for output.
std::string Utf8(std::string_view cp936);
// UTF-8 input (scenario files, the command line) as code page 936.
std::string Cp936(std::string_view utf8);

}  // namespace pagorin::sim
