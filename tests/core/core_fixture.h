// What the plug-in core's tests share: alarm records made to order, and a plug-in object over a
// recording host with a manual clock and a modem peer on a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/plugin_object.h"
#include "platform/code_page.h"
#include "platform/tick.h"
#include "support/core_modem_peer.h"
#include "support/recording_host.h"

namespace pagorin::testing {

// Code page 936 bytes of a UTF-8 literal.
inline std::string Cp(std::string_view utf8) {
  return platform::Utf8ToCp936(utf8);
}

inline AlarmEvent MakeEvent(std::int32_t id, std::string_view tag, int kind = 2, int level = 3,
                            int ackState = 0, float value = 0.0f, float limit = 0.0f,
                            int subId = 0) {
  AlarmEvent event;
  std::memset(&event, 0, sizeof event);
  event.eventId = id;
  std::memcpy(event.tagName, tag.data(), std::min(tag.size(), sizeof event.tagName));
  event.kind = static_cast<std::uint8_t>(kind);
  event.level = static_cast<std::uint8_t>(level);
  event.ackState = static_cast<std::uint8_t>(ackState);
  event.eventSubId = static_cast<std::uint8_t>(subId);
  event.value = value;
  event.limit = limit;
  return event;
}

// A rule over `varName` with the defaults of a new rule and the given phone-book indexes.
inline std::unique_ptr<AlarmRule> MakeRule(std::string varName, std::vector<int> telPlace,
                                           std::string desc = {}) {
  auto rule = std::make_unique<AlarmRule>();
  rule->VarName = std::move(varName);
  rule->TelPlace = std::move(telPlace);
  rule->Desc = std::move(desc);
  return rule;
}

class PluginTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kStartTick = 100000;

  PluginTest() : plugin(std::make_unique<PluginObject>(host)) {}

  void AddPhone(std::string number, std::string desc = {}) {
    auto entry = std::make_unique<PhoneEntry>();
    entry->TelNum = std::move(number);
    entry->Desc = std::move(desc);
    plugin->phoneBook.push_back(std::move(entry));
  }

  // Starts the plug-in in run mode with its port on a pseudo-terminal of the test.
  void StartRunning() {
    host.runMode = 1;
    peer = std::make_unique<CoreModemPeer>(plugin->Com + 1);
    EXPECT_EQ(plugin->Start(0), 1);
    ASSERT_NE(plugin->modemOpen, 0);
  }

  // The host's answer to a request that is pending (the request itself is not made here).
  void Answer(const std::vector<AlarmEvent>& events) {
    plugin->requestPending = 1;
    plugin->OnRequestResult(0, static_cast<std::int16_t>(events.size()), 0, 0, 0, events.data());
  }

  // Lets the modem send `count` messages, then lets it take the last final reply, so that the
  // queue holds only what is left.
  std::vector<DeliveredMessage> Deliver(std::size_t count) {
    std::vector<DeliveredMessage> delivered = peer->Deliver([this] { HostTick(); }, count);
    std::size_t left = Queued() > 0 ? Queued() - 1 : 0;
    peer->TickUntil([this] { HostTick(); }, [this, left] { return Queued() <= left; });
    return delivered;
  }

  // One call of the host's tick; the module's clock moves on a little with each, so that the
  // modem's short waits (after an ESC) pass.
  void HostTick() {
    ticks.Advance(50);
    plugin->OnTick();
  }

  std::size_t Queued() const { return plugin->outbox.waitingCount(); }

  platform::ManualTicks ticks{kStartTick};
  RecordingHost host;
  std::unique_ptr<CoreModemPeer> peer;
  std::unique_ptr<PluginObject> plugin;
};

}  // namespace pagorin::testing
