#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "params/params.h"

namespace nclaser {
namespace {

TEST(LaserParams, WholeRecordResetIgnoresMemberDefaults) {
  TLaserParams P;
  P.DefParams.Model = "YLR-1000";
  P.DefParams.PWM.Initialize();
  P.LaserType = eltIPG;
  P.CfgIPG.Initialize();
  P.Initialize();
  EXPECT_EQ(P.DefParams.PWM.Frequency, 0);
  EXPECT_EQ(P.DefParams.PWM.DiodeCurrent, 0.0);
  EXPECT_EQ(P.DefParams.Model, "");
  EXPECT_EQ(P.LaserType, eltNone);
  EXPECT_EQ(P.CfgIPG.YLR.Comm.CommPort, 0);
  EXPECT_EQ(P.CfgIPG.YLS.Wire.LaserOnPort, 0);
  EXPECT_EQ(P.CfgIPG.Model[0], u'\0');
}

// Defaults that no laser test or configuration test already depends on.
TEST(LaserParams, PwmAndDaDefaults) {
  TLaserPWM Pwm;
  Pwm.Initialize();
  EXPECT_FALSE(Pwm.DynamicPwm);
  EXPECT_EQ(Pwm.EnablePort1, 0);
  EXPECT_EQ(Pwm.EnablePort2, 0);
  EXPECT_EQ(Pwm.MinRatio, 0.01);
  EXPECT_EQ(Pwm.Ratio, 1.0);
  TLaserDA Da;
  Da.Initialize();
  EXPECT_EQ(Da.DAPort, 0);
}

TEST(LaserParams, CommInitializeLeavesDebugModeAlone) {
  TLaserComm C;
  C.DebugMode = true;
  C.IgnoreCommResult = false;
  C.Initialize();
  EXPECT_TRUE(C.DebugMode);
  EXPECT_TRUE(C.IgnoreCommResult);
  EXPECT_EQ(C.CommPort, 1);
  EXPECT_EQ(C.Baudrate, 9600);
}

TEST(LaserParams, SerialOnlyFamiliesStartOnPortOneButSpiGsiQyOnNone) {
  TLaserCommParam Cp;
  Cp.Initialize();
  EXPECT_EQ(Cp.Comm.CommPort, 1);
  TSPILaserParam Spi;
  Spi.Comm.CommPort = 7;
  Spi.Initialize();
  EXPECT_EQ(Spi.Comm.CommPort, 0);
  EXPECT_EQ(TextBufToUtf8(Spi.Comm.CommSettings), "");
  TGSILaserParam Gsi;
  Gsi.Address = 9;
  Gsi.Initialize();
  EXPECT_EQ(Gsi.Comm.CommPort, 0);
  EXPECT_EQ(Gsi.Address, 0);
  TQYLaserParam Qy;
  Qy.DAPort = 3;
  Qy.Initialize();
  EXPECT_EQ(Qy.DAPort, 0);
  EXPECT_EQ(Qy.Comm.CommPort, 0);
}

TEST(LaserParams, IpgDefaults) {
  TIPGYLSHardWire W;
  W.LaserOnDelay = 50;
  W.Initialize();
  EXPECT_EQ(W.EmissionStatusPort, 0);
  EXPECT_EQ(W.LaserRequestDelay, 0);
  EXPECT_EQ(W.LaserOnDelay, 0);
  EXPECT_EQ(W.LaserOnPulse, 0);

  TIPGLaserParams Ipg;
  Ipg.MaxCurrent = 80.0;
  Ipg.PowerCtrlPort = 12;
  Ipg.IPGType = ltYLRNet;
  Ipg.YLR.GateMode = true;
  Ipg.YLP.YLPMO = 3;
  Ipg.Initialize();
  EXPECT_EQ(Ipg.IPGType, ltIPGErr);
  EXPECT_EQ(Ipg.MaxCurrent, 80.0); // not touched
  EXPECT_EQ(Ipg.PowerCtrlPort, 12);
  EXPECT_FALSE(Ipg.YLR.GateMode);
  EXPECT_FALSE(Ipg.YLR.Comm.DebugMode); // zero-filled before Comm.Initialize
  EXPECT_EQ(Ipg.YLR.Comm.CommPort, 1);
  EXPECT_EQ(Ipg.YLR.Net.TcpPort, 8080);
  EXPECT_EQ(Ipg.YLR.ConnCheck.ConnCheckTimeIntv, 30.0);
  EXPECT_EQ(Ipg.YLR.ConnCheck.ConnCheckTimeStart, 0.01);
  EXPECT_EQ(Ipg.YLS.Net.TcpPort, 8080);
  EXPECT_EQ(Ipg.YLP.YLPMO, 0);
}

TEST(LaserParams, RaycusDefaults) {
  TRaycusLaserParams R;
  R.DebugMode = true;
  R.QCW.PulseRatio = 55;
  R.Initialize();
  EXPECT_EQ(R.RayType, ltRayErr);
  EXPECT_TRUE(R.DebugMode); // not touched
  EXPECT_EQ(R.Comm.CommPort, 1);
  EXPECT_EQ(R.ConnCheck.ConnCheckTimeIntv, 30.0);
}

TEST(LaserParams, GetDARatio) {
  TLaserDA Da;
  Da.Initialize();
  Da.ProofMax = 5.0;
  EXPECT_EQ(Da.GetDARatio(0.7), 0.7);
  Da.ProofMax = 10.0;
  Da.MaxVoltage = 8.0;
  EXPECT_DOUBLE_EQ(Da.GetDARatio(0.5), 0.4);
  Da.ProofMax = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Da.GetDARatio(0.3), 0.3);
}

TEST(TextBuf, RoundTripsAndRefusesWhatDoesNotFit) {
  char16_t Buf[8];
  EXPECT_TRUE(Utf8ToTextBuf("激光器", Buf));
  EXPECT_EQ(TextBufToUtf8(Buf), "激光器");
  EXPECT_TRUE(Utf8ToTextBuf("1234567", Buf)); // 7 units and the NUL
  EXPECT_EQ(TextBufToUtf8(Buf), "1234567");
  EXPECT_FALSE(Utf8ToTextBuf("12345678", Buf));
  EXPECT_EQ(TextBufToUtf8(Buf), "");
  EXPECT_FALSE(Utf8ToTextBuf("\xC3", Buf));            // truncated UTF-8
  EXPECT_TRUE(Utf8ToTextBuf("\xF0\x9F\x98\x80", Buf)); // a surrogate pair
  EXPECT_EQ(Buf[2], u'\0');
  EXPECT_EQ(TextBufToUtf8(Buf), "\xF0\x9F\x98\x80");
  const char16_t Full[3] = {u'a', u'b', u'c'}; // no terminating zero
  EXPECT_EQ(TextBufToUtf8(Full), "abc");
  EXPECT_EQ(To8Bit("10.0.0.1"), "10.0.0.1");
}

} // namespace
} // namespace nclaser
