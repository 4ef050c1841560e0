// The script functions of the plug-in object: their registration with the host and their calls.
#include "core/script_functions.h"

#include "core/plugin_object.h"
#include "resources/string_table.h"
#include "ui/ui_factory.h"

namespace pagorin {
namespace {

using string_id::kPropDlgHelp;
using string_id::kSendMsgHelp;
using string_id::kShouldSendHelp;

std::string TextArgument(const HostParam& param) {
  return param.textValue != nullptr ? std::string(param.textValue) : std::string();
}

}  // namespace

std::vector<std::string> SplitNumberList(std::string_view list) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  // The appended comma closes the last piece, so a list that ends in a comma has an empty one.
  for (std::size_t pos = 0; pos <= list.size(); ++pos) {
    if (pos < list.size() && list[pos] != ',') continue;
    std::string_view piece = list.substr(start, pos - start);
    if (piece.size() <= kMaxNumberPieceBytes) pieces.emplace_back(piece);
    start = pos + 1;
  }
  return pieces;
}

void PluginObject::RegisterFunctions() noexcept {
  std::lock_guard calls(hostCalls);
  host->RegisterFunction(kPropDlgFunction, "PropDlg", LoadString(kPropDlgHelp).c_str());
  host->RegisterFunction(kSendMsgFunction, "SendMsg", LoadString(kSendMsgHelp).c_str());
  host->AddFunctionParameter(kSendMsgFunction, kTextVariable, "TelNum");
  host->AddFunctionParameter(kSendMsgFunction, kTextVariable, "Content");
  host->RegisterFunction(kShouldSendFunction, "ShouldSend", LoadString(kShouldSendHelp).c_str());
  host->AddFunctionParameter(kShouldSendFunction, kIntegerVariable, "Flag");
}

int PluginObject::CallFunction(int functionId, int /*unused1*/, const HostParam* params,
                               int /*unused2*/) noexcept {
  std::lock_guard calls(hostCalls);
  switch (functionId) {
    case kPropDlgFunction:
      GetUiFactory().RunSettingsDialog(*this, *host, nullptr);
      break;
    case kSendMsgFunction:
      if (params != nullptr) SendMessage(params);
      break;
    case kShouldSendFunction:
      if (params != nullptr) sendEnabled = params[0].intValue != 0 ? 1 : 0;
      // The sender learns of it at once, not at the next tick: no message starts after this.
      modem.SetSendEnabled(sendEnabled != 0);
      break;
    default:
      break;
  }
  return 1;
}

void PluginObject::SendMessage(const HostParam* params) {
  try {
    // The content is looked at where the host keeps it: one call may name many numbers, and
    // none of them gets a copy of a long text.
    const std::string_view content =
        params[1].textValue != nullptr ? std::string_view(params[1].textValue) : std::string_view();
    std::vector<OutboxRequest> requests;
    for (std::string& number : SplitNumberList(TextArgument(params[0]))) {
      OutboxRequest request;
      for (const auto& entry : phoneBook) {
        if (entry->TelNum == number) {
          request.name = entry->Desc;
          break;
        }
      }
      request.number = std::move(number);
      request.origin = Outbox::kScriptOrigin;
      request.text = content;
      request.priority = kPriorityScript;
      requests.push_back(std::move(request));
    }
    ApplyTextOptions();
    outbox.Queue(requests);
  } catch (...) {
    // Out of memory: what was queued stays queued; the script learns nothing either way.
  }
}

void PluginObject::QueueText(const std::string& number, const std::string& text) {
  OutboxRequest request{number, {}, Outbox::kScriptOrigin, text, kPriorityScript};
  ApplyTextOptions();
  outbox.Queue(std::span(&request, 1));
}

}  // namespace pagorin
