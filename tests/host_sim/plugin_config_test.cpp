#include "plugin_config.h"

#include <gtest/gtest.h>

namespace pagorin::sim {
namespace {

TEST(PluginConfig, ReadsThePortOfTheRootAndNothingElse) {
  const struct {
    const char* document;
    int com;
  } rows[] = {
      {"<?xml version=\"1.0\"?>\r\n<XML Version=\"1\" Com=\"2\" Baund=\"5\">\r\n</XML>", 2},
      {"<XML\r\nCom='7'></XML>", 7},
      {"<XMLS Com=\"4\"/><XML Com=\"3\"/>", 3},           // another element whose name starts alike
      {"<XML BCom=\"4\" Com=\"5\"/>", 5},                 // an attribute whose name ends alike
      {"<XML Version=\"1\"><Tel0 Com=\"4\"/></XML>", 0},  // only the root's attribute counts
      {"<XML Com=\"256\"/>", 0},
      {"<XML Com=\"x\"/>", 0},
      {"<XML Com=\"1", 0},
      {"<Other Com=\"2\"/>", 0},
      {"", 0},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ConfiguredComIndex(row.document), row.com) << row.document;
  EXPECT_EQ(ConfiguredComIndexIn("no/such/folder"), 0);
}

}  // namespace
}  // namespace pagorin::sim
