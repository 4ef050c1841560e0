// veltrane-sim's commands against a stand-in plug-in: they need neither the module nor a modem.
#include <gtest/gtest.h>

#include "file_archive.h"
#include "platform/archive.h"
#include "run_sim.h"
#include "support/temp_dir.h"

namespace pagorin::sim {
namespace {

using testing::RunSim;

TEST(VeltraneSimCommands, FunctionsListsWhatThePluginRegistered) {
  auto run = RunSim({"--json", "--module", FAKE_PLUGIN_PATH, "functions"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  auto functions = run.Events("function");
  ASSERT_EQ(functions.size(), 2u) << run.output;
  EXPECT_EQ(functions[0]["name"], "SendMsg");
  EXPECT_EQ(functions[0]["params"].size(), 2u);
  EXPECT_EQ(functions[0]["params"][0]["type"], 5);
  EXPECT_EQ(functions[0]["params"][1]["name"], "Content");
  EXPECT_EQ(functions[0]["help"], "sends a text");
  EXPECT_EQ(functions[1]["name"], "ShouldSend");
  EXPECT_EQ(functions[1]["params"][0]["type"], 1);
}

TEST(VeltraneSimCommands, SettingsStoresTheProjectThroughTheArchiveOnOk) {
  pagorin::testing::TempDir project;
  auto run = RunSim({"--json", "--module", FAKE_PLUGIN_PATH, "settings", project.path()});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  ASSERT_EQ(run.Events("settings").size(), 1u);
  EXPECT_EQ(run.Events("settings")[0]["result"], 1);
  ASSERT_EQ(run.Events("project_saved").size(), 1u);

  // What the plug-in wrote in its Serialize is in the file, in the archive's forms.
  FileArchive archive;
  std::string error;
  ASSERT_TRUE(archive.OpenForLoading(project.File("project.vpa"), error)) << error;
  std::int32_t version = 0;
  std::string text;
  ASSERT_TRUE(archive::ReadInt32(archive, version));
  ASSERT_TRUE(archive::ReadString(archive, text));
  EXPECT_EQ(version, 7);
  EXPECT_EQ(text, "edited");
  EXPECT_EQ(archive.Unread(), 0u);
}

TEST(VeltraneSimCommands, AModuleThatIsNoPluginIsReported) {
  pagorin::testing::TempDir dir;
  pagorin::testing::WriteFileBytes(dir.File("libnothing.so"), "not a library");
  auto run = RunSim({"--json", "--module", dir.File("libnothing.so"), "functions"});
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_EQ(run.Events("error").size(), 1u) << run.output;
  EXPECT_NE(run.Events("error")[0]["text"].get<std::string>().find("cannot load the module"),
            std::string::npos);
}

TEST(VeltraneSimCommands, AScenarioErrorNamesFileAndLineAndRunsNothing) {
  pagorin::testing::TempDir dir;
  pagorin::testing::WriteFileBytes(dir.File("bad.toml"), "[[step]]\nat = 1\nsett = 2\n");
  auto run = RunSim({"--module", FAKE_PLUGIN_PATH, "run", dir.File("bad.toml")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.output.empty()) << run.output;
}

}  // namespace
}  // namespace pagorin::sim
