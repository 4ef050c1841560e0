#include "support/recording_host.h"

#include <algorithm>

namespace pagorin::testing {
namespace {

std::string Text(const char* text) {
  return text != nullptr ? std::string(text) : std::string("null");
}

}  // namespace

void RecordingHost::SetNumber(const std::string& name, double value) {
  variables[name] = HostVariable{1, value, std::string()};
}

void RecordingHost::SetText(const std::string& name, const std::string& value) {
  variables[name] = HostVariable{5, 0.0, value};
}

std::vector<HostCall> RecordingHost::CallsOf(const std::string& operation) const {
  std::vector<HostCall> result;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(result),
               [&](const HostCall& call) { return call.operation == operation; });
  return result;
}

std::size_t RecordingHost::CountOf(const std::string& operation) const {
  return static_cast<std::size_t>(
      std::count_if(calls.begin(), calls.end(),
                    [&](const HostCall& call) { return call.operation == operation; }));
}

std::string RecordingHost::OperationSequence() const {
  std::string sequence;
  for (const HostCall& call : calls) {
    if (!sequence.empty()) sequence += ' ';
    sequence += call.operation;
  }
  return sequence;
}

void RecordingHost::Record(std::string operation, std::vector<std::string> arguments) noexcept {
  calls.push_back(HostCall{std::move(operation), std::move(arguments)});
}

std::string RecordingHost::SelectVariable(int reserved1, int reserved2,
                                          const char* current) noexcept {
  Record("SelectVariable", {std::to_string(reserved1), std::to_string(reserved2), Text(current)});
  if (selectVariableAnswers.empty()) return current != nullptr ? current : "";
  std::string answer = selectVariableAnswers.front();
  selectVariableAnswers.pop_front();
  return answer;
}

int RecordingHost::IsRunMode() noexcept {
  Record("IsRunMode");
  return runMode;
}

void RecordingHost::AttachScript(const char* tagName, const char* script) noexcept {
  Record("AttachScript", {Text(tagName), Text(script)});
}

int RecordingHost::SelectScript(const char* tagName) noexcept {
  Record("SelectScript", {Text(tagName)});
  return selectScriptAnswer;
}

int RecordingHost::CheckScript(const char* script) noexcept {
  Record("CheckScript", {Text(script)});
  return checkScriptAnswer;
}

void RecordingHost::RunScript(const char* script) noexcept {
  Record("RunScript", {Text(script)});
}

int RecordingHost::IsVariable(const char* text) noexcept {
  Record("IsVariable", {Text(text)});
  std::string name = Text(text);
  bool known = variables.count(name) != 0 ||
               std::find(extraVariableNames.begin(), extraVariableNames.end(), name) !=
                   extraVariableNames.end();
  return known ? 1 : 0;
}

void RecordingHost::GetNumberValue(const char* name, double& value) noexcept {
  Record("GetNumberValue", {Text(name)});
  auto found = variables.find(Text(name));
  if (found != variables.end()) value = found->second.number;
}

void RecordingHost::GetTextValue(const char* name, std::string& value) noexcept {
  Record("GetTextValue", {Text(name)});
  auto found = variables.find(Text(name));
  if (found != variables.end()) value = found->second.text;
}

void RecordingHost::RequestTimedOut() noexcept {
  Record("RequestTimedOut");
}

void* RecordingHost::GetMainWindow() noexcept {
  Record("GetMainWindow");
  return mainWindow;
}

void RecordingHost::WatchVariable(const char* name) noexcept {
  Record("WatchVariable", {Text(name)});
}

std::string RecordingHost::GetProjectPath(std::string& path) noexcept {
  Record("GetProjectPath");
  path = projectPath;
  return path;
}

void RecordingHost::RegisterFunction(int id, const char* name, const char* help) noexcept {
  Record("RegisterFunction", {std::to_string(id), Text(name), Text(help)});
  functions[id] = RegisteredFunction{Text(name), Text(help), {}};
}

void RecordingHost::AddFunctionParameter(int id, int typeCode, const char* name) noexcept {
  Record("AddFunctionParameter", {std::to_string(id), std::to_string(typeCode), Text(name)});
  functions[id].parameters.emplace_back(typeCode, Text(name));
}

void RecordingHost::NotifyCreated(int value) noexcept {
  Record("NotifyCreated", {std::to_string(value)});
}

void RecordingHost::AttachWindow(PluginWindow* window) noexcept {
  Record("AttachWindow", {window != nullptr ? "window" : "null"});
  attachedWindow = window;
}

void RecordingHost::GetVariableType(const char* name, int& type) noexcept {
  Record("GetVariableType", {Text(name)});
  auto found = variables.find(Text(name));
  if (found != variables.end()) type = found->second.type;
}

}  // namespace pagorin::testing
