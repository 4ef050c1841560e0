// Feeds arbitrary bytes to a markup document, walks every element, reads attributes, edits, and
// checks after every step that the index still describes nested ranges inside the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "markup/markup_document.h"

namespace {

using pagorin::MarkupDocument;

// Every element lies inside the text and inside its parent, and starts after the element
// before it in document order.
void CheckIndex(const MarkupDocument& doc) {
  const auto size = static_cast<std::int64_t>(doc.Text().size());
  const auto* document = doc.Record(0);
  if (document == nullptr || document->length != size) __builtin_trap();
  std::vector<int> pending;
  std::int64_t previousStart = -1;
  for (int child = document->firstChild; child != 0; child = doc.Record(child)->next) {
    pending.push_back(child);
  }
  std::vector<int> order(pending.rbegin(), pending.rend());
  pending.assign(order.begin(), order.end());
  while (!pending.empty()) {
    const int pos = pending.back();
    pending.pop_back();
    const auto* r = doc.Record(pos);
    if (r == nullptr || pos >= doc.NextFreeRecord()) __builtin_trap();
    if (r->start <= previousStart || r->startTagLength < 3 || r->length < r->startTagLength ||
        r->start + static_cast<std::int64_t>(r->length) > size) {
      __builtin_trap();
    }
    if (doc.Text()[static_cast<std::size_t>(r->start)] != '<') __builtin_trap();
    if (r->parent != 0) {
      const auto* p = doc.Record(r->parent);
      if (r->start < p->start + p->startTagLength ||
          r->start + static_cast<std::int64_t>(r->length) > p->start + p->length) {
        __builtin_trap();
      }
    }
    previousStart = r->start;
    std::vector<int> children;
    for (int child = r->firstChild; child != 0; child = doc.Record(child)->next) {
      if (doc.Record(child)->parent != pos) __builtin_trap();
      children.push_back(child);
    }
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

void Visit(MarkupDocument& doc, std::string& sink) {
  sink += doc.TagName(doc.CurrentPos());
  sink += doc.GetAttribute("a");
  sink += doc.GetAttribute("x");
  sink += doc.GetAttribute("Version");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MarkupDocument doc;
  const bool wellFormed = doc.SetText(bytes);
  CheckIndex(doc);
  // The error is told exactly when the parse failed, by a kind whose offset lies in the text
  // and a text made from it.
  const pagorin::MarkupParseError error = doc.ParseError();
  if (wellFormed != (error.kind == pagorin::MarkupError::kNone)) __builtin_trap();
  if (wellFormed != doc.ErrorText().empty()) __builtin_trap();
  if (error.offset < 0 || (error.offset > 0 && static_cast<std::size_t>(error.offset) >= size)) {
    __builtin_trap();
  }

  // Depth-first walk through the navigation operations, editing at one chosen element.
  const int editAt = size > 0 ? data[0] % 8 : 0;
  std::string sink;
  int visited = 0;
  bool more = doc.FindElement();
  while (more && visited < 5000) {
    Visit(doc, sink);
    if (visited++ == editAt) {
      doc.SetAttribute(doc.CurrentPos(), "x", "v<&\"'");
      doc.SetAttribute(doc.CurrentPos(), "a", 7);
      doc.AddElement("added", size > 1 && (data[1] & 1) ? nullptr : "d]]>&",
                     MarkupDocument::kAsChild | (size > 1 ? data[1] & 0x211F : 0));
      CheckIndex(doc);
      if (doc.EnterElement()) {
        doc.SetAttribute(doc.CurrentPos(), "n", "1");
        doc.LeaveElement();
      }
      CheckIndex(doc);
    }
    if (doc.FindChildElement()) {
      doc.EnterElement();
      continue;
    }
    for (;;) {
      if (doc.FindElement()) break;
      if (!doc.LeaveElement()) {
        more = false;
        break;
      }
      if (doc.FindChildElement()) {
        doc.EnterElement();
        break;
      }
    }
  }
  if (doc.CurrentPos() != 0 || doc.FindElement()) {
    doc.AddElement("sibling", "", 0);
    CheckIndex(doc);
  }

  MarkupDocument::DecodeText(bytes.data(), static_cast<int>(size));
  const std::string text(bytes.substr(0, bytes.find('\0')));
  const std::string encoded =
      MarkupDocument::EncodeText(text.c_str(), MarkupDocument::kEncodeQuotes);
  if (MarkupDocument::DecodeText(encoded.c_str(), -1) != text) __builtin_trap();
  MarkupDocument::WrapCData(text.c_str());
  return 0;
}
