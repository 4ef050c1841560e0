#include "at_interpreter.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "gsm_text.h"

namespace pagorin::sim {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEscape = 0x1B;
constexpr char kBackspace = 0x08;
constexpr char kDelete = 0x7F;
// A command line longer than this is refused as a whole when its CR arrives.
constexpr std::size_t kMaxLine = 1024;
// Room for the longest SMS-SUBMIT with a full service-centre address, in hex digits, and more.
constexpr std::size_t kMaxEntry = 1024;
// A TPDU of an SMS-SUBMIT has at least 7 octets and at most 164.
constexpr int kMinTpdu = 7;
constexpr int kMaxTpdu = 164;
constexpr int kInvalidPduParameter = 304;
constexpr int kInvalidTextParameter = 305;
constexpr int kSimNotInserted = 310;  // +CMS ERROR and +CME ERROR 10 alike
constexpr int kCmeSimNotInserted = 10;
constexpr int kNoNetworkService = 331;

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";
const std::string kPrompt = "\r\n> ";

std::string CmsError(int code) {
  return "\r\n+CMS ERROR: " + std::to_string(code) + "\r\n";
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Command lines ignore spaces and case, except between double quotes.
std::string Normalise(std::string_view body) {
  std::string out;
  bool quoted = false;
  for (char c : body) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == ' ') continue;
    out.push_back(quoted ? c : static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

constexpr int kOperationNotAllowed = 302;
constexpr int kInvalidMemoryIndex = 321;

// The numbers of "=1,2,,3" (an empty field is -1); empty when a field is no number.
std::optional<std::vector<int>> Numbers(std::string_view argument) {
  if (argument.empty() || argument[0] != '=') return std::nullopt;
  std::vector<int> out;
  std::string_view rest = argument.substr(1);
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view field = rest.substr(0, comma);
    if (field.empty()) {
      out.push_back(-1);
    } else if (field.size() > 1 && field[0] == '-' && IsDigits(field.substr(1)) &&
               field.size() <= 6) {
      out.push_back(-std::stoi(std::string(field.substr(1))));
    } else if (IsDigits(field) && field.size() <= 5) {
      out.push_back(std::stoi(std::string(field)));
    } else {
      return std::nullopt;
    }
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return out;
}

}  // namespace

const char* StorageEventName(StorageEvent::Kind kind) {
  switch (kind) {
    case StorageEvent::Kind::kStored:
      return "stored";
    case StorageEvent::Kind::kShown:
      return "shown";
    case StorageEvent::Kind::kRead:
      return "read";
    case StorageEvent::Kind::kDeleted:
      return "deleted";
    case StorageEvent::Kind::kFull:
      return "storage_full";
    case StorageEvent::Kind::kDiscarded:
      return "discarded";
    case StorageEvent::Kind::kNoticeDropped:
      return "notice_dropped";
  }
  return "?";
}

const std::vector<std::string>& DefaultUrcs() {
  static const std::vector<std::string> urcs = {
      "+CMTI: \"SM\",3",         "RING",      "+CREG: 1", "^RSSI: 17", "+CSQ: 17,99", "+CGREG: 1",
      "^BOOT:20952548,0,0,0,72", "NO CARRIER"};
  return urcs;
}

const std::vector<int>& DefaultErrorCodes() {
  static const std::vector<int> codes = {331, 332, 42, 314, 500};
  return codes;
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      out += "\\x";
      out.push_back(kDigits[byte >> 4u]);
      out.push_back(kDigits[byte & 0x0Fu]);
    }
  }
  return out;
}

AtInterpreter::AtInterpreter(ModemBehaviour behaviour)
    : behaviour_(std::move(behaviour)), random_(behaviour_.seed) {
  if (behaviour_.urcs.empty()) behaviour_.urcs = DefaultUrcs();
  if (behaviour_.errorCodes.empty()) behaviour_.errorCodes = DefaultErrorCodes();
  Reset();
  nextReference_ = behaviour_.firstReference & 0xFF;
  slots_.resize(static_cast<std::size_t>(std::max(behaviour_.storageSlots, 0)));
}

void AtInterpreter::Reset() {
  echo_ = behaviour_.echo;
  numeric_ = behaviour_.numericResults;
  quiet_ = behaviour_.quietResults;
  textMode_ = false;
  cmee_ = 0;
  cnmiMode_ = cnmiMt_ = cnmiDs_ = cnmiBfr_ = 0;
}

void AtInterpreter::PowerCycle() {
  Reset();
  if (state_ != State::kHungUp) state_ = State::kCommand;
  line_.clear();
  lineOverflow_ = false;
  entry_.clear();
  entryOverflow_ = false;
}

std::string AtInterpreter::NextUrc() {
  std::uniform_int_distribution<std::size_t> pick(0, behaviour_.urcs.size() - 1);
  return behaviour_.urcs[pick(random_)];
}

std::string AtInterpreter::Feed(std::string_view bytes) {
  std::string out;
  for (char byte : bytes) {
    switch (state_) {
      case State::kCommand:
        TakeCommandByte(byte, out);
        break;
      case State::kPduEntry:
      case State::kTextEntry:
        TakeEntryByte(byte, out);
        break;
      case State::kHungUp:
        return out;
    }
  }
  return out;
}

std::vector<AcceptedMessage> AtInterpreter::TakeMessages() {
  return std::exchange(messages_, {});
}

std::vector<AtInterpreter::Note> AtInterpreter::TakeNotes() {
  return std::exchange(notes_, {});
}

std::vector<StorageEvent> AtInterpreter::TakeStorageEvents() {
  return std::exchange(storageEvents_, {});
}

std::size_t AtInterpreter::StoredCount() const {
  return static_cast<std::size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.used; }));
}

std::string AtInterpreter::Notice(bool report, int index) {
  if (behaviour_.dropNotices > 0 &&
      std::uniform_real_distribution<double>(0.0, 1.0)(random_) < behaviour_.dropNotices) {
    storageEvents_.push_back({StorageEvent::Kind::kNoticeDropped, index, {}});
    return {};
  }
  int shown = behaviour_.badNoticeIndex.value_or(index);
  return Info(std::string(report ? "+CDSI" : "+CMTI") + ": \"SM\"," + std::to_string(shown));
}

std::string AtInterpreter::Deliver() {
  std::string out;
  while (!network_.empty()) {
    NetworkMessage& message = network_.front();
    const bool report = message.report;
    if (report && cnmiDs_ == 0) {
      // Nobody asked for reports: the modem does not keep them.
      storageEvents_.push_back({StorageEvent::Kind::kDiscarded, 0, std::move(message)});
      network_.pop_front();
      continue;
    }
    if (report ? cnmiDs_ == 1 : cnmiMt_ >= 2) {
      out += Info((report ? "+CDS: " : "+CMT: ,") + std::to_string(message.tpduLength));
      out += message.pduHex + "\r\n";
      storageEvents_.push_back({StorageEvent::Kind::kShown, 0, std::move(message)});
      network_.pop_front();
      continue;
    }
    auto free = std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.used; });
    if (free == slots_.end()) {
      // The message stays with the network until a slot is freed.
      if (!fullNoticeSent_) {
        fullNoticeSent_ = true;
        out += Info(behaviour_.fullNotice);
        storageEvents_.push_back({StorageEvent::Kind::kFull, 0, {}});
      }
      break;
    }
    int index = static_cast<int>(free - slots_.begin()) + 1;
    free->used = true;
    free->stat = 0;
    free->message = std::move(message);
    network_.pop_front();
    storageEvents_.push_back({StorageEvent::Kind::kStored, index, free->message});
    if (report || cnmiMt_ == 1) out += Notice(report, index);
    if (StoredCount() == slots_.size() && !fullNoticeSent_) {
      fullNoticeSent_ = true;
      out += Info(behaviour_.fullNotice);
      storageEvents_.push_back({StorageEvent::Kind::kFull, 0, {}});
    }
  }
  return out;
}

void AtInterpreter::TakeCommandByte(char byte, std::string& out) {
  if (echo_) out.push_back(byte);
  if (byte == '\r') {
    RunCommandLine(out);
    return;
  }
  if (byte == '\n') return;
  if (byte == kBackspace || byte == kDelete) {
    if (!line_.empty()) line_.pop_back();
    return;
  }
  if (line_.size() < kMaxLine) {
    line_.push_back(byte);
  } else {
    lineOverflow_ = true;
  }
}

void AtInterpreter::RunCommandLine(std::string& out) {
  std::string line = std::exchange(line_, {});
  bool overflow = std::exchange(lineOverflow_, false);
  // Whatever precedes the "AT" prefix is noise on the line; a line without it gets no answer.
  std::size_t start = std::string::npos;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if ((line[i] == 'A' || line[i] == 'a') && (line[i + 1] == 'T' || line[i + 1] == 't')) {
      start = i;
      break;
    }
  }
  if (start == std::string::npos) return;
  ++commandCount_;
  std::string body = line.substr(start + 2);
  // The line's own result is sent as the settings it made say (ATV0 answers "0\r").
  std::string result = overflow ? kError : RunCommands(Normalise(body), out);
  if (result != kPrompt) result = Final(result);
  out += result;
  if ((result == Final(kOk) && !quiet_ && behaviour_.urcAfterOk) ||
      (result == kPrompt && behaviour_.urcAfterPrompt)) {
    out += Info(NextUrc());
  }
  notes_.push_back({Note::Kind::kCommand, Escaped(line.substr(start)) + " -> " + Escaped(result)});
  if (behaviour_.hangupAfter > 0 && commandCount_ == behaviour_.hangupAfter) {
    state_ = State::kHungUp;
    notes_.push_back(
        {Note::Kind::kEvent, "hanging up after command " + std::to_string(commandCount_)});
  }
}

std::string AtInterpreter::RunCommands(std::string_view body, std::string& out) {
  std::size_t pos = 0;
  while (pos < body.size()) {
    char c = body[pos];
    if (c == ';') {
      ++pos;
      continue;
    }
    if (c == '+') {
      std::size_t nameEnd = pos + 1;
      while (nameEnd < body.size() && std::isalnum(static_cast<unsigned char>(body[nameEnd]))) {
        ++nameEnd;
      }
      std::size_t end = nameEnd;
      bool quoted = false;
      while (end < body.size() && (quoted || body[end] != ';')) {
        if (body[end] == '"') quoted = !quoted;
        ++end;
      }
      std::string result = RunExtended(body.substr(pos + 1, nameEnd - pos - 1),
                                       body.substr(nameEnd, end - nameEnd), out);
      if (!result.empty()) return result;  // an error ends the line, a prompt starts the text
      pos = end;
      continue;
    }
    // A basic command: one letter (or & and a letter) and an optional number.
    std::string name(1, c);
    ++pos;
    if (c == '&' && pos < body.size()) name.push_back(body[pos++]);
    std::size_t numberStart = pos;
    while (pos < body.size() && body[pos] >= '0' && body[pos] <= '9')
      ++pos;
    std::string_view number = body.substr(numberStart, pos - numberStart);
    int value = number.empty() ? 0 : (number.size() > 3 ? 1000 : std::stoi(std::string(number)));
    if (name == "E" && value <= 1) {
      echo_ = value == 1;
    } else if ((name == "Z" || name == "&F") && value == 0) {
      Reset();
    } else if (name == "I") {
      out += Info("gsm-modem-sim");
    } else if (name == "V" && value <= 1) {
      numeric_ = value == 0;
    } else if (name == "Q" && value <= 1) {
      quiet_ = value == 1;
    } else {
      return kError;
    }
  }
  return kOk;
}

std::string AtInterpreter::RunExtended(std::string_view name, std::string_view argument,
                                       std::string& out) {
  if (name == "CMGF") {
    if (argument == "?") {
      out += Info(textMode_ ? "+CMGF: 1" : "+CMGF: 0");
      return {};
    }
    if (argument == "=?") {
      out += Info("+CMGF: (0,1)");
      return {};
    }
    if (argument == "=0" || argument == "=1" || argument == "=") {
      textMode_ = argument == "=1";
      return {};
    }
    return kError;
  }
  if (name == "CMEE") {
    if (argument == "?") {
      out += Info("+CMEE: " + std::to_string(cmee_));
      return {};
    }
    if (argument == "=?") {
      out += Info("+CMEE: (0-2)");
      return {};
    }
    if (argument == "=0" || argument == "=1" || argument == "=2" || argument == "=") {
      cmee_ = argument == "=" ? 0 : argument[1] - '0';
      return {};
    }
    return kError;
  }
  if (name == "CPIN" || name == "CREG" || name == "CGREG" || name == "CSQ") {
    return HealthQuery(name, argument, out);
  }
  if (name == "CPMS" || name == "CMGR" || name == "CMGL" || name == "CMGD") {
    return Storage(name, argument, out);
  }
  if (name == "CNMI") return Indications(argument, out);
  if (name == "CMGS") {
    if (argument == "=?") return {};
    if (argument.size() < 2 || argument[0] != '=') return kError;
    return StartSend(argument.substr(1));
  }
  return kError;
}

std::string AtInterpreter::Indications(std::string_view argument, std::string& out) {
  if (argument == "?") {
    out += Info("+CNMI: " + std::to_string(cnmiMode_) + "," + std::to_string(cnmiMt_) + ",0," +
                std::to_string(cnmiDs_) + "," + std::to_string(cnmiBfr_));
    return {};
  }
  if (argument == "=?") {
    out += Info("+CNMI: (0-3),(0-3),(0),(0-2),(0,1)");
    return {};
  }
  auto values = Numbers(argument);
  if (!values || values->size() > 5) return CmsError(kOperationNotAllowed);
  std::vector<int> v = *values;
  v.resize(5, -1);
  // An empty field keeps its setting.
  auto take = [](int value, int high, int& into) {
    if (value > high || value < -1) return false;
    if (value >= 0) into = value;
    return true;
  };
  int mode = cnmiMode_, mt = cnmiMt_, bm = 0, ds = cnmiDs_, bfr = cnmiBfr_;
  if (!take(v[0], 3, mode) || !take(v[1], 3, mt) || !take(v[2], 0, bm) || !take(v[3], 2, ds) ||
      !take(v[4], 1, bfr)) {
    return CmsError(kOperationNotAllowed);
  }
  cnmiMode_ = mode;
  cnmiMt_ = mt;
  cnmiDs_ = ds;
  cnmiBfr_ = bfr;
  return {};
}

void AtInterpreter::List(int stat, std::string& out) {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = slots_[i];
    if (!slot.used || (stat != 4 && slot.stat != stat)) continue;
    out += Info("+CMGL: " + std::to_string(i + 1) + "," + std::to_string(slot.stat) + ",," +
                std::to_string(slot.message.tpduLength));
    out += slot.message.pduHex + "\r\n";
    slot.stat = 1;
    storageEvents_.push_back({StorageEvent::Kind::kRead, static_cast<int>(i + 1), slot.message});
  }
}

std::string AtInterpreter::Storage(std::string_view name, std::string_view argument,
                                   std::string& out) {
  const int total = static_cast<int>(slots_.size());
  const std::string counts = std::to_string(StoredCount()) + "," + std::to_string(total);
  if (name == "CPMS") {
    if (argument == "?") {
      out += Info("+CPMS: \"SM\"," + counts + ",\"SM\"," + counts + ",\"SM\"," + counts);
      return {};
    }
    if (argument == "=?") {
      out += Info("+CPMS: (\"SM\"),(\"SM\"),(\"SM\")");
      return {};
    }
    // Only the SIM's storage is there, for reading, writing and receiving alike.
    if (argument != "=\"SM\"" && argument != "=\"SM\",\"SM\"" &&
        argument != "=\"SM\",\"SM\",\"SM\"") {
      return CmsError(kOperationNotAllowed);
    }
    out += Info("+CPMS: " + counts + "," + counts + "," + counts);
    return {};
  }
  if (argument == "=?") {
    if (name == "CMGL") out += Info("+CMGL: (0-4)");
    if (name == "CMGD") out += Info("+CMGD: (1-" + std::to_string(total) + "),(0-4)");
    return {};
  }
  // Stored messages are shown in PDU mode only.
  if (textMode_) return CmsError(kOperationNotAllowed);
  if (name == "CMGL") {
    auto values =
        argument.empty() ? std::optional<std::vector<int>>(std::vector<int>{0}) : Numbers(argument);
    if (!values || values->size() != 1 || (*values)[0] < 0 || (*values)[0] > 4) {
      return CmsError(kOperationNotAllowed);
    }
    List((*values)[0], out);
    return {};
  }
  auto values = Numbers(argument);
  if (!values || values->empty() || values->size() > (name == "CMGD" ? 2u : 1u)) {
    return CmsError(kOperationNotAllowed);
  }
  int index = (*values)[0];
  int flag = values->size() == 2 ? (*values)[1] : 0;
  if (flag < 0 || flag > 4) return CmsError(kOperationNotAllowed);
  if (flag == 0 && (index < 1 || index > total)) return CmsError(kInvalidMemoryIndex);
  if (name == "CMGR") {
    Slot& slot = slots_[static_cast<std::size_t>(index - 1)];
    if (!slot.used) return CmsError(kInvalidMemoryIndex);
    out += Info("+CMGR: " + std::to_string(slot.stat) + ",," +
                std::to_string(slot.message.tpduLength));
    out += slot.message.pduHex + "\r\n";
    slot.stat = 1;
    storageEvents_.push_back({StorageEvent::Kind::kRead, index, slot.message});
    return {};
  }
  // AT+CMGD: flag 0 the index alone, 1 to 3 every read message (nothing here is sent or
  // unsent), 4 every message.
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& slot = slots_[i];
    bool hit = flag == 0 ? static_cast<int>(i + 1) == index : flag == 4 || slot.stat == 1;
    if (!hit || !slot.used) continue;
    storageEvents_.push_back(
        {StorageEvent::Kind::kDeleted, static_cast<int>(i + 1), std::move(slot.message)});
    slot = Slot{};
    fullNoticeSent_ = false;
  }
  return {};
}

std::string AtInterpreter::CmeError(int code) const {
  if (cmee_ == 0) return kError;
  if (cmee_ == 2 && code == kCmeSimNotInserted) return "\r\n+CME ERROR: SIM not inserted\r\n";
  return "\r\n+CME ERROR: " + std::to_string(code) + "\r\n";
}

std::string AtInterpreter::Final(const std::string& verbose) const {
  if (quiet_) return {};
  if (!numeric_) return verbose;
  if (verbose == kOk) return "0\r";
  if (verbose == kError) return "4\r";
  // Extended errors have no number of their own: their text, framed as a numeric result.
  std::string text = verbose;
  if (text.starts_with("\r\n")) text.erase(0, 2);
  if (text.ends_with("\r\n")) text.pop_back();
  return text;
}

std::string AtInterpreter::Info(std::string_view text) const {
  return numeric_ ? std::string(text) + "\r\n" : "\r\n" + std::string(text) + "\r\n";
}

std::string AtInterpreter::HealthQuery(std::string_view name, std::string_view argument,
                                       std::string& out) {
  if (name == "CPIN") {
    if (argument != "?") return kError;
    if (!behaviour_.simReady) return CmeError(kCmeSimNotInserted);
    out += Info("+CPIN: READY");
    return {};
  }
  if (name == "CSQ") {
    if (argument == "=?") {
      out += Info("+CSQ: (0-31,99),(0-7,99)");
      return {};
    }
    if (!argument.empty()) return kError;
    int rssi = outage_ == kNoNetworkService ? 99 : behaviour_.signal;
    out += Info("+CSQ: " + std::to_string(rssi) + ",99");
    return {};
  }
  // +CREG and +CGREG: the report mode is taken and ignored; the query answers mode 0.
  if (argument == "?") {
    int stat = !behaviour_.simReady           ? 0
               : outage_ == kNoNetworkService ? 2
                                              : behaviour_.registration;
    out += Info("+" + std::string(name) + ": 0," + std::to_string(stat));
    return {};
  }
  if (argument == "=0" || argument == "=1" || argument == "=2" || argument == "=") return {};
  return kError;
}

std::string AtInterpreter::StartSend(std::string_view argument) {
  entry_.clear();
  entryOverflow_ = false;
  if (textMode_) {
    // Text mode: a quoted destination and an optional type of address.
    std::size_t close = argument.find('"', 1);
    if (argument[0] != '"' || close == std::string_view::npos) {
      notes_.push_back({Note::Kind::kEvent, "text mode send without a quoted destination"});
      return CmsError(kInvalidTextParameter);
    }
    std::string_view rest = argument.substr(close + 1);
    if (!rest.empty() && (rest[0] != ',' || !IsDigits(rest.substr(1)))) {
      return CmsError(kInvalidTextParameter);
    }
    textDestination_ = std::string(argument.substr(1, close - 1));
    state_ = State::kTextEntry;
    return kPrompt;
  }
  if (!IsDigits(argument)) {
    notes_.push_back({Note::Kind::kEvent, "PDU mode send without a numeric length"});
    return argument[0] == '"' ? CmsError(kInvalidPduParameter) : kError;
  }
  int length = argument.size() > 3 ? kMaxTpdu + 1 : std::stoi(std::string(argument));
  if (length < kMinTpdu || length > kMaxTpdu) {
    notes_.push_back({Note::Kind::kEvent, "PDU length " + std::string(argument) + " out of range"});
    return CmsError(kInvalidPduParameter);
  }
  announcedLength_ = length;
  state_ = State::kPduEntry;
  return kPrompt;
}

void AtInterpreter::TakeEntryByte(char byte, std::string& out) {
  if (byte == kCtrlZ) {
    FinishSend(out);
    return;
  }
  if (byte == kEscape) {
    state_ = State::kCommand;
    entry_.clear();
    notes_.push_back({Note::Kind::kEvent, "send cancelled with ESC"});
    out += Final(kOk);
    return;
  }
  if (byte == '\r' && state_ == State::kTextEntry) {
    // A new line of the message text gets a new prompt.
    entry_.push_back('\n');
    out += kPrompt;
    return;
  }
  if (echo_) out.push_back(byte);
  if (byte == '\r') return;  // line ends inside a PDU are ignored
  if (byte == '\n') return;
  if (byte == kBackspace && !entry_.empty()) {
    entry_.pop_back();
    return;
  }
  if (entry_.size() < kMaxEntry) {
    entry_.push_back(byte);
  } else {
    entryOverflow_ = true;
  }
}

void AtInterpreter::FinishSend(std::string& out) {
  bool textMode = state_ == State::kTextEntry;
  state_ = State::kCommand;
  std::string entry = std::exchange(entry_, {});
  AcceptedMessage message;
  message.textMode = textMode;
  if (textMode) {
    message.pdu.destination = textDestination_;
    message.pdu.text =
        IsValidUtf8(entry)
            ? entry
            : Latin1ToUtf8(reinterpret_cast<const std::uint8_t*>(entry.data()), entry.size());
    message.pdu.validity.text = "default";
  } else {
    message.pduHex = entry;
    if (entryOverflow_) {
      notes_.push_back({Note::Kind::kEvent,
                        "PDU refused: more than " + std::to_string(kMaxEntry) + " characters"});
      out += Final(CmsError(kInvalidPduParameter));
      return;
    }
    DecodeResult decoded = DecodeSubmitPdu(entry, announcedLength_);
    if (!decoded.pdu) {
      notes_.push_back({Note::Kind::kEvent, "PDU refused: " + decoded.reason});
      out += Final(CmsError(decoded.cmsError));
      return;
    }
    message.pdu = std::move(*decoded.pdu);
  }
  ++submitCount_;
  int refusal = !behaviour_.simReady ? kSimNotInserted : outage_;
  if (refusal == 0 && behaviour_.errorRate > 0 &&
      std::uniform_real_distribution<double>(0.0, 1.0)(random_) < behaviour_.errorRate) {
    std::uniform_int_distribution<std::size_t> pick(0, behaviour_.errorCodes.size() - 1);
    refusal = behaviour_.errorCodes[pick(random_)];
  }
  if (refusal != 0) {
    notes_.push_back({Note::Kind::kEvent, "message " + std::to_string(submitCount_) +
                                              " refused with " + std::to_string(refusal) +
                                              (outage_ != 0 ? " (error window)" : "")});
    out += Final(CmsError(refusal));
    return;
  }
  if (submitCount_ == behaviour_.failMessage) {
    notes_.push_back({Note::Kind::kEvent, "message " + std::to_string(submitCount_) +
                                              " answered with the injected error " +
                                              std::to_string(behaviour_.failCode)});
    out += Final(CmsError(behaviour_.failCode));
    return;
  }
  message.reference = nextReference_;
  nextReference_ = (nextReference_ + 1) & 0xFF;
  ++acceptedCount_;
  out += Info("+CMGS: " + std::to_string(message.reference));
  if (!behaviour_.dropFinalOk) {
    out += Final(kOk);
    if (behaviour_.urcAfterOk && !quiet_) out += Info(NextUrc());
  }
  if (!behaviour_.unsolicited.empty()) out += Info(behaviour_.unsolicited);
  messages_.push_back(std::move(message));
}

}  // namespace pagorin::sim
