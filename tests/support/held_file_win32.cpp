#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/system_error.h"
#include "support/held_file.h"

namespace pagorin::testing {

struct HeldFiles::State {
  std::vector<HANDLE> handles;
};

HeldFiles::HeldFiles() : state_(std::make_unique<State>()) {}

HeldFiles::~HeldFiles() {
  ReleaseAll();
}

// Reading and writing are shared, deleting (which a rename needs) is not.
void HeldFiles::Hold(const std::string& path) {
  const std::u16string units = platform::Cp936ToUtf16(path);
  const std::wstring wide(units.begin(), units.end());
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE) << path;
  state_->handles.push_back(handle);
}

void HeldFiles::ReleaseAll() {
  for (HANDLE handle : state_->handles)
    CloseHandle(handle);
  state_->handles.clear();
}

std::string HeldFiles::FailureText() {
  return platform::ErrorText(platform::SystemErrorNumber(ERROR_SHARING_VIOLATION));
}

}  // namespace pagorin::testing
