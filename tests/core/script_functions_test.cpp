#include "core/script_functions.h"

#include "core_fixture.h"
#include "resources/string_table.h"

namespace pagorin::testing {
namespace {

TEST(SplitNumberList, CutsAtAsciiCommasOnly) {
  struct ListCase {
    std::string list;
    std::vector<std::string> pieces;
  };
  const std::vector<ListCase> cases{
      {"", {""}},
      {"13800138000", {"13800138000"}},
      {"13800138000,", {"13800138000", ""}},
      {",13800138000", {"", "13800138000"}},
      {"1,,2", {"1", "", "2"}},
      {"13800138000, 1381234567", {"13800138000", " 1381234567"}},
      {Cp("13800138000，1381234567"), {Cp("13800138000，1381234567")}},
      {std::string(127, '1') + "," + std::string(128, '2') + ",3", {std::string(127, '1'), "3"}},
  };
  for (const ListCase& c : cases)
    EXPECT_EQ(SplitNumberList(c.list), c.pieces) << c.list;
}

using ScriptFunctionsTest = PluginTest;

TEST_F(ScriptFunctionsTest, RegistersThreeFunctionsWithTheirParametersInOrder) {
  host.calls.clear();
  plugin->RegisterFunctions();
  std::vector<HostCall> expected{
      {"RegisterFunction", {"0", "PropDlg", LoadString(string_id::kPropDlgHelp)}},
      {"RegisterFunction", {"1", "SendMsg", LoadString(string_id::kSendMsgHelp)}},
      {"AddFunctionParameter", {"1", "5", "TelNum"}},
      {"AddFunctionParameter", {"1", "5", "Content"}},
      {"RegisterFunction", {"2", "ShouldSend", LoadString(string_id::kShouldSendHelp)}},
      {"AddFunctionParameter", {"2", "1", "Flag"}},
  };
  EXPECT_EQ(host.calls, expected);
  EXPECT_EQ(host.functions[1].help.substr(0, 8), Cp("函数原型"));
}

class SendMsgTest : public PluginTest {
 protected:
  int Send(const std::string& numbers, const std::string& content) {
    HostParam params[2]{};
    params[0].textValue = numbers.c_str();
    params[1].textValue = content.c_str();
    return plugin->CallFunction(kSendMsgFunction, 0, params, 0);
  }
};

TEST_F(SendMsgTest, QueuesOneMessagePerAcceptedNumber) {
  plugin->Coalesce = 0;  // every message stays its own, so the queue counts them
  StartRunning();
  struct SendCase {
    std::string numbers;
    std::size_t queued;
  };
  const std::vector<SendCase> cases{
      {"13800138000,13800138000", 2},
      {Cp("13800138000，1381234567"), 0},
      {"13800138000,1381234567", 1},
      {"13800138000,", 1},
      {"", 0},
      {"13800138000, 13900139000", 1},
      {"138001380001,13900139000", 2},
  };
  for (const SendCase& c : cases) {
    std::size_t before = Queued();
    EXPECT_EQ(Send(c.numbers, "A"), 1);
    EXPECT_EQ(Queued() - before, c.queued) << c.numbers;
  }
}

TEST_F(SendMsgTest, DuplicatesAreDeliveredWithTheWholeContent) {
  StartRunning();
  Send("13800138000,13800138000", "A");
  EXPECT_EQ(Deliver(2),
            (std::vector<DeliveredMessage>{{"13800138000", "A"}, {"13800138000", "A"}}));
}

TEST_F(SendMsgTest, LongContentIsOneMessageOrSeparatePiecesAsConfigured) {
  StartRunning();
  // Concatenated (the default): one message per number, whatever its length.
  const std::string latin = std::string(200, 'a') + "b";
  Send("13800138000,13900139000", latin);
  std::vector<DeliveredMessage> delivered = Deliver(2);
  EXPECT_EQ(delivered,
            (std::vector<DeliveredMessage>{{"13800138000", latin}, {"13900139000", latin}}));
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].parts, 2);
  // Separate messages for phones that cannot join parts: 70 characters each.
  plugin->Concat = 0;
  std::string chinese;
  for (int i = 0; i < 71; ++i)
    chinese += Cp("费");
  Send("13800138000", chinese);
  EXPECT_EQ(Deliver(2), (std::vector<DeliveredMessage>{{"13800138000", chinese.substr(0, 140)},
                                                       {"13800138000", chinese.substr(140)}}));
}

TEST_F(SendMsgTest, ChineseContentOfSeventyCharactersStaysOnePiece) {
  StartRunning();
  std::string content;
  for (int i = 0; i < 70; ++i)
    content += Cp("费");
  Send("13800138000", content);
  EXPECT_EQ(Deliver(1), (std::vector<DeliveredMessage>{{"13800138000", content}}));
}

TEST_F(SendMsgTest, NothingIsQueuedBeforeThePortIsOpen) {
  EXPECT_EQ(Send("13800138000", "A"), 1);
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(SendMsgTest, EmptyContentOrMissingTextsQueueNothing) {
  StartRunning();
  EXPECT_EQ(Send("13800138000", ""), 1);
  HostParam missing[2]{};
  EXPECT_EQ(plugin->CallFunction(kSendMsgFunction, 0, missing, 0), 1);
  EXPECT_EQ(plugin->CallFunction(kSendMsgFunction, 0, nullptr, 0), 1);
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(ScriptFunctionsTest, ShouldSendSetsTheSwitchFromAnyNonZeroValue) {
  struct FlagCase {
    int flag;
    int sendEnabled;
  };
  for (FlagCase c : {FlagCase{0, 0}, FlagCase{5, 1}, FlagCase{0, 0}, FlagCase{-1, 1}}) {
    HostParam param{};
    param.intValue = c.flag;
    EXPECT_EQ(plugin->CallFunction(kShouldSendFunction, 0, &param, 0), 1);
    EXPECT_EQ(plugin->sendEnabled, c.sendEnabled) << c.flag;
  }
}

TEST_F(ScriptFunctionsTest, UnknownFunctionChangesNothing) {
  HostParam param{};
  for (int id : {-1, 3, 100})
    EXPECT_EQ(plugin->CallFunction(id, 0, &param, 0), 1);
  EXPECT_EQ(plugin->sendEnabled, 1);
  EXPECT_EQ(host.OperationSequence(), "GetProjectPath");
}

TEST_F(ScriptFunctionsTest, PropDlgReturnsOneWhetherOrNotADialogShows) {
  EXPECT_EQ(plugin->CallFunction(kPropDlgFunction, 0, nullptr, 0), 1);
}

}  // namespace
}  // namespace pagorin::testing
