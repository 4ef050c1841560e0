#include "phone_inbox.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "gsm_text.h"

namespace pagorin::sim {
namespace {

ShownMessage ShowSingle(const AcceptedMessage& message) {
  ShownMessage shown;
  shown.destination = message.pdu.destination;
  shown.text = message.pdu.text;
  shown.alphabet = message.textMode ? "text" : AlphabetName(message.pdu.alphabet);
  shown.validity = message.pdu.validity.text;
  shown.references.push_back(message.reference);
  return shown;
}

}  // namespace

std::vector<ShownMessage> PhoneInbox::Take(const AcceptedMessage& message) {
  std::vector<ShownMessage> shown;
  const auto& concatenation = message.pdu.concatenation;
  if (message.textMode || !concatenation || concatenation->total < 2) {
    shown.push_back(ShowSingle(message));
    return shown;
  }
  // A phone tells the messages apart by sender, reference and part count; the destination stands
  // for the sender here, since the simulator is the network for every phone at once.
  auto same = [&](const Waiting& w) {
    return w.destination == message.pdu.destination && w.reference == concatenation->reference &&
           w.sixteenBit == concatenation->sixteenBitReference &&
           w.parts.size() == concatenation->total;
  };
  auto it = std::find_if(waiting_.begin(), waiting_.end(), same);
  if (it == waiting_.end()) {
    if (waiting_.size() >= kMaxWaiting) {
      shown.push_back(Join(waiting_.front()));
      waiting_.pop_front();
    }
    Waiting fresh;
    fresh.destination = message.pdu.destination;
    fresh.reference = concatenation->reference;
    fresh.sixteenBit = concatenation->sixteenBitReference;
    fresh.parts.resize(concatenation->total);
    fresh.present.assign(concatenation->total, false);
    waiting_.push_back(std::move(fresh));
    it = waiting_.end() - 1;
  }
  std::size_t index = concatenation->sequence - 1u;
  // A part sent twice (a sender that repeats after a lost reply) is shown once.
  if (!it->present[index]) {
    it->parts[index] = message;
    it->present[index] = true;
  }
  if (std::all_of(it->present.begin(), it->present.end(), [](bool p) { return p; })) {
    shown.push_back(Join(*it));
    waiting_.erase(it);
  }
  return shown;
}

std::vector<ShownMessage> PhoneInbox::TakeIncomplete() {
  std::vector<ShownMessage> shown;
  for (const Waiting& waiting : waiting_)
    shown.push_back(Join(waiting));
  waiting_.clear();
  return shown;
}

ShownMessage PhoneInbox::Join(const Waiting& waiting) {
  ShownMessage shown;
  shown.destination = waiting.destination;
  shown.parts = static_cast<int>(waiting.parts.size());
  shown.received = 0;
  shown.concatReference = waiting.reference;
  // The phone joins the parts' user data before decoding it, so that a character whose units
  // the sender put in two parts (an escape pair, a surrogate pair) still comes out whole.
  std::vector<std::uint8_t> joined;
  bool sameAlphabet = true;
  const SubmitPdu* first = nullptr;
  for (std::size_t i = 0; i < waiting.parts.size(); ++i) {
    if (!waiting.present[i]) continue;
    const AcceptedMessage& part = waiting.parts[i];
    ++shown.received;
    shown.references.push_back(part.reference);
    if (first == nullptr) {
      first = &part.pdu;
    } else if (part.pdu.alphabet != first->alphabet || part.pdu.compressed) {
      sameAlphabet = false;
    }
    joined.insert(joined.end(), part.pdu.body.begin(), part.pdu.body.end());
  }
  if (first == nullptr) return shown;
  shown.alphabet = AlphabetName(first->alphabet);
  shown.validity = first->validity.text;
  if (!sameAlphabet || first->compressed) {
    for (std::size_t i = 0; i < waiting.parts.size(); ++i) {
      if (waiting.present[i]) shown.text += waiting.parts[i].pdu.text;
    }
    return shown;
  }
  switch (first->alphabet) {
    case Alphabet::kGsm7:
      shown.text = GsmSeptetsToUtf8(joined);
      break;
    case Alphabet::kEightBit:
      shown.text = Latin1ToUtf8(joined.data(), joined.size());
      break;
    case Alphabet::kUcs2:
      shown.text = Utf16BeToUtf8(joined.data(), joined.size());
      break;
  }
  return shown;
}

std::string FormatShownLogLine(const ShownMessage& message, std::string_view timestamp) {
  nlohmann::ordered_json line;
  line["time"] = timestamp;
  line["number"] = message.destination;
  line["text"] = message.text;
  line["alphabet"] = message.alphabet;
  line["validity"] = message.validity;
  line["joined"] = true;
  line["parts"] = message.parts;
  line["received"] = message.received;
  line["concat_reference"] = message.concatReference;
  line["references"] = message.references;
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string FormatShownSummary(const ShownMessage& message) {
  std::string line =
      "SMS to " + message.destination + ": " + message.text + " (" + message.alphabet + ", ";
  if (message.Complete()) {
    line += std::to_string(message.parts) + " parts joined";
  } else {
    line += "incomplete: " + std::to_string(message.received) + " of " +
            std::to_string(message.parts) + " parts";
  }
  if (!message.validity.empty() && message.validity != "none") {
    line += ", valid " + message.validity;
  }
  line += ", refs ";
  for (std::size_t i = 0; i < message.references.size(); ++i) {
    if (i > 0) line += ",";
    line += std::to_string(message.references[i]);
  }
  return line + ")";
}

}  // namespace pagorin::sim
