// The configuration document: building it from the configuration, refilling the configuration
// from it, and its place in the project archive.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/decimal.h"
#include "config/stored_attributes.h"
#include "markup/markup_document.h"
#include "platform/archive.h"
#include "platform/file_io.h"
#include "platform/system_error.h"

namespace pagorin {
namespace {

constexpr const char* kHeaderLine = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
constexpr const char* kRevisionAttribute = "Revision";
constexpr const char* kAsideSuffix = ".damaged";
constexpr int kAsideNames = 9;

// An edit of a document the module builds itself names only valid elements and attributes, so
// it fails only when memory runs out. A save must not go on without it: the file would lose the
// record quietly.
void Require(bool edited) {
  if (!edited) throw std::bad_alloc();
}

int CountOf(std::size_t size) noexcept {
  return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

int IntAttribute(const MarkupDocument& document, const char* name) {
  return detail::ParseDecimal(document.GetAttribute(name));
}

// An attribute that older files do not have: `fallback` when it is missing or outside
// [low, high].
int OptionalIntAttribute(const MarkupDocument& document, const char* name, int fallback, int low,
                         int high) {
  const std::string text = document.GetAttribute(name);
  if (text.empty()) return fallback;
  const int value = detail::ParseDecimal(text);
  return value >= low && value <= high ? value : fallback;
}

template <typename Record, std::size_t N>
void ReadAttributes(Record& record, const MarkupDocument& document,
                    const std::array<StoredAttribute<Record>, N>& attributes) {
  for (const StoredAttribute<Record>& attribute : attributes) {
    if (attribute.text != nullptr) {
      record.*attribute.text = document.GetAttribute(attribute.name);
    } else {
      record.*attribute.number = IntAttribute(document, attribute.name);
    }
  }
}

template <typename Record, std::size_t N>
void WriteAttributes(const Record& record, MarkupDocument& document,
                     const std::array<StoredAttribute<Record>, N>& attributes) {
  const int element = document.CurrentPos();
  for (const StoredAttribute<Record>& attribute : attributes) {
    if (attribute.text != nullptr) {
      Require(document.SetAttribute(element, attribute.name, (record.*attribute.text).c_str()));
    } else {
      Require(document.SetAttribute(element, attribute.name, record.*attribute.number));
    }
  }
}

// The start tag of the document's current element: the only place its attributes can stand.
std::string_view CurrentStartTag(const MarkupDocument& document) {
  const MarkupDocument::ElementRecord* element = document.Record(document.CurrentPos());
  if (element == nullptr || element->start < 0 || element->startTagLength <= 0) return {};
  return std::string_view(document.Text())
      .substr(static_cast<std::size_t>(element->start),
              static_cast<std::size_t>(element->startTagLength));
}

// Reads the rule's fields and its phone indexes: of the `VarCount` indexes, those whose
// attribute TelPlace<k> is stored and, when `phoneCount` is given, names an entry of a phone
// book that long. Returns how many of the counted indexes were left out.
std::int64_t ReadRule(AlarmRule& rule, const MarkupDocument& document,
                      std::optional<std::size_t> phoneCount) {
  ReadAttributes(rule, document, kRuleAttributes);
  rule.TelPlace.clear();
  const int count = IntAttribute(document, "VarCount");
  if (count <= 0) return 0;
  // A file edited by hand may count more indexes than it stores, or store indexes past the end
  // of the phone book: a missing index is not index 0, and an index without an entry would
  // only ever be skipped. Only names that stand in the start tag can be attributes, so the
  // look-ups are no more than the tag holds, however large the count.
  std::vector<int> places;
  for (int k : detail::NumberedNamesIn(CurrentStartTag(document), "TelPlace")) {
    if (k >= count) break;
    const std::string value = document.GetAttribute(detail::NumberedName("TelPlace", k).c_str());
    if (value.empty()) continue;
    const int place = detail::ParseDecimal(value);
    if (phoneCount && (place < 0 || static_cast<std::size_t>(place) >= *phoneCount)) continue;
    places.push_back(place);
  }
  rule.TelPlace = std::move(places);
  return static_cast<std::int64_t>(count) - static_cast<std::int64_t>(rule.TelPlace.size());
}

// Calls `read` on every child of the current element named prefix + i for i from 0 while i is
// below `count`, each searched after the child found before. An index whose name does not occur
// in the text cannot be found, so only those that occur are searched: however large the count,
// the searches are no more than the names the text holds.
template <typename ReadChild>
void ForEachNumberedChild(MarkupDocument& document, const char* prefix, int count,
                          ReadChild&& read) {
  for (int index : detail::NumberedNamesIn(document.Text(), prefix)) {
    if (index >= count) break;
    if (!document.FindChildElement(detail::NumberedName(prefix, index).c_str())) continue;
    if (!document.EnterElement()) continue;
    read();
    document.LeaveElement();
  }
}

// A candidate text for the configuration, parsed. `usable` when it parsed cleanly into one root
// element named XML, which is then the current element.
struct Parsed {
  MarkupDocument document;
  bool usable = false;
  int revision = 0;
  std::string problem;  // why it is not usable
};

void Parse(Parsed& parsed, std::string_view text) {
  // The parser stops at a zero byte, so a text holding one would be read only in part.
  const std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) {
    parsed.problem = "zero byte at offset " + std::to_string(zero);
    return;
  }
  if (!parsed.document.SetText(text)) {
    // Running out of memory says nothing about the text; the load stops and changes nothing.
    if (parsed.document.ParseError().kind == MarkupError::kOutOfMemory ||
        parsed.document.Text() != text) {
      throw std::bad_alloc();
    }
    parsed.problem = parsed.document.ErrorText().empty() ? "not one complete root element"
                                                         : parsed.document.ErrorText();
    return;
  }
  if (!parsed.document.FindElement("XML")) {
    parsed.problem = "no XML root element";
    return;
  }
  parsed.usable = true;
  parsed.revision = IntAttribute(parsed.document, kRevisionAttribute);
}

// Refills the configuration from a usable parsed document, whose root is current. Everything is
// read into new lists first and swapped in at the end, so that running out of memory halfway
// leaves the old configuration whole. Throws only std::bad_alloc.
void Apply(Configuration& config, MarkupDocument& document, LoadReport& report) {
  const int version = IntAttribute(document, "Version");
  const int com = IntAttribute(document, "Com");
  const int baund = IntAttribute(document, "Baund");
  const int dataBit = IntAttribute(document, "DataBit");
  const int revision = IntAttribute(document, kRevisionAttribute);
  const Configuration defaults;
  const int concat = OptionalIntAttribute(document, "Concat", defaults.Concat, 0, 1);
  const int maxParts = OptionalIntAttribute(document, "MaxParts", defaults.MaxParts,
                                            Configuration::kMinParts, Configuration::kMaxParts);
  const int coalesce =
      OptionalIntAttribute(document, "Coalesce", defaults.Coalesce, 0, Configuration::kMaxCoalesce);
  // Files written before the attribute existed resend, as the default says.
  const std::string resend = document.GetAttribute("Resend");
  const int resendFlag = resend.empty() ? 1 : (detail::ParseDecimal(resend) != 0 ? 1 : 0);
  std::string modemScript = document.GetAttribute("ModemScript");
  const std::string reports = document.GetAttribute("Reports");
  const int reportsFlag = reports.empty() ? 1 : (detail::ParseDecimal(reports) != 0 ? 1 : 0);
  const int reportWait =
      OptionalIntAttribute(document, "ReportWaitMin", defaults.ReportWaitMin,
                           Configuration::kMinReportWaitMin, Configuration::kMaxReportWaitMin);
  std::string inboxScript = document.GetAttribute("InboxScript");
  std::string ownNumber = document.GetAttribute("OwnNumber");
  const int loopHours = OptionalIntAttribute(document, "LoopHours", defaults.LoopHours, 0,
                                             Configuration::kMaxLoopHours);

  std::vector<std::unique_ptr<PhoneEntry>> phoneBook;
  ForEachNumberedChild(document, "Tel", IntAttribute(document, "TelCount"), [&] {
    auto entry = std::make_unique<PhoneEntry>();
    entry->ReadXml(document);
    phoneBook.push_back(std::move(entry));
  });

  // The search goes on after the last phone entry found: rules that stand before it are not
  // found.
  std::vector<std::unique_ptr<AlarmRule>> alarmRules;
  ForEachNumberedChild(document, "Var", IntAttribute(document, "VarCount"), [&] {
    auto rule = std::make_unique<AlarmRule>();
    const std::int64_t skipped = ReadRule(*rule, document, phoneBook.size());
    if (skipped > 0) {
      ++report.rulesWithSkippedPhones;
      report.skippedPhoneIndexes += skipped;
    }
    alarmRules.push_back(std::move(rule));
  });

  config.Version = version;
  config.Com = com;
  config.Baund = baund;
  config.DataBit = dataBit;
  config.Revision = revision;
  config.Concat = concat;
  config.MaxParts = maxParts;
  config.Coalesce = coalesce;
  config.Resend = resendFlag;
  config.ModemScript.swap(modemScript);
  config.Reports = reportsFlag;
  config.ReportWaitMin = reportWait;
  config.InboxScript.swap(inboxScript);
  config.OwnNumber.swap(ownNumber);
  config.LoopHours = loopHours;
  config.phoneBook.swap(phoneBook);
  config.alarmRules.swap(alarmRules);
}

// Loads the file, or `archived` (the project's copy, when there is one) in its place when the
// file is missing, unreadable, damaged, or of a lower revision. `document` keeps the text that
// was loaded.
void Load(Configuration& config, MarkupDocument& document, const std::string* archived) {
  LoadReport report;
  Parsed file;
  std::string contents, error;
  if (platform::ReadWholeFile(config.configPath, contents, error)) {
    Parse(file, contents);
    if (!file.usable) {
      report.file = LoadReport::File::kDamaged;
      report.detail = file.problem;
    }
  } else {
    if (error == platform::ErrorText(ENOMEM)) throw std::bad_alloc();
    std::error_code ignored;
    report.file = std::filesystem::exists(config.configPath, ignored)
                      ? LoadReport::File::kUnreadable
                      : LoadReport::File::kMissing;
    report.detail = error;
  }

  Parsed project;
  if (archived != nullptr) Parse(project, *archived);
  if (file.usable && project.usable && project.revision > file.revision) {
    report.file = LoadReport::File::kOlder;
    report.fileRevision = file.revision;
    report.projectRevision = project.revision;
  }

  Parsed* taken = nullptr;
  if (report.file == LoadReport::File::kTaken) {
    taken = &file;
  } else if (project.usable) {
    taken = &project;
    report.fromProject = true;
  }
  if (taken != nullptr) {
    Apply(config, taken->document, report);
    document.SetText(std::string_view(taken->document.Text()));
  }
  // A damaged file stays as it is until the next save, which keeps a copy of it first.
  config.keepFileAside = report.file == LoadReport::File::kDamaged;
  config.lastLoad = std::move(report);
}

bool SameBytes(const std::string& path, const std::string& text) {
  std::string contents, error;
  return platform::ReadWholeFile(path, contents, error) && contents == text;
}

// Copies the damaged file aside before it is written over. True when there is nothing to keep
// (the file is gone) or the copy was made; otherwise `error` says why.
bool KeepDamagedFileAside(const std::string& path, std::string& error) {
  std::string damaged;
  if (!platform::ReadWholeFile(path, damaged, error)) {
    std::error_code ignored;
    return !std::filesystem::exists(path, ignored);
  }
  const std::string aside = KeptAsidePath(path, damaged);
  if (SameBytes(aside, damaged)) return true;
  if (platform::ReplaceFile(aside, damaged, error)) return true;
  error = aside + ": " + error;
  return false;
}

}  // namespace

void PhoneEntry::ReadXml(MarkupDocument& document) {
  ReadAttributes(*this, document, kPhoneAttributes);
}

void PhoneEntry::WriteXml(MarkupDocument& document) const {
  WriteAttributes(*this, document, kPhoneAttributes);
}

void AlarmRule::ReadXml(MarkupDocument& document) {
  ReadRule(*this, document, std::nullopt);
}

void AlarmRule::WriteXml(MarkupDocument& document) const {
  WriteAttributes(*this, document, kRuleAttributes);
  const int element = document.CurrentPos();
  Require(document.SetAttribute(element, "VarCount", CountOf(TelPlace.size())));
  int k = 0;
  for (int place : TelPlace) {
    Require(document.SetAttribute(element, detail::NumberedName("TelPlace", k++).c_str(), place));
  }
}

std::string KeptAsidePath(const std::string& configPath, const std::string& damagedText) {
  std::string path = configPath + kAsideSuffix;
  for (int n = 2; n <= kAsideNames; ++n) {
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored) || SameBytes(path, damagedText)) break;
    path = configPath + kAsideSuffix + std::to_string(n);
  }
  return path;
}

std::string SaveConfiguration(Configuration& config) noexcept {
  try {
    const int revision = config.Revision < INT_MAX ? config.Revision + 1 : INT_MAX;
    MarkupDocument document;
    // The declaration alone parses as no document; what counts is that the text was taken.
    document.SetText(kHeaderLine);
    Require(document.Text() == kHeaderLine);
    Require(document.AddElement("XML", "", 0));
    const int root = document.CurrentPos();
    Require(document.SetAttribute(root, "Version", config.Version));
    Require(document.SetAttribute(root, "Com", config.Com));
    Require(document.SetAttribute(root, "Baund", config.Baund));
    Require(document.SetAttribute(root, "DataBit", config.DataBit));
    // Written only when it differs from the default, so that files stay as they were.
    if (config.Resend == 0) Require(document.SetAttribute(root, "Resend", 0));
    Require(document.SetAttribute(root, "TelCount", CountOf(config.phoneBook.size())));
    int index = 0;
    for (const auto& entry : config.phoneBook) {
      const std::string name = detail::NumberedName("Tel", index++);
      Require(document.AddElement(name.c_str(), "", MarkupDocument::kAsChild));
      Require(document.EnterElement());
      if (entry) entry->WriteXml(document);
      document.LeaveElement();
    }
    Require(document.SetAttribute(root, "VarCount", CountOf(config.alarmRules.size())));
    index = 0;
    for (const auto& rule : config.alarmRules) {
      const std::string name = detail::NumberedName("Var", index++);
      Require(document.AddElement(name.c_str(), "", MarkupDocument::kAsChild));
      Require(document.EnterElement());
      if (rule) rule->WriteXml(document);
      document.LeaveElement();
    }
    // The sending options are written only where they differ from the defaults, so a project
    // that keeps them writes the same file as before they existed.
    const Configuration defaults;
    if (config.Concat != defaults.Concat)
      Require(document.SetAttribute(root, "Concat", config.Concat));
    if (config.MaxParts != defaults.MaxParts) {
      Require(document.SetAttribute(root, "MaxParts", config.MaxParts));
    }
    if (config.Coalesce != defaults.Coalesce) {
      Require(document.SetAttribute(root, "Coalesce", config.Coalesce));
    }
    if (!config.ModemScript.empty()) {
      Require(document.SetAttribute(root, "ModemScript", config.ModemScript.c_str()));
    }
    if (config.Reports == 0) Require(document.SetAttribute(root, "Reports", 0));
    if (config.ReportWaitMin != defaults.ReportWaitMin) {
      Require(document.SetAttribute(root, "ReportWaitMin", config.ReportWaitMin));
    }
    if (!config.InboxScript.empty()) {
      Require(document.SetAttribute(root, "InboxScript", config.InboxScript.c_str()));
    }
    if (!config.OwnNumber.empty()) {
      Require(document.SetAttribute(root, "OwnNumber", config.OwnNumber.c_str()));
    }
    if (config.LoopHours != defaults.LoopHours) {
      Require(document.SetAttribute(root, "LoopHours", config.LoopHours));
    }
    // Last on the root, so that readers that know only the first six attributes are not
    // disturbed by it.
    Require(document.SetAttribute(root, kRevisionAttribute, revision));
    std::string text = document.Text();
    // The text goes into the project's copy whatever becomes of the file, so the revision
    // counts from here.
    config.Revision = revision;

    std::string error;
    if (config.keepFileAside && !KeepDamagedFileAside(config.configPath, error)) {
      config.lastSaveProblem =
          config.configPath + ": not written, the damaged file could not be kept aside: " + error;
      return text;
    }
    // The replacement is all or nothing, so the previous file survives a failure whole.
    if (!document.SaveFile(config.configPath)) {
      config.lastSaveProblem = config.configPath + ": " + document.ErrorText();
      return text;
    }
    config.lastSaveProblem.clear();
    config.keepFileAside = false;
    config.lastLoad = LoadReport{};
    return text;
  } catch (...) {
    return {};
  }
}

void LoadConfiguration(Configuration& config, MarkupDocument& document) noexcept {
  try {
    Load(config, document, nullptr);
  } catch (...) {
    // Out of memory: the configuration stays as it was.
  }
}

void SerializeConfiguration(Configuration& config, MarkupDocument& document,
                            Archive& archive) noexcept {
  if (archive.IsStoring()) {
    archive::WriteInt32(archive, config.Version);
    archive::WriteString(archive, SaveConfiguration(config));
    return;
  }
  // Both values are read before anything changes: a truncated or damaged archive leaves the
  // configuration as it was and the file unread.
  std::int32_t version = 0;
  std::string archivedText;
  if (!archive::ReadInt32(archive, version)) return;
  if (!archive::ReadString(archive, archivedText)) return;
  const int oldVersion = config.Version;
  config.Version = version;
  try {
    Load(config, document, &archivedText);
  } catch (...) {
    // Out of memory: the configuration stays as it was, its Version too.
    config.Version = oldVersion;
  }
}

std::string Configuration::LastLoadProblem() const {
  const LoadReport& report = lastLoad;
  std::string text;
  const std::string instead = report.fromProject
                                  ? "; the copy stored in the project was loaded instead"
                                  : "; the configuration was left as it was";
  switch (report.file) {
    case LoadReport::File::kTaken:
      break;
    case LoadReport::File::kMissing:
      if (report.fromProject) text = configPath + ": no such file" + instead;
      break;
    case LoadReport::File::kUnreadable:
      text = configPath + ": could not be read (" + report.detail + ")" + instead;
      break;
    case LoadReport::File::kDamaged:
      text = configPath + ": damaged (" + report.detail + "), not loaded" + instead +
             "; the file is kept aside when the configuration is next saved";
      break;
    case LoadReport::File::kOlder:
      text = configPath + ": older than the copy stored in the project (revision " +
             std::to_string(report.fileRevision) + " against " +
             std::to_string(report.projectRevision) + ")" + instead;
      break;
  }
  if (report.skippedPhoneIndexes > 0) {
    if (!text.empty()) text += '\n';
    text += std::to_string(report.skippedPhoneIndexes) + " phone index(es) of " +
            std::to_string(report.rulesWithSkippedPhones) +
            " alarm rule(s) named no phone-book entry and were left out";
  }
  return text;
}

}  // namespace pagorin
