// What happens on the modem's clock by its fault options: error windows, unplugged spans and
// unsolicited result codes at random moments.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "sim_settings.h"

namespace pagorin::sim {

class FaultSchedule {
 public:
  // The schedule of `settings`, whose option texts have passed ParseSettings; the random moments
  // are drawn from `random`, which must outlive the schedule.
  FaultSchedule(const Settings& settings, std::mt19937& random);

  // True when nothing is ever scheduled: no window, no unplugging, no random moments.
  bool Empty() const { return errorWindows_.empty() && unplugs_.empty() && nextUrcMs_ < 0; }
  // The +CMS ERROR of the first window that holds `nowMs`, 0 outside every window.
  int OutageAt(std::int64_t nowMs) const;
  // True while some unplugged span holds `nowMs`.
  bool UnpluggedAt(std::int64_t nowMs) const;
  // True once per random moment that has come; the next one is drawn from `nowMs` on.
  bool UrcDue(std::int64_t nowMs);

 private:
  std::int64_t NextGap();

  std::mt19937& random_;
  std::vector<Span> errorWindows_;
  std::vector<Span> unplugs_;
  std::exponential_distribution<double> urcGap_;
  std::int64_t nextUrcMs_ = -1;
};

}  // namespace pagorin::sim
