#include "modem_lines.h"

#include "sim_os.h"

namespace pagorin::sim {

std::vector<std::string> LogTail::NewLines() {
  std::vector<std::string> lines;
  if (path_.empty()) return lines;
  const long long read = os::ReadFrom(path_, static_cast<std::uint64_t>(offset_), partial_);
  if (read > 0) offset_ += read;
  std::size_t start = 0;
  std::size_t newline;
  while ((newline = partial_.find('\n', start)) != std::string::npos) {
    if (newline > start) lines.push_back(partial_.substr(start, newline - start));
    start = newline + 1;
  }
  partial_.erase(0, start);
  return lines;
}

}  // namespace pagorin::sim
