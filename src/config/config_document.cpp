// The configuration document: building it from the configuration, refilling the configuration
// from it, and its place in the project archive.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/decimal.h"
#include "markup/markup_document.h"
#include "platform/archive.h"
#include "platform/file_io.h"

namespace pagorin {
namespace {

constexpr const char* kHeaderLine = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

// The shortest text that can stand for one phone index of a rule is a bare attribute name such
// as "TelPlace0", so a start tag of n bytes holds at most n / 9 of them.
constexpr std::size_t kShortestTelPlaceAttribute = 9;

int CountOf(std::size_t size) noexcept {
  return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

int IntAttribute(const MarkupDocument& document, const char* name) {
  return detail::ParseDecimal(document.GetAttribute(name));
}

// The indexes k for which a name "TelPlace<k>" stands anywhere in the document's text: no other
// phone-index attribute can exist, so no other needs to be looked up.
using TelPlaceNames = std::vector<int>;

void ReadRule(AlarmRule& rule, const MarkupDocument& document, const TelPlaceNames& names) {
  rule.VarName = document.GetAttribute("VarName");
  rule.Desc = document.GetAttribute("Desc");
  rule.Ll = IntAttribute(document, "Ll");
  rule.Lo = IntAttribute(document, "Lo");
  rule.Hh = IntAttribute(document, "Hh");
  rule.Hi = IntAttribute(document, "Hi");
  rule.Low = IntAttribute(document, "Low");
  rule.Hig = IntAttribute(document, "Hig");
  rule.Urg = IntAttribute(document, "Urg");
  rule.Ack = IntAttribute(document, "Ack");
  rule.NoAck = IntAttribute(document, "NoAck");
  rule.Resume = IntAttribute(document, "Resume");
  rule.Value = IntAttribute(document, "Value");
  rule.ValueLimit = IntAttribute(document, "ValueLimit");
  rule.User = IntAttribute(document, "User");
  rule.Format = IntAttribute(document, "Format");
  rule.Logic = IntAttribute(document, "Logic");
  rule.BScript = IntAttribute(document, "BScript");
  rule.Script = document.GetAttribute("Script");
  rule.ScriptType = IntAttribute(document, "ScriptType");

  rule.TelPlace.clear();
  const int count = IntAttribute(document, "VarCount");
  if (count <= 0) return;
  // The count comes from a file that may have been edited by hand: trust it only as far as the
  // element's start tag could hold that many attributes.
  const MarkupDocument::ElementRecord* element = document.Record(document.CurrentPos());
  const std::size_t room =
      element != nullptr && element->startTagLength > 0
          ? static_cast<std::size_t>(element->startTagLength) / kShortestTelPlaceAttribute
          : 0;
  const std::size_t kept = std::min(static_cast<std::size_t>(count), room);
  // A missing attribute reads as 0.
  std::vector<int> places(kept, 0);
  for (int k : names) {
    if (static_cast<std::size_t>(k) >= kept) break;
    places[static_cast<std::size_t>(k)] =
        detail::ParseDecimal(document.GetAttribute(detail::NumberedName("TelPlace", k).c_str()));
  }
  rule.TelPlace = std::move(places);
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

}  // namespace

void PhoneEntry::ReadXml(MarkupDocument& document) {
  TelNum = document.GetAttribute("TelNum");
  Desc = document.GetAttribute("Desc");
}

void PhoneEntry::WriteXml(MarkupDocument& document) const {
  const int element = document.CurrentPos();
  document.SetAttribute(element, "TelNum", TelNum.c_str());
  document.SetAttribute(element, "Desc", Desc.c_str());
}

void AlarmRule::ReadXml(MarkupDocument& document) {
  ReadRule(*this, document, detail::NumberedNamesIn(document.Text(), "TelPlace"));
}

void AlarmRule::WriteXml(MarkupDocument& document) const {
  const int element = document.CurrentPos();
  document.SetAttribute(element, "VarName", VarName.c_str());
  document.SetAttribute(element, "Desc", Desc.c_str());
  document.SetAttribute(element, "Ll", Ll);
  document.SetAttribute(element, "Lo", Lo);
  document.SetAttribute(element, "Hh", Hh);
  document.SetAttribute(element, "Hi", Hi);
  document.SetAttribute(element, "Low", Low);
  document.SetAttribute(element, "Hig", Hig);
  document.SetAttribute(element, "Urg", Urg);
  document.SetAttribute(element, "Ack", Ack);
  document.SetAttribute(element, "NoAck", NoAck);
  document.SetAttribute(element, "Resume", Resume);
  document.SetAttribute(element, "Value", Value);
  document.SetAttribute(element, "ValueLimit", ValueLimit);
  document.SetAttribute(element, "User", User);
  document.SetAttribute(element, "Format", Format);
  document.SetAttribute(element, "Logic", Logic);
  document.SetAttribute(element, "BScript", BScript);
  document.SetAttribute(element, "Script", Script.c_str());
  document.SetAttribute(element, "ScriptType", ScriptType);
  document.SetAttribute(element, "VarCount", CountOf(TelPlace.size()));
  int k = 0;
  for (int place : TelPlace) {
    document.SetAttribute(element, detail::NumberedName("TelPlace", k++).c_str(), place);
  }
}

std::string SaveConfiguration(const Configuration& config) noexcept {
  try {
    MarkupDocument document;
    document.SetText(kHeaderLine);
    if (document.AddElement("XML", "", 0)) {
      const int root = document.CurrentPos();
      document.SetAttribute(root, "Version", config.Version);
      document.SetAttribute(root, "Com", config.Com);
      document.SetAttribute(root, "Baund", config.Baund);
      document.SetAttribute(root, "DataBit", config.DataBit);
      document.SetAttribute(root, "TelCount", CountOf(config.phoneBook.size()));
      int index = 0;
      for (const auto& entry : config.phoneBook) {
        const std::string name = detail::NumberedName("Tel", index++);
        if (!document.AddElement(name.c_str(), "", MarkupDocument::kAsChild)) continue;
        document.EnterElement();
        if (entry) entry->WriteXml(document);
        document.LeaveElement();
      }
      document.SetAttribute(root, "VarCount", CountOf(config.alarmRules.size()));
      index = 0;
      for (const auto& rule : config.alarmRules) {
        const std::string name = detail::NumberedName("Var", index++);
        if (!document.AddElement(name.c_str(), "", MarkupDocument::kAsChild)) continue;
        document.EnterElement();
        if (rule) rule->WriteXml(document);
        document.LeaveElement();
      }
    }
    // A file that cannot be written is not reported; the replacement is all or nothing, so the
    // previous file survives a failure whole.
    document.SaveFile(config.configPath);
    return document.Text();
  } catch (...) {
    return {};
  }
}

void LoadConfiguration(Configuration& config, MarkupDocument& document) noexcept {
  try {
    // Read the file first: a file that cannot be read must leave the configuration (and the
    // document that holds the last load) as they were.
    std::string contents, error;
    if (!platform::ReadWholeFile(config.configPath, contents, error)) return;
    document.SetText(std::string_view(contents));
    if (!document.FindElement("XML")) return;

    // Everything is read into new lists first and swapped in at the end, so that running out of
    // memory halfway leaves the old configuration whole.
    const int version = IntAttribute(document, "Version");
    const int com = IntAttribute(document, "Com");
    const int baund = IntAttribute(document, "Baund");
    const int dataBit = IntAttribute(document, "DataBit");

    std::vector<std::unique_ptr<PhoneEntry>> phoneBook;
    ForEachNumberedChild(document, "Tel", IntAttribute(document, "TelCount"), [&] {
      auto entry = std::make_unique<PhoneEntry>();
      entry->ReadXml(document);
      phoneBook.push_back(std::move(entry));
    });

    // The search goes on after the last phone entry found: rules that stand before it are not
    // found.
    std::vector<std::unique_ptr<AlarmRule>> alarmRules;
    const TelPlaceNames names = detail::NumberedNamesIn(document.Text(), "TelPlace");
    ForEachNumberedChild(document, "Var", IntAttribute(document, "VarCount"), [&] {
      auto rule = std::make_unique<AlarmRule>();
      ReadRule(*rule, document, names);
      alarmRules.push_back(std::move(rule));
    });

    config.Version = version;
    config.Com = com;
    config.Baund = baund;
    config.DataBit = dataBit;
    config.phoneBook.swap(phoneBook);
    config.alarmRules.swap(alarmRules);
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
  // configuration as it was and the file unread. The archived text itself is not used; the file
  // is what the configuration is loaded from.
  std::int32_t version = 0;
  std::string archivedText;
  if (!archive::ReadInt32(archive, version)) return;
  if (!archive::ReadString(archive, archivedText)) return;
  config.Version = version;
  LoadConfiguration(config, document);
}

}  // namespace pagorin
