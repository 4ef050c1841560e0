// What a run counted, and the summary printed at its end.
#pragma once

#include "event_log.h"
#include "expectations.h"
#include "received_tail.h"
#include "send_history_tail.h"

namespace pagorin::sim {

// Counted by the host services: alarms of the plant and the plug-in's alarm requests.
struct HostCounts {
  int alarmsRaised = 0, alarmsAcknowledged = 0, alarmsResumed = 0, alarmsCleared = 0;
  int requests = 0, answered = 0, unanswered = 0, timedOut = 0;
};

// Counted by the dialogue watch: what went over the line and reached a phone. A piece is one
// message as the modem takes it (one PDU written); a retried piece is written again. Replies
// are the parts the phones wrote, reports the status reports the network made, as the modem
// took them into its storage (or showed them at once).
struct DialogueCounts {
  int commands = 0, pieces = 0, sent = 0, delivered = 0, dropped = 0, timeouts = 0;
  int replies = 0, reports = 0;
};

struct RunFigures {
  HostCounts host;
  ExpectCounts expect;  // the scenario's expectations, at its steps and at the end
  DialogueCounts dialogue;
  HistoryCounts history;    // the messages' ends as the plug-in's send history recorded them
  ReceivedCounts received;  // the messages the plug-in recorded as received
  double simSeconds = 0;
  double wallSeconds = 0;
  bool realModem = false;  // nothing is known of the line then
};

// Emits the "summary" event.
void EmitSummary(EventLog& log, const RunFigures& figures);

}  // namespace pagorin::sim
