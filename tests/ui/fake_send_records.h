// A send record made to order: the dialog tests and the dialog pictures fill it with rows, a
// status line and the outcome a test message will have.
#pragma once

#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/send_record_source.h"

namespace pagorin::testing {

// A configuration that has a send record, as the plug-in object does.
class ConfigurationWithRecords final : public Configuration, public SendRecordSource {
 public:
  std::vector<SendRecordRow> RecentMessages(std::size_t limit) override {
    ++refreshes;
    std::vector<SendRecordRow> shown = rows;
    if (shown.size() > limit) shown.resize(limit);
    return shown;
  }
  std::string ModemStatusLine() override { return status; }
  std::uint64_t SendTestMessage(int phoneIndex, std::string& outcome) override {
    testPhones.push_back(phoneIndex);
    if (refusal.empty()) return 7;
    outcome = refusal;
    return 0;
  }
  std::string TestOutcome(std::uint64_t handle) override {
    return handle == 7 ? testOutcome : std::string();
  }

  std::vector<SendRecordRow> rows;
  std::string status;
  std::string refusal;      // set: the test message is refused with this text
  std::string testOutcome;  // empty while the test message waits
  std::vector<int> testPhones;
  int refreshes = 0;
};

}  // namespace pagorin::testing
