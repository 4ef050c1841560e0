// The string table's source is UTF-8 so that it reads as it is shown; the module works in code
// page 936, so the whole table is converted once, the first time any string is asked for.
#include "resources/string_table.h"

#include <array>
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
    StringEntry{1, "低低报,"},
    StringEntry{2, "低报,"},
    StringEntry{3, "高高报,"},
    StringEntry{4, "高报,"},
    StringEntry{5, "低级,"},
    StringEntry{6, "高级,"},
    StringEntry{7, "紧急,"},
    StringEntry{8, "未确认,"},
    StringEntry{9, "确认"},
    StringEntry{10, "恢复"},
    StringEntry{11, "数值%f"},
    StringEntry{12, ",限值%f"},
    StringEntry{13, "%s报警:%s"},
    // Dialog texts.
    StringEntry{14, "手机号码库"},
    StringEntry{15, "说明"},
    StringEntry{16, "变量名"},
    StringEntry{17, "手机个数"},
    StringEntry{18, "已经存在此手机号了!\n手机号:%s\n说明:(%s)"},
    StringEntry{19, "已经存在此变量了!\n变量名:%s"},
    StringEntry{20, "增加手机号码"},
    StringEntry{21, "修改手机号码"},
    StringEntry{22, "手机号输入错误!"},
    StringEntry{23, "手机号码"},
    StringEntry{24, "说明:"},
    StringEntry{25, ",用户%s"},
    StringEntry{26, "请选择DB变量!"},
    // Help texts of the script functions.
    StringEntry{27,
                "函数原型:#Pagorin.PropDlg()\r\n"
                "函数描述:弹出属性配置界面\r\n"
                "返回值\t:无\r\n"
                "参数  \t:无\r\n"
                "说明  \t:运行时弹出属性配置界面\r\n"
                "示例  \t:#Pagorin.PropDlg();//弹出属性配置界面"},
    StringEntry{29, "脚本编译错误，请检查！"},
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
    StringEntry{31,
                "函数原型:#Pagorin.ShouldSend(int Flag)\r\n"
                "函数描述:有报警时是否发送短信\r\n"
                "返回值\t:无\r\n"
                "参数  \t:Flag-有报警时是否发送短信开关 0-不发送 其他值-发送\r\n"
                "说明  \t:有报警时是否发送短信的控制开关\r\n"
                "示例  \t:#Pagorin.ShouldSend(0);//不发送短信"},
    // The configuration file's load and save problems.
    StringEntry{40, "配置文件已损坏，未加载:\n%s\n(%s)"},
    StringEntry{41, "无法读取配置文件:\n%s\n(%s)"},
    StringEntry{42, "配置文件比工程中保存的配置旧:\n%s"},
    StringEntry{43, "配置文件不存在:\n%s"},
    StringEntry{44, "已改用工程中保存的配置。"},
    StringEntry{45, "配置保持不变。"},
    StringEntry{46, "保存配置时原文件将另存为副本。"},
    StringEntry{47, "%d个报警规则中共有%d个手机号码序号不存在，已忽略。"},
    StringEntry{48, "配置文件保存失败:\n%s"},
    // The outbox and the send history.
    StringEntry{60, "入队时间,结束时间,手机号码,说明,来源,内容,尝试次数,参考号,状态,原因"},
    StringEntry{61, "已发送"},
    StringEntry{62, "发送失败"},
    StringEntry{63, "已拒绝"},
    StringEntry{64, "等待发送"},
    StringEntry{65, "发送队列已满"},
    StringEntry{66, "手机号码无效"},
    StringEntry{67, "短信内容为空"},
    StringEntry{68, "串口未打开"},
    StringEntry{69, "等待时间过长,已放弃"},
    StringEntry{70, "内容过长,已截断"},
    StringEntry{71, "无法写入发件箱文件"},
    StringEntry{72, "短信猫发送失败"},
    // Long texts and coalescing: the settings dialog's checks and the head of a joined message.
    StringEntry{90, "最多条数应为1到20之间的整数!"},
    StringEntry{91, "积压合并的条数应为0到1000之间的整数!"},
    StringEntry{92, "[%d条报警] "},
    StringEntry{93, "[%d条消息] "},
    StringEntry{73, "重新启动后按设置不再重发"},
    StringEntry{74, "发送队列已满,为报警短信让位"},
    StringEntry{75, "另有%d个号码"},
    // The send record dialog and the modem's status line.
    StringEntry{76, "时间"},
    StringEntry{77, "内容"},
    StringEntry{78, "状态"},
    StringEntry{79, "参考号/原因"},
    StringEntry{80, "测试短信已排队,等待发送..."},
    StringEntry{81, "测试短信已发送,参考号 %s"},
    StringEntry{82, "测试短信未能发送:%s"},
    StringEntry{83, "请先选择一个手机号码!"},
    StringEntry{84, "短信报警测试:收到本短信说明短信报警工作正常。"},
    StringEntry{85, "串口已打开"},
    StringEntry{86, "串口未打开 %s"},
    StringEntry{87, "信号 %d dBm"},
    StringEntry{88, "最近故障:%s"},
    StringEntry{89, "项目未运行,短信猫未启动"},
    StringEntry{94, "SIM卡正常"},
    StringEntry{95, "SIM卡需要PIN码"},
    StringEntry{96, "无SIM卡"},
    StringEntry{97, "已注册网络"},
    StringEntry{98, "漫游"},
    StringEntry{99, "正在搜索网络"},
    StringEntry{100, "网络拒绝注册"},
};

constexpr int kMaxId = 127;

constexpr bool IdsFitTable() {
  for (const StringEntry& entry : kStrings) {
    if (entry.id < 0 || entry.id > kMaxId) return false;
  }
  return true;
}
static_assert(IdsFitTable(), "a string id lies outside the table");

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
