#include "config/configuration.h"

#include <algorithm>

namespace pagorin {
namespace {

constexpr std::string_view kConfigFileName = "Kestrova_Configure.ini";

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr bool IsPathSeparator(char c) noexcept {
  return c == '\\' || c == '/';
}
#else
constexpr char kPathSeparator = '/';
constexpr bool IsPathSeparator(char c) noexcept {
  return c == '/';
}
#endif

}  // namespace

Configuration::~Configuration() = default;

PhoneEntry* Configuration::PhoneAt(int index) const noexcept {
  if (index < 0 || static_cast<std::size_t>(index) >= phoneBook.size()) return nullptr;
  return phoneBook[static_cast<std::size_t>(index)].get();
}

void Configuration::ClearPhoneBook() noexcept {
  phoneBook.clear();
}

void Configuration::ClearAlarmRules() noexcept {
  alarmRules.clear();
}

bool Configuration::RemovePhoneEntry(const PhoneEntry* entry) noexcept {
  auto found = std::find_if(phoneBook.begin(), phoneBook.end(),
                            [entry](const auto& candidate) { return candidate.get() == entry; });
  if (entry == nullptr || found == phoneBook.end()) return false;
  // Every rule forgets the entry's index (and the indexes behind it move down) before the entry
  // leaves the book, so that no rule ever names a position that shifted under it.
  const auto index = static_cast<int>(found - phoneBook.begin());
  for (auto& rule : alarmRules) {
    if (rule) rule->RemovePhoneIndex(index);
  }
  phoneBook.erase(found);
  return true;
}

bool Configuration::RemoveAlarmRule(const AlarmRule* rule) noexcept {
  auto found = std::find_if(alarmRules.begin(), alarmRules.end(),
                            [rule](const auto& candidate) { return candidate.get() == rule; });
  if (rule == nullptr || found == alarmRules.end()) return false;
  alarmRules.erase(found);
  return true;
}

std::string ConfigPathIn(const std::string& projectDirectory) noexcept {
  try {
    std::string path = projectDirectory;
    if (path.empty() || !IsPathSeparator(path.back())) path += kPathSeparator;
    path += kConfigFileName;
    return path;
  } catch (...) {
    return {};
  }
}

}  // namespace pagorin
