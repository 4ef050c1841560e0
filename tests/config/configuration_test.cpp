#include "config/configuration.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace pagorin {
namespace {

void AddPhones(Configuration& config, int count) {
  for (int i = 0; i < count; ++i) {
    auto entry = std::make_unique<PhoneEntry>();
    entry->TelNum = "1380013800" + std::to_string(i);
    config.phoneBook.push_back(std::move(entry));
  }
}

AlarmRule* AddRule(Configuration& config, std::vector<int> places) {
  auto rule = std::make_unique<AlarmRule>();
  rule->TelPlace = std::move(places);
  config.alarmRules.push_back(std::move(rule));
  return config.alarmRules.back().get();
}

TEST(Configuration, PhoneAtAnswersOnlyPositionsOfThePhoneBook) {
  Configuration config;
  AddPhones(config, 3);
  EXPECT_EQ(config.PhoneAt(0), config.phoneBook[0].get());
  EXPECT_EQ(config.PhoneAt(2), config.phoneBook[2].get());
  EXPECT_EQ(config.PhoneAt(3), nullptr);
  EXPECT_EQ(config.PhoneAt(-1), nullptr);
  EXPECT_EQ(Configuration().PhoneAt(0), nullptr);
}

TEST(Configuration, RemovingAPhoneEntryAdjustsEveryRule) {
  Configuration config;
  AddPhones(config, 3);
  AlarmRule* first = AddRule(config, {0, 2});
  AlarmRule* second = AddRule(config, {2, 1, 0});
  AlarmRule* untouched = AddRule(config, {});
  PhoneEntry* last = config.phoneBook[2].get();

  ASSERT_TRUE(config.RemovePhoneEntry(config.phoneBook[0].get()));
  EXPECT_EQ(first->TelPlace, (std::vector<int>{1}));
  EXPECT_EQ(second->TelPlace, (std::vector<int>{1, 0}));
  EXPECT_TRUE(untouched->TelPlace.empty());
  ASSERT_EQ(config.phoneBook.size(), 2u);
  EXPECT_EQ(config.PhoneAt(1), last);
  EXPECT_EQ(config.PhoneAt(first->TelPlace[0]), last);
}

TEST(Configuration, RemovingAnUnknownRecordChangesNothing) {
  Configuration config;
  AddPhones(config, 2);
  AlarmRule* rule = AddRule(config, {0, 1});
  PhoneEntry stranger;
  AlarmRule otherRule;
  EXPECT_FALSE(config.RemovePhoneEntry(&stranger));
  EXPECT_FALSE(config.RemovePhoneEntry(nullptr));
  EXPECT_FALSE(config.RemoveAlarmRule(&otherRule));
  EXPECT_FALSE(config.RemoveAlarmRule(nullptr));
  EXPECT_EQ(config.phoneBook.size(), 2u);
  EXPECT_EQ(config.alarmRules.size(), 1u);
  EXPECT_EQ(rule->TelPlace, (std::vector<int>{0, 1}));
}

TEST(Configuration, RemovesAlarmRulesAndClearsLists) {
  Configuration config;
  AddPhones(config, 2);
  AddRule(config, {0});
  AlarmRule* second = AddRule(config, {1});
  AlarmRule* third = AddRule(config, {});
  ASSERT_TRUE(config.RemoveAlarmRule(second));
  ASSERT_EQ(config.alarmRules.size(), 2u);
  EXPECT_EQ(config.alarmRules[1].get(), third);
  config.ClearPhoneBook();
  config.ClearAlarmRules();
  EXPECT_TRUE(config.phoneBook.empty());
  EXPECT_TRUE(config.alarmRules.empty());
}

TEST(Configuration, ConfigPathJoinsTheProjectDirectoryWithOneSeparator) {
  struct Case {
    const char* directory;
    const char* path;
  } cases[] = {
#ifdef _WIN32
      {"C:\\proj", "C:\\proj\\Kestrova_Configure.ini"},
      {"C:\\proj\\", "C:\\proj\\Kestrova_Configure.ini"},
      {"C:/proj/", "C:/proj/Kestrova_Configure.ini"},
      {"", "\\Kestrova_Configure.ini"},
#else
      {"dir", "dir/Kestrova_Configure.ini"}, {"dir/", "dir/Kestrova_Configure.ini"},
      {"a/b", "a/b/Kestrova_Configure.ini"}, {"/", "/Kestrova_Configure.ini"},
      {"", "/Kestrova_Configure.ini"},
#endif
  };
  for (const Case& c : cases)
    EXPECT_EQ(ConfigPathIn(c.directory), c.path) << c.directory;
}

}  // namespace
}  // namespace pagorin
