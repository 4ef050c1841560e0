#include "plugin_config.h"

#include "platform/file_io.h"

namespace pagorin::sim {

int ConfiguredComIndex(std::string_view document) {
  std::size_t root = document.find("<XML");
  while (root != std::string_view::npos && root + 4 < document.size() &&
         document[root + 4] != ' ' && document[root + 4] != '\t' && document[root + 4] != '\r' &&
         document[root + 4] != '\n' && document[root + 4] != '>') {
    root = document.find("<XML", root + 4);
  }
  if (root == std::string_view::npos) return 0;
  const std::string_view tag = document.substr(root, document.find('>', root) - root);
  for (std::size_t at = tag.find("Com="); at != std::string_view::npos;
       at = tag.find("Com=", at + 4)) {
    // Only the attribute of that name, not one that ends with it.
    if (tag[at - 1] != ' ' && tag[at - 1] != '\t' && tag[at - 1] != '\r' && tag[at - 1] != '\n')
      continue;
    std::size_t i = at + 4;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return 0;
    const char quote = tag[i++];
    int value = 0;
    std::size_t digits = 0;
    for (; i < tag.size() && tag[i] >= '0' && tag[i] <= '9' && digits < 4; ++i, ++digits)
      value = value * 10 + (tag[i] - '0');
    if (digits == 0 || i >= tag.size() || tag[i] != quote || value > 255) return 0;
    return value;
  }
  return 0;
}

int ConfiguredComIndexIn(const std::string& projectDir) {
  std::string text, why;
  if (!platform::ReadWholeFile(projectDir + "/" + kConfigFileName, text, why)) return 0;
  return ConfiguredComIndex(text);
}

}  // namespace pagorin::sim
