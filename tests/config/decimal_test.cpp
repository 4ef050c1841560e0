#include "config/decimal.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace pagorin::detail {
namespace {

TEST(Decimal, ReadsLikeAtoiWithDefinedOverflow) {
  struct Case {
    std::string text;
    int value;
  } cases[] = {
      {"0", 0},
      {"42", 42},
      {"-7", -7},
      {"+7", 7},
      {" \t\r\n\v\f12", 12},
      {"12abc", 12},
      {"3.9", 3},
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"+-1", 0},
      {"- 1", 0},
      {"1 2", 1},
      {"007", 7},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"2147483648", INT_MAX},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999", INT_MAX},
      {"-99999999999999999999999", INT_MIN},
      {std::string("5\0"
                   "9",
                   3),
       5},
      {"\xA3\xB1", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseDecimal(c.text), c.value) << c.text;
}

TEST(Decimal, ReadsOnlyWithinTheView) {
  std::string text = "123456";
  EXPECT_EQ(ParseDecimal(std::string_view(text).substr(0, 3)), 123);
}

TEST(Decimal, FindsTheNumberedNamesOfAText) {
  struct Case {
    std::string text;
    std::vector<int> indexes;
  } cases[] = {
      {"<Tel0/><Tel2 /><Tel2></Tel2>", {0, 2}},
      {"<Tel12>", {12}},
      {"Tel05 Tel Telx Tel-1", {}},
      {"Tel2147483647 Tel2147483648 Tel99999999999", {2147483647}},
      {"TelPlace3 Tel1", {1}},
      {"Tel10Tel3", {3, 10}},
      {"", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NumberedNamesIn(c.text, "Tel"), c.indexes) << c.text;
  EXPECT_EQ(NumberedNamesIn("TelPlace3 TelPlace0=", "TelPlace"), (std::vector<int>{0, 3}));
  EXPECT_EQ(NumberedName("Var", 12), "Var12");
}

}  // namespace
}  // namespace pagorin::detail
