// A scenario: the plant's variables and scripts, how the simulation runs, and a timeline of
// actions, read from a TOML file that people write by hand. Texts are kept in code page 936, the
// host's encoding, after reading them as UTF-8 from the file.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expectations.h"
#include "plant.h"
#include "script.h"

namespace pagorin::sim {

struct Step {
  enum class Kind {
    kSet,         // set = { "Tank1.PV" = 8.5, "Pump1.State" = "停机" }
    kAck,         // ack = "Tank1.PV" | "Tank1" | "all"
    kScript,      // script = '#Pagorin.SendMsg("13800138000", "泵站停机")'
    kCall,        // call = "ShouldSend", args = [0]
    kSave,        // save = true | "other.vpa"
    kReload,      // reload = true | "other.vpa"
    kRestart,     // restart = true: the host closes the project and unloads the module, then
                  // loads it again and reopens the project
    kCrash,       // crash = true | "after.toml": the host process ends at once, without
                  // DeleteSuperWizard; with a scenario, a new host process runs that one
    kUnanswered,  // unanswered = 1: leave the next alarm requests unanswered
    kWaitFor,     // wait_for = "idle" | { delivered = 3 } | { history = 2 } | { reports = 1 }
                  //   | { received = 1 }, timeout = 60
    kEnd,         // end = true
    kUser,        // user = "张工": the logged-in user
    kSay,         // say = "...": a note in the output
    kReply,       // reply = { from = "13800138000", text = "1A", parts = 1, coding = "ucs2" }:
                  // a phone writes to the modem at `at`; handed to the modem simulator as an
                  // --incoming option when it starts
    kExpect,      // expect = { phone = "13800138000", texts = ["..."] } | { ..., nothing = true }:
                  // what the phone got so far, compared now
  };
  Kind kind = Kind::kEnd;
  int line = 0;
  bool hasAt = false;
  double at = 0;     // seconds of simulated time from the start
  double after = 0;  // seconds after the previous step finished
  std::vector<std::pair<std::string, ScriptValue>> values;
  std::string text;
  std::vector<ScriptValue> args;
  int count = 0;
  bool waitIdle = false;
  int waitDelivered = -1;
  int waitHistory = -1;  // lines the send history gained in this run
  int waitReports = -1;  // report verdicts (已送达, 未送达) the send history gained in this run
  int waitReceived = -1;  // lines the record of received messages gained in this run
  double timeout = 60;
  std::string replyFrom;    // reply: the sender; `text` holds its text in UTF-8
  int replyParts = 0;       // reply: 0 as many as the text needs
  std::string replyCoding;  // reply: "gsm7" or "ucs2"
  PhoneExpectation expect;  // expect: the phone and its texts
};

struct Scenario {
  std::string file;        // as given
  std::string projectDir;  // the project folder
  std::string archiveName = "project.vpa";
  double speed = 0;    // simulated seconds per real second; 0 as fast as the modem allows
  int cycleMs = 50;    // one host cycle
  double limit = 600;  // the run ends after this many simulated seconds whatever happens
  std::string user = "operator";
  std::string selectVariable;  // what the host answers when the plug-in lets the user pick one
  std::vector<Variable> variables;
  std::vector<std::pair<std::string, std::string>> scripts;  // tag -> script
  // Passed to the modem simulator, the reply steps' --incoming options among them.
  std::vector<std::string> modemArgs;
  int graceMs = 1500;  // real time granted to a modem reply before time runs fast again
  std::vector<Step> steps;
  // [[expect]]: what each phone must have got when the run ends.
  std::vector<PhoneExpectation> expectations;
};

// Reads a scenario file. On failure `error` reads "file:line: what is wrong".
bool LoadScenario(const std::string& path, Scenario& scenario, std::string& error);
// The same from text; `path` names the file in messages and anchors the project folder.
bool ParseScenario(std::string_view text, const std::string& path, Scenario& scenario,
                   std::string& error);

}  // namespace pagorin::sim
