#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "protocols/castext.h"
#include "protocols/mars.h"
#include "protocols/nlight.h"

namespace nclaser {
namespace {

using mars::TVersion;

TEST(MarsCodec, CommandTexts) {
  const std::vector<std::string> Start{"?IMAXUSR\r\n", "OPMD=DGC\r\n", "ISETMODE=P\r\n",
                                       "ENABLE=100\r\n"};
  EXPECT_EQ(mars::StartCommands(), Start);
  EXPECT_EQ(mars::StatusQuery(), "?STATUS\r\n");
  EXPECT_EQ(mars::MaxPowerQuery(), "?IMAXUSR\r\n");
  EXPECT_EQ(mars::EmissionOnCmd(), "ENABLE=1FF\r\n");
  EXPECT_EQ(mars::EmissionOffCmd(), "ENABLE=100\r\n");
  EXPECT_EQ(mars::PilotCmd(true), "PILOT_EN=1\r\n");
  EXPECT_EQ(mars::PilotCmd(false), "PILOT_EN=0\r\n");
}

TEST(MarsCodec, PowerInTenthsOfAWattScaledByTheMaximum) {
  struct Exact {
    double MaxW, Percent;
    std::int64_t Tenths;
    const char* Cmd;
  };
  const Exact Table[] = {
      {1000.0, 50.0, 5000, "OUT=138800000000\r\n"},
      {10.0, 100.0, 100, "OUT=006400000000\r\n"},
      {1000.0, 0.5, 50, "OUT=003200000000\r\n"},
      {10.0, 2.5, 2, "OUT=000200000000\r\n"},
      {10.0, 3.5, 4, "OUT=000400000000\r\n"},
      {100.0, 0.05, 0, "OUT=000000000000\r\n"},
      {6553.5, 100.0, 65535, "OUT=FFFF00000000\r\n"},
      {1000.0, 120.0, 12000, "OUT=2EE000000000\r\n"},
      {6553.5, 200.0, 131070, "OUT=1FFFE00000000\r\n"}, // more digits when needed
      {1000.0, std::numeric_limits<double>::quiet_NaN(), 0, "OUT=000000000000\r\n"},
  };
  for (const auto& R : Table) {
    EXPECT_EQ(mars::PowerTenths(R.MaxW, R.Percent), R.Tenths) << R.MaxW << " " << R.Percent;
    EXPECT_EQ(mars::PowerCmd(R.MaxW, R.Percent), R.Cmd) << R.MaxW << " " << R.Percent;
  }
}

TEST(MarsCodec, MaxPowerAnswers) {
  struct Row {
    const char* Text;
    bool Found;
    const char* PwrStr;
    double MaxW; // < 0: no value
  };
  const Row Rows[] = {
      {"PMAX_CW=2710\r\n", true, "2710", 1000.0},
      {"pmax_cw=03e8\r\n", true, "03e8", 100.0},
      {"IMAXUSR: PMAX_CW=0BB8\r\n", true, "0BB8", 300.0},
      {"PMAX_CW=64", true, "64", 10.0}, // the text ends sooner
      {"PMAX_CW=27G0\r\n", true, "27G0", -1},
      {"PMAX_CW=27\r\n", true, "27\r\n", -1},
      {"PMAX_CW=", true, "", -1},
      {"PMAX=2710\r\n", false, "", -1},
      {"", false, "", -1},
  };
  for (const auto& R : Rows) {
    const auto A = mars::ParseMaxPower(R.Text);
    EXPECT_EQ(A.Found, R.Found) << R.Text;
    EXPECT_EQ(A.PwrStr, R.PwrStr) << R.Text;
    if (R.MaxW < 0) {
      EXPECT_FALSE(A.MaxPowerW.has_value()) << R.Text;
    } else {
      ASSERT_TRUE(A.MaxPowerW.has_value()) << R.Text;
      EXPECT_DOUBLE_EQ(*A.MaxPowerW, R.MaxW) << R.Text;
    }
  }
}

TEST(MarsCodec, StatusAnswersAndTheirFormat) {
  struct Row {
    const char* Text;
    TVersion Current;
    bool Found;
    TVersion Version;
    std::vector<int> Bits;
  };
  const Row Rows[] = {
      {"STATUS=08000000\r\n", TVersion::VerN, true, TVersion::Ver101, {27}},
      {"STATUS=0000000000000000\r\n", TVersion::VerN, true, TVersion::Ver102, {}},
      {"STATUS=0A000000\r\n", TVersion::Ver101, true, TVersion::Ver101, {25, 27}},
      {"status=88000001\r\n", TVersion::VerN, true, TVersion::Ver101, {0, 27, 31}},
      {"STATUS=f800000000000000\r\n", TVersion::VerN, true, TVersion::Ver102, {59, 60, 61, 62, 63}},
      // The first answer fixes the format; the other length is still taken.
      {"STATUS=0000000000000001\r\n", TVersion::Ver101, true, TVersion::Ver101, {0}},
      {"STATUS=00000001\r\n", TVersion::Ver102, true, TVersion::Ver102, {0}},
      // Not status words.
      {"STATUS=0800000\r\n", TVersion::VerN, false, TVersion::VerN, {}},
      {"STATUS=080000000\r\n", TVersion::VerN, false, TVersion::VerN, {}},
      {"STATUS=08000000", TVersion::VerN, false, TVersion::VerN, {}},
      {"OK\r\nSTATUS=08000000\r\n", TVersion::VerN, false, TVersion::VerN, {}},
      {"STATUS=0800X000\r\n", TVersion::VerN, false, TVersion::VerN, {}},
      {"PMAX_CW=2710\r\n", TVersion::VerN, false, TVersion::VerN, {}},
  };
  for (const auto& R : Rows) {
    const auto A = mars::ParseStatus(R.Text, R.Current);
    EXPECT_EQ(A.Found, R.Found) << R.Text;
    if (!R.Found) {
      continue;
    }
    EXPECT_EQ(A.Version, R.Version) << R.Text;
    EXPECT_EQ(mars::SetBits(A.Digits), R.Bits) << R.Text;
  }
  const auto A = mars::ParseStatus("STATUS=0A0000Ff\r\n", TVersion::VerN);
  EXPECT_EQ(A.DigitText, "0A0000Ff");
  EXPECT_EQ(A.Digits, (std::vector<std::uint8_t>{0, 10, 0, 0, 0, 0, 15, 15}));
}

TEST(MarsCodec, AlarmBitsOfEachFormat) {
  std::vector<int> B101;
  for (const auto& A : mars::AlarmBits(TVersion::Ver101)) {
    B101.push_back(A.Bit);
  }
  std::vector<int> B102;
  for (const auto& A : mars::AlarmBits(TVersion::Ver102)) {
    B102.push_back(A.Bit);
  }
  EXPECT_EQ(B101, (std::vector<int>{16, 17, 21, 27, 28, 31}));
  EXPECT_EQ(B102, (std::vector<int>{27, 28, 53, 59, 60, 63}));
  EXPECT_TRUE(mars::AlarmBits(TVersion::VerN).empty());
}

TEST(NLightCodec, CommandsAndMaximumPower) {
  EXPECT_EQ(nlight::MaxPowerQuery(), "get maxpower\r");
  EXPECT_EQ(nlight::SysOnCmd(true), "set syson 1\r");
  EXPECT_EQ(nlight::EnableCmd(false), "set enable 0\r");
  EXPECT_EQ(nlight::AimingCmd(true), "set aimingon 1\r");
  EXPECT_EQ(nlight::Lower("SET Enable 1\r"), "set enable 1\r");
  struct Row {
    const char* Text;
    double Value; // < -1e9: does not read
  };
  const Row Rows[] = {
      {"1500.0\r\n", 1500.0},
      {"8\r\n", 8.0},
      {" 2000 \r\n", 2000.0},
      {"1500.0\n\n", 1500.0},
      {"1e3\r\n", 1000.0},
      {"15,5\r\n", -2e9},
      {"abc\r\n", -2e9},
      {"\r\n", -2e9},
      {"7", -2e9},
      {"", -2e9},
      {"150000", 1500.0}, // the last two characters are the line end, whatever they are
  };
  for (const auto& R : Rows) {
    const auto V = nlight::ParseMaxPower(R.Text);
    if (R.Value < -1e9) {
      EXPECT_FALSE(V.has_value()) << R.Text;
    } else {
      ASSERT_TRUE(V.has_value()) << R.Text;
      EXPECT_DOUBLE_EQ(*V, R.Value) << R.Text;
    }
  }
}

TEST(CASCodec, CommandsAndSetPoint) {
  EXPECT_EQ(cas::EmissionCmd(true), "EMIS:1\r");
  EXPECT_EQ(cas::EmissionCmd(false), "EMIS:0\r");
  EXPECT_EQ(cas::GuideCmd(true), "GUID:1\r");
  EXPECT_EQ(cas::GuideCmd(false), "GUID:0\r");
  EXPECT_EQ(cas::CurrentQuery(), "RCUS:\r");
  struct Row {
    double Percent;
    const char* Cmd;
  };
  const Row Rows[] = {
      {5.0, "SCUS:10\r"},   {100.0, "SCUS:100\r"}, {150.0, "SCUS:100\r"}, {67.5, "SCUS:68\r"},
      {66.5, "SCUS:66\r"},  {10.0, "SCUS:10\r"},   {99.4, "SCUS:99\r"},   {99.5, "SCUS:100\r"},
      {300.0, "SCUS:44\r"}, // taken as a byte before the limits
      {256.0, "SCUS:10\r"},
  };
  for (const auto& R : Rows) {
    EXPECT_EQ(cas::CurrentCmd(R.Percent), R.Cmd) << R.Percent;
  }
}

TEST(QingHuaCodec, FramesAndPowerDigits) {
  const auto Text = [](const std::vector<std::uint8_t>& B) {
    return std::string(B.begin(), B.end());
  };
  EXPECT_EQ(Text(qinghua::Frame(qinghua::chLaser, "1")), "w60 1\r\n");
  EXPECT_EQ(Text(qinghua::Frame(qinghua::chLaser, "0")), "w60 0\r\n");
  EXPECT_EQ(Text(qinghua::Frame(qinghua::chMode, "0")), "w65 0\r\n");
  EXPECT_EQ(qinghua::Frame(qinghua::chPower, std::string(22, '9')).size(), 28U);
  struct Row {
    double Percent;
    const char* Digits;
  };
  const Row Rows[] = {{80.0, "80"}, {100.0, "100"}, {7.0, "07"},    {0.0, "00"},
                      {12.5, "12"}, {13.5, "14"},   {255.0, "255"}, {256.0, "00"}};
  for (const auto& R : Rows) {
    EXPECT_EQ(qinghua::PowerDigits(R.Percent), R.Digits) << R.Percent;
  }
}

} // namespace
} // namespace nclaser
