// One variable alarm rule: which alarms of which host variable qualify, how the message text is
// made, and which phone-book entries receive it. Every flag holds 0 or 1.
#pragma once

#include <string>
#include <vector>

namespace pagorin {

class MarkupDocument;
struct AlarmEvent;

struct AlarmRule {
  // 1 when the rule accepts the event (or-logic or and-logic over kind, level and state); 0 for
  // none or a rejected event.
  int Matches(const AlarmEvent* event) const noexcept;
  // Removes every occurrence of `index` from TelPlace and moves the higher indexes down by one;
  // a negative index changes nothing.
  void RemovePhoneIndex(int index) noexcept;
  // Reads or writes the rule's attributes on the document's current element. Throw only
  // std::bad_alloc. Reading takes, of the VarCount phone indexes, only those stored as an
  // attribute TelPlace<k>: a missing one is left out, not read as 0.
  void ReadXml(MarkupDocument& document);
  void WriteXml(MarkupDocument& document) const;

  std::string VarName;        // "tag.field"
  std::vector<int> TelPlace;  // phone-book indexes, in order
  std::string Desc;
  int Ll = 1;
  int Lo = 1;
  int Hh = 1;
  int Hi = 1;
  int Low = 1;
  int Hig = 1;
  int Urg = 1;
  int Ack = 1;
  int NoAck = 1;
  int Resume = 1;
  int Value = 0;
  int ValueLimit = 0;
  int User = 0;
  int Format = 0;  // 0 default text, 1 custom text from Script
  int Logic = 0;   // 0 or-logic, 1 and-logic
  std::string Script;
  int BScript = 0;     // 1 when Script names a host variable, 0 when it is a host script
  int ScriptType = 0;  // the host's type code of the variable Script names (5 = text)
};

}  // namespace pagorin
