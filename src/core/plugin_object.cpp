#include "core/plugin_object.h"

#include "config/line_settings.h"
#include "platform/tick.h"
#include "ui/ui_factory.h"

namespace pagorin {

PluginObject::PluginObject(HostApplication& hostApplication)
    : host(&hostApplication), hostWindow(std::make_unique<PluginWindow>()) {
  Version = 1;
  Com = 0;
  Baund = kDefaultBaudIndex;
  DataBit = 1;
  std::string projectDirectory;
  projectDirectory = host->GetProjectPath(projectDirectory);
  configPath = ConfigPathIn(projectDirectory);
  sendEnabled = 1;
  modem.SetObserver(&outbox);
  modem.SetRecorder(&outbox);
  outbox.SetListener(this);
  outbox.SetInbox(&inbox);
}

PluginObject::~PluginObject() {
  std::lock_guard calls(hostCalls);
  // A PDU the modem already has gets its verdict (bounded) before the sender stops; the fates
  // it made reach the history, and no script runs while the object goes.
  outbox.SetListener(nullptr);
  modem.Close();
  modem.Tick();
  modem.SetObserver(nullptr);
  // The window goes first, while everything it could reach is still there.
  hostWindow.reset();
  ClearPhoneBook();
  ClearAlarmRules();
  knownAlarms.Clear();
}

void PluginObject::Serialize(Archive& archive) noexcept {
  std::lock_guard calls(hostCalls);
  SerializeConfiguration(*this, document, archive);
  ReportConfiguration(archive.IsStoring());
}

int PluginObject::Start(int /*unused*/) noexcept {
  std::lock_guard calls(hostCalls);
  if (host->IsRunMode() != 0 && !runStarted) {
    runStarted = true;
    // The inbox first: the sender may read the modem's storage as soon as the port opens.
    try {
      const std::string folder = ProjectFolder();
      inbox.Open(folder + "/" + std::string(Inbox::kFileName));
      received.Open(folder);
    } catch (...) {
      // Out of memory: incoming messages stay on the modem until the inbox can take them.
    }
    // A port that does not open now is reopened by the sender; alarms are taken meanwhile.
    (void)modem.Open(Com + 1, BaudRateForIndex(Baund), ByteSizeForDataBit(DataBit));
    modemOpen = modem.started() ? 1 : 0;
    ApplyTextOptions();
    try {
      outbox.Start(ProjectFolder(), Resend != 0, SmsModem::kDefaultMaxAgeMs);
    } catch (...) {
      // Out of memory: the outbox starts empty, the journal keeps its messages for next time.
    }
    lastRequestTick = platform::TickCount();
    loopFromTick = lastRequestTick;
    for (const auto& rule : alarmRules) {
      host->WatchVariable(rule->VarName.c_str());
      if (rule->BScript != 0) host->WatchVariable(rule->Script.c_str());
    }
  }
  if (host->IsRunMode() != 0 && !hostWindow->IsCreated()) {
    hostWindow->Create(this, host->GetMainWindow());
    host->AttachWindow(hostWindow.get());
  }
  return 1;
}

int PluginObject::ShowSettings() noexcept {
  std::lock_guard calls(hostCalls);
  return GetUiFactory().RunSettingsDialog(*this, *host, nullptr) == 1 ? 1 : 0;
}

std::string PluginObject::GetName() noexcept {
  std::lock_guard calls(hostCalls);
  return kPluginName;
}

void PluginObject::OnTick() noexcept {
  std::lock_guard calls(hostCalls);
  modem.SetSendEnabled(sendEnabled != 0);
  ApplyTextOptions();
  modem.Tick();
  try {
    // Parts whose companions did not come in time, and what an earlier run left.
    std::vector<ReceivedMessage> done;
    inbox.Poll(done);
    TakeReceived(done);
  } catch (...) {
  }
  TickLoopTest();
  outbox.Feed();
  UpdatePathState();
  ReportRecordsProblem();
}

void PluginObject::OnSent(std::uint64_t id, const std::vector<int>& /*references*/,
                          int /*attempts*/) noexcept {
  // The loop test's wait runs from the network's acceptance, not from a queue behind alarms.
  if (id != 0 && id == loopMessageId) loopSentTick = platform::TickCount();
  messageFailing = false;
  UpdatePathState();
}

void PluginObject::OnFailed(std::uint64_t id, const SmsFailure& failure) noexcept {
  if (id != 0 && id == loopMessageId && failure.kind != SmsFailureKind::Temporary) {
    loopMessageId = 0;  // its failure counts as the path's; the next one goes when due
    loopSentTick.reset();
  }
  if (failure.kind == SmsFailureKind::Temporary && failure.attempts < kFailingAttempts) return;
  messageFailing = true;
  UpdatePathState();
}

void PluginObject::OnStatusChanged(const ModemStatus& /*status*/) noexcept {
  ReportModemStatus();
  UpdatePathState();
}

void PluginObject::UpdatePathState() noexcept {
  if (!modem.started()) return;
  const std::uint32_t now = platform::TickCount();
  const bool failing = IsSmsPathFailing(outbox.status(), messageFailing) || loopFailing;
  if (failing != rawPathFailing) {
    rawPathFailing = failing;
    rawChangedTick = now;
  }
  if (rawPathFailing == pathFailing || now - rawChangedTick < kPathSettleMs) return;
  // A recovery is told once it has lasted; a new failure soon after the last one waits.
  if (rawPathFailing && lastFailureScriptTick &&
      now - *lastFailureScriptTick < kPathScriptSpacingMs) {
    return;
  }
  pathFailing = rawPathFailing;
  if (ModemScript.empty()) return;
  if (pathFailing) lastFailureScriptTick = now;
  host->RunScript(ModemScript.c_str());
}

std::string PluginObject::ProjectFolder() const {
  const std::size_t separator = configPath.find_last_of("/\\");
  return separator == std::string::npos ? std::string(".") : configPath.substr(0, separator);
}

}  // namespace pagorin
