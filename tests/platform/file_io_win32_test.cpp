// File I/O on Windows with paths as the host hands them over: code page 936 bytes, here a
// project folder named in Chinese.
#include <windows.h>
#undef ReplaceFile  // the system names a function so too; ours is meant here

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/append_file.h"
#include "platform/file_io.h"
#include "platform/system_error.h"
#include "support/temp_dir.h"

namespace pagorin::platform {
namespace {

// 项目 (U+9879 U+76EE) in code page 936.
constexpr char kFolderCp936[] = "\xCF\xEE\xC4\xBF";
constexpr wchar_t kFolderWide[] = L"\u9879\u76EE";

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

int CountEntries(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

TEST(FileIoWin32, AProjectFolderNamedInChineseLoadsSavesAndReloads) {
  testing::TempDir dir;
  const std::wstring wideFolder = Wide(dir.path()) + L"\\" + kFolderWide;
  ASSERT_TRUE(CreateDirectoryW(wideFolder.c_str(), nullptr));
  const std::string file = dir.path() + "\\" + kFolderCp936 + "\\Kestrova_Configure.ini";

  std::string error;
  ASSERT_TRUE(ReplaceFile(file, "<XML Version=\"1\"/>", error)) << error;
  // The file is where the wide name says, not under a mangled narrow name.
  EXPECT_NE(GetFileAttributesW((wideFolder + L"\\Kestrova_Configure.ini").c_str()),
            INVALID_FILE_ATTRIBUTES);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(file, contents, error)) << error;
  EXPECT_EQ(contents, "<XML Version=\"1\"/>");

  // Replacing keeps one file and leaves no temporary file behind.
  const std::string bigger(100000, 'x');
  ASSERT_TRUE(ReplaceFile(file, bigger, error)) << error;
  ASSERT_TRUE(ReadWholeFile(file, contents, error)) << error;
  EXPECT_EQ(contents, bigger);
  EXPECT_EQ(CountEntries(wideFolder), 1);
}

TEST(FileIoWin32, FailuresKeepTheOldStateAndNameTheCause) {
  testing::TempDir dir;
  std::string contents = "unchanged";
  std::string error;
  EXPECT_FALSE(ReadWholeFile(dir.File("missing.ini"), contents, error));
  EXPECT_EQ(contents, "unchanged");
  EXPECT_EQ(error, ErrorText(ENOENT));

  EXPECT_FALSE(ReplaceFile(dir.File("no-folder/file.ini"), "x", error));
  EXPECT_EQ(error, ErrorText(ENOENT));

  // A folder stands where the file should go: the rename fails, the folder stays, the
  // temporary file is gone.
  const std::string folder = dir.File("folder");
  ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
  error.clear();
  EXPECT_FALSE(ReplaceFile(folder, "x", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(CountEntries(Wide(dir.path())), 1);
}

// The hold of OpenExclusive is the share mode: a second holder in this process is told it is
// held, a plain writer is turned away too, a reader is not, and a rename of the held file fails.
TEST(FileIoWin32, OpenExclusiveTurnsAwayWritersUntilItsHolderLetsGo) {
  testing::TempDir dir;
  const std::string path = dir.File("journal");
  AppendFile first, second;
  std::string error;
  bool held = true;
  ASSERT_TRUE(first.OpenExclusive(path, error, held)) << error;
  EXPECT_FALSE(held);
  ASSERT_TRUE(first.Append("a", error)) << error;
  EXPECT_FALSE(second.OpenExclusive(path, error, held));
  EXPECT_TRUE(held);
  EXPECT_EQ(error, ErrorText(SystemErrorNumber(ERROR_SHARING_VIOLATION)));
  EXPECT_FALSE(second.Open(path, error));
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(path, contents, error)) << error;
  EXPECT_EQ(contents, "a");
  EXPECT_FALSE(RenameFile(path, dir.File("moved"), error));
  EXPECT_TRUE(first.IsAt(path));
  first.Close();
  ASSERT_TRUE(second.OpenExclusive(path, error, held)) << error;
  EXPECT_FALSE(second.IsAt(dir.File("other")));
  second.Close();
  EXPECT_FALSE(second.IsAt(path));
}

}  // namespace
}  // namespace pagorin::platform

namespace pagorin::platform {
namespace {

// The system's own codes read as the system's messages (whatever its language), not as the C
// library's messages for the numbers that share their values: one line each, told apart, and
// never empty.
TEST(SystemErrorWin32, SystemCodesGiveTheSystemsMessage) {
  const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_TIMEOUT,
                         ERROR_DEVICE_NOT_CONNECTED};
  std::vector<std::string> texts;
  for (const DWORD code : codes) {
    SCOPED_TRACE(code);
    const int number = SystemErrorNumber(code);
    EXPECT_LT(number, 0);
    const std::string text = ErrorText(number);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), '.');
    EXPECT_NE(text, ErrorText(static_cast<int>(code)));
    for (const std::string& other : texts)
      EXPECT_NE(text, other);
    texts.push_back(text);
  }
  // A failure that the system reported without a code still reads as a failure.
  EXPECT_EQ(ErrorText(SystemErrorNumber(0)), ErrorText(SystemErrorNumber(ERROR_GEN_FAILURE)));
  // A code that has no message is named by its number.
  EXPECT_EQ(ErrorText(SystemErrorNumber(0x3FFFFFF0)), "System error 1073741808");
}

}  // namespace
}  // namespace pagorin::platform
