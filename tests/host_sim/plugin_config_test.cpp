#include "plugin_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

#include "config/configuration.h"
#include "config/stored_attributes.h"
#include "platform/code_page.h"
#include "support/temp_dir.h"

namespace pagorin::sim {
namespace {

std::string Cp(const char* utf8) {
  return platform::Utf8ToCp936(utf8);
}

AlarmEvent Event(const char* tag, int kind, int level, int state, float value = 12.5f,
                 float limit = 10.0f) {
  AlarmEvent e;
  std::memset(&e, 0, sizeof e);
  std::strncpy(e.tagName, tag, sizeof e.tagName - 1);
  e.kind = static_cast<std::uint8_t>(kind);
  e.level = static_cast<std::uint8_t>(level);
  e.ackState = static_cast<std::uint8_t>(state);
  e.value = value;
  e.limit = limit;
  return e;
}

class Values final : public TextSource {
 public:
  std::string TextValue(std::string_view name) override { return texts[std::string(name)]; }
  double NumberValue(std::string_view name) override { return numbers[std::string(name)]; }
  std::map<std::string, std::string> texts;
  std::map<std::string, double> numbers;
};

TEST(PluginConfig, ReadsTheDocumentTheModuleWrites) {
  std::string doc =
      Cp("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
         "<XML Version=\"1\" Com=\"2\" Baund=\"5\" DataBit=\"1\" TelCount=\"3\" VarCount=\"1\">\r\n"
         "<Tel0 TelNum=\"13800138000\" Desc=\"值班&amp;室\"></Tel0>\r\n"
         "<Tel2 TelNum=\"13912345678\" Desc=\"&quot;张工&quot;\"></Tel2>\r\n"
         "<Var0 VarName=\"Tank1.PV\" Desc=\"液位\" Ll=\"1\" Lo=\"0\" Hh=\"1\" Hi=\"1\" Low=\"1\" "
         "Hig=\"1\" Urg=\"1\" Ack=\"1\" NoAck=\"1\" Resume=\"1\" Value=\"1\" ValueLimit=\"0\" "
         "User=\"0\" Format=\"0\" Logic=\"1\" BScript=\"0\" Script=\"a&lt;b\" ScriptType=\"0\" "
         "VarCount=\"2\" TelPlace0=\"1\" TelPlace1=\"0\"></Var0>\r\n"
         "</XML>\r\n");
  PluginConfig config;
  ASSERT_TRUE(ParsePluginConfig(doc, config));
  EXPECT_EQ(config.Com, 2);
  EXPECT_EQ(config.Baund, 5);
  ASSERT_EQ(config.phones.size(), 2u);  // Tel1 is missing and left out
  EXPECT_EQ(config.phones[0].Desc, Cp("值班&室"));
  EXPECT_EQ(config.phones[1].Desc, Cp("\"张工\""));
  ASSERT_EQ(config.rules.size(), 1u);
  const ConfigRule& rule = config.rules[0];
  EXPECT_EQ(rule.Desc, Cp("液位"));
  EXPECT_EQ(rule.Lo, 0);
  EXPECT_EQ(rule.Logic, 1);
  EXPECT_EQ(rule.Script, "a<b");
  EXPECT_EQ(rule.TelPlace, (std::vector<int>{1, 0}));
  EXPECT_FALSE(ParsePluginConfig("<?xml version=\"1.0\"?>\r\n<Other/>", config));
  EXPECT_EQ(config.Com, 2);  // a document without XML root changes nothing
}

// The host reads the plug-in's file with a reader of its own; every attribute the plug-in
// writes must come back in the host's field of the same name, with its value.
TEST(PluginConfig, ReadsEveryRuleAttributeThePluginWrites) {
  pagorin::testing::TempDir dir;
  Configuration config;
  config.configPath = ConfigPathIn(dir.path());
  auto phone = std::make_unique<PhoneEntry>();
  phone->TelNum = "13800138000";
  config.phoneBook.push_back(std::move(phone));
  auto written = std::make_unique<AlarmRule>();
  int number = 2;  // every number differs from the others and from a default
  for (const StoredAttribute<AlarmRule>& attribute : kRuleAttributes) {
    if (attribute.text != nullptr) {
      (*written).*attribute.text = std::string("t") + attribute.name;
    } else {
      (*written).*attribute.number = number++;
    }
  }
  written->TelPlace = {0};
  config.alarmRules.push_back(std::move(written));
  PluginConfig read;
  ASSERT_TRUE(ParsePluginConfig(SaveConfiguration(config), read));
  ASSERT_EQ(read.rules.size(), 1u);
  const AlarmRule& rule = *config.alarmRules[0];
  EXPECT_EQ(std::size(kConfigRuleAttributes), kRuleAttributes.size());
  for (const StoredAttribute<AlarmRule>& attribute : kRuleAttributes) {
    SCOPED_TRACE(attribute.name);
    const ConfigRuleAttribute* host = nullptr;
    for (const ConfigRuleAttribute& candidate : kConfigRuleAttributes) {
      if (std::strcmp(candidate.name, attribute.name) == 0) host = &candidate;
    }
    ASSERT_NE(host, nullptr);
    if (attribute.text != nullptr) {
      ASSERT_NE(host->text, nullptr);
      EXPECT_EQ(read.rules[0].*host->text, rule.*attribute.text);
    } else {
      ASSERT_NE(host->number, nullptr);
      EXPECT_EQ(read.rules[0].*host->number, rule.*attribute.number);
    }
  }
  EXPECT_EQ(read.rules[0].TelPlace, std::vector<int>{0});
}

struct MatchCase {
  const char* name;
  void (*adjust)(ConfigRule&);
  int kind, level, state;
  bool matches;
};

class RuleMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(RuleMatch, AsThePluginDecides) {
  ConfigRule rule;
  rule.VarName = "Tank1.PV";
  GetParam().adjust(rule);
  EXPECT_EQ(RuleMatches(rule, Event("Tank1", GetParam().kind, GetParam().level, GetParam().state)),
            GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RuleMatch,
    ::testing::Values(
        MatchCase{"fresh", [](ConfigRule&) {}, 1, 2, 0, true},
        MatchCase{"otherTag", [](ConfigRule& r) { r.VarName = "Tank2.PV"; }, 1, 2, 0, false},
        MatchCase{"noDot", [](ConfigRule& r) { r.VarName = "Tank1"; }, 1, 2, 0, false},
        MatchCase{"orNoLevels", [](ConfigRule& r) { r.Low = r.Hig = r.Urg = 0; }, 1, 2, 0, false},
        MatchCase{"andNoLevels",
                  [](ConfigRule& r) {
                    r.Logic = 1;
                    r.Low = r.Hig = r.Urg = r.Ack = r.Resume = 0;
                  },
                  1, 2, 0, true},
        MatchCase{"andTwoLevels",
                  [](ConfigRule& r) {
                    r.Logic = 1;
                    r.Urg = 0;
                    r.Ack = r.Resume = 0;
                  },
                  1, 2, 0, false},
        MatchCase{"andUrgentUnacked",
                  [](ConfigRule& r) {
                    r = ConfigRule{};
                    r.VarName = "Tank1.PV";
                    r.Logic = 1;
                    r.Ll = r.Lo = r.Hi = r.Low = r.Hig = r.Ack = r.Resume = 0;
                  },
                  3, 3, 0, true},
        MatchCase{"andUrgentUnackedWrongKind",
                  [](ConfigRule& r) {
                    r.Logic = 1;
                    r.Ll = r.Lo = r.Hi = r.Low = r.Hig = r.Ack = r.Resume = 0;
                  },
                  2, 3, 0, false},
        MatchCase{"kind230PassesKindGroup", [](ConfigRule& r) { r.Ll = r.Lo = r.Hh = r.Hi = 0; },
                  230, 1, 2, true},
        MatchCase{"andAllZero",
                  [](ConfigRule& r) {
                    r.Logic = 1;
                    r.Ll = r.Lo = r.Hh = r.Hi = r.Low = r.Hig = r.Urg = r.Ack = r.NoAck = r.Resume =
                        0;
                  },
                  230, 1, 0, false},
        MatchCase{"orAckOnly", [](ConfigRule& r) { r.NoAck = r.Resume = 0; }, 1, 2, 0, false}),
    [](const ::testing::TestParamInfo<MatchCase>& row) { return std::string(row.param.name); });

TEST(PluginConfig, ExpectedTextsOfTheDefaultAndCustomFormats) {
  Values values;
  values.texts["$UserName"] = "admin";
  values.texts["Msg.Text"] = Cp("1号泵停机");
  values.numbers["Flow.PV"] = 12.5;
  AlarmEvent e = Event("Tank1", 2, 3, 0);
  bool script = false;
  ConfigRule rule;
  rule.VarName = "Tank1.PV";
  EXPECT_EQ(ExpectedAlarmText(e, rule, values, script), Cp("Tank1报警:高报,紧急,未确认,"));
  rule.Value = rule.ValueLimit = rule.User = 1;
  rule.Desc = Cp("1号泵");
  e.ackState = 1;
  EXPECT_EQ(ExpectedAlarmText(e, rule, values, script),
            Cp("1号泵报警:高报,紧急,确认数值12.5,限值10,用户admin"));
  rule = ConfigRule{};
  rule.Format = rule.BScript = 1;
  rule.Script = "Msg.Text";
  rule.ScriptType = 5;
  EXPECT_EQ(ExpectedAlarmText(e, rule, values, script), Cp("Tank1报警:1号泵停机"));
  rule.Script = "Flow.PV";
  rule.ScriptType = 1;
  EXPECT_EQ(ExpectedAlarmText(e, rule, values, script), Cp("Tank1报警:12.500000"));
  EXPECT_FALSE(script);
  rule.BScript = 0;
  EXPECT_EQ(ExpectedAlarmText(e, rule, values, script), Cp("Tank1报警:"));
  EXPECT_TRUE(script);
}

TEST(PluginConfig, SendableNumbersHaveElevenOrTwelveDigits) {
  EXPECT_TRUE(IsSendableNumber("13800138000"));
  EXPECT_TRUE(IsSendableNumber("861380013800"));
  EXPECT_FALSE(IsSendableNumber("1381234567"));
  EXPECT_FALSE(IsSendableNumber(" 13800138000"));
  EXPECT_FALSE(IsSendableNumber("1380013800a"));
  EXPECT_FALSE(IsSendableNumber(""));
}

}  // namespace
}  // namespace pagorin::sim
