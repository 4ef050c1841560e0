#include "plant.h"

#include <gtest/gtest.h>

#include <cstring>

namespace pagorin::sim {
namespace {

using What = AlarmChange::What;

Variable Level() {
  Variable v;
  v.name = "Tank1.PV";
  v.number = 3;
  v.limits[kLoLo] = {true, 0.5, 3};
  v.limits[kLo] = {true, 1.0, 2};
  v.limits[kHi] = {true, 4.5, 2};
  v.limits[kHiHi] = {true, 4.8, 3};
  return v;
}

TEST(Plant, EachLimitIsAnAlarmOfItsOwnWithItsLevel) {
  Plant plant;
  std::string error;
  ASSERT_TRUE(plant.AddVariable(Level(), error));
  std::vector<AlarmChange> changes;
  ASSERT_TRUE(plant.SetNumber("Tank1.PV", 4.9, changes));
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].alarm.kind, kHi);
  EXPECT_EQ(changes[0].alarm.level, 2);
  EXPECT_EQ(changes[1].alarm.kind, kHiHi);
  EXPECT_EQ(changes[1].alarm.level, 3);
  EXPECT_NE(changes[0].alarm.eventId, changes[1].alarm.eventId);
  changes.clear();
  plant.SetNumber("Tank1.PV", 0.2, changes);  // both high alarms resume, both low ones rise
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0].what, What::kRaised);
  EXPECT_EQ(changes[0].alarm.kind, kLoLo);
  EXPECT_EQ(changes[2].what, What::kResumedNow);
  EXPECT_EQ(changes[2].alarm.ackState, kResumed);
}

TEST(Plant, AlarmLifeRaisedAcknowledgedResumedCleared) {
  Plant plant;
  std::string error;
  plant.AddVariable(Level(), error);
  std::vector<AlarmChange> changes;
  plant.SetNumber("Tank1.PV", 4.6, changes);
  ASSERT_EQ(plant.Alarms().size(), 1u);
  const std::int32_t id = plant.Alarms()[0].eventId;
  EXPECT_EQ(plant.Alarms()[0].ackState, kUnacknowledged);

  changes.clear();
  EXPECT_EQ(plant.Acknowledge("Tank1", changes), 1);  // by tag
  EXPECT_EQ(plant.Alarms()[0].ackState, kAcknowledged);
  EXPECT_EQ(plant.Acknowledge("Tank1", changes), 0);  // nothing more to acknowledge

  plant.SetNumber("Tank1.PV", 3, changes);
  EXPECT_EQ(plant.Alarms()[0].ackState, kResumed);
  EXPECT_EQ(plant.Alarms()[0].eventId, id);  // the same alarm through its whole life

  changes.clear();
  EXPECT_EQ(plant.Acknowledge("Tank1.PV", changes), 1);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].what, What::kCleared);
  EXPECT_TRUE(plant.Alarms().empty());

  plant.SetNumber("Tank1.PV", 4.6, changes);  // a new occurrence is a new alarm
  ASSERT_EQ(plant.Alarms().size(), 1u);
  EXPECT_NE(plant.Alarms()[0].eventId, id);
}

TEST(Plant, ReturningBeyondTheLimitBeforeAcknowledgementRaisesTheSameAlarmAgain) {
  Plant plant;
  std::string error;
  plant.AddVariable(Level(), error);
  std::vector<AlarmChange> changes;
  plant.SetNumber("Tank1.PV", 4.6, changes);
  plant.SetNumber("Tank1.PV", 3, changes);
  changes.clear();
  plant.SetNumber("Tank1.PV", 4.7, changes);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].what, What::kRaised);
  EXPECT_EQ(plant.Alarms().size(), 1u);
  EXPECT_EQ(plant.Alarms()[0].ackState, kUnacknowledged);
}

TEST(Plant, DiscreteAlarmOfATextVariableIsKind230) {
  Plant plant;
  std::string error;
  Variable state;
  state.name = "Pump1.State";
  state.type = kTextType;
  state.text = "run";
  state.discrete = true;
  state.discreteText = "fault";
  state.discreteLevel = 3;
  ASSERT_TRUE(plant.AddVariable(state, error));
  std::vector<AlarmChange> changes;
  plant.SetText("Pump1.State", "fault", changes);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].alarm.kind, kDiscrete);
  EXPECT_EQ(changes[0].alarm.level, 3);
  plant.SetText("Pump1.State", "run", changes);
  EXPECT_EQ(plant.Alarms()[0].ackState, kResumed);
}

TEST(Plant, RecordsCarryTheTagBeforeTheFirstDotAndTheAlarmFields) {
  Plant plant;
  std::string error;
  Variable v = Level();
  v.name = "Tank1.PV.Raw";
  plant.AddVariable(v, error);
  std::vector<AlarmChange> changes;
  plant.SetNumber("Tank1.PV.Raw", 0.25, changes);
  std::vector<AlarmEvent> records = plant.AlarmRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_STREQ(records[0].tagName, "Tank1");
  EXPECT_EQ(records[0].kind, kLoLo);
  EXPECT_EQ(records[0].level, 3);
  EXPECT_EQ(records[0].ackState, kUnacknowledged);
  EXPECT_FLOAT_EQ(records[0].limit, 0.5f);
  EXPECT_FLOAT_EQ(records[0].value, 0.25f);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&records[0]);
  for (std::size_t i = 116; i < sizeof(AlarmEvent); ++i)
    ASSERT_EQ(bytes[i], 0) << i;
}

TEST(Plant, VariableAlreadyBeyondItsLimitStandsFromTheStart) {
  Plant plant;
  std::string error;
  Variable v = Level();
  v.number = 5;
  plant.AddVariable(v, error);
  EXPECT_EQ(plant.Alarms().size(), 2u);
  EXPECT_FALSE(plant.AddVariable(v, error));  // the same name twice
  EXPECT_NE(error.find("twice"), std::string::npos);
}

TEST(Plant, UnknownNamesChangeNothing) {
  Plant plant;
  std::vector<AlarmChange> changes;
  EXPECT_FALSE(plant.SetNumber("Nope.PV", 1, changes));
  EXPECT_FALSE(plant.SetText("Nope.PV", "x", changes));
  EXPECT_EQ(plant.Acknowledge("Nope", changes), 0);
  EXPECT_TRUE(changes.empty());
}

}  // namespace
}  // namespace pagorin::sim
