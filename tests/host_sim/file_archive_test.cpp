#include "file_archive.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace pagorin::sim {
namespace {

TEST(FileArchive, StoresNothingUntilCommittedThenLoadsTheSameValues) {
  testing::TempDir dir;
  const std::string path = dir.File("project.vpa");
  FileArchive store;
  store.OpenForStoring(path);
  ASSERT_TRUE(archive::WriteInt32(store, -7));
  ASSERT_TRUE(archive::WriteString(store, std::string(300, 'x')));
  EXPECT_TRUE(testing::ReadFileBytes(path).empty());
  std::string error;
  ASSERT_TRUE(store.Commit(error)) << error;
  EXPECT_EQ(testing::ReadFileBytes(path), store.Bytes());

  FileArchive load;
  ASSERT_TRUE(load.OpenForLoading(path, error)) << error;
  EXPECT_FALSE(load.IsStoring());
  EXPECT_FALSE(load.Write("x", 1));
  std::int32_t version = 0;
  std::string text;
  ASSERT_TRUE(archive::ReadInt32(load, version));
  ASSERT_TRUE(archive::ReadString(load, text));
  EXPECT_EQ(version, -7);
  EXPECT_EQ(text, std::string(300, 'x'));
  EXPECT_EQ(load.Unread(), 0u);
  char byte = 0;
  EXPECT_EQ(load.Read(&byte, 1), 0u);
}

TEST(FileArchive, FailuresAreReportedAndLeaveTheOldFile) {
  testing::TempDir dir;
  std::string error;
  FileArchive load;
  EXPECT_FALSE(load.OpenForLoading(dir.File("missing.vpa"), error));
  EXPECT_FALSE(error.empty());

  FileArchive store;
  store.OpenForStoring(dir.File("no-such-folder/project.vpa"));
  store.Write("abc", 3);
  error.clear();
  EXPECT_FALSE(store.Commit(error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(load.Commit(error));  // a loading archive has nothing to commit
}

}  // namespace
}  // namespace pagorin::sim
