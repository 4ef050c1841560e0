// What the host needs to know of the plug-in's configuration file: its name, and which COM port
// the plug-in opens, so that the modem can be put behind that port. Everything else in the file
// is the plug-in's own business.
#pragma once

#include <string>
#include <string_view>

namespace pagorin::sim {

inline constexpr const char* kConfigFileName = "Kestrova_Configure.ini";
// The same document kept in UTF-8, as the examples keep it.
inline constexpr const char* kUtf8ConfigFileName = "Kestrova_Configure.utf8.ini";

// The port index (`Com`, port number Com + 1) of the document's XML root; 0 when the document
// has no such root or the attribute is missing or no number from 0 to 255.
int ConfiguredComIndex(std::string_view document);

// The same for the configuration file of `projectDir`; 0 when there is none.
int ConfiguredComIndexIn(const std::string& projectDir);

}  // namespace pagorin::sim
