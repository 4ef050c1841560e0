#include "ui/list_setup.h"

#include "resources/string_table.h"

namespace pagorin {

void PrepareReportList(DialogView& view, int listId,
                       std::initializer_list<ListColumnSpec> columns) {
  constexpr int kRowHeight = 16;
  view.SetListRowHeight(listId, kRowHeight);
  view.AddListExtendedStyles(listId, kListGridLines | kListFullRowSelect | kListOneClickActivate);
  int column = 0;
  for (const ListColumnSpec& heading : columns) {
    view.InsertListColumn(listId, column, LoadString(heading.headingStringId), heading.width, true);
    ++column;
  }
}

}  // namespace pagorin
