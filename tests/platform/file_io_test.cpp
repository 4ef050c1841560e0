#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A held file turns away every other holder, a second object of this process as well as a child
// process, telling that apart from other failures, and is free again once its holder lets go.
TEST(AppendFile, OpenExclusiveTurnsAwayEveryOtherHolderUntilItLetsGo) {
  TempDir dir;
  const std::string path = dir.File("journal");
  AppendFile first, second;
  std::string error;
  bool held = true;
  ASSERT_TRUE(first.OpenExclusive(path, error, held)) << error;
  EXPECT_FALSE(held);
  ASSERT_TRUE(first.Append("a", error));
  EXPECT_FALSE(second.OpenExclusive(path, error, held));
  EXPECT_TRUE(held);
  EXPECT_EQ(error, ErrorText(EWOULDBLOCK));
  EXPECT_FALSE(second.IsOpen());
  first.Close();
  ASSERT_TRUE(second.OpenExclusive(path, error, held)) << error;
  ASSERT_TRUE(second.Append("b", error));
  second.Close();
  EXPECT_EQ(ReadFileBytes(path), "ab");

  int toParent[2], toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    AppendFile own;
    std::string ownError;
    bool ownHeld = false;
    const char opened = own.OpenExclusive(path, ownError, ownHeld) ? 'y' : 'n';
    char go = 0;
    const bool told = ::write(toParent[1], &opened, 1) == 1 && ::read(toChild[0], &go, 1) == 1;
    ::_exit(told ? 0 : 1);
  }
  char opened = 0;
  ASSERT_EQ(::read(toParent[0], &opened, 1), 1);
  EXPECT_EQ(opened, 'y');
  EXPECT_FALSE(first.OpenExclusive(path, error, held));
  EXPECT_TRUE(held);
  const char go = 'g';
  ASSERT_EQ(::write(toChild[1], &go, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]})
    ::close(fd);
  EXPECT_TRUE(first.OpenExclusive(path, error, held)) << error;
  first.Close();

  // A failure of the lock itself is no other holder; an interrupted one is tried again.
  FaultySystemCalls faults;
  faults.flock.interrupts = 1;
  EXPECT_TRUE(first.OpenExclusive(path, error, held)) << error;
  EXPECT_EQ(faults.flock.calls, 2);
  faults.flock.error = ENOLCK;
  EXPECT_FALSE(second.OpenExclusive(path, error, held));
  EXPECT_FALSE(held);
  EXPECT_EQ(error, ErrorText(ENOLCK));
  EXPECT_FALSE(second.IsOpen());
}

// What becomes of the path while the file is open, and whether IsAt still finds the file there.
struct PathCase {
  const char* change;
  void (*apply)(const TempDir&);
  bool stillAt;
};

void PrintTo(const PathCase& c, std::ostream* out) {
  *out << c.change;
}

class AppendFileIdentity : public ::testing::TestWithParam<PathCase> {};

TEST_P(AppendFileIdentity, IsAtFollowsTheFileNotTheName) {
  TempDir dir;
  AppendFile file;
  std::string error;
  ASSERT_TRUE(file.Open(dir.File("history"), error)) << error;
  ASSERT_TRUE(file.Append("line\n", error));
  GetParam().apply(dir);
  EXPECT_EQ(file.IsAt(dir.File("history")), GetParam().stillAt);
  file.Close();
  EXPECT_FALSE(file.IsAt(dir.File("history")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, AppendFileIdentity,
    ::testing::Values(PathCase{"Untouched", [](const TempDir&) {}, true},
                      PathCase{"Removed",
                               [](const TempDir& d) {
                                 ASSERT_EQ(::unlink(d.File("history").c_str()), 0);
                               },
                               false},
                      PathCase{"ReplacedByRename",
                               [](const TempDir& d) {
                                 WriteFileBytes(d.File("copy"), "line\n");
                                 ASSERT_TRUE(RenameFile(d.File("copy"), d.File("history")));
                               },
                               false},
                      PathCase{"RemovedAndWrittenAgain",
                               [](const TempDir& d) {
                                 ASSERT_EQ(::unlink(d.File("history").c_str()), 0);
                                 WriteFileBytes(d.File("history"), "line\n");
                               },
                               false}),
    [](const ::testing::TestParamInfo<PathCase>& row) { return row.param.change; });

}  // namespace
}  // namespace pagorin::platform
