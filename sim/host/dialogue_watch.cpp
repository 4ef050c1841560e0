#include "dialogue_watch.h"

#include <cstdio>
#include <cstdlib>

#include "submit_pdu.h"

namespace pagorin::sim {

void DialogueWatch::Transcript(const TranscriptLine& line, std::uint64_t nowMs) {
  lastActivityMs_ = nowMs;
  if (line.fromPlugin) {
    ++counts_.commands;
    // Each attempt at a message (or at one of its parts) starts with AT+CMGS; the plug-in gives
    // up on an attempt with an ESC, which may lead the next command in the same write, and tries
    // the message again later.
    const bool escape = line.text.rfind("<ESC>", 0) == 0;
    const std::string command = escape ? line.text.substr(5) : line.text;
    const bool sendCommand = command.rfind("AT+CMGS", 0) == 0;
    if ((sendCommand || escape) && dialogueOpen_) FailAttempt();
    if (sendCommand) {
      dialogueOpen_ = true;
      pduWritten_ = false;
    }
    if (command.rfind("AT+CMGS=", 0) == 0) {
      announcedOctets_ = std::atoi(command.c_str() + 8);
      havePiece_ = false;
    }
    const bool pdu = line.text.find("<Ctrl-Z>") != std::string::npos;
    if (pdu) pduWritten_ = true;
    lastCommandMs_ = nowMs;
    lastCommandText_ = line.text;
    log_.Emit("at", {{"dir", "tx"}, {"text", line.text}}, "  AT >> " + line.text);
    if (pdu) ReadPdu(line.text);
  } else {
    // +CMGS: <mr> is the network's word that the message went; a bare OK says the same.
    if (dialogueOpen_ && pduWritten_ &&
        (line.text.find("+CMGS:") != std::string::npos ||
         line.text.find("OK") != std::string::npos)) {
      dialogueOpen_ = false;
      pduWritten_ = false;
      failedAttempts_ = 0;
      ++counts_.sent;
      if (havePiece_) sent_.push_back(piece_);
      havePiece_ = false;
    } else if (dialogueOpen_ && (line.text.find("ERROR") != std::string::npos)) {
      // A refusal (+CMS ERROR, +CME ERROR, ERROR) ends the attempt at once.
      FailAttempt();
    }
    // A modem with echo on repeats each command before it answers; the repeat says nothing new.
    std::string command = lastCommandText_;
    if (!command.empty() && command.size() >= 8 &&
        command.compare(command.size() - 8, 8, "<Ctrl-Z>") == 0) {
      command.resize(command.size() - 8);
    }
    bool echo = !command.empty() && line.text == command;
    log_.Emit("at", {{"dir", "rx"}, {"text", line.text}, {"echo", echo}},
              echo ? "  AT << (echo)" : "  AT << " + line.text);
  }
}

void DialogueWatch::FailAttempt() {
  ++counts_.timeouts;
  ++failedAttempts_;
  log_.Emit("timeout", {{"count", failedAttempts_}},
            "  no usable reply (time-out or refusal): attempt " + std::to_string(failedAttempts_) +
                " failed, the message is tried again later");
  dialogueOpen_ = false;
  pduWritten_ = false;
}

void DialogueWatch::ReadPdu(const std::string& line) {
  havePiece_ = false;
  const std::string hex = line.substr(0, line.find('<'));
  DecodeResult decoded = DecodeSubmitPdu(hex, announcedOctets_);
  if (!decoded.pdu) {
    log_.Emit("warning", {{"text", "unreadable PDU: " + decoded.reason}},
              "  warning: the modem cannot read this PDU: " + decoded.reason);
    return;
  }
  const SubmitPdu& pdu = *decoded.pdu;
  piece_ = SentPiece{pdu.destination, pdu.text, 0, 0};
  if (pdu.concatenation) {
    piece_.part = pdu.concatenation->sequence;
    piece_.parts = pdu.concatenation->total;
  }
  havePiece_ = true;
  ++counts_.pieces;
  nlohmann::json fields = {
      {"number", piece_.number}, {"text", piece_.text}, {"alphabet", AlphabetName(pdu.alphabet)}};
  std::string part;
  if (piece_.parts > 0) {
    fields["part"] = piece_.part;
    fields["parts"] = piece_.parts;
    part = " (part " + std::to_string(piece_.part) + "/" + std::to_string(piece_.parts) + ")";
  }
  log_.Emit("piece", fields, "  piece for " + piece_.number + part + ": " + piece_.text);
}

void DialogueWatch::Delivered(const std::string& jsonLine, std::uint64_t nowMs) {
  lastActivityMs_ = nowMs;
  nlohmann::json message = nlohmann::json::parse(jsonLine, nullptr, false);
  if (message.is_discarded() || !message.is_object()) {
    log_.Emit("modem_log", {{"line", jsonLine}}, "  modem: " + jsonLine);
    return;
  }
  if (message.contains("event")) {
    Stored(message);
    return;
  }
  ++counts_.delivered;
  std::string number = message.value("number", message.value("destination", std::string()));
  std::string text = message.value("text", std::string());
  std::string part;
  if (message.contains("part") && message.contains("parts")) {
    part = " (part " + message["part"].dump() + "/" + message["parts"].dump() + ")";
  }
  // A concatenated message is logged part by part, then once more joined as the phone shows it.
  if (!message.contains("part") || message.value("joined", false)) shown_.push_back({number, text});
  nlohmann::json fields = message;
  fields["number"] = number;
  log_.Emit("delivered", fields, "PHONE " + number + " receives" + part + ": " + text);
}

void DialogueWatch::Stored(const nlohmann::json& line) {
  const std::string event = line.value("event", std::string());
  const std::string kind = line.value("kind", std::string());
  std::string where;
  if (line.contains("index")) where = " at SM " + line["index"].dump();
  // The modem's word for what happened goes under "storage": "event" names the simulator's own.
  nlohmann::json fields = line;
  fields.erase("event");
  fields["storage"] = event;
  if (kind == "incoming" && (event == "stored" || event == "shown")) {
    ++counts_.replies;
    std::string part;
    if (line.contains("part") && line.contains("parts")) {
      part = " (part " + line["part"].dump() + "/" + line["parts"].dump() + ")";
    } else {
      // A message on its own: one part of one, so that every reply reads the same.
      fields["part"] = 1;
      fields["parts"] = 1;
    }
    log_.Emit("phone_reply", fields,
              "PHONE " + line.value("from", std::string()) + " replied" + part + ": " +
                  line.value("text", std::string()) + " (" + event + where + ")");
    return;
  }
  if (kind == "report" && (event == "stored" || event == "shown" || event == "discarded")) {
    ++counts_.reports;
    char status[8];
    std::snprintf(status, sizeof status, "0x%02X", line.value("status", 0) & 0xFF);
    log_.Emit("status_report", fields,
              "REPORT on ref " + std::to_string(line.value("reference", 0)) + " to " +
                  line.value("recipient", std::string()) + ": status " + status + " (" + event +
                  where + ")");
    return;
  }
  log_.Emit("modem_storage", fields, "  modem storage: " + event + where);
}

void DialogueWatch::Close(std::uint64_t nowMs) {
  // The plug-in keeps a message until it is sent or its maximum age has passed; an attempt still
  // open at the end is only counted as unanswered.
  const std::uint64_t replyWindowMs = pduWritten_ ? 60000 : 10000;
  if (dialogueOpen_ && nowMs - lastCommandMs_ >= replyWindowMs) {
    ++counts_.timeouts;
    dialogueOpen_ = false;
  }
}

}  // namespace pagorin::sim
