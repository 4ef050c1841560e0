#include "config/alarm_rule.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/alarm_event.h"

namespace pagorin {
namespace {

AlarmEvent Event(const std::string& tag, int kind, int level, int state) {
  AlarmEvent event{};
  std::memcpy(event.tagName, tag.data(), std::min(tag.size(), sizeof event.tagName));
  event.kind = static_cast<std::uint8_t>(kind);
  event.level = static_cast<std::uint8_t>(level);
  event.ackState = static_cast<std::uint8_t>(state);
  return event;
}

// Flags in the order Ll Lo Hi Hh | Low Hig Urg | Ack NoAck Resume, one character each.
AlarmRule Rule(const std::string& varName, int logic, const char (&flags)[11]) {
  AlarmRule rule;
  rule.VarName = varName;
  rule.Logic = logic;
  int* fields[] = {&rule.Ll,  &rule.Lo,  &rule.Hi,  &rule.Hh,    &rule.Low,
                   &rule.Hig, &rule.Urg, &rule.Ack, &rule.NoAck, &rule.Resume};
  for (int i = 0; i < 10; ++i)
    *fields[i] = flags[i] == '1' ? 1 : 0;
  return rule;
}

struct MatchCase {
  const char* what;
  const char* varName;
  int logic;
  char flags[11];
  const char* tag;
  int kind, level, state;
  int expected;
};

constexpr int kOr = 0, kAnd = 1;

const MatchCase kMatchCases[] = {
    // Tag names.
    {"fresh rule, same tag", "Tank1.PV", kOr, "1111111111", "Tank1", 1, 2, 0, 1},
    {"tag compared case-sensitively", "Tank1.PV", kOr, "1111111111", "tank1", 1, 2, 0, 0},
    {"other tag", "Tank1.PV", kOr, "1111111111", "Tank2", 1, 2, 0, 0},
    {"second field of the same tag", "Tank1.SP", kOr, "1111111111", "Tank1", 1, 2, 0, 1},
    {"tag is the text before the first dot", "A.B.C", kOr, "1111111111", "A", 0, 1, 1, 1},
    {"not the text before the last dot", "A.B.C", kOr, "1111111111", "A.B", 0, 1, 1, 0},
    {"name without a dot has an empty tag", "Tank1", kOr, "1111111111", "Tank1", 0, 1, 1, 0},
    {"empty tag equals the empty tag", "Tank1", kOr, "1111111111", "", 0, 1, 1, 1},
    {"prefix of the tag is not the tag", "Tank.PV", kOr, "1111111111", "Tank1", 0, 1, 1, 0},
    // Each kind flag selects its own kind.
    {"or: Ll takes LoLo", "T.V", kOr, "1000111111", "T", 0, 1, 0, 1},
    {"or: Hi takes kind 2", "T.V", kOr, "0010111111", "T", 2, 1, 0, 1},
    {"or: Hi refuses kind 3", "T.V", kOr, "0010111111", "T", 3, 1, 0, 0},
    {"or: Hh takes kind 3", "T.V", kOr, "0001111111", "T", 3, 1, 0, 1},
    {"or: Hh refuses kind 2", "T.V", kOr, "0001111111", "T", 2, 1, 0, 0},
    {"or: unknown kind refused", "T.V", kOr, "1111111111", "T", 4, 1, 0, 0},
    {"or: kind 230 passes without kind flags", "T.V", kOr, "0000111111", "T", 230, 1, 0, 1},
    {"and: kind 230 passes with other kind flags", "T.V", kAnd, "1000000000", "T", 230, 2, 1, 1},
    {"and: kind group is any-of", "T.V", kAnd, "1100000000", "T", 1, 2, 1, 1},
    {"and: kind group refuses unlisted kind", "T.V", kAnd, "1100000000", "T", 2, 2, 1, 0},
    {"and: no kind flag takes every kind", "T.V", kAnd, "0000100000", "T", 3, 1, 0, 1},
    // Levels.
    {"or: Low takes level 1", "T.V", kOr, "1111100111", "T", 0, 1, 0, 1},
    {"or: Hig takes level 2", "T.V", kOr, "1111010111", "T", 0, 2, 0, 1},
    {"or: Urg takes level 3", "T.V", kOr, "1111001111", "T", 0, 3, 0, 1},
    {"or: no level flag refuses level 1", "T.V", kOr, "1111000111", "T", 0, 1, 0, 0},
    {"or: no level flag refuses level 3", "T.V", kOr, "1111000111", "T", 0, 3, 0, 0},
    {"and: no level flag ignores the level", "T.V", kAnd, "1111000010", "T", 0, 3, 0, 1},
    {"and: no level flag, no state flag", "T.V", kAnd, "1111000000", "T", 0, 3, 2, 1},
    {"and: Low alone requires level 1", "T.V", kAnd, "0000100000", "T", 0, 2, 0, 0},
    {"and: Low and Hig together match nothing", "T.V", kAnd, "0000110000", "T", 0, 1, 0, 0},
    // Acknowledgement states.
    {"or: Ack takes state 1", "T.V", kOr, "1111111100", "T", 0, 1, 1, 1},
    {"or: NoAck takes state 0", "T.V", kOr, "1111111010", "T", 0, 1, 0, 1},
    {"or: Resume takes state 2", "T.V", kOr, "1111111001", "T", 0, 1, 2, 1},
    {"or: unknown state refused", "T.V", kOr, "1111111111", "T", 0, 1, 3, 0},
    {"and: Resume alone requires state 2", "T.V", kAnd, "0000000001", "T", 0, 1, 2, 1},
    {"and: Resume alone refuses state 1", "T.V", kAnd, "0000000001", "T", 0, 1, 1, 0},
    {"and: Ack and NoAck together, state 0", "T.V", kAnd, "0000000110", "T", 0, 1, 0, 0},
    // Rules without flags.
    {"and: all flags clear", "T.V", kAnd, "0000000000", "T", 0, 1, 0, 0},
    {"or: all flags clear", "T.V", kOr, "0000000000", "T", 0, 1, 0, 0},
    {"or: all flags clear, kind 230", "T.V", kOr, "0000000000", "T", 230, 1, 0, 0},
    {"and: every flag set needs impossible levels", "T.V", kAnd, "1111111111", "T", 0, 1, 0, 0},
    {"any logic value but 0 is and-logic", "T.V", 7, "0000110000", "T", 0, 1, 0, 0},
};

TEST(AlarmRule, MatchesByTagKindLevelAndState) {
  for (const MatchCase& c : kMatchCases) {
    AlarmRule rule = Rule(c.varName, c.logic, c.flags);
    AlarmEvent event = Event(c.tag, c.kind, c.level, c.state);
    EXPECT_EQ(rule.Matches(&event), c.expected) << c.what;
  }
}

TEST(AlarmRule, NoEventMatchesNothing) {
  AlarmRule rule;
  rule.VarName = "Tank1.PV";
  EXPECT_EQ(rule.Matches(nullptr), 0);
}

TEST(AlarmRule, UnterminatedTagNameIsReadWithinItsField) {
  std::string tag(sizeof(AlarmEvent::tagName), 'A');
  AlarmEvent event = Event(tag, 1, 1, 0);
  AlarmRule rule;
  rule.VarName = tag + ".PV";
  EXPECT_EQ(rule.Matches(&event), 1);
  rule.VarName = tag + "A.PV";
  EXPECT_EQ(rule.Matches(&event), 0);
}

TEST(AlarmRule, RemovePhoneIndexDropsTheIndexAndMovesHigherOnesDown) {
  struct Case {
    std::vector<int> before;
    int removed;
    std::vector<int> after;
  } cases[] = {
      {{0, 1, 2, 1, 3}, 1, {0, 1, 2}},
      {{0, 1, 2}, -1, {0, 1, 2}},
      {{0, 2}, 0, {1}},
      {{3, 0, 2}, 5, {3, 0, 2}},
      {{2, 2, 2}, 2, {}},
      {{4, 1, 3, 0}, 2, {3, 1, 2, 0}},
      {{}, 0, {}},
  };
  for (const Case& c : cases) {
    AlarmRule rule;
    rule.TelPlace = c.before;
    rule.RemovePhoneIndex(c.removed);
    EXPECT_EQ(rule.TelPlace, c.after) << "removing " << c.removed;
  }
}

}  // namespace
}  // namespace pagorin
