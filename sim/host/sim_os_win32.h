// UTF-8 and the wide strings of the Windows functions, for the simulator's Windows files.
#pragma once

#include <string>

namespace pagorin::sim::os {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

}  // namespace pagorin::sim::os
