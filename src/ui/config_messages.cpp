#include "ui/config_messages.h"

#include "config/configuration.h"
#include "platform/text_format.h"
#include "resources/string_table.h"

namespace pagorin {

using namespace string_id;

std::string LoadProblemMessage(const Configuration& config) {
  const LoadReport& report = config.lastLoad;
  const std::string_view path = config.configPath;
  const std::string_view detail = report.detail;
  std::string text;
  switch (report.file) {
    case LoadReport::File::kTaken:
      break;
    case LoadReport::File::kMissing:
      // A project without a file of its own is nothing to tell, unless its copy stood in.
      if (report.fromProject) text = platform::FormatText(LoadString(kConfigFileMissing), {path});
      break;
    case LoadReport::File::kUnreadable:
      text = platform::FormatText(LoadString(kConfigFileUnreadable), {path, detail});
      break;
    case LoadReport::File::kDamaged:
      text = platform::FormatText(LoadString(kConfigFileDamaged), {path, detail});
      break;
    case LoadReport::File::kOlder:
      text = platform::FormatText(LoadString(kConfigFileOlder), {path});
      break;
  }
  if (!text.empty()) {
    text += '\n';
    text += LoadString(report.fromProject ? kProjectCopyLoaded : kConfigurationKept);
    if (report.file == LoadReport::File::kDamaged) {
      text += '\n';
      text += LoadString(kDamagedFileKeptAside);
    }
  }
  if (report.skippedPhoneIndexes > 0) {
    if (!text.empty()) text += '\n';
    text += platform::FormatText(
        LoadString(kPhoneIndexesSkipped),
        {std::int64_t{report.rulesWithSkippedPhones}, std::int64_t{report.skippedPhoneIndexes}});
  }
  return text;
}

std::string SaveProblemMessage(const Configuration& config) {
  if (config.LastSaveProblem().empty()) return {};
  return platform::FormatText(LoadString(kConfigSaveFailed),
                              {std::string_view(config.LastSaveProblem())});
}

}  // namespace pagorin
