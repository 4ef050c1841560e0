#include "run_summary.h"

#include <cstdio>
#include <string>

namespace pagorin::sim {

void EmitSummary(EventLog& log, const RunFigures& figures) {
  const HostCounts& h = figures.host;
  const ExpectCounts& e = figures.expect;
  const DialogueCounts& d = figures.dialogue;
  const double sim = figures.simSeconds;
  const double wall = figures.wallSeconds;
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
                           {"expectationsMet", e.met},
                           {"expectationsFailed", e.failed},
                           {"expectationsUnchecked", e.unchecked},
                           {"historySent", figures.history.sent},
                           {"historyFailed", figures.history.failed},
                           {"historyRefused", figures.history.refused},
                           {"reportsDelivered", figures.history.delivered},
                           {"reportsUndelivered", figures.history.undelivered},
                           {"received", figures.received.messages},
                           {"receivedIncomplete", figures.received.incomplete},
                           {"receivedLoop", figures.received.loop}};
  if (!figures.realModem) {
    fields["commands"] = d.commands;
    fields["pieces"] = d.pieces;
    fields["sent"] = d.sent;
    fields["delivered"] = d.delivered;
    fields["timeouts"] = d.timeouts;
    fields["dropped"] = d.dropped;
    fields["phoneReplies"] = d.replies;
    fields["statusReports"] = d.reports;
  }
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
  std::snprintf(line, sizeof line,
                "  history     %d sent, %d failed, %d refused (the plug-in's send history)\n",
                figures.history.sent, figures.history.failed, figures.history.refused);
  text += line;
  std::snprintf(line, sizeof line,
                "  reports     %d delivered, %d undelivered (the send history's verdicts)\n",
                figures.history.delivered, figures.history.undelivered);
  text += line;
  std::snprintf(line, sizeof line,
                "  received    %d message(s), %d incomplete, %d loop test(s) (the plug-in's "
                "record)\n",
                figures.received.messages, figures.received.incomplete, figures.received.loop);
  text += line;
  std::snprintf(line, sizeof line,
                "  expected    %d met, %d not met, %d not checked (the scenario's expectations)",
                e.met, e.failed, e.unchecked);
  text += line;
  if (!figures.realModem) {
    std::snprintf(line, sizeof line,
                  "\n"
                  "  line        %d piece(s) written, %d sent, %d delivered to phones, %d dropped\n"
                  "  modem       %d commands, %d failed attempts (time-out or refusal)\n"
                  "  phones      %d reply part(s) written, %d status report(s) made",
                  d.pieces, d.sent, d.delivered, d.dropped, d.commands, d.timeouts, d.replies,
                  d.reports);
    text += line;
  }
  log.Emit("summary", fields, text);
}

}  // namespace pagorin::sim
