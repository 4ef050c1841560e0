#include "scenario.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace pagorin::sim {
namespace {

TEST(Scenario, ReadsVariablesScriptsAndTheTimeline) {
  const char* text = R"(
[simulation]
project = "plant"
speed = 10
cycle_ms = 20
user = "张工"

[modem]
options = ["--echo", "on"]
grace_ms = 500

[[variable]]
name = "Tank1.PV"
value = 3
hi = { limit = 4.5, level = 2 }
lolo = 0.5

[[variable]]
name = "Pump1.State"
value = "运行"
alarm_when = "故障"
alarm_level = 3

[scripts]
"Gate1" = '#Pagorin.ShouldSend(1)'

[[step]]
at = 2
set = { "Tank1.PV" = 4.6, "Pump1.State" = "故障" }
[[step]]
after = 1
call = "SendMsg"
args = ["13800138000", "泵站停机"]
[[step]]
after = 1
wait_for = { delivered = 2 }
timeout = 30
[[step]]
after = 0
unanswered = 2
[[step]]
after = 0
save = "copy.vpa"
[[step]]
end = true
[[step]]
at = 30.5
reply = { from = "13800138000", text = "1A", parts = 1, coding = "ucs2" }
[[step]]
at = 31
reply = { from = "Pagorin", text = "泵站" }
[[step]]
after = 1
expect = { phone = "13912345678", nothing = true }

[[expect]]
phone = "13800138000"
texts = ["泵站停机", "清水池报警:高报"]
order = "any"
[[expect]]
phone = "13698765432"
nothing = true
)";
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario(text, "dir/run.toml", s, error)) << error;
  EXPECT_EQ(s.projectDir, "dir/plant");
  EXPECT_EQ(s.speed, 10);
  EXPECT_EQ(s.cycleMs, 20);
  EXPECT_EQ(s.user, platform::Utf8ToCp936("张工"));
  // Reply steps reach the modem simulator as options; a text outside the GSM alphabet goes in UCS2.
  EXPECT_EQ(s.modemArgs,
            (std::vector<std::string>{"--echo", "on", "--incoming=30.5@13800138000:1:ucs2:1A",
                                      "--incoming=31@Pagorin:0:ucs2:泵站"}));
  EXPECT_EQ(s.graceMs, 500);
  ASSERT_EQ(s.variables.size(), 2u);
  EXPECT_EQ(s.variables[0].type, kNumberType);
  EXPECT_TRUE(s.variables[0].limits[kHi].enabled);
  EXPECT_EQ(s.variables[0].limits[kHi].level, 2);
  EXPECT_DOUBLE_EQ(s.variables[0].limits[kLoLo].limit, 0.5);
  EXPECT_EQ(s.variables[1].type, kTextType);
  EXPECT_EQ(s.variables[1].text, platform::Utf8ToCp936("运行"));
  EXPECT_TRUE(s.variables[1].discrete);
  EXPECT_EQ(s.variables[1].discreteText, platform::Utf8ToCp936("故障"));
  ASSERT_EQ(s.scripts.size(), 1u);
  ASSERT_EQ(s.steps.size(), 9u);
  EXPECT_EQ(s.steps[6].kind, Step::Kind::kReply);
  EXPECT_EQ(s.steps[0].kind, Step::Kind::kSet);
  EXPECT_TRUE(s.steps[0].hasAt);
  EXPECT_EQ(s.steps[0].values.size(), 2u);
  EXPECT_EQ(s.steps[1].kind, Step::Kind::kCall);
  EXPECT_EQ(s.steps[1].args[1].text, platform::Utf8ToCp936("泵站停机"));
  EXPECT_EQ(s.steps[2].waitDelivered, 2);
  EXPECT_EQ(s.steps[2].timeout, 30);
  EXPECT_EQ(s.steps[3].count, 2);
  EXPECT_EQ(s.steps[4].text, "copy.vpa");
  EXPECT_EQ(s.steps[5].kind, Step::Kind::kEnd);
  EXPECT_EQ(s.steps[5].line, 44);  // the line of its [[step]]
  // Expectations keep their texts in UTF-8, as the modem's log shows them.
  EXPECT_EQ(s.steps[8].kind, Step::Kind::kExpect);
  EXPECT_EQ(s.steps[8].expect.phone, "13912345678");
  EXPECT_TRUE(s.steps[8].expect.texts.empty());
  ASSERT_EQ(s.expectations.size(), 2u);
  EXPECT_EQ(s.expectations[0].texts, (std::vector<std::string>{"泵站停机", "清水池报警:高报"}));
  EXPECT_TRUE(s.expectations[0].anyOrder);
  EXPECT_EQ(s.expectations[0].line, 56);
  EXPECT_TRUE(s.expectations[1].texts.empty());
  EXPECT_FALSE(s.expectations[1].anyOrder);
}

struct BadScenario {
  const char* text;
  const char* message;  // what the error must say, after "file:line: "
};

class ScenarioErrors : public ::testing::TestWithParam<BadScenario> {};

TEST_P(ScenarioErrors, NameTheFileTheLineAndTheFault) {
  Scenario s;
  std::string error;
  EXPECT_FALSE(ParseScenario(GetParam().text, "plant.toml", s, error));
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScenarioErrors,
    ::testing::Values(
        BadScenario{"[[step]]\nat = 1\nsett = { A = 1 }\n", "plant.toml:3: unknown key 'sett'"},
        BadScenario{"[[step]]\nat = 1\n", "plant.toml:1: a step needs one action"},
        BadScenario{"[[step]]\nat = 1\nend = true\nack = \"all\"\n",
                    "plant.toml:4: a step has one action only"},
        BadScenario{"[[step]]\nat = \"soon\"\nend = true\n", "plant.toml:2: at must be a number"},
        BadScenario{"[[step]]\nat = 1\nafter = 2\nend = true\n", "plant.toml:2: a step has either"},
        BadScenario{"[[step]]\nat = 1\nargs = [1]\nend = true\n",
                    "plant.toml:3: args belong to a 'call' step"},
        BadScenario{"[[step]]\nat = 1\nwait_for = 3\n", "plant.toml:3: wait_for takes"},
        BadScenario{"[[step]]\nat = 1\nunanswered = 0\n", "plant.toml:3: unanswered takes a count"},
        BadScenario{"[[step]]\nat = 1\nrestart = \"x\"\n", "plant.toml:3: restart takes true"},
        BadScenario{"[[step]]\nat = 1\nwait_for = { delivered = 1, history = 1 }\n",
                    "plant.toml:3: wait_for needs delivered = N or history = N"},
        BadScenario{"[[step]]\nat = 1\ncrash = 3\n", "plant.toml:3: crash takes true or the"},
        BadScenario{"[[step]]\nat = 1\ncrash = \"\"\n", "plant.toml:3: crash takes true or the"},
        BadScenario{"[[variable]]\nvalue = 1\n", "plant.toml:1: a [[variable]] needs a name"},
        BadScenario{"[[variable]]\nname = \"A.B\"\nhi = { limit = 1, level = 4 }\n",
                    "plant.toml:3: level must be 1 (low), 2 (high) or 3 (urgent)"},
        BadScenario{"[[variable]]\nname = \"A.B\"\nvalue = \"x\"\nhi = 3\n",
                    "plant.toml:4: only a number variable has limits"},
        BadScenario{"[[variable]]\nname = \"A.B\"\n[[variable]]\nname = \"A.B\"\n",
                    "plant.toml:3: variable 'A.B' is defined twice"},
        BadScenario{"[simulation]\nspeed = -1\n", "plant.toml:2: speed must be above 0"},
        BadScenario{"[simulation]\nspeed = 1\nspeed = 2\n", "plant.toml:3:"},
        BadScenario{"[plant]\n", "plant.toml:1: unknown key 'plant' in the scenario"},
        BadScenario{"[[step]]\nafter = 1\nreply = { from = \"1\", text = \"a\" }\n",
                    "plant.toml:3: a reply step needs 'at'"},
        BadScenario{"[[step]]\nat = 1\nreply = { from = \"1\", text = \"a\", coding = \"x\" }\n",
                    "plant.toml:3: coding must be"},
        BadScenario{"[[step]]\nat = 1\nreply = { from = \"1\", text = \"ab\", parts = 3 }\n",
                    "plant.toml:3: reply: the text does not fit in 3 part(s)"},
        BadScenario{"[[expect]]\ntexts = [\"a\"]\n", "plant.toml:1: [[expect]] needs a phone"},
        BadScenario{"[[expect]]\nphone = \"1\"\n", "plant.toml:1: [[expect]] needs texts"},
        BadScenario{"[[expect]]\nphone = \"1\"\ntexts = [\"a\"]\nnothing = true\n",
                    "plant.toml:1: [[expect]] needs texts = [...] or nothing = true, one"},
        BadScenario{"[[expect]]\nphone = \"1\"\ntexts = []\n",
                    "plant.toml:3: texts must be a list of one text or more"},
        BadScenario{"[[expect]]\nphone = \"1\"\nnothing = false\n",
                    "plant.toml:3: nothing takes true"},
        BadScenario{"[[expect]]\nphone = \"1\"\ntexts = [\"a\"]\norder = \"set\"\n",
                    "plant.toml:4: order must be"},
        BadScenario{"[[expect]]\nphone = \"1\"\nnothing = true\norder = \"any\"\n",
                    "plant.toml:4: order belongs to texts"},
        BadScenario{"[[expect]]\nphone = \"1\"\nnothing = true\n[[expect]]\nphone = \"1\"\n"
                    "nothing = true\n",
                    "plant.toml:4: phone 1 has an [[expect]] already (line 1)"},
        BadScenario{"[[step]]\nat = 1\nexpect = { phone = \"1\", text = [\"a\"] }\n",
                    "plant.toml:3: unknown key 'text' in expect"},
        BadScenario{"[[step]]\nat = 1\nexpect = \"1\"\n", "plant.toml:3: expect takes a table"}));

TEST(Scenario, MissingFileIsNamed) {
  Scenario s;
  std::string error;
  EXPECT_FALSE(LoadScenario("no-such-dir/none.toml", s, error));
  EXPECT_NE(error.find("no-such-dir/none.toml: cannot read"), std::string::npos) << error;
}

}  // namespace
}  // namespace pagorin::sim
