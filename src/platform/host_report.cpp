#include "platform/host_report.h"

#include <atomic>
#include <string>

namespace pagorin::platform {
namespace {

std::atomic<HostReportFunction>& Sink() noexcept {
  static std::atomic<HostReportFunction> sink{detail::FindHostReport()};
  return sink;
}

}  // namespace

void ReportToHost(HostReportKind kind, std::string_view text) noexcept {
  const HostReportFunction sink = Sink().load(std::memory_order_acquire);
  if (sink == nullptr) return;
  try {
    const std::string terminated(text);
    sink(static_cast<int>(kind), terminated.c_str());
  } catch (...) {
    // Out of memory: a report is only news, never needed.
  }
}

void SetHostReportSink(HostReportFunction sink) noexcept {
  Sink().store(sink != nullptr ? sink : detail::FindHostReport(), std::memory_order_release);
}

}  // namespace pagorin::platform
