#include "modem/modem_status.h"

#include <charconv>

#include "platform/code_page.h"

namespace pagorin {
namespace {

struct ErrorEntry {
  int code;
  ErrorClass errorClass;
  std::string_view meaning;  // UTF-8
};

using enum ErrorClass;

// +CMS ERROR codes: the network's causes (below 128), the SMS centre's refusals (128 to 255) and
// the modem's own (300 and up). A code outside the table is a passing failure without a name.
constexpr ErrorEntry kCmsErrors[] = {
    {1, Rejected, "号码不存在"},
    {8, Rejected, "运营商禁止发送"},
    {10, Rejected, "呼叫被禁止"},
    {17, ModemNotReady, "网络故障"},
    {21, Rejected, "短信被拒收"},
    {22, Transient, "对方存储已满"},
    {27, Transient, "对方不可达"},
    {28, Rejected, "无法识别的用户"},
    {29, Rejected, "业务被拒绝"},
    {30, Rejected, "未知用户"},
    {38, ModemNotReady, "网络故障"},
    {41, ModemNotReady, "网络临时故障"},
    {42, ModemNotReady, "网络拥塞"},
    {47, ModemNotReady, "网络资源不可用"},
    {50, Rejected, "未开通短信业务"},
    {69, Rejected, "业务未实现"},
    {81, Rejected, "短信参考号无效"},
    {95, Rejected, "短信无效"},
    {96, Rejected, "必需信息无效"},
    {97, Rejected, "消息类型不存在"},
    {98, Rejected, "消息与协议状态不符"},
    {99, Rejected, "信息单元不存在"},
    {111, Rejected, "协议错误"},
    {127, Rejected, "网间互通错误"},
    {192, ModemNotReady, "短信中心忙"},
    {193, Rejected, "未订阅短信中心业务"},
    {194, ModemNotReady, "短信中心系统故障"},
    {195, Rejected, "目标号码无效"},
    {196, Rejected, "目标号码被禁止"},
    {197, Rejected, "重复短信被拒收"},
    {212, Transient, "SIM卡应用忙"},
    {300, Transient, "模块故障"},
    {301, ModemNotReady, "短信服务被占用"},
    {302, Transient, "操作不允许"},
    {303, Transient, "操作不支持"},
    {304, Rejected, "PDU参数无效"},
    {305, Rejected, "文本参数无效"},
    {310, ModemNotReady, "未插SIM卡"},
    {311, ModemNotReady, "需要SIM卡PIN码"},
    {312, ModemNotReady, "需要PH-SIM PIN码"},
    {313, ModemNotReady, "SIM卡故障"},
    {314, ModemNotReady, "SIM卡忙"},
    {315, ModemNotReady, "SIM卡错误"},
    {316, ModemNotReady, "需要SIM卡PUK码"},
    {317, ModemNotReady, "需要SIM卡PIN2码"},
    {318, ModemNotReady, "需要SIM卡PUK2码"},
    {320, Transient, "存储器故障"},
    {321, Transient, "存储索引无效"},
    {322, Transient, "存储器已满"},
    {330, ModemNotReady, "短信中心号码未知"},
    {331, ModemNotReady, "无网络服务"},
    {332, ModemNotReady, "网络超时"},
    {340, Transient, "无需确认"},
    {500, Transient, "未知错误"},
};

// +CME ERROR codes: the equipment's own failures; those of the SIM and the network keep every
// message waiting.
constexpr ErrorEntry kCmeErrors[] = {
    {0, Transient, "模块故障"},
    {3, Transient, "操作不允许"},
    {4, Transient, "操作不支持"},
    {10, ModemNotReady, "未插SIM卡"},
    {11, ModemNotReady, "需要SIM卡PIN码"},
    {12, ModemNotReady, "需要SIM卡PUK码"},
    {13, ModemNotReady, "SIM卡故障"},
    {14, ModemNotReady, "SIM卡忙"},
    {15, ModemNotReady, "SIM卡错误"},
    {16, ModemNotReady, "密码错误"},
    {17, ModemNotReady, "需要SIM卡PIN2码"},
    {18, ModemNotReady, "需要SIM卡PUK2码"},
    {30, ModemNotReady, "无网络服务"},
    {31, ModemNotReady, "网络超时"},
    {32, ModemNotReady, "仅限紧急呼叫"},
    {100, Transient, "未知错误"},
};

constexpr std::string_view kCmsPrefix = "+CMS ERROR:";
constexpr std::string_view kCmePrefix = "+CME ERROR:";
constexpr std::string_view kPlainErrorMeaning = "模块返回错误";
constexpr std::string_view kSmsCentreRefusal = "短信被短信中心拒收";
constexpr std::string_view kTimeoutMeaning = "超时无应答";

// The code after `prefix`, or -1 when `result` is not "<prefix> <digits>".
int CodeAfter(std::string_view result, std::string_view prefix) noexcept {
  if (!result.starts_with(prefix)) return -1;
  std::string_view rest = result.substr(prefix.size());
  while (!rest.empty() && rest.front() == ' ')
    rest.remove_prefix(1);
  int code = -1;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), code);
  if (error != std::errc() || end != rest.data() + rest.size() || code < 0) return -1;
  return code;
}

template <std::size_t N>
const ErrorEntry* Find(const ErrorEntry (&table)[N], int code) noexcept {
  for (const ErrorEntry& entry : table) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

// The table entry of `result`, or nullptr; `smsCentre` tells a refusal of the SMS centre (128 to
// 255) that has no entry of its own.
const ErrorEntry* Lookup(std::string_view result, bool& smsCentre) noexcept {
  smsCentre = false;
  if (int code = CodeAfter(result, kCmsPrefix); code >= 0) {
    if (const ErrorEntry* entry = Find(kCmsErrors, code)) return entry;
    smsCentre = code >= 128 && code <= 255;
    return nullptr;
  }
  if (int code = CodeAfter(result, kCmePrefix); code >= 0) return Find(kCmeErrors, code);
  return nullptr;
}

std::string ToCp936(std::string_view utf8) noexcept {
  try {
    return platform::Utf8ToCp936(utf8);
  } catch (...) {
    return {};
  }
}

}  // namespace

ErrorClass ClassifyErrorResult(std::string_view result) noexcept {
  bool smsCentre = false;
  if (const ErrorEntry* entry = Lookup(result, smsCentre)) return entry->errorClass;
  return smsCentre ? Rejected : Transient;
}

int ErrorResultCode(std::string_view result) noexcept {
  if (int code = CodeAfter(result, kCmsPrefix); code >= 0) return code;
  return CodeAfter(result, kCmePrefix);
}

std::string ErrorResultMeaning(std::string_view result) noexcept {
  bool smsCentre = false;
  if (const ErrorEntry* entry = Lookup(result, smsCentre)) return ToCp936(entry->meaning);
  if (smsCentre) return ToCp936(kSmsCentreRefusal);
  if (result == "ERROR") return ToCp936(kPlainErrorMeaning);
  return {};
}

std::string DescribeErrorResult(std::string_view result) noexcept {
  try {
    std::string text(result);
    std::string meaning = ErrorResultMeaning(result);
    if (!meaning.empty()) text += ' ' + meaning;
    return text;
  } catch (...) {
    return {};
  }
}

std::string TimeoutMeaning() noexcept {
  return ToCp936(kTimeoutMeaning);
}

std::optional<int> RssiToDbm(int rssi) noexcept {
  if (rssi < 0 || rssi > 31) return std::nullopt;
  return -113 + 2 * rssi;
}

bool IsSmsPathFailing(const ModemStatus& status, bool lastMessageFailed) noexcept {
  if (!status.portOpen || lastMessageFailed) return true;
  if (status.sim == SimState::Absent || status.sim == SimState::PinNeeded) return true;
  return status.registration == Registration::Searching ||
         status.registration == Registration::Denied;
}

}  // namespace pagorin
