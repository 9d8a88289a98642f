#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>

#include "runtime/format1033.h"
#include "runtime/sametext.h"

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

// Only ASCII letters fold, whatever the process locale: under a Turkish locale the C
// library lowers 'I' to a dotless i, and a Latin-1 one folds bytes of UTF-8 sequences.
TEST(SameText, FoldsAsciiLettersOnlyUnderAnyLocale) {
  const std::string Saved = std::setlocale(LC_ALL, nullptr);
  const char* Used = nullptr;
  for (const char* Name :
       {"tr_TR.ISO-8859-9", "tr_TR.UTF-8", "de_DE.ISO-8859-1", "de_DE.UTF-8", "de_DE.utf8"}) {
    if (std::setlocale(LC_ALL, Name) != nullptr) {
      Used = Name;
      break;
    }
  }
  if (Used == nullptr) {
    GTEST_SKIP() << "no Turkish or German locale on this machine";
  }
  SCOPED_TRACE(Used);
  // Rows: equal ignoring ASCII case; a dotless i, A/a with diaeresis (not ASCII), and
  // pairs that differ in the case bit without being letters are not.
  const std::tuple<const char*, const char*, bool> Rows[] = {{"ResetErrors", "RESETERRORS", true},
                                                             {"Trumpf", "tRUMPF", true},
                                                             {"IPG", "ipg", true},
                                                             {"ResetErrors", "ResetError", false},
                                                             {"I", "\xC4\xB1", false},
                                                             {"\xC3\x84", "\xC3\xA4", false},
                                                             {"[", "{", false},
                                                             {"@", "`", false},
                                                             {"", "", true}};
  for (const auto& [A, B, Same] : Rows) {
    EXPECT_EQ(SameText(A, B), Same) << '"' << A << "\" vs \"" << B << '"';
  }
  std::setlocale(LC_ALL, Saved.c_str());
}

} // namespace
} // namespace nclaser
