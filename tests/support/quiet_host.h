// A host that answers every operation the way a quiet running project does and records nothing:
// for benchmarks, which measure the module and not the host, and as the base of fakes that watch
// a few operations. Header only, so that a benchmark can use it without the test support's
// replacement allocator.
#pragma once

#include <string>

#include "host/host_application.h"

namespace pagorin::testing {

class QuietHost : public HostApplication {
 public:
  QuietHost() = default;
  virtual ~QuietHost() = default;

  // --- Answers, set by the user ---
  int runMode = 1;
  std::string projectPath;  // GetProjectPath's answer; empty leaves the caller's text
  double numberValue = 0;   // every variable's value
  std::string textValue;
  int variableType = 1;  // every variable's type code (1 integer, 5 text)

  std::string SelectVariable(int, int, const char* current) noexcept override {
    return current != nullptr ? current : "";
  }
  int IsRunMode() noexcept override { return runMode; }
  void AttachScript(const char*, const char*) noexcept override {}
  int SelectScript(const char*) noexcept override { return 0; }
  int CheckScript(const char*) noexcept override { return 1; }
  void RunScript(const char*) noexcept override {}
  int IsVariable(const char*) noexcept override { return 1; }
  void GetNumberValue(const char*, double& value) noexcept override { value = numberValue; }
  void GetTextValue(const char*, std::string& value) noexcept override {
    try {
      value = textValue;
    } catch (...) {
      value.clear();
    }
  }
  void RequestTimedOut() noexcept override {}
  void* GetMainWindow() noexcept override { return nullptr; }
  void WatchVariable(const char*) noexcept override {}
  std::string GetProjectPath(std::string& path) noexcept override {
    if (projectPath.empty()) return path;
    try {
      path = projectPath;
    } catch (...) {
    }
    return path;
  }
  void RegisterFunction(int, const char*, const char*) noexcept override {}
  void AddFunctionParameter(int, int, const char*) noexcept override {}
  void NotifyCreated(int) noexcept override {}
  void AttachWindow(PluginWindow*) noexcept override {}
  void GetVariableType(const char*, int& type) noexcept override { type = variableType; }
};

}  // namespace pagorin::testing
