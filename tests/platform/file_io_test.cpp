#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace pagorin::platform {
namespace {

using pagorin::testing::ReadFileBytes;
using pagorin::testing::TempDir;
using pagorin::testing::WriteFileBytes;

std::size_t EntriesIn(const std::string& folder) {
  std::size_t count = 0;
  for (auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(FileIo, ReadsEveryByteIncludingZeros) {
  TempDir dir;
  std::string bytes("a\0b\r\n", 5);
  WriteFileBytes(dir.File("f"), bytes);
  std::string contents, error;
  ASSERT_TRUE(ReadWholeFile(dir.File("f"), contents, error));
  EXPECT_EQ(contents, bytes);
}

TEST(FileIo, MissingFileReportsTheCauseAndKeepsContents) {
  TempDir dir;
  std::string contents = "old", error;
  EXPECT_FALSE(ReadWholeFile(dir.File("missing"), contents, error));
  EXPECT_EQ(contents, "old");
  EXPECT_EQ(error, ErrorText(ENOENT));
}

TEST(FileIo, ReplaceWritesNewFileAndLeavesNoTemporary) {
  TempDir dir;
  std::string error;
  ASSERT_TRUE(ReplaceFile(dir.File("cfg"), "first", error)) << error;
  ASSERT_TRUE(ReplaceFile(dir.File("cfg"), "second, longer", error)) << error;
  EXPECT_EQ(ReadFileBytes(dir.File("cfg")), "second, longer");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(FileIo, ReplaceKeepsThePermissionsOfTheOldFile) {
  TempDir dir;
  WriteFileBytes(dir.File("cfg"), "x");
  ASSERT_EQ(::chmod(dir.File("cfg").c_str(), 0640), 0);
  std::string error;
  ASSERT_TRUE(ReplaceFile(dir.File("cfg"), "y", error));
  struct stat info {};
  ASSERT_EQ(::stat(dir.File("cfg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(FileIo, FailedReplaceLeavesOldFileAndNoTemporary) {
  TempDir dir;
  // The target is a non-empty folder: the rename over it fails after the temporary was written.
  std::filesystem::create_directory(dir.File("cfg"));
  WriteFileBytes(dir.File("cfg") + "/inside", "keep");
  std::string error;
  EXPECT_FALSE(ReplaceFile(dir.File("cfg"), "new", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFileBytes(dir.File("cfg") + "/inside"), "keep");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);

  // A folder that does not exist: nothing can be created at all.
  EXPECT_FALSE(ReplaceFile(dir.File("no/such/file"), "x", error));
  EXPECT_EQ(error, ErrorText(ENOENT));
}

}  // namespace
}  // namespace pagorin::platform
