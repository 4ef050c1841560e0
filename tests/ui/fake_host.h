// A host for the dialog tests: the quiet host, answering the few operations the dialogs use from
// values the test sets and recording each of those calls as one line ("WatchVariable Tank1.PV").
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/quiet_host.h"

namespace pagorin::testing {

class DialogTestHost final : public QuietHost {
 public:
  DialogTestHost() { runMode = 0; }

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
  void AttachScript(const char* tagName, const char* script) noexcept override {
    calls.push_back(std::string("AttachScript ") + tagName + " " + script);
  }
  int CheckScript(const char* script) noexcept override {
    calls.push_back(std::string("CheckScript ") + script);
    return compilingScripts.count(script) != 0 ? 1 : 0;
  }
  int IsVariable(const char* text) noexcept override {
    calls.push_back(std::string("IsVariable ") + text);
    return variables.count(text) != 0 ? 1 : 0;
  }
  void WatchVariable(const char* name) noexcept override {
    calls.push_back(std::string("WatchVariable ") + name);
  }
  void GetVariableType(const char* name, int& type) noexcept override {
    calls.push_back(std::string("GetVariableType ") + name);
    const auto found = variables.find(name);
    if (found != variables.end()) type = found->second;
  }
};

}  // namespace pagorin::testing
