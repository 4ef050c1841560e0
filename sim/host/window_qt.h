// veltrane-sim's window (Qt 6 Widgets): the variables, which the user can change, the standing
// alarms with an acknowledge button, the messages as they go out, and the plug-in's properties.
#pragma once

#include "event_log.h"
#include "scenario.h"
#include "sim_host.h"

namespace pagorin::sim {

// Runs the scenario in a window until its end step or until the window is closed; returns the
// exit code. Without a display Qt's offscreen platform is used.
int RunWindow(SimHost& host, EventLog& log, const Scenario& scenario, HostOptions options, int argc,
              char** argv);

}  // namespace pagorin::sim
