// The hearing soak: veltrane-sim with the module and gsm-modem-sim, phones writing to the modem
// (500 messages from 20 numbers, half of them in the phone book, single and concatenated, GSM
// 7-bit and UCS2) while 200 messages go out by script with status reports asked for. The modem
// leaves out one notice in twenty, its storage is small and fills up in two bursts, and the
// network answers every part with a report: delivered for some recipients, failed in several
// ways for others, every first of two late so that the next overtakes it, references running
// past 255. Then the record is judged against what the simulator's phones sent and reported:
// each incoming message once in Pagorin_Received.csv (texts joined exactly, the phone book's
// name beside a known number), and each outgoing one with one verdict line in
// Pagorin_SendHistory.csv that says what the network reported for its parts. Lost, twice,
// missing and mismatched must all be 0. A baseline run of the same traffic with a well-behaved
// modem (every notice sent, ample storage, reports in order) gives the time ratio.
//
// Knobs (defaults are the figures above): --incoming N, --senders N, --known N, --outgoing N,
// --drop-notices P, --storage-slots N, --bursts N, --incoming-gap S, --outgoing-gap S,
// --first-reference N, --seed N, --no-baseline, --keep (leave the run folders).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"
#include "platform/code_page.h"
#include "platform/file_io.h"

namespace {

struct Knobs {
  int incoming = 500;
  int senders = 20;
  int known = 10;  // senders in the phone book
  int outgoing = 200;
  double dropNotices = 0.05;
  int storageSlots = 15;
  int bursts = 2;  // moments when more parts arrive at once than the storage holds
  double incomingGap = 10;
  double outgoingGap = 25;
  int firstReference = 200;
  unsigned seed = 20250612;
  bool baseline = true;
  bool keep = false;
};

Knobs knobs;

// The network's answer per recipient of what goes out: TP-ST of every report.
struct Recipient {
  const char* number;
  int status;
};
constexpr Recipient kRecipients[] = {
    {"13800138000", 0x00}, {"13800138001", 0x00}, {"13800138002", 0x00}, {"13800138003", 0x00},
    {"13800138004", 0x01}, {"13800138005", 0x02}, {"13800138006", 0x43}, {"13800138007", 0x46},
    {"13800138008", 0x61}, {"13800138009", 0x45},
};

// After the last planned message: time for a part whose notice was lost to be found by the
// ten-minute listing, for a late report to come, and for a duplicate to show.
constexpr double kTailSeconds = 1800;

const char kChinese[] =
    "清水池液位偏高请值班人员到现场检查泵站出口压力异常进水闸门开度报警已复位收到明白，"
    "马上处理。设备运行正常！";
const char kWords[] =
    "pump station outlet pressure high, check on site (valve 3); ok? yes! 50% at 10:45 "
    "#2 & #3 <reset> 'done' \"now\" a+b=c / @home $5 _x ";
const char kExtension[] = "{}[]~|^\\";

std::string ChineseRun(int characters, int offset) {
  const std::string all = kChinese;
  const std::size_t count = all.size() / 3;
  std::string text;
  for (int i = 0; i < characters; ++i)
    text += all.substr((static_cast<std::size_t>(i + offset) % count) * 3, 3);
  return text;
}

std::string WordRun(int characters, int offset, bool extension) {
  const std::string words = kWords;
  std::string text;
  for (int i = 0; i < characters; ++i) {
    if (extension && i % 37 == 11) {
      text += kExtension[static_cast<std::size_t>(i / 37 + offset) % (sizeof kExtension - 1)];
    } else {
      text += words[static_cast<std::size_t>(i + offset) % words.size()];
    }
  }
  return text;
}

struct Incoming {
  double at = 0;
  std::string from;
  int parts = 0;  // 0: as many as the text needs
  bool ucs2 = false;
  std::string text;  // UTF-8
  std::string name;  // the phone book's description, or empty
  bool multipart = false;
};

struct Outgoing {
  double at = 0;
  std::string number;
  std::string text;
};

struct Sender {
  std::string number;  // as the phone writes it
  std::string name;    // in the phone book, or empty
};

// Half of the numbers in international form, half national; one unknown sender is a service
// with an alphanumeric name.
std::vector<Sender> Senders() {
  std::vector<Sender> senders;
  for (int i = 0; i < knobs.senders; ++i) {
    char digits[16];
    const bool isKnown = i < knobs.known;
    std::snprintf(digits, sizeof digits, "%s%08d", isKnown ? "139" : "137", 10000 + i);
    Sender sender;
    sender.number = (i % 2 == 0 ? "+86" : "") + std::string(digits);
    if (isKnown) {
      char name[32];
      std::snprintf(name, sizeof name, "值班%02d", i);
      sender.name = name;
    } else if (i == knobs.senders - 1) {
      sender.number = "PagorinSvc";
    }
    senders.push_back(sender);
  }
  return senders;
}

std::string PhoneBookNumber(const Sender& sender) {
  return sender.number.starts_with("+86") ? sender.number.substr(3) : sender.number;
}

// Ten kinds in turn: short 7-bit texts (some with the extension table, some starting like a
// spreadsheet formula), short UCS2, long 7-bit and long UCS2 (2 or 3 parts), and a short 7-bit
// text split into 2 or 3 parts by the phone.
std::vector<Incoming> PlanIncoming(const std::vector<Sender>& senders, std::mt19937& random) {
  std::vector<Incoming> plan;
  std::uniform_int_distribution<int> pick(0, knobs.senders - 1);
  const int burstSize = knobs.storageSlots;
  std::vector<int> burstStarts;
  for (int b = 0; b < knobs.bursts; ++b)
    burstStarts.push_back((b + 1) * knobs.incoming / (knobs.bursts + 1));
  for (int i = 0; i < knobs.incoming; ++i) {
    Incoming in;
    const Sender& sender = senders[static_cast<std::size_t>(pick(random))];
    in.from = sender.number;
    in.name = sender.name;
    char tag[16];
    std::snprintf(tag, sizeof tag, "R%03d ", i);
    switch (i % 10) {
      case 0:
      case 1:
      case 2:
        in.text = tag + WordRun(20 + (i * 7) % 120, i, false);
        break;
      case 3:
        in.text = (i % 20 == 3 ? "=" : "-") + std::string(tag) + WordRun(30 + i % 50, i, true);
        break;
      case 4:
        in.text = tag + WordRun(40 + (i * 3) % 100, i, true);
        break;
      case 5:
      case 6:
        in.ucs2 = true;
        in.text = tag + ChineseRun(8 + (i * 5) % 50, i);
        break;
      case 7:
        in.multipart = true;
        in.text = tag + WordRun(170 + (i * 11) % 280, i, i % 20 == 7);
        break;
      case 8:
        in.multipart = true;
        in.ucs2 = true;
        in.text = tag + ChineseRun(75 + (i * 13) % 120, i) + " ok";
        break;
      default:
        in.multipart = true;
        in.parts = 2 + i % 2;
        in.text = tag + WordRun(60 + i % 80, i, false);
        break;
    }
    double at = 30 + i * knobs.incomingGap;
    for (int start : burstStarts) {
      if (i >= start && i < start + burstSize) at = 30 + start * knobs.incomingGap;
    }
    in.at = at;
    plan.push_back(std::move(in));
  }
  return plan;
}

// Every tenth a long 7-bit text, every tenth another a long UCS2 one, short ones otherwise.
std::vector<Outgoing> PlanOutgoing() {
  std::vector<Outgoing> plan;
  const std::size_t recipients = sizeof kRecipients / sizeof kRecipients[0];
  for (int j = 0; j < knobs.outgoing; ++j) {
    Outgoing out;
    out.at = 35 + j * knobs.outgoingGap;
    out.number = kRecipients[static_cast<std::size_t>(j) % recipients].number;
    char tag[16];
    std::snprintf(tag, sizeof tag, "S%03d ", j);
    if (j % 10 == 4) {
      out.text = tag + WordRun(200 + (j * 17) % 240, j, false);
    } else if (j % 10 == 9) {
      out.text = tag + ChineseRun(80 + (j * 7) % 110, j);
    } else if (j % 3 == 2) {
      out.text = tag + ChineseRun(6 + j % 20, j);
    } else {
      out.text = tag + WordRun(15 + j % 60, j, false);
    }
    plan.push_back(std::move(out));
  }
  return plan;
}

std::string TomlString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

std::string XmlAttribute(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

double LastMoment(const std::vector<Incoming>& in, const std::vector<Outgoing>& out) {
  double last = 0;
  for (const auto& m : in)
    last = std::max(last, m.at);
  for (const auto& m : out)
    last = std::max(last, m.at);
  return last;
}

// The project: the phone book (the known senders), no rules, messages kept apart (Coalesce 0,
// each one is judged on its own), reports on by default; the scenario sends every outgoing
// message by script call and hands the phones' messages and the network's behaviour to the
// modem simulator.
bool WriteProject(const std::string& folder, const std::vector<Sender>& senders,
                  const std::vector<Incoming>& in, const std::vector<Outgoing>& out,
                  const std::vector<std::string>& modemOptions) {
  std::string phones;
  int count = 0;
  for (const Sender& sender : senders) {
    if (sender.name.empty()) continue;
    phones += "<Tel" + std::to_string(count) + " TelNum=\"" + PhoneBookNumber(sender) +
              "\" Desc=\"" + XmlAttribute(sender.name) + "\"></Tel" + std::to_string(count) +
              ">\r\n";
    ++count;
  }
  const std::string config =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<XML Version=\"1\" Com=\"0\" Baund=\"2\" "
      "DataBit=\"1\" TelCount=\"" +
      std::to_string(count) + "\" VarCount=\"0\" Coalesce=\"0\">\r\n" + phones + "</XML>\r\n";
  const double end = LastMoment(in, out) + kTailSeconds;
  std::string scenario =
      "[simulation]\nspeed = \"max\"\nlimit = " + std::to_string(static_cast<int>(end) + 120) +
      "\n\n[modem]\noptions = [";
  std::vector<std::string> options = modemOptions;
  for (const Incoming& m : in) {
    char at[32];
    std::snprintf(at, sizeof at, "%.1f", m.at);
    options.push_back("--incoming=" + std::string(at) + "@" + m.from + ":" +
                      std::to_string(m.parts) + ":" + (m.ucs2 ? "ucs2" : "gsm7") + ":" + m.text);
  }
  for (std::size_t i = 0; i < options.size(); ++i)
    scenario += (i == 0 ? "" : ",\n  ") + TomlString(options[i]);
  scenario += "]\n";
  for (const Outgoing& m : out) {
    char at[32];
    std::snprintf(at, sizeof at, "%.1f", m.at);
    scenario += "\n[[step]]\nat = " + std::string(at) + "\ncall = \"SendMsg\"\nargs = [" +
                TomlString(m.number) + ", " + TomlString(m.text) + "]\n";
  }
  scenario += "\n[[step]]\nat = " + std::to_string(static_cast<int>(end)) + "\nsay = \"done\"\n";
  std::string why;
  return pagorin::platform::ReplaceFile(folder + "/Kestrova_Configure.ini",
                                        pagorin::platform::Utf8ToCp936(config), why) &&
         pagorin::platform::ReplaceFile(folder + "/scenario.toml", scenario, why);
}

std::vector<nlohmann::json> JsonLines(const std::string& path) {
  std::vector<nlohmann::json> lines;
  std::string text;
  std::string why;
  if (!pagorin::platform::ReadWholeFile(path, text, why)) return lines;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    auto line = nlohmann::json::parse(text.substr(from, end - from), nullptr, false);
    if (line.is_object()) lines.push_back(std::move(line));
    from = end + 1;
  }
  return lines;
}

// The records of a CSV file (UTF-8 with BOM, CRLF, quoted fields may hold anything), the
// heading first.
std::vector<std::vector<std::string>> CsvRecords(const std::string& path) {
  std::vector<std::vector<std::string>> records;
  std::string text;
  std::string why;
  if (!pagorin::platform::ReadWholeFile(path, text, why)) return records;
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::vector<std::string> record(1);
  bool quoted = false;
  bool any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    any = true;
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        record.back().push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        record.back().push_back(c);
      }
    } else if (c == '"' && record.back().empty()) {
      quoted = true;
    } else if (c == ',') {
      record.emplace_back();
    } else if (c == '\n') {
      records.push_back(std::move(record));
      record.assign(1, std::string());
      any = false;
    } else if (c != '\r') {
      record.back().push_back(c);
    }
  }
  if (any) records.push_back(std::move(record));  // a last line without its end
  return records;
}

// A number field as written: ="..." around digits, or a text.
std::string NumberField(const std::string& field) {
  if (field.size() >= 3 && field.starts_with("=\"") && field.ends_with("\""))
    return field.substr(2, field.size() - 3);
  return field;
}

// A text field before it was defused: one apostrophe off a text that starts like a formula.
std::string TextField(const std::string& field) {
  const std::size_t first = field.find_first_not_of('\'');
  if (!field.empty() && field[0] == '\'' && first != std::string::npos && first >= 1 &&
      std::string_view("=+-@\t\r").find(field[first]) != std::string_view::npos)
    return field.substr(1);
  return field;
}

std::string NumberKey(std::string_view number) {
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits.size() > 11 ? digits.substr(digits.size() - 11) : digits;
}

// What the send history says for a message whose parts were reported with these statuses, in
// the order the reports came: delivered once every part is, else undelivered with the reason of
// the first failure.
std::pair<std::string, std::string> ExpectedVerdict(const std::vector<int>& statusesByArrival) {
  for (int status : statusesByArrival) {
    if (status < 0x20) continue;
    switch (status) {
      case 0x43:
        return {"未送达", "号码不存在"};
      case 0x46:
      case 0x62:
        return {"未送达", "对方关机超时"};
      case 0x42:
      case 0x63:
        return {"未送达", "对方拒收"};
      case 0x61:
        return {"未送达", "对方忙"};
      default: {
        char reason[32];
        std::snprintf(reason, sizeof reason, "未送达(状态 0x%02X)", static_cast<unsigned>(status));
        return {"未送达", reason};
      }
    }
  }
  return {"已送达", ""};
}

struct Outcome {
  bool ran = false;
  double wallSeconds = 0;
  double simSeconds = 0;
  // Incoming.
  int inPlanned = 0;
  int inPartsStored = 0;
  int inMultipart7bit = 0;
  int inMultipartUcs2 = 0;
  int inFromPhoneBook = 0;
  int inRecorded = 0;  // lines of the received record
  int inLost = 0;
  int inTwice = 0;  // records beyond the first of one message
  int inUnknown = 0;
  int inIncomplete = 0;
  int inWrongName = 0;
  int inWrongState = 0;
  int noticesDropped = 0;
  int storageFull = 0;  // spells of a full storage
  int fullNotices = 0;
  int listings = 0;  // AT+CMGL commands
  int leftInStorage = 0;
  // Outgoing.
  int outPlanned = 0;
  int outOnPhone = 0;  // whole messages the modem took
  int outParts = 0;
  int outPartsPastWrap = 0;  // parts whose reference came round past 255
  int reports = 0;
  int reportsOvertaking = 0;  // reports that came before the one of a part sent earlier
  int outWithoutReport = 0;   // the simulator sent no report for a part (must be 0)
  int outSentLines = 0;
  int outMatched = 0;
  int outMissingVerdict = 0;
  int outMismatched = 0;
  int outExtraVerdicts = 0;
  int outWrongReference = 0;
  int outDelivered = 0;
  int outUndelivered = 0;
  int outNotOnPhone = 0;
};

void Problem(const char* what, const std::string& detail) {
  std::fprintf(stderr, "hearing_soak: %s: %s\n", what, detail.c_str());
}

void JudgeIncoming(const std::vector<Incoming>& plan, const std::string& folder,
                   const std::vector<nlohmann::json>& modemLog, Outcome& outcome, bool quiet) {
  outcome.inPlanned = static_cast<int>(plan.size());
  std::map<std::pair<std::string, std::string>, const Incoming*> byContent;
  for (const Incoming& m : plan) {
    byContent[{m.from, m.text}] = &m;
    if (!m.name.empty()) ++outcome.inFromPhoneBook;
  }
  std::map<const Incoming*, int> seen;
  const auto records = CsvRecords(folder + "/Pagorin_Received.csv");
  for (std::size_t r = 1; r < records.size(); ++r) {
    const auto& fields = records[r];
    if (fields.size() < 6) {
      ++outcome.inUnknown;
      if (!quiet) Problem("a received line of the wrong shape", std::to_string(fields.size()));
      continue;
    }
    ++outcome.inRecorded;
    const std::string number = NumberField(fields[2]);
    const std::string text = TextField(fields[4]);
    auto it = byContent.find({number, text});
    if (it == byContent.end()) {
      ++outcome.inUnknown;
      if (!quiet) Problem("a received line no phone sent", number + " " + text + " " + fields[5]);
      if (fields[5] == "不完整") ++outcome.inIncomplete;
      continue;
    }
    const Incoming& m = *it->second;
    if (++seen[&m] > 1) {
      ++outcome.inTwice;
      if (!quiet) Problem("received twice", text);
    }
    if (TextField(fields[3]) != m.name) {
      ++outcome.inWrongName;
      if (!quiet) Problem("wrong name", number + " has '" + fields[3] + "', not '" + m.name + "'");
    }
    if (fields[5] == "不完整") {
      ++outcome.inIncomplete;
    } else if (fields[5] != "完整") {
      ++outcome.inWrongState;
    }
  }
  for (const Incoming& m : plan) {
    if (seen[&m] == 0) {
      ++outcome.inLost;
      if (!quiet) Problem("lost", m.from + " " + m.text);
    }
  }
  // The modem says "full" again each time a freed slot fills up at once: one spell of a full
  // storage ends when it has emptied to half.
  int stored = 0;
  int deleted = 0;
  bool spell = false;
  for (const nlohmann::json& line : modemLog) {
    const std::string event = line.value("event", std::string());
    if (event == "notice_dropped") ++outcome.noticesDropped;
    if (event == "storage_full") {
      ++outcome.fullNotices;
      if (!spell) ++outcome.storageFull;
      spell = true;
    }
    if (event == "stored") {
      ++stored;
      if (line.value("kind", std::string()) == "incoming") ++outcome.inPartsStored;
    }
    if (event == "deleted") ++deleted;
    if (2 * (stored - deleted) <= knobs.storageSlots) spell = false;
  }
  outcome.leftInStorage = stored - deleted;
  for (const Incoming& m : plan) {
    if (!m.multipart) continue;
    ++(m.ucs2 ? outcome.inMultipartUcs2 : outcome.inMultipart7bit);
  }
}

void JudgeOutgoing(const std::vector<Outgoing>& plan, const std::string& folder,
                   const std::vector<nlohmann::json>& modemLog, Outcome& outcome, bool quiet) {
  outcome.outPlanned = static_cast<int>(plan.size());
  // What the phones got, part by part and whole, and the reports on each part in the order
  // they came.
  struct Part {
    int reference = 0;
    int status = -1;
    int arrival = -1;
  };
  struct Whole {
    std::string number;
    std::vector<std::size_t> parts;
  };
  std::vector<Part> parts;
  std::map<std::pair<std::string, int>, std::size_t> latest;  // (number, reference) -> part
  std::map<std::string, Whole> byText;
  int arrivals = 0;
  std::size_t latestReported = 0;
  for (const nlohmann::json& line : modemLog) {
    const std::string event = line.value("event", std::string());
    if (event.empty()) {
      const std::string number = line.value("number", std::string());
      if (line.value("joined", false)) {
        Whole whole{number, {}};
        for (const auto& reference : line.value("references", nlohmann::json::array())) {
          auto part = latest.find({NumberKey(number), reference.get<int>()});
          if (part != latest.end()) whole.parts.push_back(part->second);
        }
        byText[line.value("text", std::string())] = whole;
        continue;
      }
      Part part;
      part.reference = line.value("reference", -1);
      if (part.reference < knobs.firstReference) ++outcome.outPartsPastWrap;
      latest[{NumberKey(number), part.reference}] = parts.size();
      parts.push_back(part);
      if (!line.contains("part"))
        byText[line.value("text", std::string())] = Whole{number, {parts.size() - 1}};
      continue;
    }
    if ((event != "stored" && event != "shown") || line.value("kind", std::string()) != "report")
      continue;
    ++outcome.reports;
    auto it = latest.find(
        {NumberKey(line.value("recipient", std::string())), line.value("reference", -1)});
    if (it == latest.end() || parts[it->second].status >= 0) continue;
    parts[it->second].status = line.value("status", -1);
    parts[it->second].arrival = arrivals++;
    if (it->second < latestReported) ++outcome.reportsOvertaking;
    latestReported = std::max(latestReported, it->second);
  }
  outcome.outParts = static_cast<int>(parts.size());

  std::map<std::string, std::vector<std::vector<std::string>>> history;
  const auto records = CsvRecords(folder + "/Pagorin_SendHistory.csv");
  for (std::size_t r = 1; r < records.size(); ++r) {
    if (records[r].size() >= 10) history[TextField(records[r][5])].push_back(records[r]);
  }
  for (const Outgoing& m : plan) {
    auto whole = byText.find(m.text);
    if (whole == byText.end()) {
      ++outcome.outNotOnPhone;
      if (!quiet) Problem("never reached the phone", m.text);
      continue;
    }
    ++outcome.outOnPhone;
    std::vector<std::pair<int, int>> reported;  // arrival, status
    std::string references;
    for (std::size_t index : whole->second.parts) {
      const Part& part = parts[index];
      if (!references.empty()) references += ' ';
      references += std::to_string(part.reference);
      if (part.status < 0) continue;
      reported.push_back({part.arrival, part.status});
    }
    if (reported.size() != whole->second.parts.size()) {
      ++outcome.outWithoutReport;
      if (!quiet) Problem("the simulator reported not every part of", m.text);
      continue;
    }
    std::sort(reported.begin(), reported.end());
    std::vector<int> statuses;
    for (const auto& [arrival, status] : reported)
      statuses.push_back(status);
    const auto [word, reason] = ExpectedVerdict(statuses);
    const std::vector<std::vector<std::string>>& lines = history[m.text];
    int sent = 0;
    int verdicts = 0;
    bool matched = false;
    bool referenceRight = true;
    for (const auto& fields : lines) {
      const std::string state = TextField(fields[8]);
      if (NumberField(fields[2]) != m.number) continue;
      if (state == "已发送") {
        ++sent;
        if (TextField(fields[7]) != references) referenceRight = false;
      } else if (state == "已送达" || state == "未送达") {
        ++verdicts;
        if (sent == 0) continue;  // a verdict before the message was sent matches nothing
        if (state == word && (word == "已送达" || TextField(fields[9]) == reason)) {
          matched = true;
        } else if (!quiet) {
          Problem("mismatched verdict", m.text.substr(0, 12) + ": " + state + " " +
                                            TextField(fields[9]) + ", expected " + word + " " +
                                            reason);
        }
      }
    }
    outcome.outSentLines += sent;
    if (!referenceRight) {
      ++outcome.outWrongReference;
      if (!quiet) Problem("sent line names other references than", references);
    }
    if (verdicts == 0) {
      ++outcome.outMissingVerdict;
      if (!quiet) Problem("no verdict", m.number + " " + m.text.substr(0, 12));
    } else if (!matched) {
      ++outcome.outMismatched;
    } else {
      ++outcome.outMatched;
      ++(word == "已送达" ? outcome.outDelivered : outcome.outUndelivered);
    }
    if (verdicts > 1) outcome.outExtraVerdicts += verdicts - 1;
  }
}

std::string TempFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "pagorin-hear-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) return {};
  return templ;
}

// One run of the whole plan with the given modem; `field` is the misbehaving one.
Outcome Run(bool field) {
  Outcome outcome;
  std::mt19937 random(knobs.seed);
  const std::vector<Sender> senders = Senders();
  const std::vector<Incoming> in = PlanIncoming(senders, random);
  const std::vector<Outgoing> out = PlanOutgoing();
  std::vector<std::string> modem = {"--first-reference=" + std::to_string(knobs.firstReference),
                                    "--seed=" + std::to_string(knobs.seed)};
  for (const Recipient& r : kRecipients) {
    char status[8];
    std::snprintf(status, sizeof status, "0x%02X", static_cast<unsigned>(r.status));
    modem.push_back("--report-status-to=" + std::string(r.number) + "=" + status);
  }
  if (field) {
    char drop[32];
    std::snprintf(drop, sizeof drop, "%g", knobs.dropNotices);
    modem.insert(modem.end(), {"--drop-notices=" + std::string(drop),
                               "--storage-slots=" + std::to_string(knobs.storageSlots),
                               "--full-notice=smmemfull", "--reports-out-of-order"});
  } else {
    modem.push_back("--storage-slots=255");
  }
  const std::string folder = TempFolder();
  if (folder.empty() || !WriteProject(folder, senders, in, out, modem)) return outcome;
  const std::string events = folder + "/events.jsonl";
  const std::string log = folder + "/modem.jsonl";
  pagorin::sim::ChildOptions options;
  options.args = {
      HEARING_SIM,   "--module",        HEARING_MODULE, "--json", "run", folder + "/scenario.toml",
      "--modem-sim", HEARING_MODEM_SIM, "--modem-log",  log};
  options.output = pagorin::sim::ChildOptions::Output::kFile;
  options.outputFile = events;
  options.mergeErrorOutput = false;
  options.errorFile = folder + "/stderr.txt";
  const auto start = std::chrono::steady_clock::now();
  pagorin::sim::ChildProcess child;
  std::string error;
  const bool spawned = child.Start(options, error);
  if (!spawned) std::fprintf(stderr, "%s\n", error.c_str());
  const int exitCode = spawned ? child.Wait() : -1;
  outcome.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.ran = exitCode == 0;

  for (const nlohmann::json& event : JsonLines(events)) {
    const std::string name = event.value("event", std::string());
    if (name == "at" && event.value("dir", std::string()) == "tx" &&
        event.value("text", std::string()).starts_with("AT+CMGL")) {
      ++outcome.listings;
    } else if (name == "summary") {
      outcome.simSeconds = event.value("simSeconds", 0.0);
    }
  }
  const std::vector<nlohmann::json> modemLog = JsonLines(log);
  JudgeIncoming(in, folder, modemLog, outcome, !field);
  JudgeOutgoing(out, folder, modemLog, outcome, !field);
  const bool bad = !outcome.ran || outcome.inLost || outcome.inTwice || outcome.inUnknown ||
                   outcome.outMissingVerdict || outcome.outMismatched || outcome.outNotOnPhone;
  if (knobs.keep || bad) {
    std::fprintf(stderr, "hearing_soak: %s run (exit %d) kept in %s\n", field ? "field" : "clean",
                 exitCode, folder.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  return outcome;
}

void HearingSoak(benchmark::State& state) {
  Outcome clean;
  Outcome field;
  for (auto _ : state) {
    if (knobs.baseline) clean = Run(false);
    field = Run(true);
    state.SetIterationTime(field.wallSeconds);
  }
  if (!field.ran || (knobs.baseline && !clean.ran))
    state.SkipWithError("veltrane-sim did not end cleanly");
  auto& c = state.counters;
  c["in_messages"] = field.inPlanned;
  c["in_parts_stored"] = field.inPartsStored;
  c["in_multipart_7bit"] = field.inMultipart7bit;
  c["in_multipart_ucs2"] = field.inMultipartUcs2;
  c["in_from_phone_book"] = field.inFromPhoneBook;
  c["in_recorded"] = field.inRecorded;
  c["in_lost"] = field.inLost;
  c["in_twice"] = field.inTwice;
  c["in_unknown_lines"] = field.inUnknown;
  c["in_incomplete"] = field.inIncomplete;
  c["in_wrong_name"] = field.inWrongName;
  c["in_wrong_state"] = field.inWrongState;
  c["notices_dropped"] = field.noticesDropped;
  c["storage_full"] = field.storageFull;
  c["full_notices"] = field.fullNotices;
  c["listings"] = field.listings;
  c["left_in_storage"] = field.leftInStorage;
  c["out_messages"] = field.outPlanned;
  c["out_on_phone"] = field.outOnPhone;
  c["out_parts"] = field.outParts;
  c["out_parts_past_wrap"] = field.outPartsPastWrap;
  c["reports"] = field.reports;
  c["reports_overtaking"] = field.reportsOvertaking;
  c["out_without_report"] = field.outWithoutReport;
  c["out_sent_lines"] = field.outSentLines;
  c["out_matched"] = field.outMatched;
  c["out_delivered"] = field.outDelivered;
  c["out_undelivered"] = field.outUndelivered;
  c["out_missing_verdict"] = field.outMissingVerdict;
  c["out_mismatched"] = field.outMismatched;
  c["out_extra_verdicts"] = field.outExtraVerdicts;
  c["out_wrong_reference"] = field.outWrongReference;
  c["out_not_on_phone"] = field.outNotOnPhone;
  c["sim_seconds"] = field.simSeconds;
  c["wall_seconds"] = field.wallSeconds;
  if (knobs.baseline) {
    c["clean_in_lost"] = clean.inLost;
    c["clean_in_twice"] = clean.inTwice;
    c["clean_out_matched"] = clean.outMatched;
    c["clean_wall_seconds"] = clean.wallSeconds;
    if (clean.wallSeconds > 0) c["ratio_vs_clean"] = field.wallSeconds / clean.wallSeconds;
  }
}

// The knobs after Google Benchmark took its own flags; false (with a note) for anything else.
bool ReadKnobs(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
    } else if (arg != "--no-baseline" && arg != "--keep" && arg != "--help" && i + 1 < argc) {
      value = argv[++i];
    }
    auto number = [&] { return std::atof(value.c_str()); };
    if (arg == "--incoming") {
      knobs.incoming = static_cast<int>(number());
    } else if (arg == "--senders") {
      knobs.senders = static_cast<int>(number());
    } else if (arg == "--known") {
      knobs.known = static_cast<int>(number());
    } else if (arg == "--outgoing") {
      knobs.outgoing = static_cast<int>(number());
    } else if (arg == "--drop-notices") {
      knobs.dropNotices = number();
    } else if (arg == "--storage-slots") {
      knobs.storageSlots = static_cast<int>(number());
    } else if (arg == "--bursts") {
      knobs.bursts = static_cast<int>(number());
    } else if (arg == "--incoming-gap") {
      knobs.incomingGap = number();
    } else if (arg == "--outgoing-gap") {
      knobs.outgoingGap = number();
    } else if (arg == "--first-reference") {
      knobs.firstReference = static_cast<int>(number());
    } else if (arg == "--seed") {
      knobs.seed = static_cast<unsigned>(number());
    } else if (arg == "--no-baseline") {
      knobs.baseline = false;
    } else if (arg == "--keep") {
      knobs.keep = true;
    } else {
      std::fprintf(stderr,
                   "usage: hearing_soak [--benchmark_...] [--incoming N] [--senders N] [--known "
                   "N] [--outgoing N] [--drop-notices P] [--storage-slots N] [--bursts N] "
                   "[--incoming-gap S] [--outgoing-gap S] [--first-reference N] [--seed N] "
                   "[--no-baseline] [--keep]\n");
      return false;
    }
  }
  const bool sane = knobs.incoming >= 0 && knobs.senders >= 2 && knobs.known >= 0 &&
                    knobs.known < knobs.senders && knobs.outgoing >= 0 && knobs.dropNotices >= 0 &&
                    knobs.dropNotices <= 1 && knobs.storageSlots >= 1 &&
                    knobs.storageSlots <= 255 && knobs.bursts >= 0 && knobs.incomingGap > 0 &&
                    knobs.outgoingGap > 0 && knobs.firstReference >= 0 &&
                    knobs.firstReference <= 255;
  if (!sane) std::fprintf(stderr, "hearing_soak: a knob is out of its range\n");
  return sane;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!ReadKnobs(argc, argv)) return 2;
  benchmark::RegisterBenchmark("HearingSoak", HearingSoak)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
