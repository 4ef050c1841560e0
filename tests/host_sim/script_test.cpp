#include "script.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/code_page.h"

namespace pagorin::sim {
namespace {

class RecordingContext final : public ScriptContext {
 public:
  bool HasVariable(std::string_view name) override { return values.count(std::string(name)) != 0; }
  ScriptValue ReadVariable(std::string_view name) override { return values[std::string(name)]; }
  void WriteVariable(std::string_view name, const ScriptValue& value) override {
    values[std::string(name)] = value;
  }
  int FunctionArity(std::string_view object, std::string_view function) override {
    if (object != "Pagorin") return -1;
    if (function == "SendMsg") return 2;
    if (function == "ShouldSend") return 1;
    return -1;
  }
  void CallFunction(std::string_view, std::string_view function,
                    const std::vector<ScriptValue>& args) override {
    std::string call(function);
    for (const auto& arg : args)
      call += "|" + arg.AsText();
    calls.push_back(call);
  }
  void Print(std::string_view text) override { printed.emplace_back(text); }

  std::map<std::string, ScriptValue> values{{"Tank1.PV", ScriptValue::Number(4.5)},
                                            {"Msg.Text", ScriptValue::Text("pump")}};
  std::vector<std::string> calls;
  std::vector<std::string> printed;
};

TEST(Script, RunsAssignmentsCallsAndExpressions) {
  RecordingContext context;
  std::string error;
  ASSERT_TRUE(
      RunScript("Tank1.PV = (Tank1.PV + 1.5) * 2 - 4 / 2; // ten\n"
                "Msg.Text = \"level \" + Tank1.PV\n"
                "#Pagorin.SendMsg(\"13800138000,13912345678\", Msg.Text);"
                "#Pagorin.ShouldSend(-1)",
                context, error))
      << error;
  EXPECT_DOUBLE_EQ(context.values["Tank1.PV"].number, 10);
  EXPECT_EQ(context.values["Msg.Text"].text, "level 10");
  ASSERT_EQ(context.calls.size(), 2u);
  EXPECT_EQ(context.calls[0], "SendMsg|13800138000,13912345678|level 10");
  EXPECT_EQ(context.calls[1], "ShouldSend|-1");
}

TEST(Script, TextsKeepTwoByteCharactersWhoseSecondByteIsABackslash) {
  // 誠 is D5 5C in code page 936: its second byte must not escape the closing quote.
  RecordingContext context;
  std::string text = platform::Utf8ToCp936("誠");
  ASSERT_EQ(text.size(), 2u);
  ASSERT_EQ(text[1], '\\');
  std::string error;
  ASSERT_TRUE(RunScript("Msg.Text = \"" + text + "\"", context, error)) << error;
  EXPECT_EQ(context.values["Msg.Text"].text, text);
}

struct BadScript {
  const char* script;
  const char* message;
};

class ScriptErrors : public ::testing::TestWithParam<BadScript> {};

TEST_P(ScriptErrors, CheckRejectsWithAReasonAndRunsNothing) {
  RecordingContext context;
  std::string error;
  EXPECT_FALSE(CheckScript(GetParam().script, context, error));
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
  EXPECT_TRUE(context.calls.empty());
  EXPECT_DOUBLE_EQ(context.values["Tank1.PV"].number, 4.5);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScriptErrors,
    ::testing::Values(BadScript{"Nope.PV = 1", "unknown variable 'Nope.PV'"},
                      BadScript{"Tank1.PV = Nope", "unknown variable 'Nope'"},
                      BadScript{"#Pagorin.Fly()", "unknown function"},
                      BadScript{"#Other.SendMsg(\"1\", \"2\")", "unknown function"},
                      BadScript{"#Pagorin.ShouldSend()", "takes 1 argument(s), got 0"},
                      BadScript{"#Pagorin.ShouldSend(1, 2)", "takes 1 argument(s), got 2"},
                      BadScript{"Msg.Text = \"open", "text not closed"},
                      BadScript{"Tank1.PV = (1 + 2", "expected ')'"},
                      BadScript{"Tank1.PV 1", "expected '='"},
                      BadScript{"\n\nTank1.PV = ?", "line 3: unexpected character"},
                      BadScript{"#Pagorin", "expected #Object.Function"},
                      BadScript{"Beep(1)", "unknown function 'Beep'"}));

TEST(Script, CheckAcceptsWithoutRunning) {
  RecordingContext context;
  std::string error;
  EXPECT_TRUE(CheckScript("#Pagorin.ShouldSend(0); Tank1.PV = 1; Print(\"x\")", context, error));
  EXPECT_TRUE(context.calls.empty());
  EXPECT_TRUE(context.printed.empty());
  EXPECT_DOUBLE_EQ(context.values["Tank1.PV"].number, 4.5);
  EXPECT_TRUE(CheckScript("", context, error));
}

TEST(Script, RunStopsAtTheFirstErrorAfterEarlierStatementsRan) {
  RecordingContext context;
  std::string error;
  EXPECT_FALSE(RunScript("Tank1.PV = 7; Nope = 1; Tank1.PV = 8", context, error));
  EXPECT_DOUBLE_EQ(context.values["Tank1.PV"].number, 7);
}

TEST(Script, DivisionByZeroGivesZero) {
  RecordingContext context;
  std::string error;
  ASSERT_TRUE(RunScript("Tank1.PV = 5 / 0", context, error));
  EXPECT_DOUBLE_EQ(context.values["Tank1.PV"].number, 0);
}

}  // namespace
}  // namespace pagorin::sim
