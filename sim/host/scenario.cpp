#include "scenario.h"

#include <toml++/toml.h>

#include <charconv>
#include <filesystem>
#include <stdexcept>

#include "deliver_pdu.h"
#include "event_log.h"
#include "platform/file_io.h"

namespace pagorin::sim {
namespace {

// An error in the scenario at a line of the file.
struct ScenarioError : std::runtime_error {
  ScenarioError(int l, const std::string& what) : std::runtime_error(what), line(l) {}
  int line;
};

int LineOf(const toml::node& node) {
  return static_cast<int>(node.source().begin.line);
}

[[noreturn]] void Fail(const toml::node& node, const std::string& what) {
  throw ScenarioError(LineOf(node), what);
}

void OnlyKeys(const toml::table& table, std::initializer_list<std::string_view> allowed,
              std::string_view where) {
  for (auto&& [key, node] : table) {
    bool known = false;
    for (auto name : allowed)
      known = known || key.str() == name;
    if (!known) {
      std::string list;
      for (auto name : allowed)
        list += (list.empty() ? "" : ", ") + std::string(name);
      throw ScenarioError(static_cast<int>(key.source().begin.line),
                          "unknown key '" + std::string(key.str()) + "' in " + std::string(where) +
                              " (known: " + list + ")");
    }
  }
}

double Number(const toml::node& node, std::string_view what) {
  if (auto v = node.value<double>()) return *v;
  Fail(node, std::string(what) + " must be a number");
}

std::string String(const toml::node& node, std::string_view what) {
  if (auto s = node.as_string()) return s->get();
  Fail(node, std::string(what) + " must be a text in quotes");
}

ScriptValue Value(const toml::node& node, std::string_view what) {
  if (auto s = node.as_string()) return ScriptValue::Text(Cp936(s->get()));
  if (auto b = node.as_boolean()) return ScriptValue::Number(b->get() ? 1 : 0);
  if (auto v = node.value<double>()) return ScriptValue::Number(*v);
  Fail(node, std::string(what) + " must be a number or a text");
}

int Level(const toml::node& node) {
  double level = Number(node, "level");
  if (level != 1 && level != 2 && level != 3)
    Fail(node, "level must be 1 (low), 2 (high) or 3 (urgent)");
  return static_cast<int>(level);
}

Variable ReadVariable(const toml::table& table) {
  OnlyKeys(table,
           {"name", "type", "value", "lolo", "lo", "hi", "hihi", "alarm_when", "alarm_level"},
           "[[variable]]");
  Variable variable;
  const toml::node* name = table.get("name");
  if (name == nullptr) Fail(table, "a [[variable]] needs a name");
  variable.name = Cp936(String(*name, "name"));
  const toml::node* value = table.get("value");
  const toml::node* type = table.get("type");
  if (type != nullptr) {
    std::string t = String(*type, "type");
    if (t == "number") {
      variable.type = kNumberType;
    } else if (t == "text") {
      variable.type = kTextType;
    } else {
      Fail(*type, "type must be \"number\" or \"text\", not \"" + t + "\"");
    }
  } else if (value != nullptr && value->is_string()) {
    variable.type = kTextType;
  }
  if (value != nullptr) {
    ScriptValue v = Value(*value, "value");
    if (variable.type == kTextType) {
      variable.text = v.AsText();
    } else {
      variable.number = v.AsNumber();
    }
  }
  static const char* kLimitKeys[] = {"lolo", "lo", "hi", "hihi"};
  for (std::size_t kind = 0; kind < 4; ++kind) {
    const toml::node* node = table.get(kLimitKeys[kind]);
    if (node == nullptr) continue;
    if (variable.type != kNumberType) Fail(*node, "only a number variable has limits");
    AlarmLimit& limit = variable.limits[kind];
    limit.enabled = true;
    if (auto t = node->as_table()) {
      OnlyKeys(*t, {"limit", "level"}, kLimitKeys[kind]);
      const toml::node* l = t->get("limit");
      if (l == nullptr) Fail(*node, std::string(kLimitKeys[kind]) + " needs a limit");
      limit.limit = Number(*l, "limit");
      if (const toml::node* lv = t->get("level")) limit.level = Level(*lv);
    } else {
      limit.limit = Number(*node, kLimitKeys[kind]);
    }
  }
  if (const toml::node* when = table.get("alarm_when")) {
    variable.discrete = true;
    ScriptValue v = Value(*when, "alarm_when");
    variable.discreteText = v.AsText();
    variable.discreteNumber = v.AsNumber();
  }
  if (const toml::node* level = table.get("alarm_level")) variable.discreteLevel = Level(*level);
  return variable;
}

// An expectation of [[expect]] or of an expect step: phone, then texts or nothing = true, and
// order = "any" for a set.
PhoneExpectation ReadExpectation(const toml::table& table, std::string_view where) {
  OnlyKeys(table, {"phone", "texts", "nothing", "order"}, where);
  PhoneExpectation want;
  want.line = LineOf(table);
  const toml::node* phone = table.get("phone");
  if (phone == nullptr) Fail(table, std::string(where) + " needs a phone");
  want.phone = String(*phone, "phone");
  if (want.phone.empty()) Fail(*phone, "phone must not be empty");
  const toml::node* texts = table.get("texts");
  const toml::node* nothing = table.get("nothing");
  if ((texts == nullptr) == (nothing == nullptr)) {
    Fail(table, std::string(where) + " needs texts = [...] or nothing = true, one of them");
  }
  if (nothing != nullptr && (!nothing->is_boolean() || !nothing->as_boolean()->get())) {
    Fail(*nothing, "nothing takes true");
  }
  if (texts != nullptr) {
    const toml::array* array = texts->as_array();
    if (array == nullptr || array->empty()) {
      Fail(*texts, "texts must be a list of one text or more (for none: nothing = true)");
    }
    for (const toml::node& text : *array)
      want.texts.push_back(String(text, "a text"));
  }
  if (const toml::node* order = table.get("order")) {
    const std::string o = String(*order, "order");
    if (o != "any" && o != "sequence") Fail(*order, "order must be \"sequence\" or \"any\"");
    if (texts == nullptr) Fail(*order, "order belongs to texts");
    want.anyOrder = o == "any";
  }
  return want;
}

Step ReadStep(const toml::table& table) {
  OnlyKeys(table,
           {"at", "after", "set", "ack", "script", "call", "args", "save", "reload", "restart",
            "crash", "unanswered", "wait_for", "timeout", "end", "user", "say", "reply", "expect"},
           "[[step]]");
  Step step;
  step.line = LineOf(table);
  if (const toml::node* at = table.get("at")) {
    step.hasAt = true;
    step.at = Number(*at, "at");
    if (step.at < 0) Fail(*at, "at must not be negative");
    if (table.get("after") != nullptr) Fail(*at, "a step has either 'at' or 'after', not both");
  } else if (const toml::node* after = table.get("after")) {
    step.after = Number(*after, "after");
    if (step.after < 0) Fail(*after, "after must not be negative");
  }
  int actions = 0;
  const toml::node* actionNode = nullptr;
  auto action = [&](const char* key) {
    const toml::node* node = table.get(key);
    if (node != nullptr) {
      ++actions;
      if (actionNode == nullptr || LineOf(*node) > LineOf(*actionNode)) actionNode = node;
    }
    return node;
  };
  if (const toml::node* node = action("set")) {
    step.kind = Step::Kind::kSet;
    const toml::table* values = node->as_table();
    if (values == nullptr || values->empty()) {
      Fail(*node, "set takes a table such as { \"Tank1.PV\" = 8.5 }");
    }
    for (auto&& [key, value] : *values) {
      step.values.emplace_back(Cp936(key.str()), Value(value, "a value"));
    }
  }
  if (const toml::node* node = action("ack")) {
    step.kind = Step::Kind::kAck;
    step.text = Cp936(String(*node, "ack"));
  }
  if (const toml::node* node = action("script")) {
    step.kind = Step::Kind::kScript;
    step.text = Cp936(String(*node, "script"));
  }
  if (const toml::node* node = action("call")) {
    step.kind = Step::Kind::kCall;
    step.text = String(*node, "call");
    if (const toml::node* args = table.get("args")) {
      const toml::array* array = args->as_array();
      if (array == nullptr) Fail(*args, "args must be a list such as [\"13800138000\", \"text\"]");
      for (const toml::node& arg : *array)
        step.args.push_back(Value(arg, "an argument"));
    }
  } else if (const toml::node* args = table.get("args")) {
    Fail(*args, "args belong to a 'call' step");
  }
  for (const char* key : {"save", "reload"}) {
    if (const toml::node* node = action(key)) {
      step.kind = key[0] == 's' ? Step::Kind::kSave : Step::Kind::kReload;
      if (node->is_string()) {
        step.text = String(*node, key);
      } else if (!node->is_boolean() || !node->as_boolean()->get()) {
        Fail(*node, std::string(key) + " takes true or a file name");
      }
    }
  }
  if (const toml::node* node = action("restart")) {
    step.kind = Step::Kind::kRestart;
    if (!node->is_boolean() || !node->as_boolean()->get()) Fail(*node, "restart takes true");
  }
  if (const toml::node* node = action("crash")) {
    step.kind = Step::Kind::kCrash;
    if (node->is_string()) {
      step.text = String(*node, "crash");
      if (step.text.empty()) Fail(*node, "crash takes true or the scenario to restart with");
    } else if (!node->is_boolean() || !node->as_boolean()->get()) {
      Fail(*node, "crash takes true or the scenario to restart with");
    }
  }
  if (const toml::node* node = action("unanswered")) {
    step.kind = Step::Kind::kUnanswered;
    double count = Number(*node, "unanswered");
    if (count < 1 || count > 1000) Fail(*node, "unanswered takes a count from 1 to 1000");
    step.count = static_cast<int>(count);
  }
  if (const toml::node* node = action("wait_for")) {
    step.kind = Step::Kind::kWaitFor;
    if (node->is_string() && node->as_string()->get() == "idle") {
      step.waitIdle = true;
    } else if (auto t = node->as_table()) {
      static constexpr const char* kCounts[] = {"delivered", "history", "reports", "received"};
      OnlyKeys(*t, {kCounts[0], kCounts[1], kCounts[2], kCounts[3]}, "wait_for");
      if (t->size() != 1) {
        Fail(*node,
             "wait_for needs delivered = N or history = N (or reports = N, received = N), one "
             "of them");
      }
      int* const targets[] = {&step.waitDelivered, &step.waitHistory, &step.waitReports,
                              &step.waitReceived};
      for (std::size_t i = 0; i < std::size(kCounts); ++i) {
        if (const toml::node* count = t->get(kCounts[i]))
          *targets[i] = static_cast<int>(Number(*count, kCounts[i]));
      }
    } else {
      Fail(*node,
           "wait_for takes \"idle\", { delivered = N }, { history = N }, { reports = N } or "
           "{ received = N }");
    }
  }
  if (const toml::node* timeout = table.get("timeout")) {
    if (step.kind != Step::Kind::kWaitFor || actions == 0) {
      Fail(*timeout, "timeout belongs to a 'wait_for' step");
    }
    step.timeout = Number(*timeout, "timeout");
  }
  if (const toml::node* node = action("end")) {
    step.kind = Step::Kind::kEnd;
    if (!node->is_boolean()) Fail(*node, "end takes true");
  }
  if (const toml::node* node = action("user")) {
    step.kind = Step::Kind::kUser;
    step.text = Cp936(String(*node, "user"));
  }
  if (const toml::node* node = action("say")) {
    step.kind = Step::Kind::kSay;
    step.text = String(*node, "say");
  }
  if (const toml::node* node = action("reply")) {
    step.kind = Step::Kind::kReply;
    const toml::table* reply = node->as_table();
    if (reply == nullptr) {
      Fail(*node, "reply takes a table such as { from = \"13800138000\", text = \"1A\" }");
    }
    OnlyKeys(*reply, {"from", "text", "parts", "coding"}, "reply");
    const toml::node* from = reply->get("from");
    const toml::node* text = reply->get("text");
    if (from == nullptr || text == nullptr) Fail(*node, "a reply needs from and text");
    if (!step.hasAt) Fail(*node, "a reply step needs 'at': the modem is told its moment at start");
    step.replyFrom = String(*from, "from");
    step.text = String(*text, "text");
    if (step.replyFrom.empty() || step.replyFrom.find(':') != std::string::npos) {
      Fail(*from, "from must be a number or a name without ':'");
    }
    if (const toml::node* parts = reply->get("parts")) {
      double count = Number(*parts, "parts");
      if (count < 0 || count > 255) Fail(*parts, "parts takes 0 (as needed) to 255");
      step.replyParts = static_cast<int>(count);
    }
    PhoneText message{{}, step.replyFrom, step.text, TextCoding::kGsm7, step.replyParts, 0, {}};
    std::string why;
    if (const toml::node* coding = reply->get("coding")) {
      step.replyCoding = String(*coding, "coding");
      if (step.replyCoding != "gsm7" && step.replyCoding != "ucs2") {
        Fail(*coding, "coding must be \"gsm7\" or \"ucs2\"");
      }
    } else {
      // A text that the GSM alphabet cannot hold goes in UCS2.
      step.replyCoding = EncodeDeliver(message, why).empty() ? "ucs2" : "gsm7";
    }
    message.coding = step.replyCoding == "ucs2" ? TextCoding::kUcs2 : TextCoding::kGsm7;
    if (EncodeDeliver(message, why).empty()) Fail(*node, "reply: " + why);
  }
  if (const toml::node* node = action("expect")) {
    step.kind = Step::Kind::kExpect;
    const toml::table* expect = node->as_table();
    if (expect == nullptr) {
      Fail(*node, "expect takes a table such as { phone = \"13800138000\", texts = [\"...\"] }");
    }
    step.expect = ReadExpectation(*expect, "expect");
  }
  if (actions == 0) {
    Fail(table,
         "a step needs one action: set, ack, script, call, save, reload, restart, crash, "
         "unanswered, wait_for, end, user, say, reply or expect");
  }
  if (actions > 1) Fail(*actionNode, "a step has one action only; split it into several steps");
  return step;
}

void ReadScenario(const toml::table& root, Scenario& scenario) {
  OnlyKeys(root, {"simulation", "modem", "variable", "scripts", "step", "expect"}, "the scenario");
  if (const toml::node* node = root.get("simulation")) {
    const toml::table* sim = node->as_table();
    if (sim == nullptr) Fail(*node, "[simulation] must be a table");
    OnlyKeys(*sim, {"project", "archive", "speed", "cycle_ms", "limit", "user", "select_variable"},
             "[simulation]");
    if (const toml::node* n = sim->get("project")) {
      std::filesystem::path base = std::filesystem::path(scenario.file).parent_path();
      scenario.projectDir = (base / String(*n, "project")).lexically_normal().string();
    }
    if (const toml::node* n = sim->get("archive")) scenario.archiveName = String(*n, "archive");
    if (const toml::node* n = sim->get("speed")) {
      if (n->is_string() && n->as_string()->get() == "max") {
        scenario.speed = 0;
      } else {
        scenario.speed = Number(*n, "speed");
        if (scenario.speed <= 0) Fail(*n, "speed must be above 0, or \"max\"");
      }
    }
    if (const toml::node* n = sim->get("cycle_ms")) {
      double ms = Number(*n, "cycle_ms");
      if (ms < 1 || ms > 1000) Fail(*n, "cycle_ms must be from 1 to 1000");
      scenario.cycleMs = static_cast<int>(ms);
    }
    if (const toml::node* n = sim->get("limit")) scenario.limit = Number(*n, "limit");
    if (const toml::node* n = sim->get("user")) scenario.user = Cp936(String(*n, "user"));
    if (const toml::node* n = sim->get("select_variable")) {
      scenario.selectVariable = Cp936(String(*n, "select_variable"));
    }
  }
  if (const toml::node* node = root.get("modem")) {
    const toml::table* modem = node->as_table();
    if (modem == nullptr) Fail(*node, "[modem] must be a table");
    OnlyKeys(*modem, {"options", "grace_ms"}, "[modem]");
    if (const toml::node* n = modem->get("options")) {
      const toml::array* array = n->as_array();
      if (array == nullptr) Fail(*n, "options must be a list of texts");
      for (const toml::node& option : *array) {
        scenario.modemArgs.push_back(String(option, "an option"));
      }
    }
    if (const toml::node* n = modem->get("grace_ms")) {
      scenario.graceMs = static_cast<int>(Number(*n, "grace_ms"));
    }
  }
  if (const toml::node* node = root.get("variable")) {
    const toml::array* array = node->as_array();
    if (array == nullptr) Fail(*node, "variables are written as [[variable]] tables");
    for (const toml::node& entry : *array) {
      const toml::table* table = entry.as_table();
      if (table == nullptr) Fail(entry, "variables are written as [[variable]] tables");
      Variable variable = ReadVariable(*table);
      for (const auto& other : scenario.variables) {
        if (other.name == variable.name) {
          Fail(entry, "variable '" + Utf8(variable.name) + "' is defined twice");
        }
      }
      scenario.variables.push_back(std::move(variable));
    }
  }
  if (const toml::node* node = root.get("scripts")) {
    const toml::table* scripts = node->as_table();
    if (scripts == nullptr) Fail(*node, "[scripts] maps a tag name to its script");
    for (auto&& [key, value] : *scripts) {
      scenario.scripts.emplace_back(Cp936(key.str()), Cp936(String(value, "a script")));
    }
  }
  if (const toml::node* node = root.get("step")) {
    const toml::array* array = node->as_array();
    if (array == nullptr) Fail(*node, "steps are written as [[step]] tables");
    for (const toml::node& entry : *array) {
      const toml::table* table = entry.as_table();
      if (table == nullptr) Fail(entry, "steps are written as [[step]] tables");
      scenario.steps.push_back(ReadStep(*table));
      const Step& step = scenario.steps.back();
      if (step.kind == Step::Kind::kReply) {
        char at[32];
        auto written = std::to_chars(at, at + sizeof at, step.at);
        scenario.modemArgs.push_back("--incoming=" + std::string(at, written.ptr) + "@" +
                                     step.replyFrom + ":" + std::to_string(step.replyParts) + ":" +
                                     step.replyCoding + ":" + step.text);
      }
    }
  }
  if (const toml::node* node = root.get("expect")) {
    const toml::array* array = node->as_array();
    if (array == nullptr) Fail(*node, "expectations are written as [[expect]] tables");
    for (const toml::node& entry : *array) {
      const toml::table* table = entry.as_table();
      if (table == nullptr) Fail(entry, "expectations are written as [[expect]] tables");
      PhoneExpectation want = ReadExpectation(*table, "[[expect]]");
      for (const PhoneExpectation& other : scenario.expectations) {
        if (other.phone == want.phone) {
          Fail(entry, "phone " + want.phone + " has an [[expect]] already (line " +
                          std::to_string(other.line) + "); list all its texts there");
        }
      }
      scenario.expectations.push_back(std::move(want));
    }
  }
}

}  // namespace

bool ParseScenario(std::string_view text, const std::string& path, Scenario& scenario,
                   std::string& error) {
  Scenario result;
  result.file = path;
  result.projectDir = std::filesystem::path(path).parent_path().lexically_normal().string();
  if (result.projectDir.empty()) result.projectDir = ".";
  try {
    toml::table root = toml::parse(text, path);
    ReadScenario(root, result);
  } catch (const toml::parse_error& e) {
    error =
        path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    return false;
  } catch (const ScenarioError& e) {
    error = path + ":" + std::to_string(e.line) + ": " + e.what();
    return false;
  } catch (const std::exception& e) {
    error = path + ": " + e.what();
    return false;
  }
  scenario = std::move(result);
  return true;
}

bool LoadScenario(const std::string& path, Scenario& scenario, std::string& error) {
  std::string text;
  std::string why;
  if (!platform::ReadWholeFile(path, text, why)) {
    error = path + ": cannot read: " + why;
    return false;
  }
  return ParseScenario(text, path, scenario, error);
}

}  // namespace pagorin::sim
