#include "core/alarm_text.h"

#include "core_fixture.h"

namespace pagorin::testing {
namespace {

// The event of the examples: Tank1, Hi, urgent, unacknowledged, value 12.5, limit 10.
AlarmEvent Tank1(int ackState = 0, int kind = 2) {
  return MakeEvent(1, "Tank1", kind, 3, ackState, 12.5f, 10.0f);
}

void ClearFilterFlags(AlarmRule& rule) {
  rule.Ll = rule.Lo = rule.Hh = rule.Hi = 0;
  rule.Low = rule.Hig = rule.Urg = 0;
  rule.Ack = rule.NoAck = rule.Resume = 0;
}

struct CompositionCase {
  const char* name;
  AlarmEvent event;
  void (*adjust)(AlarmRule&);
  const char* expectedUtf8;
};

TEST(ComposeAlarmText, DefaultFormatShowsTheWordsAndNumbersTheRuleAsksFor) {
  const std::vector<CompositionCase> cases{
      {"fresh rule", Tank1(), [](AlarmRule&) {}, "Tank1报警:高报,紧急,未确认,"},
      {"value and limit", Tank1(),
       [](AlarmRule& r) {
         r.Value = 1;
         r.ValueLimit = 1;
       },
       "Tank1报警:高报,紧急,未确认,数值12.5,限值10"},
      {"acknowledged has no comma", Tank1(1), [](AlarmRule& r) { r.Value = 1; },
       "Tank1报警:高报,紧急,确认数值12.5"},
      {"resumed", Tank1(2), [](AlarmRule&) {}, "Tank1报警:高报,紧急,恢复"},
      {"state 3 has no word", Tank1(3), [](AlarmRule&) {}, "Tank1报警:高报,紧急,"},
      {"description replaces the tag", Tank1(), [](AlarmRule& r) { r.Desc = Cp("1号泵"); },
       "1号泵报警:高报,紧急,未确认,"},
      {"no kind flag, no kind word", Tank1(),
       [](AlarmRule& r) {
         r.Ll = r.Lo = r.Hh = r.Hi = 0;
         r.Logic = 1;
       },
       "Tank1报警:紧急,未确认,"},
      {"one kind flag shows the event's kind", Tank1(0, 0),
       [](AlarmRule& r) {
         r.Ll = r.Lo = r.Hh = 0;
         r.Hi = 1;
       },
       "Tank1报警:低低报,紧急,未确认,"},
      {"all flags off", Tank1(), ClearFilterFlags, "Tank1报警:"},
      {"kind 230 has no word", Tank1(0, 230), [](AlarmRule&) {}, "Tank1报警:紧急,未确认,"},
      {"LoLo", Tank1(0, 0), [](AlarmRule&) {}, "Tank1报警:低低报,紧急,未确认,"},
      {"Lo", Tank1(0, 1), [](AlarmRule&) {}, "Tank1报警:低报,紧急,未确认,"},
      {"HiHi takes string 3", Tank1(0, 3), [](AlarmRule&) {}, "Tank1报警:高高报,紧急,未确认,"},
      {"low level", MakeEvent(1, "Tank1", 2, 1, 0), [](AlarmRule&) {},
       "Tank1报警:高报,低级,未确认,"},
      {"high level", MakeEvent(1, "Tank1", 2, 2, 0), [](AlarmRule&) {},
       "Tank1报警:高报,高级,未确认,"},
      {"unknown level", MakeEvent(1, "Tank1", 2, 9, 0), [](AlarmRule&) {},
       "Tank1报警:高报,未确认,"},
  };
  RecordingHost host;
  for (const CompositionCase& c : cases) {
    AlarmRule rule;
    rule.VarName = "Tank1.PV";
    c.adjust(rule);
    EXPECT_EQ(ComposeAlarmText(c.event, rule, host), Cp(c.expectedUtf8)) << c.name;
  }
  EXPECT_TRUE(host.calls.empty());
}

TEST(ComposeAlarmText, UserNameComesFromTheHostEachTime) {
  RecordingHost host;
  host.SetText("$UserName", "admin");
  AlarmRule rule;
  rule.User = 1;
  EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), Cp("Tank1报警:高报,紧急,未确认,,用户admin"));
  host.SetText("$UserName", "");
  EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), Cp("Tank1报警:高报,紧急,未确认,,用户"));
  EXPECT_EQ(host.CallsOf("GetTextValue"), (std::vector<HostCall>{{"GetTextValue", {"$UserName"}},
                                                                 {"GetTextValue", {"$UserName"}}}));
}

TEST(ComposeAlarmText, CustomFormatTakesTheNamedVariable) {
  RecordingHost host;
  host.SetText("Msg.Text", "Pump stopped");
  host.SetNumber("Tank1.PV", 12.5);
  AlarmRule rule;
  rule.VarName = "Tank1.PV";
  rule.Format = 1;
  rule.BScript = 1;
  rule.Script = "Msg.Text";
  rule.ScriptType = 5;
  rule.Value = rule.User = 1;  // the default format's flags play no part
  EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), Cp("Tank1报警:Pump stopped"));
  rule.Script = "Tank1.PV";
  rule.ScriptType = 1;
  EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), Cp("Tank1报警:12.500000"));
  EXPECT_EQ(host.OperationSequence(), "GetTextValue GetNumberValue");
  rule.Script = "Missing.Text";
  rule.ScriptType = 5;
  EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), Cp("Tank1报警:"));
}

TEST(ComposeAlarmText, CustomScriptRunsOnTheRulesTagAndLeavesTheContentEmpty) {
  struct ScriptCase {
    const char* varName;
    const char* tag;
  };
  const std::vector<ScriptCase> cases{
      {"Tank1.PV", "Tank1"}, {"A.B.C", "A.B"}, {"Tank1", "Tank1"}, {".PV", ".PV"}};
  for (const ScriptCase& c : cases) {
    RecordingHost host;
    AlarmRule rule;
    rule.VarName = c.varName;
    rule.Format = 1;
    rule.BScript = 0;
    rule.Script = "x=1;";
    EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), Cp("Tank1报警:")) << c.varName;
    EXPECT_EQ(host.calls, (std::vector<HostCall>{{"SelectScript", {c.tag}}, {"RunScript", {""}}}))
        << c.varName;
  }
  RecordingHost refusing;
  refusing.selectScriptAnswer = 0;
  AlarmRule rule;
  rule.VarName = "Tank1.PV";
  rule.Format = 1;
  ComposeAlarmText(Tank1(), rule, refusing);
  EXPECT_EQ(refusing.OperationSequence(), "SelectScript");
}

TEST(ComposeAlarmText, TextsFromHostRuleAndEventAreNeverFormats) {
  RecordingHost host;
  host.SetText("$UserName", "%s%d%n%%");
  AlarmRule rule;
  rule.Desc = "%s%n%x";
  rule.User = 1;
  ClearFilterFlags(rule);
  EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), "%s%n%x" + Cp("报警:,用户") + "%s%d%n%%");
  AlarmRule byTag;
  ClearFilterFlags(byTag);
  EXPECT_EQ(ComposeAlarmText(MakeEvent(1, "%s%s%s"), byTag, host), "%s%s%s" + Cp("报警:"));
}

TEST(ComposeAlarmText, HasNoLengthLimit) {
  RecordingHost host;
  const std::string longText(5000, 'x');
  host.SetText("Long.Text", longText);
  AlarmRule rule;
  rule.Desc = std::string(3000, 'd');
  rule.Format = 1;
  rule.BScript = 1;
  rule.ScriptType = 5;
  rule.Script = "Long.Text";
  EXPECT_EQ(ComposeAlarmText(Tank1(), rule, host), rule.Desc + Cp("报警:") + longText);
}

TEST(ComposeAlarmText, TagNameFillingTheWholeFieldIsReadOnlyToItsEnd) {
  RecordingHost host;
  AlarmEvent event = Tank1();
  std::memset(event.tagName, 'T', sizeof event.tagName);
  event.ackState = 0x20;  // the byte after the field is not part of the name
  AlarmRule rule;
  ClearFilterFlags(rule);
  EXPECT_EQ(ComposeAlarmText(event, rule, host), std::string(96, 'T') + Cp("报警:"));
}

TEST(FormatTrimmedNumber, DropsTrailingZerosThenTrailingPoints) {
  struct TrimCase {
    double value;
    const char* expected;
  };
  const std::vector<TrimCase> cases{
      {10.0, "v10"},     {12.5, "v12.5"},     {0.0, "v0"},
      {0.0000004, "v0"}, {-0.0000004, "v-0"}, {100.0, "v100"},
      {0.25, "v0.25"},   {-3.0, "v-3"},       {1234567.125, "v1234567.125"}};
  for (const TrimCase& c : cases) {
    EXPECT_EQ(FormatTrimmedNumber("v%f", c.value), c.expected) << c.value;
  }
}

}  // namespace
}  // namespace pagorin::testing
