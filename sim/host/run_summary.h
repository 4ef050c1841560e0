// What a run counted, and the summary printed at its end.
#pragma once

#include "event_log.h"

namespace pagorin::sim {

// Counted by the host services: alarms of the plant and the plug-in's alarm requests.
struct HostCounts {
  int alarmsRaised = 0, alarmsAcknowledged = 0, alarmsResumed = 0, alarmsCleared = 0;
  int requests = 0, answered = 0, unanswered = 0, timedOut = 0;
};

// Counted by the forecast: the messages the plug-in should have queued or refused.
struct ForecastCounts {
  int queuedAlarm = 0, queuedScript = 0, refused = 0;
};

// Counted by the dialogue watch: what went over the line and reached a phone.
struct DialogueCounts {
  int commands = 0, sent = 0, delivered = 0, dropped = 0, timeouts = 0;
};

struct RunFigures {
  HostCounts host;
  ForecastCounts forecast;
  DialogueCounts dialogue;
  double simSeconds = 0;
  double wallSeconds = 0;
  bool realModem = false;  // nothing is known of the line then
};

// Emits the "summary" event.
void EmitSummary(EventLog& log, const RunFigures& figures);

}  // namespace pagorin::sim
