#include "fault_schedule.h"

#include <algorithm>
#include <cmath>

namespace pagorin::sim {

FaultSchedule::FaultSchedule(const Settings& settings, std::mt19937& random) : random_(random) {
  for (const auto& text : settings.errorWindows)
    errorWindows_.push_back(*ParseErrorWindow(text));
  for (const auto& text : settings.unplugs)
    unplugs_.push_back(*ParseSpan(text));
  if (settings.urcEverySeconds > 0) {
    urcGap_ = std::exponential_distribution<double>(1.0 / (settings.urcEverySeconds * 1000.0));
    nextUrcMs_ = NextGap();
  }
}

int FaultSchedule::OutageAt(std::int64_t nowMs) const {
  for (const auto& window : errorWindows_) {
    if (window.Holds(nowMs)) return window.code;
  }
  return 0;
}

bool FaultSchedule::UnpluggedAt(std::int64_t nowMs) const {
  return std::any_of(unplugs_.begin(), unplugs_.end(),
                     [&](const Span& span) { return span.Holds(nowMs); });
}

bool FaultSchedule::UrcDue(std::int64_t nowMs) {
  if (nextUrcMs_ < 0 || nowMs < nextUrcMs_) return false;
  nextUrcMs_ = nowMs + NextGap();
  return true;
}

std::int64_t FaultSchedule::NextGap() {
  return 1 + std::llround(urcGap_(random_));
}

}  // namespace pagorin::sim
