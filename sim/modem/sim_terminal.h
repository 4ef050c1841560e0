// The modem's end of the line: a pseudo-terminal, and optionally a symbolic link that names it
// the way a device name names a USB adapter. Unplugging closes the terminal and removes the
// name; plugging in again makes a new terminal and points the same name at it.
#pragma once

#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace pagorin::sim {

// Makes a raw, non-blocking pseudo-terminal: its master in `master`, the path a sender opens in
// `slavePath`. False with a line on stderr on failure.
bool OpenPseudoTerminal(pagorin::platform::UniqueFd& master, std::string& slavePath);

class Terminal {
 public:
  // `link` names the terminal while it is plugged in; empty for none.
  explicit Terminal(std::string link) : link_(std::move(link)) {}
  ~Terminal() { Unplug(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Makes a new terminal and points the link at it. False with a line on stderr on failure.
  bool Plug();
  // Removes the name if it still names the terminal, then closes the terminal (its holder sees a
  // hang-up). In this order the name never points at a terminal number that is free again and
  // may be handed to somebody else's terminal.
  void Unplug();

  // True between Plug and Unplug.
  bool Plugged() const { return master_.get() >= 0; }
  // The master's descriptor (non-blocking), -1 while unplugged.
  int fd() const { return master_.get(); }
  // The terminal's own path, empty while unplugged.
  const std::string& SlavePath() const { return slavePath_; }
  // What a sender opens: the link when there is one, else the terminal itself.
  const std::string& SenderPath() const { return link_.empty() ? slavePath_ : link_; }

 private:
  std::string link_;
  pagorin::platform::UniqueFd master_;
  std::string slavePath_;
};

}  // namespace pagorin::sim
