// Loads arbitrary bytes as the archived configuration. The configuration file holds a fixed, valid
// document of revision 1; an archive whose Version and text can be read must load exactly that
// file, unless its text is a document that loads cleanly from a file of its own with a higher
// revision, which is then loaded in the file's place; any other archive must leave the
// configuration as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "markup/markup_document.h"
#include "platform/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pagorin;
  static const std::string path = ConfigPathIn(fuzz::FuzzFolder());
  static const std::string textPath = fuzz::FuzzFolder() + "/archived.ini";
  static const std::string inFile = [] {
    Configuration stored;
    stored.configPath = path;
    stored.Version = 7;
    stored.Baund = 4;
    auto entry = std::make_unique<PhoneEntry>();
    entry->TelNum = "13900139000";
    stored.phoneBook.push_back(std::move(entry));
    SaveConfiguration(stored);
    return fuzz::Describe(stored);
  }();

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  bool readable = false;
  std::string text;
  {
    MemoryArchive probe(bytes);
    std::int32_t version = 0;
    readable = archive::ReadInt32(probe, version) && archive::ReadString(probe, text);
  }

  Configuration config;
  config.configPath = path;
  fuzz::Fill(config);
  const std::string before = fuzz::Describe(config);
  std::string expected = readable ? inFile : before;
  if (readable) {
    fuzz::WriteFile(textPath, text);
    Configuration alone;
    alone.configPath = textPath;
    fuzz::Fill(alone);
    MarkupDocument document;
    LoadConfiguration(alone, document);
    if (alone.lastLoad.file == LoadReport::File::kTaken && alone.Revision > 1) {
      expected = fuzz::Describe(alone);
    }
  }
  MemoryArchive archive(bytes);
  MarkupDocument document;
  SerializeConfiguration(config, document, archive);
  if (fuzz::Describe(config) != expected) std::abort();
  return 0;
}
