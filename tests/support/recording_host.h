// A host for tests: implements every host operation, records each call with its arguments, and
// answers from values the test sets beforehand. Texts are code page 936 bytes, as the plug-in
// passes and expects them.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "host/host_application.h"

namespace pagorin::testing {

// One call the plug-in made on the host: the operation's name and its arguments as text
// (integers in decimal, pointers as "null" or "window").
struct HostCall {
  std::string operation;
  std::vector<std::string> arguments;

  bool operator==(const HostCall&) const = default;
};

// A host variable: its type code (1 integer, 5 text) and its value in both forms.
struct HostVariable {
  int type = 1;
  double number = 0.0;
  std::string text;
};

// A registered script function with its parameters in registration order.
struct RegisteredFunction {
  std::string name;
  std::string help;
  std::vector<std::pair<int, std::string>> parameters;  // type code, name
};

class RecordingHost : public HostApplication {
 public:
  RecordingHost() = default;
  virtual ~RecordingHost() = default;

  // --- Answers, set by the test ---
  int runMode = 0;
  std::string projectPath = "project";
  std::map<std::string, HostVariable> variables;
  int checkScriptAnswer = 1;
  // Texts that IsVariable names as variables beside those in `variables`.
  std::vector<std::string> extraVariableNames;
  int selectScriptAnswer = 1;
  // Answers of SelectVariable in order; once used up, SelectVariable hands back the present text.
  std::deque<std::string> selectVariableAnswers;
  void* mainWindow = nullptr;

  // Sets a number variable (type 1) or a text variable (type 5).
  void SetNumber(const std::string& name, double value);
  void SetText(const std::string& name, const std::string& value);

  // --- What the plug-in did ---
  std::vector<HostCall> calls;
  std::map<int, RegisteredFunction> functions;
  PluginWindow* attachedWindow = nullptr;

  // The calls of one operation, in order.
  std::vector<HostCall> CallsOf(const std::string& operation) const;
  // How many times an operation was called.
  std::size_t CountOf(const std::string& operation) const;
  // The operations called, in order, as one text separated by blanks (for quick comparison).
  std::string OperationSequence() const;

  // --- HostApplication ---
  std::string SelectVariable(int reserved1, int reserved2, const char* current) noexcept override;
  int IsRunMode() noexcept override;
  void AttachScript(const char* tagName, const char* script) noexcept override;
  int SelectScript(const char* tagName) noexcept override;
  int CheckScript(const char* script) noexcept override;
  void RunScript(const char* script) noexcept override;
  int IsVariable(const char* text) noexcept override;
  void GetNumberValue(const char* name, double& value) noexcept override;
  void GetTextValue(const char* name, std::string& value) noexcept override;
  void RequestTimedOut() noexcept override;
  void* GetMainWindow() noexcept override;
  void WatchVariable(const char* name) noexcept override;
  std::string GetProjectPath(std::string& path) noexcept override;
  void RegisterFunction(int id, const char* name, const char* help) noexcept override;
  void AddFunctionParameter(int id, int typeCode, const char* name) noexcept override;
  void NotifyCreated(int value) noexcept override;
  void AttachWindow(PluginWindow* window) noexcept override;
  void GetVariableType(const char* name, int& type) noexcept override;

 private:
  void Record(std::string operation, std::vector<std::string> arguments = {}) noexcept;
};

}  // namespace pagorin::testing
