// Helpers shared by the markup tests: the index in document order, and a comparison of an
// edited document's index with the index of a fresh parse of its text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "markup/markup_document.h"

namespace pagorin::testing {

struct ElementSpan {
  int start;
  int length;
  int startTagLength;
  int endTagLength;
  bool operator==(const ElementSpan&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ElementSpan& span) {
  return out << "{" << span.start << "," << span.length << "," << span.startTagLength << ","
             << span.endTagLength << "}";
}

// Positions of every element in document order, found through the links of the index.
inline std::vector<int> ElementsInOrder(const MarkupDocument& doc) {
  std::vector<int> order;
  std::vector<int> pending;
  const auto* document = doc.Record(0);
  if (document == nullptr) return order;
  for (int child = document->firstChild; child != 0; child = doc.Record(child)->next) {
    pending.push_back(child);
  }
  std::reverse(pending.begin(), pending.end());
  while (!pending.empty()) {
    const int pos = pending.back();
    pending.pop_back();
    order.push_back(pos);
    std::vector<int> children;
    for (int child = doc.Record(pos)->firstChild; child != 0; child = doc.Record(child)->next) {
      children.push_back(child);
    }
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
  return order;
}

inline std::vector<ElementSpan> SpansInOrder(const MarkupDocument& doc) {
  std::vector<ElementSpan> spans;
  for (int pos : ElementsInOrder(doc)) {
    const auto* r = doc.Record(pos);
    spans.push_back({r->start, r->length, r->startTagLength, r->endTagLength});
  }
  return spans;
}

// The edited index describes the text exactly as a fresh parse does.
inline ::testing::AssertionResult IndexMatchesFreshParse(const MarkupDocument& doc) {
  MarkupDocument fresh;
  fresh.SetText(std::string_view(doc.Text()));
  if (doc.Record(0)->length != fresh.Record(0)->length) {
    return ::testing::AssertionFailure()
           << "document length " << doc.Record(0)->length << " != " << fresh.Record(0)->length;
  }
  const auto edited = SpansInOrder(doc);
  const auto parsed = SpansInOrder(fresh);
  if (edited != parsed) {
    auto failure = ::testing::AssertionFailure() << "index differs for text:\n" << doc.Text();
    for (std::size_t i = 0; i < std::max(edited.size(), parsed.size()); ++i) {
      failure << "\n#" << i << " edited ";
      if (i < edited.size()) failure << edited[i];
      failure << " parsed ";
      if (i < parsed.size()) failure << parsed[i];
    }
    return failure;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace pagorin::testing
