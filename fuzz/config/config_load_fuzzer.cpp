// Loads arbitrary bytes as the configuration file. Beyond memory safety it checks that a file that
// is not taken leaves the configuration as it was, that the phone indexes of all rules name
// entries of the phone book and stay within what the text can hold, and that a configuration
// made only of printable ASCII texts survives a save and a second load unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "markup/markup_document.h"

namespace {

bool PrintableAscii(const std::string& text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool OnlyPrintableTexts(const pagorin::Configuration& config) {
  for (const auto& entry : config.phoneBook) {
    if (!PrintableAscii(entry->TelNum) || !PrintableAscii(entry->Desc)) return false;
  }
  for (const auto& rule : config.alarmRules) {
    if (!PrintableAscii(rule->VarName) || !PrintableAscii(rule->Desc) ||
        !PrintableAscii(rule->Script)) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pagorin;
  static const std::string path = ConfigPathIn(fuzz::FuzzFolder());
  static const std::string copyPath = fuzz::FuzzFolder() + "/copy.ini";
  static const std::string missingPath = fuzz::FuzzFolder() + "/missing/copy.ini";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzz::WriteFile(path, bytes);

  Configuration config;
  config.configPath = path;
  fuzz::Fill(config);
  const std::string filled = fuzz::Describe(config);
  MarkupDocument document;
  LoadConfiguration(config, document);
  if (config.lastLoad.file != LoadReport::File::kTaken && fuzz::Describe(config) != filled) {
    std::abort();
  }

  std::size_t places = 0;
  for (const auto& rule : config.alarmRules) {
    places += rule->TelPlace.size();
    for (int place : rule->TelPlace) {
      if (config.PhoneAt(place) == nullptr) std::abort();
    }
  }
  if (places > size / 9 + 1) std::abort();

  if (OnlyPrintableTexts(config)) {
    // The save goes to a folder that does not exist, so that it fails at once instead of syncing
    // a file to the disk on every run; the returned text is written plainly instead.
    const std::string before = fuzz::Describe(config);
    config.configPath = missingPath;
    fuzz::WriteFile(copyPath, SaveConfiguration(config));
    Configuration again;
    again.configPath = copyPath;
    MarkupDocument second;
    LoadConfiguration(again, second);
    if (fuzz::Describe(again) != before) std::abort();
  }
  return 0;
}
