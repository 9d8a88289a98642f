#include <gtest/gtest.h>

#include "lasers/ylp.h"
#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

using hostkit::TIoKind;
using testing::As;
using testing::Events;
using testing::IoParams;
using testing::Names;
using testing::OutputWrites;
using Strs = std::vector<std::string>;

constexpr int KMO = 9;
constexpr int KP5 = 15;
constexpr int KP6 = 16;
constexpr int KP7 = 17;
constexpr int KP8 = 18;
constexpr int KLock = 19;
constexpr int KAlarm16 = 50;
constexpr int KAlarm21 = 51;
constexpr int KEnable = 12;

class YLPLaserTest : public testing::HostTest {
protected:
  static TLaserParams Params(bool Independent = false) {
    TLaserParams P = IoParams(eltIPG);
    P.DefParams.DA.DAPort = 3;
    P.DefParams.PWM.EnablePort1 = KEnable;
    P.CfgIPG.IPGType = ltYLP;
    P.CfgIPG.YLP = {.YLPIndependentEmsOn = Independent,
                    .YLPMO = KMO,
                    .YLPPower5 = KP5,
                    .YLPPower6 = KP6,
                    .YLPPower7 = KP7,
                    .YLPPower8 = KP8,
                    .YLPPowerDelay1 = 20,
                    .YLPPowerDelay2 = 30,
                    .YLPLock = KLock,
                    .YLPAlarm16 = KAlarm16,
                    .YLPAlarm21 = KAlarm21};
    return P;
  }
  // The power bits and latch written for a diode current of Value.
  std::vector<testing::TWrite> PowerWrites(TNcLaser& L, double Value) {
    const double T0 = NowMs();
    L.ExecuteCmd(21, Value);
    return OutputWrites(Host->IO, {KP5, KP6, KP7, KP8, KLock}, T0);
  }
};

TEST_F(YLPLaserTest, DiodeCurrentIsWrittenAsTheHighFourBitsWithALatchPulseNotAnAnalogValue) {
  TLaserParams P = Params();
  P.DefParams.PWM.DiodeCurrent = 100.0;
  auto L = NewLaser<TIPGYLPLaser>(nullptr, P); // construction already writes the bits
  EXPECT_TRUE(Host->IO.GetOutput(KP8) && Host->IO.GetOutput(KP5));
  // 50 % gives 127.5, rounded up to 128.
  const auto W = PowerWrites(*L, 50);
  ASSERT_EQ(Names(W), (Strs{"out18=1", "out17=0", "out16=0", "out15=0", "out19=1", "out19=0"}));
  EXPECT_GE(W[4].AtMs - W[3].AtMs, 19.0);
  EXPECT_GE(W[5].AtMs - W[4].AtMs, 29.0);
  EXPECT_LT(W[5].AtMs, 50.0 + testing::KLateMs);
  const struct {
    double Value;
    Strs Bits;
  } Rows[] = {
      {3, {"out18=0", "out17=0", "out16=0", "out15=1"}},     // below 6.3 %: 6.3 %, 17 = 0001 0001
      {100, {"out18=1", "out17=1", "out16=1", "out15=1"}},   // 255
      {60, {"out18=1", "out17=0", "out16=0", "out15=1"}},    // 153 = 1001 1001
      {49.88, {"out18=1", "out17=0", "out16=0", "out15=0"}}, // 127.2 rounded up to 128
      {40, {"out18=0", "out17=1", "out16=1", "out15=0"}},    // 102 = 0110 0110
  };
  for (const auto& R : Rows) {
    Strs Want = R.Bits;
    Want.insert(Want.end(), {"out19=1", "out19=0"});
    EXPECT_EQ(Names(PowerWrites(*L, R.Value)), Want) << R.Value;
  }
  EXPECT_TRUE(Events(Host->IO, TIoKind::DA).empty());
  EXPECT_DOUBLE_EQ(L->GetDiodeCurrent(), 40.0);
}

TEST_F(YLPLaserTest, MasterOscillatorFollowsTheLaser) {
  auto L = NewLaser<TIPGYLPLaser>(nullptr, Params(false));
  const double T0 = NowMs();
  L->LaserOn();
  const auto Mo = testing::FirstAt(Host->IO, "out9=1", T0);
  const auto Pwm = testing::FirstAt(Host->IO, "pwm_on=1", T0);
  ASSERT_TRUE(Mo && Pwm);
  EXPECT_GE(*Pwm - *Mo, 4.5) << "no pause before the fiber base switched on";
  EXPECT_TRUE(L->GetIsEmissionOn());
  L->EmissionOff();
  EXPECT_TRUE(Host->IO.GetOutput(KMO));
  L->LaserOff();
  EXPECT_FALSE(Host->IO.GetOutput(KMO));
  EXPECT_FALSE(Host->IO.GetOutput(KEnable));
  EXPECT_FALSE(L->GetIsEmissionOn());
}

TEST_F(YLPLaserTest, IndependentMasterOscillatorFollowsEmission) {
  auto L = NewLaser<TIPGYLPLaser>(nullptr, Params(true));
  L->LaserOn();
  EXPECT_FALSE(Host->IO.GetOutput(KMO));
  L->EmissionOn();
  EXPECT_TRUE(L->GetIsEmissionOn());
  L->LaserOff();
  EXPECT_TRUE(Host->IO.GetOutput(KMO));
  L->EmissionOff();
  EXPECT_FALSE(L->GetIsEmissionOn());
}

TEST_F(YLPLaserTest, MissingMasterOscillatorIsSkippedButThePowerBitsAreNot) {
  Host->IO.SetOutputsExist({});
  auto L = NewLaser<TIPGYLPLaser>(nullptr, Params(false));
  const double T0 = NowMs();
  L->LaserOn();
  L->LaserOff();
  EXPECT_TRUE(OutputWrites(Host->IO, {KMO}, T0).empty());
  // The pause stays even without the output.
  const double T1 = NowMs();
  L->LaserOn();
  EXPECT_GE(ElapsedMs(T1), 4.5);
  auto L2 = NewLaser<TIPGYLPLaser>(nullptr, Params(true));
  L2->EmissionOn();
  L2->EmissionOff();
  EXPECT_TRUE(OutputWrites(Host->IO, {KMO}, T0).empty());
  EXPECT_EQ(OutputWrites(Host->IO, {KLock}, T0).size(), 4U); // latch pulses: L2 built, EmissionOn
}

// An alarm while input 16 is off or input 21 is on. Each step: input 16, input 21, alarm.
TEST_F(YLPLaserTest, AlarmInputs) {
  auto L = NewLaser<TIPGYLPLaser>(nullptr, Params());
  L->RegisterAlarms();
  for (const char* Step : {"100", "111", "100", "001", "011"}) {
    Host->IO.SetInput(KAlarm16, Step[0] == '1');
    Host->IO.SetInput(KAlarm21, Step[1] == '1');
    L->UpdateAlarms();
    EXPECT_EQ(Host->Alarms.IsActive(L->GetAlarmID()), Step[2] == '1') << Step;
    EXPECT_EQ(As<TIPGYLPLaser>(L).GetHasAlarm(), Step[2] == '1') << Step;
  }
}

TEST_F(YLPLaserTest, IgnoredAlarmsLeaveTheAlarmAsItWas) {
  TLaserParams P = Params();
  P.CfgIPG.YLP.YLPAlarmIgnore = true;
  auto L = NewLaser<TIPGYLPLaser>(nullptr, P);
  L->RegisterAlarms();
  L->UpdateAlarms(); // both inputs off would be an alarm
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  EXPECT_FALSE(As<TIPGYLPLaser>(L).GetHasAlarm());
  EXPECT_TRUE(Host->IO.InputsRead().empty());
}

} // namespace
} // namespace nclaser
