#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "lasers/co2.h"
#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

using hostkit::TIoKind;
using testing::As;
using testing::Events;
using testing::IoParams;

constexpr int KCtrl = 3;
constexpr int KShutter = 10;
constexpr int KShutterStatus = 11;
constexpr int KMode0 = 12;
constexpr int KMode1 = 13;
constexpr int KDA = 4;

class CO2LaserTest : public testing::HostTest {
protected:
  TLaserParams Params() {
    TLaserParams P = IoParams(eltCO2);
    P.DefParams.CtrlPort = KCtrl;
    P.DefParams.PWM.MinRatio = 0.1;
    P.DefParams.PWM.Frequency = 2000;
    P.CfgCO2 = {.DynamicDA = KDA,
                .LaserMode = 2,
                .ModeSelect0 = KMode0,
                .ModeSelect1 = KMode1,
                .ShutterPort = KShutter,
                .ShutterStatus = KShutterStatus,
                .ShutterDelay = 300};
    return P;
  }
  TCO2Laser& Make(const TLaserParams& P) {
    Laser = NewLaser<TCO2Laser>(nullptr, P);
    return As<TCO2Laser>(Laser);
  }
  TNcLaserPtr Laser;
};

class CO2NoPwmTest : public CO2LaserTest {
protected:
  hostkit::THostOptions HostOptions() override { return {.PwmPort = false}; }
};

TEST_F(CO2NoPwmTest, RefusedWithoutPwmPortAndLeavesTheMachineAlone) {
  EXPECT_THAT([&] { Make(Params()); }, ::testing::ThrowsMessage<ELaserError>(
                                           ::testing::StrEq("LaserPwmPort Error Message")));
  EXPECT_TRUE(Host->IO.Timeline().empty());
}

TEST_F(CO2LaserTest, ConstructionStartsThePwmAtMinRatioAndSetsTheMode) {
  Make(Params());
  EXPECT_EQ(Events(Host->IO, TIoKind::PwmOn), (std::vector<std::string>{"pwm_on=1"}));
  EXPECT_EQ(Events(Host->IO, TIoKind::PwmFreq), (std::vector<std::string>{"pwm_freq=2000"}));
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.1);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(KDA), 1.0);
  EXPECT_FALSE(Host->IO.GetOutput(KMode0));
  EXPECT_TRUE(Host->IO.GetOutput(KMode1));
  EXPECT_EQ(Laser->GetLaserMode(), 2);
}

TEST_F(CO2LaserTest, PowerGoesThroughDARatioAndMinRatioToBothOutputs) {
  // ProofMax 5: the ratio is used as it is, floored at MinRatio.
  TLaserParams P = Params();
  P.DefParams.DA.ProofMax = 5.0;
  auto& L = Make(P);
  L.SetCO2Power(0.05);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(KDA), 1.0);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.1);
  L.ExecuteCmd(11, 0.6); // the host's ratio command ends in the same place
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(KDA), 6.0);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.6);
  Laser.reset();

  // ProofMax 10 and MaxVoltage 8 scale the ratio by 0.8.
  P.DefParams.DA.ProofMax = 10.0;
  P.DefParams.DA.MaxVoltage = 8.0;
  auto& L2 = Make(P);
  L2.SetCO2Power(0.5);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(KDA), 4.0);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.4);
  L2.DynamicPower(1.0);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(KDA), 8.0);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.8);
  Laser.reset();

  // The ratio steps start from the port's ratio.
  auto& L3 = Make(Params());
  L3.ExecuteCmd(11, 0.5);
  L3.ExecuteCmd(13, 0.2);
  EXPECT_NEAR(Host->Pwm->GetRatio(1), 0.7, 1e-12);
  EXPECT_NEAR(Host->IO.GetDA(KDA), 7.0, 1e-9);
}

TEST_F(CO2LaserTest, LaserOffAndDestroyKeepThePwmRunningAtMinRatio) {
  auto& L = Make(Params());
  L.ExecuteCmd(26, 0); // prepare: the PWM runs, the laser stays off
  EXPECT_TRUE(Host->Pwm->GetPwmOn(1));
  EXPECT_FALSE(Host->IO.GetOutput(KCtrl));
  L.ExecuteCmd(1, 0);
  EXPECT_TRUE(L.GetIsLaserOn());
  L.SetPwmRatio(0.8);
  const double T0 = NowMs();
  L.LaserOff();
  EXPECT_FALSE(Host->IO.GetOutput(KCtrl));
  EXPECT_FALSE(L.GetIsLaserOn());
  EXPECT_EQ(Events(Host->IO, TIoKind::PwmOn, T0), (std::vector<std::string>{"pwm_on=1"}));
  EXPECT_TRUE(Host->Pwm->GetPwmOn(1));
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.1);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(KDA), 1.0);

  L.LaserOn();
  L.SetPwmRatio(0.8);
  Laser.reset();
  EXPECT_FALSE(Host->IO.GetOutput(KCtrl));
  EXPECT_TRUE(Host->Pwm->GetPwmOn(1));
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.1);
}

TEST_F(CO2LaserTest, ShutterDelayMakesTheHostWaitWithoutStatusInput) {
  Host->IO.SetInputsExist({});
  auto& L = Make(Params());
  const double T0 = NowMs();
  L.ExecuteCmd(5, 0);
  EXPECT_TRUE(Host->IO.GetOutput(KShutter));
  EXPECT_TRUE(L.GetIsEmissionOn()); // the shutter output read back
  while (ElapsedMs(T0) < 250) {
    ASSERT_TRUE(L.GetIsBusy()) << "free after " << ElapsedMs(T0) << " ms";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(L.GetIsBusy());

  // Another command ends the handshake at once.
  L.ExecuteCmd(5, 0);
  EXPECT_TRUE(L.GetIsBusy());
  L.ExecuteCmd(14, 1000);
  EXPECT_FALSE(L.GetIsBusy());
  L.ExecuteCmd(4, 0);
  EXPECT_FALSE(Host->IO.GetOutput(KShutter));
  EXPECT_FALSE(L.GetIsEmissionOn());
}

TEST_F(CO2LaserTest, ShutterStatusInputEndsTheHandshake) {
  auto& L = Make(Params());
  L.ExecuteCmd(5, 0);
  EXPECT_TRUE(L.GetIsBusy());
  EXPECT_FALSE(L.GetIsEmissionOn()); // the status input, not the output
  Host->IO.SetInput(KShutterStatus, true);
  EXPECT_FALSE(L.GetIsBusy());
  EXPECT_TRUE(L.GetIsEmissionOn());
}

TEST_F(CO2LaserTest, MissingShutterOutputIsSkippedButCtrlPortIsNot) {
  Host->IO.SetOutputsExist({KMode0, KMode1});
  auto& L = Make(Params());
  const double T0 = NowMs();
  L.EmissionOn();
  L.EmissionOff();
  EXPECT_TRUE(Events(Host->IO, TIoKind::Output, T0).empty());
  L.LaserOn();
  L.LaserOff();
  EXPECT_EQ(Events(Host->IO, TIoKind::Output, T0), (std::vector<std::string>{"out3=1", "out3=0"}));
}

TEST_F(CO2LaserTest, ModeOutputsFollowTheTableWhenBothExist) {
  auto& L = Make(Params());
  // The host's command takes the nearest mode, halves to even: 0.7 is 1, 2.5 is 2.
  L.ExecuteCmd(17, 0.7);
  EXPECT_TRUE(Host->IO.GetOutput(KMode0));
  EXPECT_FALSE(Host->IO.GetOutput(KMode1));
  L.ExecuteCmd(17, 2.5);
  EXPECT_EQ(L.GetLaserMode(), 2);
  L.SetLaserMode(0);
  EXPECT_FALSE(Host->IO.GetOutput(KMode0));
  EXPECT_FALSE(Host->IO.GetOutput(KMode1));
  L.SetLaserMode(2);
  const double T0 = NowMs();
  L.SetLaserMode(3);
  EXPECT_EQ(L.GetLaserMode(), 3);
  EXPECT_TRUE(Events(Host->IO, TIoKind::Output, T0).empty());
  EXPECT_TRUE(Host->IO.GetOutput(KMode1));
  Laser.reset();

  // Both select outputs or none is written.
  Host->IO.SetOutputsExist({KCtrl, KShutter, KMode0});
  const double T1 = NowMs();
  auto& L2 = Make(Params());
  L2.SetLaserMode(1);
  EXPECT_EQ(L2.GetLaserMode(), 1);
  EXPECT_TRUE(Events(Host->IO, TIoKind::Output, T1).empty());
}

using YAGLaserTest = testing::HostTest;

TEST_F(YAGLaserTest, CtrlPortSwitchesTheLaser) {
  TLaserParams P = IoParams(eltNone);
  P.DefParams.CtrlPort = KCtrl;
  auto L = NewLaser<TYAGLaser>(nullptr, P);
  L->LaserOnPrepare();
  EXPECT_FALSE(Host->IO.GetOutput(KCtrl));
  L->LaserOn();
  EXPECT_TRUE(L->GetIsLaserOn());
  L->LaserOff();
  EXPECT_FALSE(L->GetIsLaserOn());
  // The PWM commands drive the host's port directly.
  L->ExecuteCmd(14, 3000);
  L->ExecuteCmd(11, 0.25);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetFrequency(1), 3000.0);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.25);
  As<TYAGLaser>(L).SetPwmRatioYAG(0.9);
  As<TYAGLaser>(L).SetPwmFreqYAG(9000);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.25);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetFrequency(1), 3000.0);
}

} // namespace
} // namespace nclaser
