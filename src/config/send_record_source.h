// What the send-record dialog sees of the plug-in: its latest messages, the modem's status and a
// test message. The plug-in object implements it beside Configuration, which is how the settings
// dialog finds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pagorin {

// A message as the dialog lists it. Texts are code page 936.
struct SendRecordRow {
  std::string time;    // when it was queued, "YYYY-MM-DD hh:mm:ss"
  std::string number;  // the destination
  std::string name;    // the phone-book description; may be empty
  std::string text;
  std::string state;   // waiting, sent, failed or refused, in Chinese
  std::string detail;  // the references when sent, else the reason; may be empty
};

// What the dialog shows and what its test button does; the plug-in provides it. Called on the
// dialog's thread only.
class SendRecordSource {
 public:
  // The latest messages, the waiting ones first, newest first; at most `limit`.
  virtual std::vector<SendRecordRow> RecentMessages(std::size_t limit) = 0;
  // The modem's status in one line.
  virtual std::string ModemStatusLine() = 0;
  // Queues the test text to phone-book entry `phoneIndex`. A handle for TestOutcome, or 0 when
  // the message was not queued; `outcome` then says why.
  virtual std::uint64_t SendTestMessage(int phoneIndex, std::string& outcome) = 0;
  // What became of test message `handle`: empty while it waits, else the text to show.
  virtual std::string TestOutcome(std::uint64_t handle) = 0;

 protected:
  ~SendRecordSource() = default;
};

}  // namespace pagorin
