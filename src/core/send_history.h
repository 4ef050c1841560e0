// The send history: one line for every message that ended (sent, failed or refused), in a CSV
// file of the project folder that a spreadsheet opens as it is.
//
// The file is UTF-8 and starts with a byte-order mark. A spreadsheet on Chinese Windows reads a
// CSV without one in the ANSI code page; the mark makes it read UTF-8, which also holds every
// character a phone-book description or a script text may bring, and which every other tool
// reads too. Phone numbers are written as ="13800138000" so that they stay text, and a text that
// begins like a formula (=, +, -, @, a tab or a carriage return) gets a leading
// apostrophe so that it is never run as one; reading back takes it off again.
//
// The file is rotated by size: when a line would take it past the limit it becomes
// Pagorin_SendHistory.1.csv (the older ones move up, the oldest is removed) and a new file with
// the heading begins. A record never goes because a file could not move: the current file is
// first renamed to Pagorin_SendHistory.rotating.csv, and only once that succeeded is the oldest
// removed (when no generation is missing) and the others moved up. When the current file cannot
// move (held open by another program, a read-only folder) every older file stays, the line goes
// into the current file, LastProblem() says why, and the rotation is tried again after
// kRotationRetryLines more lines; once the current file holds twice the limit, lines are refused
// until a rotation succeeds, which each of them tries. A move that fails later leaves the
// renamed file under its name, where it is read back too and moved on at the next rotation.
//
// A file removed or replaced while the history runs is noticed (the path no longer names the
// open file, checked every kCheckEveryAppends appends or after kCheckEveryMs) and opened again,
// with the heading when it is new. Owned and used by one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/append_file.h"

namespace pagorin {

enum class HistoryState : std::uint8_t {
  kSent = 0,
  kFailed = 1,
  kRefused = 2,  // never queued: the queue was full, the number or text was not accepted
  // A status report's verdict on a sent message, as one more line after its sent line.
  kDelivered = 3,
  kUndelivered = 4,
};

// One message's life. Texts are code page 936 bytes.
struct HistoryEntry {
  std::int64_t queuedAt = 0;  // seconds since 1970 UTC
  std::int64_t endedAt = 0;   // sent, failed or refused; 0 when not ended
  std::string number;
  std::string name;    // phone-book description; may be empty
  std::string origin;  // the rule's variable, or "script"
  std::string text;
  int attempts = 0;
  std::string reference;  // the modem's message reference(s); empty unless sent
  HistoryState state = HistoryState::kSent;
  std::string reason;  // why it failed or was refused, in Chinese; a note (text cut) when sent
};

class SendHistory {
 public:
  static constexpr std::string_view kFileName = "Pagorin_SendHistory.csv";
  static constexpr std::uint64_t kDefaultMaxFileBytes = 2 * 1024 * 1024;
  static constexpr int kDefaultFiles = 4;
  // Lines that go into a current file that could not be rotated before the next try.
  static constexpr int kRotationRetryLines = 16;
  // How often the path is compared with the open file: every this many appends, or at the first
  // append after this many milliseconds of platform::TickCount().
  static constexpr int kCheckEveryAppends = 16;
  static constexpr std::uint32_t kCheckEveryMs = 10000;

  using TimeFormatter = std::string (*)(std::int64_t unixSeconds);

  // `files` counts the current file and the rotated ones (at least 1).
  // `fileName` (ending in ".csv") and `headingId` (the string-table id of the heading) let
  // another record of the folder (the received messages) share the conventions and rotation.
  explicit SendHistory(std::uint64_t maxFileBytes = kDefaultMaxFileBytes, int files = kDefaultFiles,
                       TimeFormatter formatTime = nullptr, std::string_view fileName = kFileName,
                       int headingId = 0) noexcept;

  // Opens (or starts) the history in `folder`, first moving on a file that an interrupted
  // rotation left. False when the file cannot be opened; Append then tries again at the pace of
  // the file checks and writes nothing meanwhile. Never throws.
  bool Open(const std::string& folder) noexcept;
  void Close() noexcept;
  bool IsOpen() const noexcept { return file_.IsOpen(); }

  // Appends the line of `entry`, rotating first when the line would take the file past the
  // limit. False when it could not be written. Never throws.
  bool Append(const HistoryEntry& entry) noexcept;
  // Appends one line made by the caller (UTF-8, ending in CR LF), with the same rotation.
  bool AppendLine(const std::string& utf8Line) noexcept;
  // The time as the file writes it; empty for 0. Throws only std::bad_alloc.
  std::string FormatTime(std::int64_t unixSeconds) const;

  // The system's words for what last kept the history from working as it should (the file not
  // opened or written, a rotation that failed); empty once it works again.
  const std::string& LastProblem() const noexcept { return problem_; }

  // The path of the current file (generation 0) or of a rotated one (1 the newest).
  std::string FilePath(int generation) const;
  // The path under which a rotation moves the current file before the older ones move up.
  std::string RotatingPath() const;

  // The last `limit` entries of the history, oldest first, read back from the current file and
  // the rotated ones before it (the folder of the last Open), so that a new run shows what
  // earlier runs sent. Lines that do not read as an entry are skipped; a missing file has none.
  // Throws only std::bad_alloc.
  std::vector<HistoryEntry> ReadRecent(std::size_t limit) const;
  // One record of the file (a line, or several when a quoted field holds line breaks) as an
  // entry; false for the heading or a record that is not an entry. Throws only std::bad_alloc.
  bool ParseLine(std::string_view utf8Record, HistoryEntry& entry) const;

  // The byte-order mark and the heading line; every file begins with them.
  static std::string FileHeading();
  // This file's byte-order mark and heading. Throws only std::bad_alloc.
  std::string Heading() const;
  // The line of `entry` in UTF-8, ending in CR LF. Throws only std::bad_alloc.
  std::string FormatLine(const HistoryEntry& entry) const;
  // The Chinese word for a final state, in code page 936.
  static const std::string& StateWord(HistoryState state) noexcept;
  // The same for programs: "sent", "failed", "refused", "delivered", "undelivered". Each line
  // ends with it, so that a reader needs no string table.
  static std::string_view StateCode(HistoryState state) noexcept;

 private:
  // Moves the current file away and starts a new one; false, with the current file open again,
  // when it could not move.
  bool Rotate() noexcept;
  // Gives the file at RotatingPath() its place as generation 1. False with `error` set when a
  // step failed; the files stay consistent, with at most one generation missing.
  bool SettleRotating(std::string& error) noexcept;
  // Opens the current file, with the heading when it is empty; `mayBeTorn` when another process
  // may have left its last line unfinished. False with problem_ set on failure.
  bool OpenCurrent(bool mayBeTorn) noexcept;
  // At the pace of the checks: reopens the current file when its path names another file or
  // none, or when it could not be opened before.
  void CheckCurrent() noexcept;
  void NoteProblem(std::string& error) noexcept;
  // Ends a last line that a crash left unfinished. Throws only std::bad_alloc.
  void EndTornLine();
  // The seconds since 1970 that formatTime_ shows as `text`; 0 when it does not read as one.
  std::int64_t ParseTime(std::string_view text) const;

  std::uint64_t maxFileBytes_;
  int files_;
  TimeFormatter formatTime_;
  std::string_view fileName_;
  int headingId_;
  std::string folder_;
  platform::AppendFile file_;
  std::uint64_t size_ = 0;
  bool wanted_ = false;           // opened and not closed since
  bool rotationOverdue_ = false;  // the current file could not be rotated
  bool rotatingLeft_ = false;     // a rotated file waits at RotatingPath()
  int linesUntilRetry_ = 0;
  int appendsSinceCheck_ = 0;
  std::uint32_t lastCheck_ = 0;
  std::string problem_;
};

// Splits one CSV line into its fields: fields in double quotes may hold commas, doubled quotes
// and line breaks. Throws only std::bad_alloc.
std::vector<std::string> SplitCsvLine(std::string_view line);

// Appends one field of a line in the history's conventions: a code page 936 text in UTF-8,
// defused and quoted as needed; a number of digits as ="digits". Throw only std::bad_alloc.
void AppendCsvText(std::string& line, std::string_view cp936);
void AppendCsvNumber(std::string& line, std::string_view number);

}  // namespace pagorin
