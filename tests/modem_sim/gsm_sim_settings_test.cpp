// The simulator's command line parsed in-process: values as given, defaults filled in, and every
// malformed option refused with its reason before the modem starts.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim_settings.h"

namespace pagorin::sim {
namespace {

struct Parsed {
  Settings settings;
  std::optional<int> exit;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "gsm-modem-sim");
  Parsed parsed;
  std::ostringstream out;
  std::ostringstream err;
  parsed.exit =
      ParseSettings(static_cast<int>(args.size()), args.data(), parsed.settings, out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(GsmSimSettings, TakesGoodOptionSets) {
  struct Row {
    std::vector<const char*> args;
    bool (*holds)(const Settings&);
  } rows[] = {
      {{},
       [](const Settings& s) {
         return s.echo == "on" && s.seed == 1 && s.signal == 17 && s.link.empty() &&
                s.reportStatus == "0x00" && s.loopDelaySeconds == 5 &&
                BehaviourOf(s).fullNotice == "+CIEV: \"SMSFULL\",1" && BehaviourOf(s).simReady &&
                !BehaviourOf(s).badNoticeIndex;
       }},
      {{"--echo", "off", "--signal", "99", "--seed", "7", "--registration", "5"},
       [](const Settings& s) {
         return s.echo == "off" && s.signal == 99 && s.seed == 7 && s.registration == 5;
       }},
      {{"--error-window", "331@5+20", "--error-window", "42@0.5+1", "--error-codes", "42", "500"},
       [](const Settings& s) {
         return s.errorWindows == std::vector<std::string>{"331@5+20", "42@0.5+1"} &&
                s.errorCodes == std::vector<int>{42, 500};
       }},
      {{"--unplug", "30+10", "--port-file", "modem.port"},
       [](const Settings& s) { return s.link == "modem.port.tty"; }},
      {{"--unplug", "30+10", "--link", "usb0", "--port-file", "modem.port"},
       [](const Settings& s) { return s.link == "usb0"; }},
      {{"--incoming", "30@13800138000:0:ucs2:a:b", "--report-status", "0x00,0x41",
        "--report-status-to", "+8613800138000=43"},
       [](const Settings& s) { return s.incoming.size() == 1 && s.reportStatusTo.size() == 1; }},
      {{"--bad-notice-index", "0", "--full-notice", "smmemfull", "--no-sim"},
       [](const Settings& s) {
         const ModemBehaviour behaviour = BehaviourOf(s);
         return behaviour.badNoticeIndex == 0 && behaviour.fullNotice == "^SMMEMFULL: \"SM\"" &&
                !behaviour.simReady;
       }},
  };
  for (const Row& row : rows) {
    Parsed parsed = Parse(row.args);
    SCOPED_TRACE(row.args.empty() ? "(no options)" : row.args[0]);
    EXPECT_EQ(parsed.exit, std::nullopt) << parsed.err;
    EXPECT_EQ(parsed.err, "");
    EXPECT_TRUE(row.holds(parsed.settings));
  }
}

TEST(GsmSimSettings, RefusesBadOptionSets) {
  struct Row {
    std::vector<const char*> args;
    std::string reason;  // a piece of what stderr says
  } rows[] = {
      {{"--echo", "maybe"}, "--echo"},
      {{"--signal", "32"}, "--signal"},
      {{"--error-window", "331@5"}, "CODE@FROM+SECONDS"},
      {{"--error-window", "512@5+1"}, "CODE@FROM+SECONDS"},
      {{"--unplug", "-1+10"}, "FROM+SECONDS"},
      {{"--incoming", "30@13800138000:1:latin1:A"}, "AT@FROM:PARTS:CODING:TEXT"},
      {{"--incoming", "30@13800138000:1:gsm7:\xE6\xB3\xB5"}, "AT@FROM:PARTS:CODING:TEXT"},
      {{"--incoming", "30@:1:gsm7:A"}, "AT@FROM:PARTS:CODING:TEXT"},
      {{"--report-status", "0x100"}, "expected hex octets"},
      {{"--report-status", "0x00,"}, "expected hex octets"},
      {{"--report-status-to", "=0x41"}, "NUMBER=HEX"},
      {{"--no-such-option"}, "--no-such-option"},
      {{"--unplug", "30+10"}, "gsm-modem-sim: --unplug needs --link or --port-file\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0] + std::string(" ") + (row.args.size() > 1 ? row.args[1] : ""));
    Parsed parsed = Parse(row.args);
    ASSERT_TRUE(parsed.exit.has_value());
    EXPECT_NE(*parsed.exit, 0);
    EXPECT_NE(parsed.err.find(row.reason), std::string::npos) << parsed.err;
    EXPECT_EQ(parsed.out, "");
  }
}

TEST(GsmSimSettings, HelpEndsAtOnceWithTheOptions) {
  Parsed parsed = Parse({"--help"});
  EXPECT_EQ(parsed.exit, 0);
  EXPECT_NE(parsed.out.find("--clock-file"), std::string::npos);
  EXPECT_EQ(parsed.err, "");
}

}  // namespace
}  // namespace pagorin::sim
