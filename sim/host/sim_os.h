// What the host simulator needs of the system beyond the standard library; one file for POSIX
// and one for Windows (sim_os_posix.cpp, sim_os_win32.cpp). Paths are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace pagorin::sim::os {

// Appends what the file `path` holds from byte `offset` on to `bytes`; the number of bytes
// appended, or -1 when the file cannot be opened.
long long ReadFrom(const std::string& path, std::uint64_t offset, std::string& bytes);
// A new, empty folder in the system's temporary folder whose name starts with `prefix`; empty
// when none could be made.
std::string MakeTempFolder(const std::string& prefix);
// The folder of the running program; "." when it cannot be told.
std::string ExecutableDir();
// The file name of the plug-in module on this system.
const char* ModuleFileName() noexcept;
// True when the standard input is a terminal that a person types into.
bool StdinIsTerminal() noexcept;
// True when a thread of this process other than the caller is running, waits for a processor,
// or is in an uninterruptible wait: the plug-in's threads have work in hand (a message just
// handed over, a reply just read), and simulated time must not run on past it. False where the
// system cannot tell.
bool OtherThreadsAtWork();

}  // namespace pagorin::sim::os
