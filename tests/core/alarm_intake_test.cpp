#include "core/alarm_intake.h"

#include <new>
#include <random>

#include "core_fixture.h"
#include "support/allocation_failure.h"

namespace pagorin::testing {
namespace {

// --- Cutting texts into message pieces ---

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<std::size_t> pieceBytes;
};

std::string Repeat(std::string_view unit, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i)
    text += unit;
  return text;
}

TEST(SplitForSms, CutsAfterSeventyCharactersWithoutSplittingOne) {
  const std::string han = Cp("报");
  ASSERT_EQ(han.size(), 2u);
  const std::vector<SplitCase> cases{
      {"empty", "", {}},
      {"one character", "A", {1}},
      {"70 ASCII", Repeat("a", 70), {70}},
      {"71 ASCII", Repeat("a", 71), {70, 1}},
      {"141 ASCII", Repeat("a", 141), {70, 70, 1}},
      {"70 Chinese", Repeat(han, 70), {140}},
      {"71 Chinese", Repeat(han, 71), {140, 2}},
      {"ASCII then 70 Chinese", "a" + Repeat(han, 70), {139, 2}},
      {"139 ASCII then Chinese", Repeat("a", 139) + han, {70, 69 + 2}},
      {"lone lead byte at the end", Repeat("a", 70) + "\xB1", {70, 1}},
  };
  for (const SplitCase& c : cases) {
    std::vector<std::string> pieces = SplitForSms(c.text);
    std::vector<std::size_t> sizes;
    std::string joined;
    for (const std::string& piece : pieces) {
      sizes.push_back(piece.size());
      joined += piece;
    }
    EXPECT_EQ(sizes, c.pieceBytes) << c.name;
    EXPECT_EQ(joined, c.text) << c.name;
  }
}

// --- The memory of the previous answer ---

TEST(KnownAlarms, IndexFindsExactlyWhatAScanFinds) {
  std::mt19937 random(7);
  auto pick = [&random](int bound) {
    return static_cast<int>(random() % static_cast<unsigned>(bound));
  };
  std::vector<AlarmEvent> previous;
  for (int i = 0; i < 3000; ++i) {
    // Few identities and few tags, so that many copies share an identity or a name.
    previous.push_back(MakeEvent(pick(300), "T" + std::to_string(pick(4)), pick(4), 1 + pick(3),
                                 pick(4), 0.0f, 0.0f, pick(3)));
  }
  AlarmEvent fullName = MakeEvent(5, "");
  std::memset(fullName.tagName, 'x', sizeof fullName.tagName);  // no terminator at all
  previous.push_back(fullName);
  KnownAlarms known;
  known.Replace(previous.data(), previous.size());
  int found = 0;
  std::size_t cursor = 0;
  for (int i = 0; i < 5000; ++i) {
    AlarmEvent probe = MakeEvent(pick(320), "T" + std::to_string(pick(5)), pick(4), 1 + pick(3),
                                 pick(5), 1.0f, 2.0f, pick(3));
    if (i % 2 == 0) probe = previous[static_cast<std::size_t>(pick(3000))];
    bool expected = known.ContainsByScan(probe);
    ASSERT_EQ(known.Contains(probe), expected) << i;
    ASSERT_EQ(known.Contains(probe, cursor), expected) << i;
    found += expected ? 1 : 0;
  }
  // The cursor's copy is tried first, and a miss there still finds the event elsewhere.
  cursor = 0;
  EXPECT_TRUE(known.Contains(previous[10], cursor));
  EXPECT_GT(cursor, 0u);
  EXPECT_GT(found, 2500);
  EXPECT_TRUE(known.Contains(fullName));
  AlarmEvent otherFullName = fullName;
  otherFullName.tagName[95] = 'y';
  EXPECT_FALSE(known.Contains(otherFullName));
}

TEST(KnownAlarms, RemembersOnlyIntakeStatesInOrder) {
  std::vector<AlarmEvent> events{MakeEvent(1, "A", 0, 1, 4), MakeEvent(2, "B", 0, 1, 3),
                                 MakeEvent(3, "C", 0, 1, 255), MakeEvent(4, "D", 0, 1, 0)};
  KnownAlarms known;
  known.Replace(events.data(), events.size());
  ASSERT_EQ(known.size(), 2u);
  EXPECT_EQ(known.Copies()[0].eventId, 2);
  EXPECT_EQ(known.Copies()[1].eventId, 4);
  EXPECT_FALSE(known.Contains(events[0]));
  EXPECT_EQ(std::memcmp(&known.Copies()[0], &events[1], sizeof(AlarmEvent)), 0);
}

TEST(KnownAlarms, IdentityAndConditionDecideValueDoesNot) {
  const AlarmEvent base = MakeEvent(10, "Tank1", 2, 3, 0, 12.5f, 10.0f, 1);
  KnownAlarms known;
  known.Replace(&base, 1);
  struct Variant {
    const char* name;
    void (*change)(AlarmEvent&);
    bool known;
  };
  const std::vector<Variant> variants{
      {"same", [](AlarmEvent&) {}, true},
      {"value", [](AlarmEvent& e) { e.value = 99.0f; }, true},
      {"limit", [](AlarmEvent& e) { e.limit = -1.0f; }, true},
      {"unread bytes", [](AlarmEvent& e) { e.reserved116[0] = 9; }, true},
      {"eventId", [](AlarmEvent& e) { e.eventId = 11; }, false},
      {"eventSubId", [](AlarmEvent& e) { e.eventSubId = 2; }, false},
      {"tag", [](AlarmEvent& e) { e.tagName[0] = 't'; }, false},
      {"kind", [](AlarmEvent& e) { e.kind = 3; }, false},
      {"level", [](AlarmEvent& e) { e.level = 2; }, false},
      {"ackState", [](AlarmEvent& e) { e.ackState = 1; }, false},
  };
  for (const Variant& v : variants) {
    AlarmEvent probe = base;
    v.change(probe);
    EXPECT_EQ(known.Contains(probe), v.known) << v.name;
  }
}

TEST(KnownAlarms, AlarmsSharingOneIdentityStillSpreadOverTheIndex) {
  // The most alarms one answer can hold, all with one eventId and eventSubId; they differ in their
  // tag, or only in kind, level or state.
  struct Case {
    const char* name;
    AlarmEvent (*make)(int i);
  };
  const Case cases[] = {
      {"distinct tags", [](int i) { return MakeEvent(1, "Pump" + std::to_string(i), 1, 2, 0); }},
      {"long tags differing at the end",
       [](int i) { return MakeEvent(1, std::string(80, 'T') + std::to_string(i), 1, 2, 0); }},
      {"one tag, kind level and state",
       [](int i) {
         return MakeEvent(1, "Tag" + std::to_string(i / 48), i % 4, i / 4 % 4, i / 16 % 3);
       }},
  };
  for (const Case& c : cases) {
    std::vector<AlarmEvent> events;
    for (int i = 0; i < 32767; ++i)
      events.push_back(c.make(i));
    KnownAlarms known;
    known.Replace(events.data(), events.size());
    // A chain through every copy would make each look-up a scan of the whole answer.
    EXPECT_LT(known.LongestRun(), 64u) << c.name;
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < events.size(); i += 97) {
      ASSERT_TRUE(known.Contains(events[i])) << c.name << " " << i;
      ASSERT_TRUE(known.Contains(events[events.size() - 1 - i], cursor)) << c.name << " " << i;
    }
    AlarmEvent absent = c.make(40000);
    EXPECT_FALSE(known.Contains(absent)) << c.name;
  }
}

// --- The request cycle ---

class RequestCycleTest : public PluginTest {
 protected:
  int Poll() {
    code = sub = flags = -5;
    size = -5;
    std::memset(&block, 0x5A, sizeof block);
    return plugin->GetRequest(&code, &sub, &flags, 0, &size, &block);
  }
  void ExpectUntouched() {
    EXPECT_EQ(code, -5);
    EXPECT_EQ(sub, -5);
    EXPECT_EQ(flags, -5);
    EXPECT_EQ(size, -5);
    EXPECT_EQ(block.first, 0x5A5A5A5A);
  }

  std::int16_t code = 0, sub = 0, flags = 0;
  std::int32_t size = 0;
  AlarmRequest block{};
};

TEST_F(RequestCycleTest, NoRequestWithoutAnOpenPort) {
  ticks.Advance(10000);
  EXPECT_EQ(Poll(), 0);
  ExpectUntouched();
  EXPECT_EQ(host.CountOf("RequestTimedOut"), 0u);
}

TEST_F(RequestCycleTest, RequestsAreASecondApartAndFilledInAsTheHostExpects) {
  StartRunning();
  ticks.Advance(999);
  EXPECT_EQ(Poll(), 0);
  ExpectUntouched();
  ticks.Advance(1);
  ASSERT_EQ(Poll(), 1);
  EXPECT_EQ(code, 1007);
  EXPECT_EQ(sub, 1000);
  EXPECT_EQ(flags, 0);
  EXPECT_EQ(size, 24);
  EXPECT_EQ(block.first, 0);
  for (std::int32_t limit : block.limits)
    EXPECT_EQ(limit, -1);
  EXPECT_EQ(block.flag20, 0);
  EXPECT_EQ(block.flag21, 1);
  EXPECT_EQ(block.unused22[0], 0x5A);  // never written
  EXPECT_EQ(block.unused22[1], 0x5A);
  EXPECT_EQ(plugin->requestPending, 1);

  // Pending: every poll is refused until the answer comes.
  ticks.Advance(2000);
  EXPECT_EQ(Poll(), 0);
  ExpectUntouched();
  Answer({});
  EXPECT_EQ(plugin->requestPending, 0);
  // The spacing counts from the request, not from the answer.
  ticks.Advance(999);
  EXPECT_EQ(Poll(), 1);
  ticks.Advance(500);
  Answer({});
  EXPECT_EQ(Poll(), 0);
  ticks.Advance(500);
  EXPECT_EQ(Poll(), 1);
  EXPECT_EQ(host.CountOf("RequestTimedOut"), 0u);
}

TEST_F(RequestCycleTest, UnansweredRequestIsAbandonedAfterFourSeconds) {
  StartRunning();
  ticks.Advance(1000);
  ASSERT_EQ(Poll(), 1);
  ticks.Advance(4000);
  EXPECT_EQ(Poll(), 0);
  EXPECT_EQ(host.CountOf("RequestTimedOut"), 0u);
  ticks.Advance(1);
  EXPECT_EQ(Poll(), 0);
  ExpectUntouched();
  EXPECT_EQ(host.CountOf("RequestTimedOut"), 1u);
  EXPECT_EQ(plugin->requestPending, 0);
  ticks.Advance(999);
  EXPECT_EQ(Poll(), 0);
  ticks.Advance(1);
  EXPECT_EQ(Poll(), 1);
  EXPECT_EQ(host.CountOf("RequestTimedOut"), 1u);
}

TEST_F(RequestCycleTest, LateFirstPollAfterStartTimesOutWithoutARequest) {
  StartRunning();
  ticks.Advance(4001);
  EXPECT_EQ(Poll(), 0);
  EXPECT_EQ(host.CountOf("RequestTimedOut"), 1u);
  ticks.Advance(1000);
  EXPECT_EQ(Poll(), 1);
}

TEST_F(RequestCycleTest, SpacingHoldsAcrossTheWrapOfTheTickCount) {
  ticks.Set(0xFFFFFF00u);
  StartRunning();
  ticks.Set(0x000002E7u);  // 999 ms later, after the wrap
  EXPECT_EQ(Poll(), 0);
  ticks.Advance(1);
  EXPECT_EQ(Poll(), 1);
  EXPECT_EQ(host.CountOf("RequestTimedOut"), 0u);
}

// --- New alarms and their dispatch ---

class IntakeTest : public PluginTest {
 protected:
  void SetUp() override {
    AddPhone("13800138000");
    AddPhone("13900139000");
    plugin->alarmRules.push_back(MakeRule("Tank1.PV", {0}));
    StartRunning();
  }
  const AlarmEvent tank = MakeEvent(1, "Tank1", 2, 3, 0, 12.5f, 10.0f);
};

TEST_F(IntakeTest, FirstAnswerOnlySetsTheBaseline) {
  Answer({tank, MakeEvent(2, "Tank1", 0, 1, 1), MakeEvent(3, "Tank1", 1, 2, 2)});
  EXPECT_EQ(Queued(), 0u);
  EXPECT_EQ(plugin->knownAlarms.size(), 3u);
  EXPECT_EQ(plugin->firstResult, 0);
}

TEST_F(IntakeTest, AnswerEqualToThePreviousQueuesNothing) {
  Answer({tank});
  Answer({tank});
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(IntakeTest, ChangedStateIsNewChangedValueIsNot) {
  Answer({tank});
  AlarmEvent moved = tank;
  moved.value = 15.0f;
  moved.limit = 11.0f;
  Answer({moved});
  EXPECT_EQ(Queued(), 0u);
  AlarmEvent acknowledged = moved;
  acknowledged.ackState = 1;
  Answer({acknowledged});
  EXPECT_EQ(Deliver(1),
            (std::vector<DeliveredMessage>{{"13800138000", "Tank1" + Cp("报警:高报,紧急,确认")}}));
}

TEST_F(IntakeTest, EmptyAnswerForgetsEveryAlarm) {
  Answer({tank});
  Answer({});
  EXPECT_TRUE(plugin->knownAlarms.empty());
  Answer({tank});
  EXPECT_EQ(Queued(), 1u);
}

TEST_F(IntakeTest, NewAlarmAfterTheBaselineIsSentAndTwinsAreSentTwice) {
  Answer({});
  Answer({tank, tank});
  EXPECT_EQ(Queued(), 2u);
}

TEST_F(IntakeTest, StateFourIsNeitherSentNorRemembered) {
  AlarmEvent four = tank;
  four.ackState = 4;
  Answer({four});
  Answer({four});
  EXPECT_EQ(Queued(), 0u);
  EXPECT_TRUE(plugin->knownAlarms.empty());
  AlarmEvent three = tank;
  three.ackState = 3;  // taken in, though no rule accepts it
  Answer({three});
  EXPECT_EQ(plugin->knownAlarms.size(), 1u);
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(IntakeTest, AnswersThatListNothingLeaveTheKnownAlarms) {
  struct Case {
    const char* name;
    bool pending;
    std::int16_t count;
    bool records;
  };
  // A stale answer (no request pending, e.g. after the request was abandoned) listing no alarm
  // or another one, a negative count, a count without records.
  const AlarmEvent other = MakeEvent(2, "Tank1", 1, 1, 0);
  const Case cases[] = {
      {"stale, empty", false, 0, false},
      {"stale, another alarm", false, 1, true},
      {"negative count", true, -3, true},
      {"count without records", true, 1, false},
  };
  for (const Case& c : cases) {
    Answer({tank});
    plugin->requestPending = c.pending ? 1 : 0;
    plugin->OnRequestResult(0, c.count, 0, 0, 0, c.records ? &other : nullptr);
    EXPECT_EQ(plugin->requestPending, 0) << c.name;
    ASSERT_EQ(plugin->knownAlarms.size(), 1u) << c.name;
    EXPECT_EQ(plugin->knownAlarms.Copies()[0].eventId, tank.eventId) << c.name;
    // The alarm was not forgotten, so the next answer does not send it again.
    Answer({tank});
    EXPECT_EQ(Queued(), 0u) << c.name;
  }
}

TEST_F(IntakeTest, AnswerAfterAnAbandonedRequestIsNotTaken) {
  Answer({tank});
  ticks.Advance(1000);
  std::int16_t code = 0, sub = 0, flags = 0;
  std::int32_t size = 0;
  AlarmRequest block{};
  ASSERT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 1);
  ticks.Advance(4001);
  EXPECT_EQ(plugin->GetRequest(&code, &sub, &flags, 0, &size, &block), 0);  // abandoned
  plugin->OnRequestResult(0, 0, 0, 0, 0, nullptr);                          // comes late
  EXPECT_EQ(plugin->knownAlarms.size(), 1u);
  Answer({tank});
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(IntakeTest, IndexOutsideThePhoneBookIsSkipped) {
  plugin->alarmRules[0]->TelPlace = {7, -1, 1};
  Answer({});
  Answer({tank});
  EXPECT_EQ(
      Deliver(1),
      (std::vector<DeliveredMessage>{{"13900139000", "Tank1" + Cp("报警:高报,紧急,未确认,")}}));
}

TEST_F(IntakeTest, RuleWithoutPhonesOrNotMatchingSendsNothing) {
  plugin->alarmRules[0]->TelPlace.clear();
  plugin->alarmRules.push_back(MakeRule("Pump.ST", {0, 1}));
  Answer({});
  Answer({tank});
  EXPECT_EQ(Queued(), 0u);
}

TEST_F(IntakeTest, TwoRulesWithTwoPhonesEachSendInRuleThenPhoneOrder) {
  plugin->alarmRules.clear();
  plugin->alarmRules.push_back(MakeRule("Tank1.PV", {0, 1}, "R1"));
  plugin->alarmRules.push_back(MakeRule("Tank1.SP", {1, 0}, "R2"));
  Answer({});
  Answer({tank});
  const std::string content = Cp("报警:高报,紧急,未确认,");
  EXPECT_EQ(Deliver(4), (std::vector<DeliveredMessage>{{"13800138000", "R1" + content},
                                                       {"13900139000", "R1" + content},
                                                       {"13900139000", "R2" + content},
                                                       {"13800138000", "R2" + content}}));
}

TEST_F(IntakeTest, TextIsComposedAnewForEveryPhone) {
  plugin->alarmRules[0]->TelPlace = {0, 1};
  plugin->alarmRules[0]->User = 1;
  host.SetText("$UserName", "admin");
  Answer({});
  Answer({tank});
  EXPECT_EQ(host.CountOf("GetTextValue"), 2u);
}

TEST_F(IntakeTest, LongMessageArrivesAsOneMessage) {
  const std::string desc = Cp(Repeat("泵", 80));
  plugin->alarmRules[0]->Desc = desc;
  Answer({});
  Answer({tank});
  const std::string full = desc + Cp("报警:高报,紧急,未确认,");
  const std::vector<DeliveredMessage> delivered = Deliver(1);
  EXPECT_EQ(delivered, (std::vector<DeliveredMessage>{{"13800138000", full}}));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].parts, 2);
}

// Out of memory while an answer is taken: the answer is forgotten, so that its alarms count as
// new in the next one. An alarm may then be sent twice, but none is lost.
TEST_F(IntakeTest, OutOfMemoryLosesNoNewAlarm) {
  plugin->Coalesce = 0;
  const std::vector<AlarmEvent> answer{tank, MakeEvent(5, "Tank1", 0, 1, 1)};
  Answer({});
  std::size_t before = 0;
  const int failures = ForEachAllocationFailure(
      [&] {
        Answer({});
        before = Queued();
      },
      [&] {
        Answer(answer);
        return true;
      },
      [&](bool, bool failed) {
        if (failed) Answer(answer);
        EXPECT_GE(Queued() - before, answer.size()) << "a new alarm was lost";
        EXPECT_EQ(plugin->knownAlarms.size(), answer.size());
        if (!failed) {
          EXPECT_EQ(Queued() - before, answer.size());
        }
      });
  EXPECT_GT(failures, 0) << "taking an answer allocates";
}

// The memory of the previous answer is replaced whole or, when memory runs out, emptied.
TEST(KnownAlarms, OutOfMemoryLeavesTheNewAnswerOrNothing) {
  const std::vector<AlarmEvent> previous{MakeEvent(1, "A"), MakeEvent(2, "B")};
  std::vector<AlarmEvent> next;
  for (int i = 0; i < 40; ++i)
    next.push_back(MakeEvent(10 + i, "Tank" + std::to_string(i), i % 4, i % 3 + 1, i % 3));
  KnownAlarms known;
  bool threw = false;
  const int failures = ForEachAllocationFailure(
      [&] {
        known.Replace(previous.data(), previous.size());
        threw = false;
      },
      [&] {
        try {
          known.Replace(next.data(), next.size());
        } catch (const std::bad_alloc&) {
          threw = true;
        }
        return !threw;
      },
      [&](bool replaced, bool) {
        if (!replaced) {
          EXPECT_TRUE(known.empty());
          EXPECT_FALSE(known.Contains(previous[0]));
          return;
        }
        ASSERT_EQ(known.size(), next.size());
        for (const AlarmEvent& event : next)
          EXPECT_TRUE(known.Contains(event));
        EXPECT_FALSE(known.Contains(previous[1]));
      });
  EXPECT_GT(failures, 0) << "replacing allocates";
}

}  // namespace
}  // namespace pagorin::testing
