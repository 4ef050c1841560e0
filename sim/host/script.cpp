#include "script.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/code_page.h"

namespace pagorin::sim {

std::string ScriptValue::AsText() const {
  if (isText) return text;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", number);
  return buffer;
}

double ScriptValue::AsNumber() const {
  if (!isText) return number;
  return std::strtod(text.c_str(), nullptr);
}

namespace {

struct ScriptError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$' ||
         platform::IsLeadByte(c);
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A recursive-descent interpreter that checks and runs in one pass: in checking mode it
// evaluates nothing with side effects and only verifies that names exist.
class Interpreter {
 public:
  Interpreter(std::string_view source, ScriptContext& context, bool run)
      : src_(source), context_(context), run_(run) {}

  void Script() {
    SkipBlank();
    while (pos_ < src_.size()) {
      Statement();
      SkipBlank();
    }
  }

  int Line() const {
    int line = 1;
    for (std::size_t i = 0; i < pos_ && i < src_.size(); ++i) {
      if (src_[i] == '\n') ++line;
    }
    return line;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) { throw ScriptError(what); }

  void SkipBlank() {
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < src_.size() && src_[pos_ + 1] == '/') {
        while (pos_ < src_.size() && src_[pos_] != '\n')
          ++pos_;
      } else {
        break;
      }
    }
  }

  bool Accept(char c) {
    SkipBlank();
    if (pos_ < src_.size() && src_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void Expect(char c) {
    if (!Accept(c)) {
      Fail(std::string("expected '") + c + "'" + Near());
    }
  }

  std::string Near() {
    if (pos_ >= src_.size()) return " at the end";
    std::size_t end = pos_;
    while (end < src_.size() && end - pos_ < 12 && src_[end] != '\n') {
      end += platform::CharLength(src_, end);
    }
    return " near '" + std::string(src_.substr(pos_, end - pos_)) + "'";
  }

  std::string Name() {
    SkipBlank();
    if (pos_ >= src_.size() || !IsNameStart(static_cast<unsigned char>(src_[pos_]))) {
      Fail("expected a name" + Near());
    }
    std::size_t start = pos_;
    while (pos_ < src_.size() && IsNameChar(static_cast<unsigned char>(src_[pos_]))) {
      pos_ += platform::CharLength(src_, pos_);
    }
    return std::string(src_.substr(start, pos_ - start));
  }

  void Statement() {
    if (Accept(';')) return;
    if (Accept('#')) {
      PluginCall();
    } else {
      std::string name = Name();
      if (Accept('(')) {
        if (name != "Print") Fail("unknown function '" + name + "'");
        ScriptValue value = Expression();
        Expect(')');
        if (run_) context_.Print(value.AsText());
      } else {
        Expect('=');
        if (!context_.HasVariable(name)) Fail("unknown variable '" + name + "'");
        ScriptValue value = Expression();
        if (run_) context_.WriteVariable(name, value);
      }
    }
    Accept(';');
  }

  void PluginCall() {
    std::string qualified = Name();
    std::size_t dot = qualified.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == qualified.size()) {
      Fail("expected #Object.Function(...), got '#" + qualified + "'");
    }
    std::string object = qualified.substr(0, dot);
    std::string function = qualified.substr(dot + 1);
    std::vector<ScriptValue> args;
    Expect('(');
    if (!Accept(')')) {
      do {
        args.push_back(Expression());
      } while (Accept(','));
      Expect(')');
    }
    int arity = context_.FunctionArity(object, function);
    if (arity < 0) Fail("unknown function '#" + qualified + "'");
    if (static_cast<std::size_t>(arity) != args.size()) {
      Fail("#" + qualified + " takes " + std::to_string(arity) + " argument(s), got " +
           std::to_string(args.size()));
    }
    if (run_) context_.CallFunction(object, function, args);
  }

  ScriptValue Expression() {
    ScriptValue left = Term();
    for (;;) {
      if (Accept('+')) {
        ScriptValue right = Term();
        if (left.isText || right.isText) {
          left = ScriptValue::Text(left.AsText() + right.AsText());
        } else {
          left.number += right.number;
        }
      } else if (Accept('-')) {
        left = ScriptValue::Number(left.AsNumber() - Term().AsNumber());
      } else {
        return left;
      }
    }
  }

  ScriptValue Term() {
    ScriptValue left = Factor();
    for (;;) {
      if (Accept('*')) {
        left = ScriptValue::Number(left.AsNumber() * Factor().AsNumber());
      } else if (Accept('/')) {
        double divisor = Factor().AsNumber();
        left = ScriptValue::Number(divisor == 0 ? 0 : left.AsNumber() / divisor);
      } else {
        return left;
      }
    }
  }

  ScriptValue Factor() {
    SkipBlank();
    if (pos_ >= src_.size()) Fail("expected a value at the end");
    char c = src_[pos_];
    if (Accept('(')) {
      ScriptValue value = Expression();
      Expect(')');
      return value;
    }
    if (Accept('-')) return ScriptValue::Number(-Factor().AsNumber());
    if (c == '"') return TextLiteral();
    if (IsDigit(c) || (c == '.' && pos_ + 1 < src_.size() && IsDigit(src_[pos_ + 1]))) {
      std::size_t start = pos_;
      while (pos_ < src_.size() && (IsDigit(src_[pos_]) || src_[pos_] == '.'))
        ++pos_;
      return ScriptValue::Number(
          std::strtod(std::string(src_.substr(start, pos_ - start)).c_str(), nullptr));
    }
    if (IsNameStart(static_cast<unsigned char>(c))) {
      std::string name = Name();
      if (!context_.HasVariable(name)) Fail("unknown variable '" + name + "'");
      return run_ ? context_.ReadVariable(name) : ScriptValue::Number(0);
    }
    Fail("unexpected character" + Near());
  }

  ScriptValue TextLiteral() {
    ++pos_;  // the opening quote
    std::string text;
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      // A trail byte of a two-byte character may equal '\\', so characters are taken whole.
      std::size_t length = platform::CharLength(src_, pos_);
      if (length == 2) {
        text.append(src_.substr(pos_, 2));
        pos_ += 2;
        continue;
      }
      ++pos_;
      if (c == '"') return ScriptValue::Text(std::move(text));
      if (c == '\n') break;
      if (c == '\\' && pos_ < src_.size()) {
        char e = src_[pos_++];
        text.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e);
        continue;
      }
      text.push_back(c);
    }
    Fail("text not closed");
  }

  std::string_view src_;
  ScriptContext& context_;
  bool run_;
  std::size_t pos_ = 0;
};

bool Execute(std::string_view script, ScriptContext& context, bool run, std::string& error) {
  Interpreter interpreter(script, context, run);
  try {
    interpreter.Script();
    return true;
  } catch (const std::exception& e) {
    error = "line " + std::to_string(interpreter.Line()) + ": " + e.what();
    return false;
  }
}

}  // namespace

bool CheckScript(std::string_view script, ScriptContext& context, std::string& error) {
  return Execute(script, context, false, error);
}

bool RunScript(std::string_view script, ScriptContext& context, std::string& error) {
  return Execute(script, context, true, error);
}

}  // namespace pagorin::sim
