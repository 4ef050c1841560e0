// The simulator's command line: every option in one Settings, the texts of the options with a
// syntax of their own parsed and checked, and the interpreter's behaviour made from them.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "at_interpreter.h"
#include "deliver_pdu.h"

namespace pagorin::sim {

// A span of the modem's clock, in milliseconds from its start.
struct Span {
  std::int64_t fromMs = 0;
  std::int64_t untilMs = 0;
  int code = 0;  // the +CMS ERROR of an error window
  bool Holds(std::int64_t nowMs) const { return nowMs >= fromMs && nowMs < untilMs; }
};

// "FROM+SECONDS", for example "30+10": from 30 s for 10 s; seconds 0 to 1e7. Empty when
// malformed.
std::optional<Span> ParseSpan(std::string_view text);

// "CODE@FROM+SECONDS", for example "331@5+20": +CMS ERROR: 331 from 5 s for 20 s; CODE 0 to 511.
// Empty when malformed.
std::optional<Span> ParseErrorWindow(std::string_view text);

// A message a phone writes to the modem at a moment of its clock.
struct PlannedText {
  double atSeconds = 0;
  PhoneText message;
};

// "AT@FROM:PARTS:CODING:TEXT", for example "30@13800138000:1:ucs2:1A": at 30 s from 13800138000,
// one part, UCS2. PARTS 0 lets the text decide; the text may hold colons. Empty when malformed or
// when the text does not fit the coding and the parts.
std::optional<PlannedText> ParseIncoming(std::string_view text);

// "NUMBER=HEX", for example "13800138000=0x43": the TP-ST of reports on messages to that phone.
// Empty when malformed.
std::optional<std::pair<std::string, int>> ParseRecipientStatus(std::string_view text);

// "0x00,0x41": the TP-ST of the reports in turn, the last one for every report after it. Empty
// when any octet is malformed.
std::optional<std::vector<int>> ParseStatuses(std::string_view text);

// Every option of the command line, as given (defaults where not given).
struct Settings {
  std::string portFile;
  std::string logFile;
  std::string echo = "on";
  bool numericResults = false;
  bool quietResults = false;
  bool silent = false;
  int failMessage = 0;
  int failCode = 500;
  bool dropFinalOk = false;
  std::string unsolicited;
  int byteDelayMs = 0;
  int hangupAfter = 0;
  int exitAfterMessages = 0;
  double timeoutSeconds = 0;
  int firstReference = 0;
  bool trace = false;

  std::vector<std::string> urcs;
  bool urcAfterOk = false;
  bool urcAfterPrompt = false;
  double urcEverySeconds = 0;
  int piecesMs = 0;
  std::vector<std::string> errorWindows;
  double errorRate = 0;
  std::vector<int> errorCodes;
  std::vector<std::string> unplugs;
  double promptDelaySeconds = 0;
  double replyDelaySeconds = 0;
  std::string link;
  std::string clockFile;
  std::uint32_t seed = 1;
  bool noSim = false;
  int signal = 17;
  int registration = 1;

  int storageSlots = 20;
  std::string fullNotice = "ciev";
  double dropNotices = 0;
  int badNoticeIndex = 0;
  bool hasBadNoticeIndex = false;
  std::vector<std::string> incoming;
  std::string ownNumber;
  double loopDelaySeconds = 5;
  double reportDelaySeconds = 5;
  std::string reportStatus = "0x00";
  std::vector<std::string> reportStatusTo;
  bool noReports = false;
  bool reportsOutOfOrder = false;
};

// Parses the command line into `settings`, checking every value; help goes to `out`, errors to
// `err`. Returns the exit code when the program is to end at once (0 after --help), nothing when
// it is to run; then every option text with a syntax of its own parses, and --unplug has a link
// (by default the port file's path with ".tty" added). Never throws.
std::optional<int> ParseSettings(int argc, const char* const* argv, Settings& settings,
                                 std::ostream& out, std::ostream& err) noexcept;

// What the command interpreter is to do by `settings`.
ModemBehaviour BehaviourOf(const Settings& settings);

}  // namespace pagorin::sim
