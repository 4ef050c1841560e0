// Shared by the configuration fuzz targets: a private folder for the configuration file, and a
// one-text summary of a configuration for comparisons.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "config/stored_attributes.h"

namespace pagorin::fuzz {

// A folder of this process, made on first use and left for the operating system to clean.
inline const std::string& FuzzFolder() {
  static const std::string folder = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pagorin-config-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return folder;
}

// Writes the file plainly: the fuzz loop has no use for a durable replacement. The old file is
// removed first, because truncating a file that holds data makes some file systems flush it to
// the disk on close, which would cost milliseconds per run.
inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    std::abort();
  }
  std::fclose(file);
}

inline std::string Describe(const Configuration& config) {
  std::string out = std::to_string(config.Version) + " " + std::to_string(config.Com) + " " +
                    std::to_string(config.Baund) + " " + std::to_string(config.DataBit) + "\n";
  for (const auto& entry : config.phoneBook)
    out += DescribeStored(*entry, kPhoneAttributes) + "\n";
  for (const auto& rule : config.alarmRules) {
    out += DescribeStored(*rule, kRuleAttributes) + " |";
    for (int place : rule->TelPlace)
      out += " " + std::to_string(place);
    out += "\n";
  }
  return out;
}

inline void Fill(Configuration& config) {
  auto entry = std::make_unique<PhoneEntry>();
  entry->TelNum = "13800138000";
  entry->Desc = "pump";
  config.phoneBook.push_back(std::move(entry));
  auto rule = std::make_unique<AlarmRule>();
  rule->VarName = "Tank1.PV";
  rule->TelPlace = {0};
  config.alarmRules.push_back(std::move(rule));
}

}  // namespace pagorin::fuzz
