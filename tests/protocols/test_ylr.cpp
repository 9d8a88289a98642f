#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "protocols/ylr.h"
#include "strings/messages.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

using namespace ylr;

TEST(YlrCommand, SetPointsFormatAndRangeChecks) {
  EXPECT_EQ(CmdSetDiodeCurrent(0), "SDC 0");
  EXPECT_FALSE(CmdSetDiodeCurrent(-0.01));
  EXPECT_FALSE(CmdSetDiodeCurrent(std::nan("")));

  EXPECT_EQ(CmdSetFilterWndSz(5), "SFWS 5.0");
  EXPECT_FALSE(CmdSetFilterWndSz(0.19));

  EXPECT_EQ(CmdSetPulseRate(1), "SPRR 1");
  EXPECT_EQ(CmdSetPulseRate(9999999), "SPRR 9999999");
  EXPECT_FALSE(CmdSetPulseRate(10000000));

  EXPECT_EQ(CmdSetPulseWidth(0), "SPW 0.00");
  EXPECT_EQ(CmdSetPulseWidth(1.125), "SPW 1.13"); // exact half: away from zero
  EXPECT_FALSE(CmdSetPulseWidth(50.001));
  EXPECT_FALSE(CmdSetPulseWidth(-0.5));
}

TEST(YlrReply, CarriesAnIncompleteLineOver) {
  std::string Buf;
  TSplitResult R = SplitResponse(Buf, "ERR: 5\rSTA: 1024\rRC");
  ASSERT_EQ(R.Lines.size(), 2U);
  EXPECT_EQ(R.Lines[0], "ERR: 5");
  EXPECT_EQ(R.Lines[1], "STA: 1024");
  EXPECT_EQ(Buf, "RC");

  // LF belongs to the line; empty lines are lines.
  R = SplitResponse(Buf, "S: 1\n\r\r");
  ASSERT_EQ(R.Lines.size(), 2U);
  EXPECT_EQ(R.Lines[0], "RCS: 1\n");
  EXPECT_EQ(R.Lines[1], "");
}

TEST(YlrReply, RunawayInputIsDiscardedAfterItsLinesAreTaken) {
  std::string Buf(990, 'x');
  TSplitResult R = SplitResponse(Buf, "0123456789"); // exactly 1000: kept
  EXPECT_FALSE(R.Overflow);
  EXPECT_EQ(Buf.size(), 1000U);
  R = SplitResponse(Buf, "\rSTA: 5"); // 1007 characters, one line
  EXPECT_TRUE(R.Overflow);
  ASSERT_EQ(R.Lines.size(), 1U);
  EXPECT_EQ(R.Lines[0].size(), 1000U);
  EXPECT_EQ(Buf, ""); // the incomplete "STA: 5" went with it

  Buf.clear();
  R = SplitResponse(Buf, std::string(1001, 'j'));
  EXPECT_TRUE(R.Overflow);
  EXPECT_TRUE(R.Lines.empty());
  EXPECT_EQ(Buf, "");
}

TEST(YlrReply, ClassifiesInPriorityOrder) {
  EXPECT_EQ(ClassifyLine("STA: ERR"), TLineKind::Error); // ERR anywhere wins
  EXPECT_EQ(ClassifyLine("SDC: STA"), TLineKind::Status);
  EXPECT_EQ(ClassifyLine("EMON"), TLineKind::Other);
  EXPECT_EQ(ClassifyLine("sta: 5"), TLineKind::Other); // case matters
}

TEST(YlrReply, ExtractParam) {
  EXPECT_EQ(ExtractParam("RET: 1234.5 "), "1234.5");
  EXPECT_EQ(ExtractParam("RSN: a:b\r"), "a:b");
  EXPECT_EQ(ExtractParam("X:\t\x01 v \x7f"), "v \x7f"); // DEL is not a control to trim
  EXPECT_EQ(ExtractParam("X:"), "");
  EXPECT_EQ(ExtractParam(" RSN "), " RSN ");
}

TEST(YlrReply, StatusParameterIsA64BitIntegerCutTo32Bits) {
  EXPECT_EQ(ParseStatus("4294967296"), 0U);
  EXPECT_EQ(ParseStatus("4294967297"), 1U);
  EXPECT_EQ(ParseStatus("-1"), 0xFFFFFFFFU);
  EXPECT_EQ(ParseStatus("$FF"), 255U);
  EXPECT_EQ(ParseStatus("0x10"), 16U);
  EXPECT_EQ(ParseStatus("-9223372036854775808"), 0U);
  EXPECT_FALSE(ParseStatus("9223372036854775808"));
  EXPECT_FALSE(ParseStatus("abc"));
  EXPECT_FALSE(ParseStatus(""));
  EXPECT_FALSE(ParseStatus("12 3"));
  EXPECT_FALSE(ParseStatus("1.0"));
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_FALSE(ParseInt32("2147483648"));
  EXPECT_EQ(ParseInt32("-2147483648"), -2147483647 - 1);
}

TEST(YlrReply, AsciiConversionMarksHighBytes) {
  const std::uint8_t In[] = {'S', 0xC3, 0x80, '\r'};
  EXPECT_EQ(AsciiDecode(In, 4), "S??\r");
  const std::vector<std::uint8_t> Out = AsciiEncode("A\xC3\r");
  EXPECT_EQ(Out, (std::vector<std::uint8_t>{'A', '?', '\r'}));
}

TEST(YlrStatus, BitQueries) {
  EXPECT_FALSE(GetStatusBit(StatusUnknown, 2));
  EXPECT_FALSE(GetStatusBit(StatusUnknown, -2)); // unknown answers false both ways
  EXPECT_TRUE(GetStatusBit(0x4, 2));
  EXPECT_FALSE(GetStatusBit(0x4, -2));
  EXPECT_TRUE(GetStatusBit(0x0, -2));
  EXPECT_TRUE(GetStatusBit(0x0, 0)); // bit 0 clear
  EXPECT_FALSE(GetStatusBit(0x1, 0));
  EXPECT_TRUE(GetStatusBit(0x80000000, 31));
  EXPECT_TRUE(GetStatusBit(0x2, 33)); // the shift wraps at 32
  EXPECT_FALSE(GetStatusBit(0x1, std::numeric_limits<std::int32_t>::min()));
}

TEST(YlrStatus, AlarmMasksPerMode) {
  EXPECT_EQ(AlarmMask(true), 0xE38A020AU);
  EXPECT_FALSE(HasAlarm(StatusUnknown, AlarmMaskQCW));
  EXPECT_TRUE(HasAlarm(0x2, AlarmMaskCW));
  EXPECT_FALSE(HasAlarm(0x1000, AlarmMaskCW));
  EXPECT_TRUE(HasAlarm(0x80000000, AlarmMaskQCW));
  EXPECT_FALSE(HasAlarm(0x80000000, AlarmMaskCW));
  EXPECT_FALSE(HasAlarm(0x2, 0)); // no mode chosen yet
}

class YlrAlarmText : public testing::HostTest {};

TEST_F(YlrAlarmText, ListsEverySetBitWithATextAndAClearModulationBit) {
  EXPECT_EQ(AlarmDescription(0x00000002),
            "Laser: " + SIPGOverheat.Get() + SIPGModulationDisabled.Get());
  EXPECT_EQ(AlarmDescription(0x00001000), "");
  EXPECT_EQ(AlarmDescription(0x80001000), "Laser: " + SIPGAveragePowertooHigh.Get());
  // Bits without a text add nothing; order is ascending.
  EXPECT_EQ(AlarmDescription(0x40001048 | 0x4 | 0x100),
            "Laser: " + SIPGHighBackReflectionLevel.Get() + SIPGModuleDisconnected.Get() +
                SIPGOpticalInterlockactive.Get());
  // Unknown status: every text but the modulation one.
  const std::string All = AlarmDescription(StatusUnknown);
  EXPECT_EQ(All.find(SIPGModulationDisabled.Get()), std::string::npos);
  for (const auto* S :
       {&SIPGOverheat, &SIPGPulseTooShort, &SIPGPowerSupplyOff, &SIPGGateModeEnabled,
        &SIPGHighPulseEnergy, &SIPGPowerSupplyFailure, &SIPGHighDutyCycle, &SIPGLowTemperature,
        &SIPGPowerSupplyFailure2, &SIPGCriticalError}) {
    EXPECT_NE(All.find(S->Get()), std::string::npos) << S->Get();
  }
  // The texts are read when asked for: a language change shows at once.
  SIPGOverheat.Set("Overheat!");
  EXPECT_EQ(AlarmDescription(0x1002), "Laser: Overheat!");
}

} // namespace
} // namespace nclaser
