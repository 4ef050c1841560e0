// The string table's source is UTF-8 so that it reads as it is shown; the module works in code
// page 936, so the whole table is converted once, the first time any string is asked for.
#include "resources/string_table.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/code_page.h"

namespace pagorin {
namespace {

struct StringEntry {
  int id;
  std::string_view utf8;
};

constexpr std::array kStrings{
    // Alarm message words; a trailing comma belongs to the word.
    StringEntry{string_id::kLoLoWord, "低低报,"},
    StringEntry{string_id::kLoWord, "低报,"},
    StringEntry{string_id::kHiHiWord, "高高报,"},
    StringEntry{string_id::kHiWord, "高报,"},
    StringEntry{string_id::kLowLevelWord, "低级,"},
    StringEntry{string_id::kHighLevelWord, "高级,"},
    StringEntry{string_id::kUrgentLevelWord, "紧急,"},
    StringEntry{string_id::kUnacknowledgedWord, "未确认,"},
    StringEntry{string_id::kAcknowledgedWord, "确认"},
    StringEntry{string_id::kResumedWord, "恢复"},
    StringEntry{string_id::kValuePattern, "数值%f"},
    StringEntry{string_id::kLimitPattern, ",限值%f"},
    StringEntry{string_id::kMessageFrame, "%s报警:%s"},
    // Dialog texts.
    StringEntry{string_id::kPhoneLibraryHeading, "手机号码库"},
    StringEntry{string_id::kDescHeading, "说明"},
    StringEntry{string_id::kVariableHeading, "变量名"},
    StringEntry{string_id::kPhoneCountHeading, "手机个数"},
    StringEntry{string_id::kPhoneExists, "已经存在此手机号了!\n手机号:%s\n说明:(%s)"},
    StringEntry{string_id::kVariableExists, "已经存在此变量了!\n变量名:%s"},
    StringEntry{string_id::kAddPhoneTitle, "增加手机号码"},
    StringEntry{string_id::kModifyPhoneTitle, "修改手机号码"},
    StringEntry{string_id::kWrongPhoneNumber, "手机号输入错误!"},
    StringEntry{string_id::kPhoneHeading, "手机号码"},
    StringEntry{string_id::kDescriptionPrefix, "说明:"},
    StringEntry{string_id::kUserPattern, ",用户%s"},
    StringEntry{string_id::kChooseVariable, "请选择DB变量!"},
    // Help texts of the script functions.
    StringEntry{string_id::kPropDlgHelp,
                "函数原型:#Pagorin.PropDlg()\r\n"
                "函数描述:弹出属性配置界面\r\n"
                "返回值\t:无\r\n"
                "参数  \t:无\r\n"
                "说明  \t:运行时弹出属性配置界面\r\n"
                "示例  \t:#Pagorin.PropDlg();//弹出属性配置界面"},
    StringEntry{string_id::kScriptError, "脚本编译错误，请检查！"},
    StringEntry{
        30,
        "函数原型:#Pagorin.SendMsg(string TelNumList,string Content)\r\n"
        "函数描述:添加短信报警\r\n"
        "返回值\t:无\r\n"
        "参数  \t:TelNumList-手机号码列表，可以添加几个电话号码，号码与号码之间以\",\"隔开\r\n"
        "\t Content-需要发送到的内容\r\n"
        "说明  \t:该函数用来向短信报警列表中添加报警项\r\n"
        "示例  \t:#Pagorin.SendMsg(\"13800138000，1381234567\",\"手机没有费了！\")\r\n"
        "\t //向电话13800138000和1381234567发送短信“手机没有费了！”"},
    StringEntry{string_id::kShouldSendHelp,
                "函数原型:#Pagorin.ShouldSend(int Flag)\r\n"
                "函数描述:有报警时是否发送短信\r\n"
                "返回值\t:无\r\n"
                "参数  \t:Flag-有报警时是否发送短信开关 0-不发送 其他值-发送\r\n"
                "说明  \t:有报警时是否发送短信的控制开关\r\n"
                "示例  \t:#Pagorin.ShouldSend(0);//不发送短信"},
    // The configuration file's load and save problems.
    StringEntry{string_id::kConfigFileDamaged, "配置文件已损坏，未加载:\n%s\n(%s)"},
    StringEntry{string_id::kConfigFileUnreadable, "无法读取配置文件:\n%s\n(%s)"},
    StringEntry{string_id::kConfigFileOlder, "配置文件比工程中保存的配置旧:\n%s"},
    StringEntry{string_id::kConfigFileMissing, "配置文件不存在:\n%s"},
    StringEntry{string_id::kProjectCopyLoaded, "已改用工程中保存的配置。"},
    StringEntry{string_id::kConfigurationKept, "配置保持不变。"},
    StringEntry{string_id::kDamagedFileKeptAside, "保存配置时原文件将另存为副本。"},
    StringEntry{string_id::kPhoneIndexesSkipped,
                "%d个报警规则中共有%d个手机号码序号不存在，已忽略。"},
    StringEntry{string_id::kConfigSaveFailed, "配置文件保存失败:\n%s"},
    // The outbox and the send history.
    StringEntry{string_id::kHistoryHeading,
                "入队时间,结束时间,手机号码,说明,来源,内容,尝试次数,参考号,状态,原因,状态码"},
    StringEntry{string_id::kSentWord, "已发送"},
    StringEntry{string_id::kFailedWord, "发送失败"},
    StringEntry{string_id::kRefusedWord, "已拒绝"},
    StringEntry{string_id::kWaitingWord, "等待发送"},
    StringEntry{string_id::kQueueFullReason, "发送队列已满"},
    StringEntry{string_id::kWrongNumberReason, "手机号码无效"},
    StringEntry{string_id::kEmptyTextReason, "短信内容为空"},
    StringEntry{string_id::kPortClosedReason, "串口未打开"},
    StringEntry{string_id::kExpiredReason, "等待时间过长,已放弃"},
    StringEntry{string_id::kTextCutNote, "内容过长,已截断"},
    StringEntry{string_id::kOutboxWriteReason, "无法写入发件箱文件"},
    StringEntry{string_id::kModemFailedReason, "短信猫发送失败"},
    // Long texts and coalescing: the settings dialog's checks and the head of a joined message.
    StringEntry{string_id::kWrongMaxParts, "最多条数应为1到20之间的整数!"},
    StringEntry{string_id::kWrongCoalesce, "积压合并的条数应为0到1000之间的整数!"},
    StringEntry{string_id::kCoalescedHead, "[%d条报警] "},
    StringEntry{string_id::kCoalescedScriptHead, "[%d条消息] "},
    StringEntry{string_id::kNotResentReason, "重新启动后按设置不再重发"},
    StringEntry{string_id::kGaveWayReason, "发送队列已满,为报警短信让位"},
    StringEntry{string_id::kMoreRefusedNumbers, "另有%d个号码"},
    // The send record dialog and the modem's status line.
    StringEntry{string_id::kRecordTimeHeading, "时间"},
    StringEntry{string_id::kRecordTextHeading, "内容"},
    StringEntry{string_id::kRecordStateHeading, "状态"},
    StringEntry{string_id::kRecordDetailHeading, "参考号/原因"},
    StringEntry{string_id::kTestQueued, "测试短信已排队,等待发送..."},
    StringEntry{string_id::kTestSent, "测试短信已发送,参考号 %s"},
    StringEntry{string_id::kTestFailed, "测试短信未能发送:%s"},
    StringEntry{string_id::kChooseTestPhone, "请先选择一个手机号码!"},
    StringEntry{string_id::kTestMessageText, "短信报警测试:收到本短信说明短信报警工作正常。"},
    StringEntry{string_id::kModemPortOpen, "串口已打开"},
    StringEntry{string_id::kModemPortClosed, "串口未打开 %s"},
    StringEntry{string_id::kModemSignal, "信号 %d dBm"},
    StringEntry{string_id::kModemLastFailure, "最近故障:%s"},
    StringEntry{string_id::kModemNotStarted, "项目未运行,短信猫未启动"},
    StringEntry{string_id::kSimReadyStatus, "SIM卡正常"},
    StringEntry{string_id::kSimPinStatus, "SIM卡需要PIN码"},
    StringEntry{string_id::kSimAbsentStatus, "无SIM卡"},
    StringEntry{string_id::kRegisteredStatus, "已注册网络"},
    StringEntry{string_id::kRoamingStatus, "漫游"},
    StringEntry{string_id::kSearchingStatus, "正在搜索网络"},
    StringEntry{string_id::kDeniedStatus, "网络拒绝注册"},
    // The history's note on an alarm that went out joined with others in one SMS.
    StringEntry{string_id::kJoinedNote, "合并发送:第%d条,共%d条"},
    // What keeps messages or their record from surviving a restart.
    StringEntry{string_id::kJournalHeldByOther,
                "另一个程序正在使用本项目的发件箱文件,本程序的短信只保存在内存中,重启后不会重发"},
    StringEntry{string_id::kJournalNotWritable, "发件箱文件无法写入(%s),重启后不会重发"},
    StringEntry{string_id::kJournalDamaged, "发件箱文件有%d处损坏(共%d字节),已跳过,其余短信已恢复"},
    StringEntry{string_id::kHistoryNotWritable, "发送记录文件无法写入:%s"},
    // Hearing back: status reports, incoming messages and the loop test.
    StringEntry{string_id::kWrongReportWait, "等待回执的分钟数应为1到10080之间的整数!"},
    StringEntry{string_id::kWrongLoopHours, "自检间隔应为0到720之间的整数(小时)!"},
    StringEntry{string_id::kWrongOwnNumber, "本机号码应为空或11到12位数字!"},
    StringEntry{string_id::kDeliveredWord, "已送达"},
    StringEntry{string_id::kUndeliveredWord, "未送达"},
    StringEntry{string_id::kNoReportWord, "已发送,无回执"},
    StringEntry{string_id::kReceivedHeading, "接收时间,短信中心时间,手机号码,说明,内容,状态,状态码"},
    StringEntry{string_id::kCompleteWord, "完整"},
    StringEntry{string_id::kIncompleteWord, "不完整"},
    StringEntry{string_id::kLoopWord, "自检"},
    StringEntry{string_id::kLoopText, "短信通道自检 %s"},
    StringEntry{string_id::kLoopFailing, "自检短信未收回"},
    StringEntry{string_id::kNumberMissingReason, "号码不存在"},
    StringEntry{string_id::kPhoneOffReason, "对方关机超时"},
    StringEntry{string_id::kRejectedReason, "对方拒收"},
    StringEntry{string_id::kBusyReason, "对方忙"},
    StringEntry{string_id::kUndeliveredStatus, "未送达(状态 0x%s)"},
};

constexpr int kMaxId = 127;

constexpr bool IdsFitTable() {
  for (const StringEntry& entry : kStrings) {
    if (entry.id < 0 || entry.id > kMaxId) return false;
  }
  return true;
}
static_assert(IdsFitTable(), "a string id lies outside the table");

constexpr bool IdsAreUnique() {
  for (std::size_t i = 0; i < kStrings.size(); ++i) {
    for (std::size_t j = i + 1; j < kStrings.size(); ++j) {
      if (kStrings[i].id == kStrings[j].id) return false;
    }
  }
  return true;
}
static_assert(IdsAreUnique(), "two texts share a string id");

struct ConvertedTable {
  std::array<std::string, kMaxId + 1> texts;

  ConvertedTable() {
    for (const StringEntry& entry : kStrings) {
      texts[static_cast<std::size_t>(entry.id)] = platform::Utf8ToCp936(entry.utf8);
    }
  }
};

const ConvertedTable* Table() noexcept {
  try {
    static const ConvertedTable table;
    return &table;
  } catch (...) {
    // Only an allocation failure gets here; the next call tries again.
    return nullptr;
  }
}

}  // namespace

const std::string& LoadString(int id) noexcept {
  static const std::string kEmpty;
  const ConvertedTable* table = Table();
  if (table == nullptr || id < 0 || id > kMaxId) return kEmpty;
  return table->texts[static_cast<std::size_t>(id)];
}

}  // namespace pagorin
