#include "modem/modem_status.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace pagorin {
namespace {

struct ErrorRow {
  const char* result;
  ErrorClass errorClass;
  int code;
  const char* meaningUtf8;  // empty: no meaning known
};

void PrintTo(const ErrorRow& row, std::ostream* out) {
  *out << row.result;
}

class ErrorResults : public ::testing::TestWithParam<ErrorRow> {};

TEST_P(ErrorResults, AreClassifiedAndNamed) {
  const ErrorRow& row = GetParam();
  EXPECT_EQ(ClassifyErrorResult(row.result), row.errorClass);
  EXPECT_EQ(ErrorResultCode(row.result), row.code);
  EXPECT_EQ(platform::Cp936ToUtf8(ErrorResultMeaning(row.result)), row.meaningUtf8);
}

INSTANTIATE_TEST_SUITE_P(
    ModemStatus, ErrorResults,
    ::testing::Values(ErrorRow{"+CMS ERROR: 331", ErrorClass::ModemNotReady, 331, "无网络服务"},
                      ErrorRow{"+CMS ERROR:331", ErrorClass::ModemNotReady, 331, "无网络服务"},
                      ErrorRow{"+CMS ERROR: 42", ErrorClass::ModemNotReady, 42, "网络拥塞"},
                      ErrorRow{"+CMS ERROR: 314", ErrorClass::ModemNotReady, 314, "SIM卡忙"},
                      ErrorRow{"+CMS ERROR: 1", ErrorClass::Rejected, 1, "号码不存在"},
                      ErrorRow{"+CMS ERROR: 304", ErrorClass::Rejected, 304, "PDU参数无效"},
                      ErrorRow{"+CMS ERROR: 200", ErrorClass::Rejected, 200, "短信被短信中心拒收"},
                      ErrorRow{"+CMS ERROR: 192", ErrorClass::ModemNotReady, 192, "短信中心忙"},
                      ErrorRow{"+CMS ERROR: 500", ErrorClass::Transient, 500, "未知错误"},
                      ErrorRow{"+CMS ERROR: 999", ErrorClass::Transient, 999, ""},
                      ErrorRow{"+CME ERROR: 10", ErrorClass::ModemNotReady, 10, "未插SIM卡"},
                      ErrorRow{"+CME ERROR: 100", ErrorClass::Transient, 100, "未知错误"},
                      ErrorRow{"ERROR", ErrorClass::Transient, -1, "模块返回错误"},
                      ErrorRow{"+CMS ERROR: ", ErrorClass::Transient, -1, ""},
                      ErrorRow{"+CMS ERROR: 3x", ErrorClass::Transient, -1, ""}));

TEST(ModemStatus, DescribesAResultWithItsMeaningAndSignalInDbm) {
  EXPECT_EQ(platform::Cp936ToUtf8(DescribeErrorResult("+CMS ERROR: 331")),
            "+CMS ERROR: 331 无网络服务");
  EXPECT_EQ(DescribeErrorResult("+CMS ERROR: 999"), "+CMS ERROR: 999");
  EXPECT_EQ(RssiToDbm(0), -113);
  EXPECT_EQ(RssiToDbm(17), -79);
  EXPECT_EQ(RssiToDbm(31), -51);
  EXPECT_EQ(RssiToDbm(99), std::nullopt);
  EXPECT_EQ(RssiToDbm(-1), std::nullopt);
}

}  // namespace
}  // namespace pagorin
