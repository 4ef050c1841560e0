#include "modem/at_lines.h"

namespace pagorin {

bool IsFinalResult(std::string_view line) noexcept {
  return line == "OK" || line == "ERROR" || line.starts_with("+CMS ERROR:") ||
         line.starts_with("+CME ERROR:");
}

void AtLineSplitter::Append(std::string_view bytes) {
  pending_.append(bytes);
}

AtLineSplitter::Piece AtLineSplitter::Next() {
  const std::size_t start = pending_.find_first_not_of("\r\n");
  if (start == std::string::npos) {
    pending_.clear();
    return {};
  }
  pending_.erase(0, start);
  if (pending_.front() == '>') {
    pending_.erase(0, pending_.size() > 1 && pending_[1] == ' ' ? 2 : 1);
    return {Kind::Prompt, {}};
  }
  const std::size_t end = pending_.find_first_of("\r\n");
  if (end == std::string::npos) {
    if (pending_.size() <= kMaxLineBytes) return {};
    pending_.clear();
    return {Kind::Dropped, {}};
  }
  Piece piece{Kind::Line, pending_.substr(0, end)};
  pending_.erase(0, end + 1);
  return piece;
}

}  // namespace pagorin
