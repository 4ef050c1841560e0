// pagorin.dll as a Windows host holds it: loaded with LoadLibrary from the working folder and
// reached only through its two exports.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include "host/super_wizard.h"

namespace pagorin::testing {

class LoadedModule : public ::testing::Test {
 protected:
  // Loads the module and finds both exports; a fatal failure of the test when it cannot.
  void LoadModule() {
    module = LoadLibraryW(L"pagorin.dll");
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    create = reinterpret_cast<CreateSuperWizardFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, kCreateSuperWizardName)));
    destroy = reinterpret_cast<DeleteSuperWizardFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, kDeleteSuperWizardName)));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
  }
  void TearDown() override {
    if (module != nullptr) FreeLibrary(module);
  }

  HMODULE module = nullptr;
  CreateSuperWizardFunction create = nullptr;
  DeleteSuperWizardFunction destroy = nullptr;
};

}  // namespace pagorin::testing
