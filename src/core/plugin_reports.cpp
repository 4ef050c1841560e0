// What the plug-in tells a host that listens for it (host/host_report.h): the modem's status line
// when it changes, and a configuration that could not be loaded or stored. A host without the
// report function hears nothing; the dialogs show the same things either way.
#include "core/plugin_object.h"
#include "platform/host_report.h"

namespace pagorin {

void PluginObject::ReportConfiguration(bool stored) noexcept {
  try {
    if (stored) {
      if (!LastSaveProblem().empty())
        platform::ReportToHost(HostReportKind::kConfigSave, LastSaveProblem());
      return;
    }
    const std::string problem = LastLoadProblem();
    if (!problem.empty()) platform::ReportToHost(HostReportKind::kConfigLoad, problem);
  } catch (...) {
    // Out of memory: the settings dialog still shows the problem when it opens.
  }
}

void PluginObject::ReportModemStatus() noexcept {
  try {
    std::string line = ModemStatusLine();
    if (line == reportedStatus) return;
    reportedStatus = std::move(line);
    platform::ReportToHost(HostReportKind::kModemStatus, reportedStatus);
  } catch (...) {
  }
}

void PluginObject::ReportRecordsProblem() noexcept {
  try {
    std::string problem = outbox.DurabilityProblem();
    if (problem == reportedRecords) return;
    reportedRecords = std::move(problem);
    platform::ReportToHost(HostReportKind::kRecordsProblem, reportedRecords);
  } catch (...) {
  }
}

}  // namespace pagorin
