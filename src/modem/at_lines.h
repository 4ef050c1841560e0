// What the modem sends, cut into the pieces the dialogue reads: lines without their line ends,
// and the "> " prompt of PDU entry, recognised at the start of a line whether lines follow it or
// not. Empty lines are passed over. No input or output: the owner appends what arrived and takes
// pieces one at a time, so that what it does with one piece (forget the rest after a restart of
// the modem) holds for the pieces after it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pagorin {

// True for a final result, which ends the command in progress wherever it stands: OK, ERROR,
// "+CMS ERROR: <n>", "+CME ERROR: <n>".
bool IsFinalResult(std::string_view line) noexcept;

class AtLineSplitter {
 public:
  // A line that never ends is not kept beyond this many bytes.
  static constexpr std::size_t kMaxLineBytes = 1024;

  enum class Kind : int {
    None,     // nothing complete has arrived yet
    Line,     // `text` is one line, without its line end
    Prompt,   // the "> " of PDU entry
    Dropped,  // an unfinished line grew beyond kMaxLineBytes and was thrown away
  };
  struct Piece {
    Kind kind = Kind::None;
    std::string text;
  };

  // Appends bytes as they arrived. Throws only std::bad_alloc.
  void Append(std::string_view bytes);
  // Takes the next complete piece; Kind::None when there is none. Throws only std::bad_alloc,
  // and then the piece is still there.
  Piece Next();
  // Forgets everything not taken yet.
  void Clear() noexcept { pending_.clear(); }
  // True when nothing is held, complete or not.
  bool Empty() const noexcept { return pending_.empty(); }

 private:
  std::string pending_;
};

}  // namespace pagorin
