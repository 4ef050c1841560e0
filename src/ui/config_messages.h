// The user's words for what went wrong with the configuration file: what the last load found
// (shown when the settings dialog opens) and why the last save did not write the file (shown when
// the dialog ends with OK). Code page 936 texts from the string table.
#pragma once

#include <string>

namespace pagorin {

struct Configuration;

// Empty when the last load has nothing to tell. Throws only std::bad_alloc.
std::string LoadProblemMessage(const Configuration& config);
// Empty when the last save wrote the file. Throws only std::bad_alloc.
std::string SaveProblemMessage(const Configuration& config);

}  // namespace pagorin
