// One phone-book entry. Its 0-based position in the phone book is its phone-book index, the number
// that alarm rules store.
#pragma once

#include <string>

namespace pagorin {

class MarkupDocument;

struct PhoneEntry {
  // Reads TelNum and Desc from the document's current element. Throws only std::bad_alloc.
  void ReadXml(MarkupDocument& document);
  // Writes TelNum and Desc as attributes of the document's current element. Throws only
  // std::bad_alloc.
  void WriteXml(MarkupDocument& document) const;

  std::string TelNum;  // empty until the entry is confirmed in the dialog
  std::string Desc;
};

}  // namespace pagorin
