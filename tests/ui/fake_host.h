// A host for the dialog tests: answers the few operations the dialogs use from values the test
// sets and records each call as one line ("WatchVariable Tank1.PV").
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/host_application.h"

namespace pagorin::testing {

class DialogTestHost final : public HostApplication {
 public:
  DialogTestHost() = default;
  virtual ~DialogTestHost() = default;

  int runMode = 0;
  std::set<std::string> compilingScripts;  // texts CheckScript accepts
  std::map<std::string, int> variables;    // names IsVariable knows, with their type codes
  std::deque<std::string> selectAnswers;   // SelectVariable's answers; then the present text
  std::vector<std::string> calls;

  std::string SelectVariable(int reserved1, int reserved2, const char* current) noexcept override {
    calls.push_back("SelectVariable " + std::to_string(reserved1) + " " +
                    std::to_string(reserved2) + " " + current);
    if (selectAnswers.empty()) return current;
    std::string answer = selectAnswers.front();
    selectAnswers.pop_front();
    return answer;
  }
  int IsRunMode() noexcept override { return runMode; }
  void AttachScript(const char* tagName, const char* script) noexcept override {
    calls.push_back(std::string("AttachScript ") + tagName + " " + script);
  }
  int SelectScript(const char*) noexcept override { return 0; }
  int CheckScript(const char* script) noexcept override {
    calls.push_back(std::string("CheckScript ") + script);
    return compilingScripts.count(script) != 0 ? 1 : 0;
  }
  void RunScript(const char*) noexcept override {}
  int IsVariable(const char* text) noexcept override {
    calls.push_back(std::string("IsVariable ") + text);
    return variables.count(text) != 0 ? 1 : 0;
  }
  void GetNumberValue(const char*, double&) noexcept override {}
  void GetTextValue(const char*, std::string&) noexcept override {}
  void RequestTimedOut() noexcept override {}
  void* GetMainWindow() noexcept override { return nullptr; }
  void WatchVariable(const char* name) noexcept override {
    calls.push_back(std::string("WatchVariable ") + name);
  }
  std::string GetProjectPath(std::string& path) noexcept override { return path; }
  void RegisterFunction(int, const char*, const char*) noexcept override {}
  void AddFunctionParameter(int, int, const char*) noexcept override {}
  void NotifyCreated(int) noexcept override {}
  void AttachWindow(PluginWindow*) noexcept override {}
  void GetVariableType(const char* name, int& type) noexcept override {
    calls.push_back(std::string("GetVariableType ") + name);
    const auto found = variables.find(name);
    if (found != variables.end()) type = found->second;
  }
};

}  // namespace pagorin::testing
