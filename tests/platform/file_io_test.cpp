#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/append_file.h"
#include "support/faulty_system_calls.h"
#include "support/temp_dir.h"

namespace pagorin::platform {
namespace {

using pagorin::testing::FaultySystemCalls;
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

// One fault in the system calls of a replacement, named for the branch of ReplaceFile it
// reaches. A failure names its cause and leaves the old file and no temporary behind.
struct ReplaceCase {
  const char* branch;
  void (*arrange)(FaultySystemCalls&);
  int error;  // 0: the replacement succeeds
  int (*reached)(const FaultySystemCalls&);
  int expectedCalls;
};

void PrintTo(const ReplaceCase& c, std::ostream* out) {
  *out << c.branch;
}

class ReplaceFileFaults : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceFileFaults, SucceedWholeOrLeaveTheOldFile) {
  const ReplaceCase& c = GetParam();
  TempDir dir;
  WriteFileBytes(dir.File("cfg"), "old");
  const std::string bytes(20000, 'n');
  std::string error;
  bool replaced;
  int calls;
  {
    FaultySystemCalls faults;
    c.arrange(faults);
    replaced = ReplaceFile(dir.File("cfg"), bytes, error);
    calls = c.reached(faults);
  }
  EXPECT_EQ(calls, c.expectedCalls);
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
  if (c.error == 0) {
    EXPECT_TRUE(replaced) << error;
    EXPECT_EQ(ReadFileBytes(dir.File("cfg")), bytes);
  } else {
    EXPECT_FALSE(replaced);
    EXPECT_EQ(error, ErrorText(c.error));
    EXPECT_EQ(ReadFileBytes(dir.File("cfg")), "old");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReplaceFileFaults,
    ::testing::Values(
        ReplaceCase{"InterruptedWritesAreRetried",
                    [](FaultySystemCalls& f) { f.write.interrupts = 3; }, 0,
                    [](const FaultySystemCalls& f) { return f.write.calls; }, 4},
        ReplaceCase{"ShortWritesContinue", [](FaultySystemCalls& f) { f.write.cap = 4096; }, 0,
                    [](const FaultySystemCalls& f) { return f.write.calls; }, 5},
        ReplaceCase{"FailedWrite", [](FaultySystemCalls& f) { f.write.error = ENOSPC; }, ENOSPC,
                    [](const FaultySystemCalls& f) { return f.write.calls; }, 1},
        ReplaceCase{"WriteOfNothing", [](FaultySystemCalls& f) { f.write.nothing = true; }, EIO,
                    [](const FaultySystemCalls& f) { return f.write.calls; }, 1},
        ReplaceCase{"InterruptedFsyncIsRetried",
                    [](FaultySystemCalls& f) { f.fsync.interrupts = 1; }, 0,
                    [](const FaultySystemCalls& f) { return f.fsync.calls; }, 3},
        ReplaceCase{"FailedFsync", [](FaultySystemCalls& f) { f.fsync.error = EIO; }, EIO,
                    [](const FaultySystemCalls& f) { return f.fsync.calls; }, 1},
        ReplaceCase{"FailedClose", [](FaultySystemCalls& f) { f.close.error = EDQUOT; }, EDQUOT,
                    [](const FaultySystemCalls& f) { return f.close.calls; }, 1},
        ReplaceCase{"FailedRename", [](FaultySystemCalls& f) { f.rename.error = EXDEV; }, EXDEV,
                    [](const FaultySystemCalls& f) { return f.rename.calls; }, 1},
        ReplaceCase{"FolderThatCannotBeSynced", [](FaultySystemCalls& f) { f.open.error = EACCES; },
                    0, [](const FaultySystemCalls& f) { return f.open.calls; }, 1}),
    [](const ::testing::TestParamInfo<ReplaceCase>& row) { return row.param.branch; });

TEST(FileIo, ReadGoesOnAfterInterruptedAndShortReadsAndKeepsContentsOnFailure) {
  TempDir dir;
  const std::string bytes(100000, 'r');
  WriteFileBytes(dir.File("f"), bytes);
  std::string contents, error;
  {
    FaultySystemCalls faults;
    faults.read.interrupts = 2;
    faults.read.cap = 7000;
    ASSERT_TRUE(ReadWholeFile(dir.File("f"), contents, error)) << error;
    EXPECT_EQ(faults.read.calls, 2 + 15 + 1);  // 15 short reads and the one that finds the end
  }
  EXPECT_EQ(contents, bytes);

  contents = "kept";
  FaultySystemCalls faults;
  faults.read.error = EIO;
  EXPECT_FALSE(ReadWholeFile(dir.File("f"), contents, error));
  EXPECT_EQ(error, ErrorText(EIO));
  EXPECT_EQ(contents, "kept");
}

TEST(AppendFile, AppendsWholeAfterInterruptedAndShortWritesAndReportsAFailedSync) {
  TempDir dir;
  AppendFile file;
  std::string error;
  ASSERT_TRUE(file.Open(dir.File("journal"), error)) << error;
  {
    FaultySystemCalls faults;
    faults.write.interrupts = 1;
    faults.write.cap = 3;
    ASSERT_TRUE(file.Append("record one\n", error)) << error;
    EXPECT_EQ(faults.write.calls, 1 + 4);
    faults.fsync.error = EIO;
    EXPECT_FALSE(file.Sync(error));
    EXPECT_EQ(error, ErrorText(EIO));
    faults.write.error = ENOSPC;
    EXPECT_FALSE(file.Append("two\n", error));
    EXPECT_EQ(error, ErrorText(ENOSPC));
  }
  EXPECT_TRUE(file.Sync(error));
  EXPECT_EQ(file.Size(), 11u);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadFileBytes(dir.File("journal")), "record one\n");
}

}  // namespace
}  // namespace pagorin::platform
