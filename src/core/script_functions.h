// The functions the host's scripts call on the plug-in object, and their argument handling.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pagorin {

// The host's handles of the script functions.
inline constexpr int kPropDlgFunction = 0;
inline constexpr int kSendMsgFunction = 1;
inline constexpr int kShouldSendFunction = 2;

// The longest phone number piece that is handed on; no accepted number comes near it.
inline constexpr std::size_t kMaxNumberPieceBytes = 127;

// The numbers of a SendMsg list: the list with one "," appended, cut at every ASCII comma. Only
// the ASCII comma separates; blanks stay and empty pieces count. Pieces longer than 127 bytes are
// left out. Throws only std::bad_alloc.
std::vector<std::string> SplitNumberList(std::string_view list);

}  // namespace pagorin
