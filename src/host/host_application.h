// The host as the plug-in sees it. The host implements this interface and hands a pointer to
// CreateSuperWizard; the plug-in calls it only on the host's thread. Texts passed in are
// zero-terminated code page 936 strings; texts handed back are code page 936 bytes. Type codes of
// variables: 1 integer, 5 text. Implementations must not throw.
//
// The order of the operations is the order of the host's interface table and must never change.
#pragma once

#include <string>

namespace pagorin {

class PluginWindow;

// Type codes of host variables.
inline constexpr int kIntegerVariable = 1;
inline constexpr int kTextVariable = 5;

class HostApplication {
 public:
  // Lets the user pick a variable; returns its name (what comes back when the user cancels is
  // the host's choice). The plug-in passes 0, 0 and the present text.
  virtual std::string SelectVariable(int reserved1, int reserved2,
                                     const char* current) noexcept = 0;
  // Non-zero while the project runs.
  virtual int IsRunMode() noexcept = 0;
  // Attaches `script` to the tag `tagName`.
  virtual void AttachScript(const char* tagName, const char* script) noexcept = 0;
  // Selects the script attached to `tagName`; non-zero when there is one to run.
  virtual int SelectScript(const char* tagName) noexcept = 0;
  // Non-zero when `script` compiles.
  virtual int CheckScript(const char* script) noexcept = 0;
  // Runs the selected script.
  virtual void RunScript(const char* script) noexcept = 0;
  // Non-zero when `text` names a variable.
  virtual int IsVariable(const char* text) noexcept = 0;
  // Fills `value` with the variable's current value.
  virtual void GetNumberValue(const char* name, double& value) noexcept = 0;
  // Fills `value` with the variable's current text; "$UserName" gives the logged-in user.
  virtual void GetTextValue(const char* name, std::string& value) noexcept = 0;
  // An alarm request went unanswered and was abandoned.
  virtual void RequestTimedOut() noexcept = 0;
  // The host's main window (a native window handle; opaque to the plug-in).
  virtual void* GetMainWindow() noexcept = 0;
  // Makes the variable's value and alarms available.
  virtual void WatchVariable(const char* name) noexcept = 0;
  // Fills `path` with the project directory and returns it.
  virtual std::string GetProjectPath(std::string& path) noexcept = 0;
  // Registers script function `id` of the plug-in with its help text.
  virtual void RegisterFunction(int id, const char* name, const char* help) noexcept = 0;
  // Adds a parameter to function `id`; parameters are added in call order.
  virtual void AddFunctionParameter(int id, int typeCode, const char* name) noexcept = 0;
  // Called by CreateSuperWizard with the value 4.
  virtual void NotifyCreated(int value) noexcept = 0;
  // Hands the plug-in's hidden window to the host.
  virtual void AttachWindow(PluginWindow* window) noexcept = 0;
  // Fills `type` with the variable's type code.
  virtual void GetVariableType(const char* name, int& type) noexcept = 0;

 protected:
  ~HostApplication() = default;
};

}  // namespace pagorin
