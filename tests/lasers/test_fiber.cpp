#include <gtest/gtest.h>

#include <vector>

#include "lasers/fiber.h"
#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

using hostkit::TIoKind;
using Strs = std::vector<std::string>;

// A fiber laser on the analog output.
class TAnalogLaser : public TFiberLaser {};

// A fiber laser with a path of its own; counts what reached it.
class TCustomLaser : public TFiberLaser {
public:
  std::vector<double> Custom;
  bool QCW = false;
  bool SetDiodeCustom(double V) override {
    Custom.push_back(V);
    return true;
  }
  bool GetIsQCW() override { return QCW; }
};

class FiberTest : public nclaser::testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    P = testing::IoParams(eltNone);
    P.DefParams.DA.DAPort = 2;
    P.DefParams.PWM.EnablePort1 = 10;
    P.DefParams.PWM.EnablePort2 = 11;
  }
  // The analog writes so far, as "da2=5".
  Strs DaWrites() const { return testing::Events(Host->IO, TIoKind::DA); }
  TLaserParams P;
};

TEST_F(FiberTest, ConstructionSetsPwmAndDiodeCurrentOnTheAnalogOutput) {
  P.DefParams.PWM.Ratio = 0.7;
  auto L = NewLaser<TAnalogLaser>(nullptr, P);
  EXPECT_EQ(DaWrites(), Strs{"da2=10"}); // 100 % = MaxVoltage
  EXPECT_FALSE(Host->Pwm->GetPwmOn(1));
  EXPECT_EQ(Host->Pwm->GetRatio(1), 0.7);
  EXPECT_EQ(L->GetDiodeCurrent(), 100.0);
}

TEST_F(FiberTest, AnalogPathFiltersOnlyRequestsOfHalfAPercentOrLess) {
  P.DefParams.PWM.DiodeCurrent = 0.3;
  auto L = NewLaser<TAnalogLaser>(nullptr, P);
  EXPECT_TRUE(DaWrites().empty());
  EXPECT_EQ(L->GetDiodeCurrent(), 0.0);
  L->SetDiodeCurrent(50);
  L->SetDiodeCurrent(50);
  L->SetDiodeCurrent(0);
  L->SetDiodeCurrent(0.5);
  EXPECT_EQ(DaWrites(), (Strs{"da2=5", "da2=5"}));
  EXPECT_EQ(L->GetDiodeCurrent(), 50.0);
  auto* F = static_cast<TFiberLaser*>(L.get());
  F->ForceDiodeCurrent(120);
  EXPECT_EQ(DaWrites().back(), "da2=10");
  EXPECT_EQ(L->GetDiodeCurrent(), 120.0);
}

TEST_F(FiberTest, FamilyPathSkipsRequestsWithinHalfAPercentOfTheLastApplied) {
  P.DefParams.PWM.DiodeCurrent = 30.0;
  auto L = NewLaser<TCustomLaser>(nullptr, P);
  auto* C = static_cast<TCustomLaser*>(L.get());
  EXPECT_EQ(C->Custom, std::vector<double>{30.0});
  C->Custom.clear();
  L->SetDiodeCurrent(50);
  L->SetDiodeCurrent(50.4);
  L->SetDiodeCurrent(50.6);
  EXPECT_EQ(C->Custom, (std::vector<double>{50.0, 50.6}));
  EXPECT_EQ(L->GetDiodeCurrent(), 50.6);
  EXPECT_TRUE(DaWrites().empty());
  // Zero goes to the analog output even for a family with its own path.
  C->ForceDiodeCurrent(0);
  EXPECT_EQ(DaWrites(), Strs{"da2=0"});
  // EmissionOn re-applies the present current without the filter.
  C->Custom.clear();
  C->ForceDiodeCurrent(50.6);
  L->EmissionOn();
  EXPECT_EQ(C->Custom, (std::vector<double>{50.6, 50.6}));
}

TEST_F(FiberTest, LaserOnPrepareSetsEverythingButLeavesThePwmStoppedAndLaserOffUndoesIt) {
  P.DefParams.PWM.Frequency = 20000;
  P.DefParams.PWM.Ratio = 0.4;
  auto L = NewLaser<TAnalogLaser>(nullptr, P);
  Host->IO.ClearTimeline();
  L->LaserOnPrepare();
  EXPECT_FALSE(Host->Pwm->GetPwmOn(1));
  EXPECT_EQ(Host->Pwm->GetFrequency(1), 20000.0);
  EXPECT_EQ(Host->Pwm->GetRatio(1), 0.4);
  EXPECT_TRUE(Host->IO.GetOutput(10));
  EXPECT_TRUE(Host->IO.GetOutput(11));
  L->LaserOn();
  EXPECT_TRUE(Host->Pwm->GetPwmOn(1));
  EXPECT_TRUE(L->GetIsLaserOn());
  L->LaserOff();
  EXPECT_FALSE(Host->Pwm->GetPwmOn(1));
  EXPECT_FALSE(Host->IO.GetOutput(10));
  EXPECT_FALSE(Host->IO.GetOutput(11));

  // The dynamic power is the ratio; an enable output that does not exist is skipped.
  L->DynamicPower(0.35);
  EXPECT_EQ(Host->Pwm->GetRatio(1), 0.35);
  EXPECT_EQ(L->GetPwmRatio(), 0.35);
  Host->IO.SetOutputsExist({11});
  const double T0 = NowMs();
  L->LaserOn();
  EXPECT_EQ(testing::Events(Host->IO, TIoKind::Output, T0), Strs{"out11=1"});
}

TEST_F(FiberTest, QcwLaserOnWaitsTwentyMilliseconds) {
  auto L = NewLaser<TCustomLaser>(nullptr, P);
  static_cast<TCustomLaser*>(L.get())->QCW = true;
  const double T0 = NowMs();
  L->LaserOn();
  EXPECT_GE(ElapsedMs(T0), 19.5);
}

class NoPwmFiberTest : public FiberTest {
protected:
  hostkit::THostOptions HostOptions() override { return {false}; }
};

TEST_F(NoPwmFiberTest, LaserOnOnlyRaisesTheEnableOutputsAndThePwmValuesAreKept) {
  auto L = NewLaser<TAnalogLaser>(nullptr, P);
  L->LaserOn();
  EXPECT_TRUE(Host->IO.GetOutput(10));
  EXPECT_FALSE(L->GetIsLaserOn());
  L->SetPwmFreq(3000);
  L->SetPwmRatio(0.2);
  EXPECT_EQ(L->GetPwmFreq(), 3000);
  EXPECT_EQ(L->GetPwmRatio(), 0.2);
  EXPECT_EQ(L->ExecuteCmd(13, 0.1), 0);
  EXPECT_DOUBLE_EQ(L->GetPwmRatio(), 0.3);
}

} // namespace
} // namespace nclaser
