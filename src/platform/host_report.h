// Reports to a host that exports `PagorinHostReport` (host/host_report.h); nothing happens in a
// host without it.
#pragma once

#include <string_view>

#include "host/host_report.h"

namespace pagorin::platform {

// Hands `text` to the host's report function, if it has one. Host's thread. Never throws.
void ReportToHost(HostReportKind kind, std::string_view text) noexcept;

// Replaces the host's report function for the whole process (tests); nullptr looks for the
// host's again.
void SetHostReportSink(HostReportFunction sink) noexcept;

namespace detail {
// The host program's export `PagorinHostReport`, or nullptr.
HostReportFunction FindHostReport() noexcept;
}  // namespace detail

}  // namespace pagorin::platform
