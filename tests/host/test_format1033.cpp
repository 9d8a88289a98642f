#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>

#include "host/format1033.h"

namespace nclaser {
namespace {

// The protocol's own formats are checked with its commands.
TEST(Format1033, FixedPointFormats) {
  EXPECT_EQ(Format1033("%f", 1.5), "1.50"); // two decimals unless told otherwise
  EXPECT_EQ(Format1033("%.0f", 2.4), "2");
  EXPECT_EQ(Format1033("%.2f", -0.001), "0.00");
  EXPECT_EQ(Format1033("%.2f", -1.005), "-1.00"); // -1.00499999999999989...
  EXPECT_EQ(Format1033("%.2f", 2.675), "2.67");   // 2.67499999999999982...
  EXPECT_EQ(Format1033("%.3f", 1234567.0), "1234567.000");
  EXPECT_EQ(Format1033("%.2f", 0.0001234), "0.00");
  EXPECT_EQ(Format1033("%.5f", 0.0001234), "0.00012");
}

TEST(Format1033, FixedPointTiesRoundAwayFromZero) {
  EXPECT_EQ(Format1033("%.1f", 0.25), "0.3");
  EXPECT_EQ(Format1033("%.2f", 0.125), "0.13");
  EXPECT_EQ(Format1033("%.0f", 2.5), "3");
  EXPECT_EQ(Format1033("%.1f", 9.95), "9.9"); // 9.94999999999999929: not a tie
  EXPECT_EQ(Format1033("%.1f", 0.96), "1.0");
}

TEST(Format1033, HexIntegersStringsAndWidths) {
  EXPECT_EQ(Format1033("AlarmBits=%8x", 0x6308000AU), "AlarmBits=6308000A");
  EXPECT_EQ(Format1033("Status=%8x", 0x1000U), "Status=    1000");
  EXPECT_EQ(Format1033("%x", -1), "FFFFFFFF");
  EXPECT_EQ(Format1033("%-5d|", 42), "42   |");
  EXPECT_EQ(Format1033("%.4d", 7), "0007");
  EXPECT_EQ(Format1033("IPG>>\"%s\", param=\"%s\"", std::string("STA: 1"), "1"),
            "IPG>>\"STA: 1\", param=\"1\"");
  EXPECT_EQ(Format1033("100%%"), "100%");
  EXPECT_EQ(Format1033("QCWMode=%d", true), "QCWMode=1");
}

TEST(Format1033, MismatchedDirectivesRenderAsText) {
  EXPECT_EQ(Format1033("%d %d", 1), "1 %d");
  EXPECT_EQ(Format1033("%d", 1.5), "%d");
  EXPECT_EQ(Format1033("%s", 3), "%s");
  EXPECT_EQ(Format1033("tail %"), "tail %");
}

TEST(Format1033, IgnoresTheProcessLocale) {
  const std::string Saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_ALL, "de_DE.utf8") == nullptr) {
    GTEST_SKIP() << "no German locale on this machine";
  }
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "%.1f", 0.5);
  ASSERT_STREQ(Buf, "0,5"); // the locale really is in force
  EXPECT_EQ(Format1033("SFWS %.1f", 2.5), "SFWS 2.5");
  EXPECT_EQ(Format1033("SPW %.2f", 12.345), "SPW 12.35");
  EXPECT_EQ(FloatToStr1033(45.5), "45.5");
  double V = 0;
  EXPECT_TRUE(TryStrToFloat1033("45.5", V));
  EXPECT_DOUBLE_EQ(V, 45.5);
  EXPECT_FALSE(TryStrToFloat1033("45,5", V));
  std::setlocale(LC_ALL, Saved.c_str());
}

TEST(FloatToStr1033, GeneralFormatWith15Digits) {
  EXPECT_EQ(FloatToStr1033(0.1), "0.1");
  EXPECT_EQ(FloatToStr1033(100.0), "100");
  EXPECT_EQ(FloatToStr1033(-2.5), "-2.5");
  EXPECT_EQ(FloatToStr1033(0.0), "0");
  EXPECT_EQ(FloatToStr1033(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(FloatToStr1033(1e20), "1E20");
  EXPECT_EQ(FloatToStr1033(1.5e-6), "1.5E-6");
  EXPECT_EQ(FloatToStr1033(0.00012), "0.00012");
  EXPECT_EQ(FloatToStr1033(123456789012345.0), "123456789012345");
}

TEST(TryStrToFloat1033, AcceptsNumbersOnly) {
  double V = -7;
  EXPECT_TRUE(TryStrToFloat1033(" 45.0 ", V));
  EXPECT_DOUBLE_EQ(V, 45.0);
  EXPECT_TRUE(TryStrToFloat1033("+1e3", V));
  EXPECT_DOUBLE_EQ(V, 1000.0);
  EXPECT_TRUE(TryStrToFloat1033("-.5", V));
  EXPECT_DOUBLE_EQ(V, -0.5);
  EXPECT_TRUE(TryStrToFloat1033("7.", V));
  EXPECT_DOUBLE_EQ(V, 7.0);
  V = -7;
  for (const char* Bad :
       {"", " ", "abc", "1.2.3", "1e", "--1", "0x10", "1 2", "nan", "inf", "1e999", "45,5", "."}) {
    EXPECT_FALSE(TryStrToFloat1033(Bad, V)) << Bad;
  }
  EXPECT_DOUBLE_EQ(V, -7); // untouched by the refusals
}

} // namespace
} // namespace nclaser
