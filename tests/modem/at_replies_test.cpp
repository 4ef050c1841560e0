// Reply lines as field modems give them, and what each parser reads from them.
#include "modem/at_replies.h"

#include <gtest/gtest.h>

#include <string_view>

namespace pagorin {
namespace {

TEST(AtReplies, ReadsHealthAnswers) {
  struct Row {
    std::string_view line;
    std::optional<SimState> cpin;
    std::optional<Registration> answer;  // to AT+CREG?
    std::optional<Registration> notice;  // +CREG unasked
    std::optional<int> rssi;
  };
  const Row rows[] = {
      {"+CPIN: READY", SimState::Ready, {}, {}, {}},
      {"+CPIN:  SIM PIN ", SimState::PinNeeded, {}, {}, {}},
      {"+CPIN: SIM PUK2", SimState::PinNeeded, {}, {}, {}},
      {"+CPIN: NOT INSERTED", SimState::Absent, {}, {}, {}},
      {"+CPIN: PH-NET", SimState::Unknown, {}, {}, {}},
      {"+CREG: 0,1", {}, Registration::Home, Registration::Searching, {}},
      {"+CREG: 2,5,\"1A2B\",\"00C3\"", {}, Registration::Roaming, Registration::Searching, {}},
      {"+CREG: 0,3", {}, Registration::Denied, Registration::Searching, {}},
      {"+CREG: 0,x", {}, Registration::Unknown, Registration::Searching, {}},
      {"+CREG: 1,\"1A2B\",\"00C3\"", {}, {}, Registration::Home, {}},
      {"+CREG: 7", {}, {}, Registration::Roaming, {}},
      {"+CREG:", {}, {}, Registration::Unknown, {}},
      {"+CSQ: 17,99", {}, {}, {}, 17},
      {"+CSQ: ,99", {}, {}, {}, 99},
      {"^RSSI: 31", {}, {}, {}, 31},
      {"+CMTI: \"SM\",1", {}, {}, {}, {}},
      {"CREG: 0,1", {}, {}, {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(ParseCpin(row.line), row.cpin);
    EXPECT_EQ(ParseCregAnswer(row.line), row.answer);
    EXPECT_EQ(ParseCregNotice(row.line), row.notice);
    EXPECT_EQ(ParseSignalRssi(row.line), row.rssi);
  }
}

TEST(AtReplies, ReadsResultsAndNotices) {
  EXPECT_EQ(ParseCmgsReference("+CMGS: 42"), 42);
  EXPECT_EQ(ParseCmgsReference("+CMGS: 7,\"20240101\""), 7);
  EXPECT_EQ(ParseCmgsReference("+CMGS: ?"), -1);
  EXPECT_EQ(ParseCmgsReference("+CMGR: 0,,23"), std::nullopt);
  EXPECT_EQ(VerboseOfNumericResult("0"), "OK");
  EXPECT_EQ(VerboseOfNumericResult("4"), "ERROR");
  EXPECT_EQ(VerboseOfNumericResult("3"), std::nullopt);
  EXPECT_EQ(SimOfCpinError("+CME ERROR: 10"), SimState::Absent);
  EXPECT_EQ(SimOfCpinError("+CME ERROR: 17"), SimState::PinNeeded);
  EXPECT_EQ(SimOfCpinError("+CME ERROR: 14"), SimState::Unknown);
  EXPECT_EQ(SimOfCpinError("+CMS ERROR: 10"), SimState::Unknown);
  EXPECT_TRUE(IsEmptySlotError("+CMS ERROR: 321"));
  EXPECT_FALSE(IsEmptySlotError("ERROR"));
  EXPECT_TRUE(IsStorageFullNotice("^SMMEMFULL: \"SM\""));
  EXPECT_TRUE(IsStorageFullNotice("+CIEV: \"SMSFULL\", 1"));
  EXPECT_FALSE(IsStorageFullNotice("+CIEV: \"SMSFULL\",0"));
  EXPECT_FALSE(IsStorageFullNotice("+CIEV: \"SMSFULL\""));
  for (std::string_view start : {"RDY", "^SYSSTART", "+SYSSTART"})
    EXPECT_TRUE(IsStartNotice(start)) << start;
  EXPECT_FALSE(IsStartNotice("RDY "));
}

}  // namespace
}  // namespace pagorin
