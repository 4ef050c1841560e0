// The chains of the command table, walked as the sender walks them.
#include "modem/at_commands.h"

#include <gtest/gtest.h>

#include <string>

namespace pagorin {
namespace {

// The texts of the chain from `first`, taking each command's OK (or its error) branch.
std::string Chain(AtCommand first, bool ok) {
  std::string texts;
  for (AtCommand command = first; command != AtCommand::None;) {
    const AtCommandRow& row = AtCommandRowOf(command);
    texts += row.text;
    if (!ok && row.errorFails) return texts + "<fails>";
    command = ok ? row.onOk : row.onError;
    if (texts.size() > 1000) return texts + "<loops>";
  }
  return texts;
}

TEST(AtCommands, ChainsReadTopDown) {
  EXPECT_EQ(
      Chain(AtCommand::Probe, true),
      "ATQ0V1\rATE0\rAT+CMEE=1\rAT+CMGF=0\rAT+CPMS=\"SM\",\"SM\",\"SM\"\rAT+CNMI=2,1,0,2,0\r");
  EXPECT_EQ(Chain(AtCommand::Probe, false), "ATQ0V1\rATE0\rAT+CMEE=1\rAT+CMGF=0\r<fails>");
  EXPECT_EQ(
      Chain(AtCommand::Storage, false),
      "AT+CPMS=\"SM\",\"SM\",\"SM\"\rAT+CNMI=2,1,0,2,0\rAT+CNMI=2,1,0,1,0\rAT+CNMI=2,1,0,0,0\r");
  EXPECT_EQ(Chain(FirstNoticeCommand(false), false), "AT+CNMI=2,1,0,0,0\r");
  EXPECT_EQ(Chain(AtCommand::Alive, true), "AT\rAT+CPIN?\rAT+CREG?\rAT+CSQ\r");
  EXPECT_EQ(Chain(AtCommand::Alive, false), "AT\rAT+CPIN?\rAT+CREG?\rAT+CSQ\r");
}

TEST(AtCommands, EveryCommandWaitsAndEndsItsChain) {
  for (int index = static_cast<int>(AtCommand::Probe); index <= static_cast<int>(AtCommand::Delete);
       ++index) {
    const AtCommandRow& row = AtCommandRowOf(static_cast<AtCommand>(index));
    SCOPED_TRACE(index);
    EXPECT_EQ(static_cast<int>(row.command), index);
    EXPECT_GT(row.timeoutMs, 0u);
    EXPECT_TRUE(row.text.empty() || row.text.ends_with('\r'));
    // A chain's next command is of the same chain.
    for (AtCommand next : {row.onOk, row.onError}) {
      if (next != AtCommand::None) {
        EXPECT_EQ(AtCommandRowOf(next).chain, row.chain);
      }
    }
  }
  EXPECT_EQ(AtCommandRowOf(AtCommand::Probe).timeoutMs, kAtProbeTimeoutMs);
  EXPECT_EQ(AtCommandRowOf(AtCommand::Pdu).timeoutMs, kAtVerdictTimeoutMs);
}

}  // namespace
}  // namespace pagorin
