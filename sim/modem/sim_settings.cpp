#include "sim_settings.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <system_error>

namespace pagorin::sim {
namespace {

std::optional<double> ParseSeconds(std::string_view text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !(value >= 0) || value > 1e7) {
    return std::nullopt;
  }
  return value;
}

// "0x41" or "41": a TP-ST value.
std::optional<int> ParseStatus(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > 255) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<Span> ParseSpan(std::string_view text) {
  std::size_t plus = text.find('+');
  if (plus == std::string_view::npos) return std::nullopt;
  auto from = ParseSeconds(text.substr(0, plus));
  auto length = ParseSeconds(text.substr(plus + 1));
  if (!from || !length) return std::nullopt;
  Span span;
  span.fromMs = std::llround(*from * 1000.0);
  span.untilMs = span.fromMs + std::llround(*length * 1000.0);
  return span;
}

std::optional<Span> ParseErrorWindow(std::string_view text) {
  std::size_t at = text.find('@');
  if (at == std::string_view::npos) return std::nullopt;
  int code = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + at, code);
  if (error != std::errc() || end != text.data() + at || code < 0 || code > 511) {
    return std::nullopt;
  }
  auto span = ParseSpan(text.substr(at + 1));
  if (span) span->code = code;
  return span;
}

std::optional<PlannedText> ParseIncoming(std::string_view text) {
  std::size_t at = text.find('@');
  if (at == std::string_view::npos) return std::nullopt;
  auto seconds = ParseSeconds(text.substr(0, at));
  std::string_view rest = text.substr(at + 1);
  std::size_t first = rest.find(':');
  std::size_t second = first == std::string_view::npos ? first : rest.find(':', first + 1);
  std::size_t third = second == std::string_view::npos ? second : rest.find(':', second + 1);
  if (!seconds || third == std::string_view::npos || first == 0) return std::nullopt;
  PlannedText planned;
  planned.atSeconds = *seconds;
  planned.message.from = std::string(rest.substr(0, first));
  std::string_view parts = rest.substr(first + 1, second - first - 1);
  auto [end, error] =
      std::from_chars(parts.data(), parts.data() + parts.size(), planned.message.parts);
  if (error != std::errc() || end != parts.data() + parts.size() || planned.message.parts < 0 ||
      planned.message.parts > 255) {
    return std::nullopt;
  }
  std::string_view coding = rest.substr(second + 1, third - second - 1);
  if (coding == "gsm7") {
    planned.message.coding = TextCoding::kGsm7;
  } else if (coding == "ucs2") {
    planned.message.coding = TextCoding::kUcs2;
  } else {
    return std::nullopt;
  }
  planned.message.text = std::string(rest.substr(third + 1));
  std::string why;
  if (EncodeDeliver(planned.message, why).empty()) return std::nullopt;
  return planned;
}

std::optional<std::pair<std::string, int>> ParseRecipientStatus(std::string_view text) {
  std::size_t equals = text.rfind('=');
  if (equals == std::string_view::npos || equals == 0) return std::nullopt;
  auto status = ParseStatus(text.substr(equals + 1));
  if (!status) return std::nullopt;
  return std::make_pair(std::string(text.substr(0, equals)), *status);
}

std::optional<std::vector<int>> ParseStatuses(std::string_view text) {
  std::vector<int> statuses;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::optional<int> status = ParseStatus(text.substr(start, comma - start));
    if (!status) return std::nullopt;
    statuses.push_back(*status);
    start = comma + 1;
  }
  return statuses;
}

std::optional<int> ParseSettings(int argc, const char* const* argv, Settings& settings,
                                 std::ostream& out, std::ostream& err) noexcept {
  try {
    CLI::App app{
        "A GSM modem on a pseudo-terminal: answers AT commands, decodes every SMS-SUBMIT it is "
        "handed, and stores what phones and the network send back."};
    app.add_option(
        "--port-file", settings.portFile,
        "write the terminal's path to this file (atomically, removed at exit) instead of stdout");
    app.add_option(
        "--log", settings.logFile,
        "append one JSON line per accepted SMS, one per concatenated message joined, and one "
        "per storage event (\"event\": stored, shown, read, deleted, storage_full, discarded, "
        "notice_dropped)");
    app.add_option("--echo", settings.echo, "command echo after reset")
        ->check(CLI::IsMember({"on", "off"}));
    app.add_flag("--numeric-results", settings.numericResults,
                 "numeric result codes after reset, as with ATV0 stored (0 OK, 4 ERROR)");
    app.add_flag("--quiet-results", settings.quietResults,
                 "no result codes after reset, as with ATQ1 stored");
    app.add_flag("--silent", settings.silent, "read everything, answer nothing");
    app.add_option("--fail-message", settings.failMessage,
                   "answer the Nth message (from 1) with +CMS ERROR")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--fail-code", settings.failCode, "the +CMS ERROR code for --fail-message")
        ->check(CLI::Range(0, 511));
    app.add_flag("--drop-final-ok", settings.dropFinalOk, "leave out the OK after +CMGS");
    app.add_option("--unsolicited", settings.unsolicited,
                   "a result line sent right after the answer to each send");
    app.add_option("--byte-delay-ms", settings.byteDelayMs,
                   "send answers byte by byte with this pause")
        ->check(CLI::Range(0, 10'000));
    app.add_option("--hangup-after", settings.hangupAfter,
                   "close the terminal after answering the Nth command line")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--exit-after-messages", settings.exitAfterMessages,
                   "exit once this many messages were accepted")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--timeout", settings.timeoutSeconds, "exit after this many seconds")
        ->check(CLI::Range(0.0, 1e7));
    app.add_option("--first-reference", settings.firstReference,
                   "message reference of the first message; references wrap from 255 to 0")
        ->check(CLI::Range(0, 255));
    app.add_flag("--trace", settings.trace, "show every byte received and sent on stderr");

    auto* field = "Field behaviour (times in seconds on the modem's clock)";
    app.add_option("--urc", settings.urcs,
                   "an unsolicited result line to use (repeatable; default: +CMTI: \"SM\",3, "
                   "RING, +CREG: 1, ^RSSI: 17, +CSQ: 17,99, +CGREG: 1, ^BOOT:..., NO CARRIER)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(field);
    app.add_flag("--urc-after-ok", settings.urcAfterOk,
                 "an unsolicited result line right after every final OK")
        ->group(field);
    app.add_flag("--urc-after-prompt", settings.urcAfterPrompt,
                 "an unsolicited result line right after every \"> \" prompt")
        ->group(field);
    app.add_option("--urc-every", settings.urcEverySeconds,
                   "unsolicited result lines at random moments, this many seconds apart on average")
        ->check(CLI::Range(0.0, 1e6))
        ->group(field);
    app.add_option("--pieces", settings.piecesMs,
                   "send replies in pieces of 1 to 8 bytes with pauses of up to this many "
                   "milliseconds (real time)")
        ->check(CLI::Range(0, 10'000))
        ->group(field);
    auto windowCheck = CLI::Validator(
        [](std::string& text) {
          return ParseErrorWindow(text) ? std::string()
                                        : "expected CODE@FROM+SECONDS, e.g. 331@5+20";
        },
        "CODE@FROM+SECONDS");
    app.add_option("--error-window", settings.errorWindows,
                   "refuse every send with +CMS ERROR: CODE from FROM for SECONDS, e.g. 331@5+20 "
                   "(repeatable; 331 also reports no registration and no signal)")
        ->check(windowCheck)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(field);
    app.add_option("--error-rate", settings.errorRate,
                   "refuse this share of sends (0 to 1) at random with a temporary +CMS ERROR")
        ->check(CLI::Range(0.0, 1.0))
        ->group(field);
    app.add_option("--error-codes", settings.errorCodes,
                   "the codes for --error-rate (default 331 332 42 314 500)")
        ->check(CLI::Range(0, 511))
        ->group(field);
    auto spanCheck = CLI::Validator(
        [](std::string& text) {
          return ParseSpan(text) ? std::string() : "expected FROM+SECONDS, e.g. 30+10";
        },
        "FROM+SECONDS");
    app.add_option("--prompt-delay", settings.promptDelaySeconds,
                   "the \"> \" prompt comes this many seconds late")
        ->check(CLI::Range(0.0, 1e6))
        ->group(field);
    app.add_option("--reply-delay", settings.replyDelaySeconds,
                   "the final reply to a send (+CMGS or +CMS ERROR) comes this many seconds late")
        ->check(CLI::Range(0.0, 1e6))
        ->group(field);
    app.add_option("--unplug", settings.unplugs,
                   "pull the adapter out at FROM for SECONDS, e.g. 30+10: the terminal closes "
                   "and a new one appears behind the same link (repeatable)")
        ->check(spanCheck)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(field);
    app.add_option("--link", settings.link,
                   "a symbolic link that names the terminal, re-pointed when it comes back "
                   "(default with --unplug: the port file's path with .tty added)")
        ->group(field);
    app.add_option("--clock-file", settings.clockFile,
                   "take the modem's clock from this file (8 bytes: milliseconds, native byte "
                   "order), as a host simulator with simulated time shares it")
        ->group(field);
    app.add_option("--seed", settings.seed, "seed of the random choices (default 1)")->group(field);
    app.add_flag("--no-sim", settings.noSim,
                 "no SIM card: AT+CPIN? fails with +CME ERROR: 10, sends with +CMS ERROR: 310")
        ->group(field);
    app.add_option("--signal", settings.signal, "the signal AT+CSQ reports (0 to 31, 99 unknown)")
        ->check(CLI::Range(0, 31) | CLI::IsMember({99}))
        ->group(field);
    app.add_option("--registration", settings.registration,
                   "what AT+CREG? reports: 0 none, 1 home, 2 searching, 3 denied, 5 roaming")
        ->check(CLI::IsMember({0, 1, 2, 3, 4, 5}))
        ->group(field);
    auto* receiving = "Receiving (times in seconds on the modem's clock)";
    app.add_option("--storage-slots", settings.storageSlots,
                   "slots of the message storage \"SM\" (default 20)")
        ->check(CLI::Range(1, 255))
        ->group(receiving);
    app.add_option("--full-notice", settings.fullNotice,
                   "the line that says the storage filled up: ciev (+CIEV: \"SMSFULL\",1, "
                   "default) or smmemfull (^SMMEMFULL: \"SM\"); further messages wait in the "
                   "network until a slot is freed")
        ->check(CLI::IsMember({"ciev", "smmemfull"}))
        ->group(receiving);
    auto incomingCheck = CLI::Validator(
        [](std::string& text) {
          return ParseIncoming(text) ? std::string()
                                     : "expected AT@FROM:PARTS:CODING:TEXT with CODING gsm7 or "
                                       "ucs2 and a text that fits, e.g. 30@13800138000:1:ucs2:1A";
        },
        "AT@FROM:PARTS:CODING:TEXT");
    app.add_option("--incoming", settings.incoming,
                   "a phone writes to the modem: AT@FROM:PARTS:CODING:TEXT, e.g. "
                   "30@13800138000:1:ucs2:1A (FROM +... international, digits national, else "
                   "alphanumeric; PARTS 0: as many as the text needs; CODING gsm7 or ucs2; "
                   "repeatable)")
        ->check(incomingCheck)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(receiving);
    app.add_option("--own-number", settings.ownNumber,
                   "the modem's own number: what is sent to it comes back as incoming messages")
        ->group(receiving);
    app.add_option("--loop-delay", settings.loopDelaySeconds,
                   "seconds until a message to the own number comes back (default 5)")
        ->check(CLI::Range(0.0, 1e6))
        ->group(receiving);
    app.add_option("--report-delay", settings.reportDelaySeconds,
                   "seconds from a send with a status report request to its report (default 5)")
        ->check(CLI::Range(0.0, 1e6))
        ->group(receiving);
    app.add_option("--report-status", settings.reportStatus,
                   "the TP-ST of every report, in hex (default 0x00 delivered; e.g. 0x20, 0x60 "
                   "or 0x41); a list such as 0x00,0x41 gives the reports theirs in turn, the "
                   "last one to every later report")
        ->check(CLI::Validator(
            [](std::string& text) {
              return ParseStatuses(text) ? std::string()
                                         : "expected hex octets, e.g. 0x41 or 0x00,0x41";
            },
            "HEX"))
        ->group(receiving);
    app.add_option("--report-status-to", settings.reportStatusTo,
                   "NUMBER=HEX: the TP-ST of reports on messages to this phone (however its "
                   "number is written), instead of --report-status, e.g. 13800138000=0x43 "
                   "(repeatable)")
        ->check(CLI::Validator(
            [](std::string& text) {
              return ParseRecipientStatus(text) ? std::string()
                                                : "expected NUMBER=HEX, e.g. 13800138000=0x43";
            },
            "NUMBER=HEX"))
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(receiving);
    app.add_flag("--no-reports", settings.noReports, "no status reports at all")->group(receiving);
    app.add_flag("--reports-out-of-order", settings.reportsOutOfOrder,
                 "every first of two reports takes three times the report delay, so that the "
                 "next one overtakes it")
        ->group(receiving);
    app.add_option("--drop-notices", settings.dropNotices,
                   "leave out this share (0 to 1) of the +CMTI and +CDSI lines; the messages are "
                   "stored all the same")
        ->check(CLI::Range(0.0, 1.0))
        ->group(receiving);
    auto* badIndex = app.add_option("--bad-notice-index", settings.badNoticeIndex,
                                    "every +CMTI and +CDSI names this index (e.g. -1 or 0) "
                                    "instead of the slot the message went to")
                         ->check(CLI::Range(-1, 255))
                         ->group(receiving);
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      return app.exit(e, out, err);
    }
    settings.hasBadNoticeIndex = badIndex->count() > 0;
    if (!settings.unplugs.empty() && settings.link.empty()) {
      if (settings.portFile.empty()) {
        err << "gsm-modem-sim: --unplug needs --link or --port-file\n";
        return 2;
      }
      settings.link = settings.portFile + ".tty";
    }
    return std::nullopt;
  } catch (const std::exception& e) {
    err << "gsm-modem-sim: " << e.what() << "\n";
    return 1;
  }
}

ModemBehaviour BehaviourOf(const Settings& settings) {
  ModemBehaviour behaviour;
  behaviour.echo = settings.echo == "on";
  behaviour.numericResults = settings.numericResults;
  behaviour.quietResults = settings.quietResults;
  behaviour.failMessage = settings.failMessage;
  behaviour.failCode = settings.failCode;
  behaviour.dropFinalOk = settings.dropFinalOk;
  behaviour.unsolicited = settings.unsolicited;
  behaviour.hangupAfter = settings.hangupAfter;
  behaviour.firstReference = settings.firstReference;
  behaviour.urcs = settings.urcs;
  behaviour.urcAfterOk = settings.urcAfterOk;
  behaviour.urcAfterPrompt = settings.urcAfterPrompt;
  behaviour.errorRate = settings.errorRate;
  behaviour.errorCodes = settings.errorCodes;
  behaviour.seed = settings.seed;
  behaviour.simReady = !settings.noSim;
  behaviour.signal = settings.signal;
  behaviour.registration = settings.registration;
  behaviour.storageSlots = settings.storageSlots;
  behaviour.fullNotice =
      settings.fullNotice == "smmemfull" ? "^SMMEMFULL: \"SM\"" : "+CIEV: \"SMSFULL\",1";
  behaviour.dropNotices = settings.dropNotices;
  if (settings.hasBadNoticeIndex) behaviour.badNoticeIndex = settings.badNoticeIndex;
  return behaviour;
}

}  // namespace pagorin::sim
