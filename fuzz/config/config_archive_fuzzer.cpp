// Loads arbitrary bytes as the archived configuration. The configuration file holds a fixed, valid
// document; an archive whose Version and text can be read must load exactly that file, and any
// other archive must leave the configuration as it was.
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
  {
    MemoryArchive probe(bytes);
    std::int32_t version = 0;
    std::string text;
    readable = archive::ReadInt32(probe, version) && archive::ReadString(probe, text);
  }

  Configuration config;
  config.configPath = path;
  fuzz::Fill(config);
  const std::string before = fuzz::Describe(config);
  MemoryArchive archive(bytes);
  MarkupDocument document;
  SerializeConfiguration(config, document, archive);
  if (fuzz::Describe(config) != (readable ? inFile : before)) std::abort();
  return 0;
}
