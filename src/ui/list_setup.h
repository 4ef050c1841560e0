// The set-up that every list of the dialogs shares.
#pragma once

#include <initializer_list>

#include "ui/dialog_view.h"

namespace pagorin {

// One column of a report list: its heading as a string-table id, its width in pixels.
struct ListColumnSpec {
  int headingStringId;
  int width;
};

// Rows 16 pixels high, grid lines, full-row selection and one-click activation, and the given
// columns in order, all centred.
void PrepareReportList(DialogView& view, int listId, std::initializer_list<ListColumnSpec> columns);

}  // namespace pagorin
