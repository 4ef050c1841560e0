// The plug-in's configuration: serial settings, the send switch, the phone book and the alarm
// rules, and the configuration document that holds them in the project archive and in the file
// "Kestrova_Configure.ini" of the project directory. The plug-in object is a Configuration; the
// dialogs edit it in place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/alarm_rule.h"
#include "config/line_settings.h"
#include "config/phone_entry.h"

namespace pagorin {

class Archive;
class MarkupDocument;

// What the last load of the configuration found wrong with the file and its phone indexes, so
// that the user can be told. A report with file kTaken and nothing skipped has nothing to tell.
struct LoadReport {
  enum class File {
    kTaken,       // the file was loaded (or nothing was loaded yet)
    kMissing,     // there is no file
    kUnreadable,  // the file could not be read
    kDamaged,     // the file did not parse cleanly (cut short, a zero byte, no XML root)
    kOlder,       // the file is older than the copy stored in the project
  };
  File file = File::kTaken;
  std::string detail;        // the system's or the parser's words for what was wrong
  bool fromProject = false;  // the project's stored copy was loaded in the file's place
  int fileRevision = 0;      // with kOlder: the two revisions compared
  int projectRevision = 0;
  // Phone indexes of rules that named no phone-book entry (or were counted by VarCount but not
  // stored) and were left out.
  int rulesWithSkippedPhones = 0;
  std::int64_t skippedPhoneIndexes = 0;
};

struct Configuration {
  // Bounds of MaxParts and Coalesce; a stored value outside them loads as the default.
  static constexpr int kMinParts = 1;
  static constexpr int kMaxParts = 20;
  static constexpr int kMaxCoalesce = 1000;
  // Bounds of ReportWaitMin (a week) and LoopHours (a month); outside them a stored value loads
  // as the default.
  static constexpr int kMinReportWaitMin = 1;
  static constexpr int kMaxReportWaitMin = 7 * 24 * 60;
  static constexpr int kMaxLoopHours = 30 * 24;

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

  // The last load's findings in a few words for a log or a console, one finding a line; empty
  // when there is nothing to tell (a missing file is told only when the project's copy took its
  // place).
  std::string LastLoadProblem() const;
  // Why the last save did not write the file; empty when it did.
  const std::string& LastSaveProblem() const noexcept { return lastSaveProblem; }

  int Version = 1;
  int Com = 0;                    // serial port index, port number Com + 1
  int Baund = kDefaultBaudIndex;  // baud-rate index into kBaudRates
  int DataBit = 1;                // 0 seven data bits, else eight
  // How a long text is sent; optional in the document (older files have none and get these).
  int Concat = 1;    // 1 one concatenated message, 0 separate messages of 70 characters
  int MaxParts = 5;  // most parts (or separate messages) of one text, kMinParts..kMaxParts
  int Coalesce = 3;  // more waiting messages for one number than this are joined; 0 never
  std::vector<std::unique_ptr<PhoneEntry>> phoneBook;
  std::vector<std::unique_ptr<AlarmRule>> alarmRules;
  // 1: messages a previous run left unsent are queued again when the project starts (attribute
  // "Resend" of the root, written only when 0; a file without it resends).
  int Resend = 1;
  // A host script run when the SMS path starts failing and again when it recovers, so that the
  // HMI can raise its own alarm about its notifier (attribute "ModemScript" of the root, written
  // only when set; empty: none).
  std::string ModemScript;
  // 1: every SMS asks for a status report (attribute "Reports", written only when 0).
  int Reports = 1;
  // Minutes after which a sent message without a report counts as sent without one.
  int ReportWaitMin = 60;
  // A host script run for each whole incoming message from a phone-book number, with %NUMBER%,
  // %NAME% and %TEXT% replaced; empty: none.
  std::string InboxScript;
  // The loop test: the modem's own number (11 or 12 digits) and the hours between two test
  // messages sent to it; 0 or no number: no test.
  std::string OwnNumber;
  int LoopHours = 0;
  std::string configPath;  // the configuration file
  int sendEnabled = 1;     // the send switch; never stored
  // Counts the saves: each save stores the next value, in the file and in the project's copy
  // alike, so that a load can tell which of the two is newer. 0 for a file written without it.
  int Revision = 0;
  LoadReport lastLoad;
  std::string lastSaveProblem;
  // Set when a load found the file damaged: the next save keeps that file aside as a copy
  // (KeptAsidePath) before writing over it.
  bool keepFileAside = false;
};

// The configuration file's path in `projectDirectory`, joined with the platform's separator (no
// second separator when the directory already ends with one). Empty only when memory runs out.
std::string ConfigPathIn(const std::string& projectDirectory) noexcept;

// Where a damaged configuration file is kept when a save writes over it: `configPath` with
// ".damaged" appended, or ".damaged2" to ".damaged9" when that name is taken by another text.
std::string KeptAsidePath(const std::string& configPath, const std::string& damagedText);

// Builds the configuration document with the next Revision, writes it safely to configPath (the
// file is replaced whole or left as it was) and returns its text. A damaged file found by the
// last load is first copied aside; when that copy cannot be made the file is not written over.
// A failure to write is kept in lastSaveProblem (empty after a good save, which also clears the
// last load's report: the file now holds the configuration). When memory runs out the file is
// not touched and the result is empty.
std::string SaveConfiguration(Configuration& config) noexcept;

// Refills the configuration from the file at configPath, read into `document`. A file that is
// missing, unreadable, or does not parse cleanly into one XML root (cut short, a zero byte)
// changes nothing; lastLoad says which. Rules keep only the phone indexes that are stored and
// name an entry of the phone book; lastLoad counts the others. Either everything is replaced
// or, when memory runs out, nothing.
void LoadConfiguration(Configuration& config, MarkupDocument& document) noexcept;

// Stores the configuration in the archive (Version, then the document text, which also rewrites
// the file), or loads it: reads both, then loads the file, or the archived text in its place
// when the file is missing, unreadable, damaged, or of a lower Revision than the archived text.
// The loaded document's Version wins over the archived one. A damaged or truncated archive
// changes nothing and the file is not read.
void SerializeConfiguration(Configuration& config, MarkupDocument& document,
                            Archive& archive) noexcept;

}  // namespace pagorin
