#include "run_summary.h"

#include <cstdio>
#include <string>

namespace pagorin::sim {

void EmitSummary(EventLog& log, const RunFigures& figures) {
  const HostCounts& h = figures.host;
  const ForecastCounts& f = figures.forecast;
  const DialogueCounts& d = figures.dialogue;
  const double sim = figures.simSeconds;
  const double wall = figures.wallSeconds;
  int queued = f.queuedAlarm + f.queuedScript;
  int waiting = queued - d.sent - d.dropped;
  if (waiting < 0) waiting = 0;
  nlohmann::json fields = {{"simSeconds", sim},
                           {"wallSeconds", wall},
                           {"alarmsRaised", h.alarmsRaised},
                           {"alarmsAcknowledged", h.alarmsAcknowledged},
                           {"alarmsResumed", h.alarmsResumed},
                           {"alarmsCleared", h.alarmsCleared},
                           {"requests", h.requests},
                           {"answered", h.answered},
                           {"unanswered", h.unanswered},
                           {"requestsTimedOut", h.timedOut},
                           {"queued", queued},
                           {"queuedAlarm", f.queuedAlarm},
                           {"queuedScript", f.queuedScript},
                           {"refused", f.refused},
                           {"commands", d.commands},
                           {"sent", d.sent},
                           {"delivered", d.delivered},
                           {"timeouts", d.timeouts},
                           {"dropped", d.dropped},
                           {"notSent", waiting}};
  char line[512];
  std::string text = "summary\n";
  std::snprintf(line, sizeof line,
                "  time        %.1f s simulated in %.1f s of real time (%.1fx)\n", sim, wall,
                wall > 0 ? sim / wall : 0.0);
  text += line;
  std::snprintf(line, sizeof line,
                "  alarms      %d raised, %d acknowledged, %d resumed, %d cleared\n",
                h.alarmsRaised, h.alarmsAcknowledged, h.alarmsResumed, h.alarmsCleared);
  text += line;
  std::snprintf(line, sizeof line,
                "  requests    %d made, %d answered, %d left unanswered, %d abandoned by the "
                "plug-in\n",
                h.requests, h.answered, h.unanswered, h.timedOut);
  text += line;
  if (figures.realModem) {
    std::snprintf(line, sizeof line,
                  "  messages    %d queued (%d from alarms, %d from scripts), %d refused", queued,
                  f.queuedAlarm, f.queuedScript, f.refused);
  } else {
    std::snprintf(line, sizeof line,
                  "  messages    %d queued (%d from alarms, %d from scripts), %d refused, %d sent, "
                  "%d delivered to phones, %d dropped, %d not sent\n"
                  "  modem       %d commands, %d failed attempts (time-out or refusal)",
                  queued, f.queuedAlarm, f.queuedScript, f.refused, d.sent, d.delivered, d.dropped,
                  waiting, d.commands, d.timeouts);
  }
  text += line;
  log.Emit("summary", fields, text);
}

}  // namespace pagorin::sim
