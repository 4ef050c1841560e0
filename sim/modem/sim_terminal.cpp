#include "sim_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/syscall.h"
#include "platform/system_error.h"

namespace pagorin::sim {

using pagorin::platform::ErrorText;
using pagorin::platform::UniqueFd;

bool OpenPseudoTerminal(UniqueFd& master, std::string& slavePath) {
  slavePath.clear();
  master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (master.get() < 0 || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
    std::fprintf(stderr, "gsm-modem-sim: cannot create a pseudo-terminal: %s\n",
                 ErrorText(errno).c_str());
    return false;
  }
  char name[256] = {};
  if (::ptsname_r(master.get(), name, sizeof name) != 0) {
    std::fprintf(stderr, "gsm-modem-sim: ptsname: %s\n", ErrorText(errno).c_str());
    return false;
  }
  slavePath = name;
  // Raw line settings from the start, so that the terminal's own line discipline never echoes
  // or translates what passes before the sender has set up the line.
  termios settings{};
  if (::tcgetattr(master.get(), &settings) == 0) {
    ::cfmakeraw(&settings);
    ::tcsetattr(master.get(), TCSANOW, &settings);
  }
  int flags = ::fcntl(master.get(), F_GETFL);
  ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK);
  return true;
}

bool Terminal::Plug() {
  if (!OpenPseudoTerminal(master_, slavePath_)) return false;
  if (link_.empty()) return true;
  // The new name appears at once and whole: a reader sees the old link, no link, or the new
  // one, never a half-made one.
  std::string fresh = link_ + ".new";
  ::unlink(fresh.c_str());
  if (::symlink(slavePath_.c_str(), fresh.c_str()) != 0 ||
      ::rename(fresh.c_str(), link_.c_str()) != 0) {
    std::fprintf(stderr, "gsm-modem-sim: cannot point %s at %s: %s\n", link_.c_str(),
                 slavePath_.c_str(), ErrorText(errno).c_str());
    ::unlink(fresh.c_str());
    return false;
  }
  return true;
}

void Terminal::Unplug() {
  if (!link_.empty() && !slavePath_.empty()) {
    char target[256] = {};
    ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(n))) {
      ::unlink(link_.c_str());
    }
  }
  master_.Reset();
  slavePath_.clear();
}

}  // namespace pagorin::sim
