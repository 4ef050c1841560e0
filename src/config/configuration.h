// The plug-in's configuration: serial settings, the send switch, the phone book and the alarm
// rules, and the configuration document that holds them in the project archive and in the file
// "Kestrova_Configure.ini" of the project directory. The plug-in object is a Configuration; the
// dialogs edit it in place.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "config/alarm_rule.h"
#include "config/phone_entry.h"

namespace pagorin {

class Archive;
class MarkupDocument;

struct Configuration {
  virtual ~Configuration();

  // The entry at phone-book index `index`, or nullptr when there is none.
  PhoneEntry* PhoneAt(int index) const noexcept;
  void ClearPhoneBook() noexcept;
  void ClearAlarmRules() noexcept;
  // Removes `entry` from the phone book after every rule's TelPlace was adjusted for its index
  // (RemovePhoneIndex). False when the entry is not in the phone book.
  bool RemovePhoneEntry(const PhoneEntry* entry) noexcept;
  // Removes and deletes `rule`. False when it is not in the rule list.
  bool RemoveAlarmRule(const AlarmRule* rule) noexcept;

  int Version = 1;
  int Com = 0;      // serial port index, port number Com + 1
  int Baund = 2;    // baud-rate index: 0 2400, 1 4800, 2 9600, 3 14400, 4 19200, 5 115200
  int DataBit = 1;  // 0 seven data bits, else eight
  std::vector<std::unique_ptr<PhoneEntry>> phoneBook;
  std::vector<std::unique_ptr<AlarmRule>> alarmRules;
  std::string configPath;  // the configuration file
  int sendEnabled = 1;     // the send switch; never stored
};

// The configuration file's path in `projectDirectory`, joined with the platform's separator (no
// second separator when the directory already ends with one). Empty only when memory runs out.
std::string ConfigPathIn(const std::string& projectDirectory) noexcept;

// Builds the configuration document, writes it safely to configPath (a failure is not reported;
// the file is replaced whole or left as it was) and returns its text. When memory runs out the
// file is not touched and the result is empty.
std::string SaveConfiguration(const Configuration& config) noexcept;

// Refills the configuration from the file at configPath, read into `document`. A missing file or
// one without an XML root changes nothing. Counts in the file are trusted only as far as the
// text can hold that many elements and attributes. Either everything is replaced or, when memory
// runs out, nothing.
void LoadConfiguration(Configuration& config, MarkupDocument& document) noexcept;

// Stores the configuration in the archive (Version, then the document text, which also rewrites
// the file), or loads it (reads both, then LoadConfiguration from the file; the file's Version
// wins). A damaged or truncated archive changes nothing and the file is not read.
void SerializeConfiguration(Configuration& config, MarkupDocument& document,
                            Archive& archive) noexcept;

}  // namespace pagorin
