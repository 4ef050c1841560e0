// The host's small script language, enough for custom alarm texts and calls of the plug-in's
// functions. Scripts are code page 936 bytes. A script is a sequence of statements, each
// optionally ended by ";":
//
//   Tank1.SP = 7.5;                          assignment to a variable
//   Msg.Text = "1号泵" + "停机";              text concatenation with +
//   #Pagorin.SendMsg("13800138000", Msg.Text); call of a plug-in function (object "Pagorin")
//   Print("done: " + Tank1.PV);              the host's own output
//
// Expressions: numbers, "texts" (escapes \" \\ \n), variables, + - * /, unary -, parentheses.
// "//" starts a comment that runs to the end of the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pagorin::sim {

struct ScriptValue {
  bool isText = false;
  double number = 0;
  std::string text;

  static ScriptValue Number(double value) { return {false, value, {}}; }
  static ScriptValue Text(std::string value) { return {true, 0, std::move(value)}; }
  // The value as text ("%g" for numbers) or as a number (strtod of the text).
  std::string AsText() const;
  double AsNumber() const;
};

// What the language needs from the host.
class ScriptContext {
 public:
  virtual bool HasVariable(std::string_view name) = 0;
  virtual ScriptValue ReadVariable(std::string_view name) = 0;
  virtual void WriteVariable(std::string_view name, const ScriptValue& value) = 0;
  // The number of parameters of object.function, or -1 when there is no such function.
  virtual int FunctionArity(std::string_view object, std::string_view function) = 0;
  virtual void CallFunction(std::string_view object, std::string_view function,
                            const std::vector<ScriptValue>& args) = 0;
  virtual void Print(std::string_view text) = 0;

 protected:
  ~ScriptContext() = default;
};

// Checks a script without running it: syntax, known variables, known functions with the right
// number of arguments. On failure `error` says what and where (1-based line).
bool CheckScript(std::string_view script, ScriptContext& context, std::string& error);

// Runs a script. Stops at the first error, which is put into `error`.
bool RunScript(std::string_view script, ScriptContext& context, std::string& error);

}  // namespace pagorin::sim
