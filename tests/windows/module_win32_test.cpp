// pagorin.dll as the Windows host sees it: loaded with LoadLibrary, reached only through its two
// exports, with a project folder whose name is Chinese (the host hands its path over in code
// page 936).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "host/super_wizard.h"
#include "loaded_module.h"
#include "platform/archive.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace pagorin::testing {
namespace {

// 水厂 (U+6C34 U+5382) in code page 936.
constexpr char kFolderCp936[] = "\xCB\xAE\xB3\xA7";
constexpr wchar_t kFolderWide[] = L"\u6C34\u5382";

const char kConfiguration[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<XML Version=\"1\" Com=\"0\" Baund=\"2\" DataBit=\"1\" TelCount=\"1\" VarCount=\"0\">\r\n"
    "<Tel0 TelNum=\"13800138000\" Desc=\"\xB1\xC3\"></Tel0>\r\n"
    "</XML>\r\n";

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::string ReadWide(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n > 0)
    bytes.append(chunk, n);
  CloseHandle(file);
  return bytes;
}

class ModuleWin32 : public LoadedModule {
 protected:
  void SetUp() override { LoadModule(); }
};

TEST_F(ModuleWin32, AProjectFolderNamedInChineseLoadsStoresAndReloads) {
  TempDir root;
  const std::wstring folder = Wide(root.path()) + L"\\" + kFolderWide;
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring file = folder + L"\\Kestrova_Configure.ini";
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(handle, kConfiguration, sizeof kConfiguration - 1, &written, nullptr);
  CloseHandle(handle);

  RecordingHost host;
  host.projectPath = root.path() + "\\" + kFolderCp936;
  SuperWizard* plugin = create(&host);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->GetName(), "Pagorin");

  // Loading reads the file in the Chinese folder; storing rewrites it from what was loaded.
  MemoryArchive stored;
  archive::WriteInt32(stored, 1);
  archive::WriteString(stored, "<XML/>");
  MemoryArchive loading(stored.Bytes());
  plugin->Serialize(loading);
  MemoryArchive storing;
  plugin->Serialize(storing);
  destroy(plugin);

  const std::string rewritten = ReadWide(file);
  EXPECT_NE(rewritten.find("TelNum=\"13800138000\""), std::string::npos) << rewritten;
  EXPECT_NE(rewritten.find("Desc=\"\xB1\xC3\""), std::string::npos) << rewritten;
  // Nothing but the file is left in the folder (no temporary file).
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  int entries = 0;
  do {
    if (found.cFileName[0] != L'.') ++entries;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(entries, 1);

  // A second object reloads what the first one stored.
  SuperWizard* again = create(&host);
  ASSERT_NE(again, nullptr);
  MemoryArchive reloading(stored.Bytes());
  again->Serialize(reloading);
  MemoryArchive restoring;
  again->Serialize(restoring);
  destroy(again);
  const std::string restored = ReadWide(file);
  EXPECT_NE(restored.find("TelNum=\"13800138000\""), std::string::npos) << restored;
  EXPECT_NE(restored.find("Desc=\"\xB1\xC3\""), std::string::npos) << restored;
  EXPECT_NE(restored.find("Revision=\"2\""), std::string::npos) << restored;
}

TEST_F(ModuleWin32, CreatesNothingWithoutAHost) {
  EXPECT_EQ(create(nullptr), nullptr);
  destroy(nullptr);
  EXPECT_EQ(GetProcAddress(module, "_ZN7pagorin12GetUiFactoryEv"), nullptr);
}

}  // namespace
}  // namespace pagorin::testing
