#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <thread>

#include "lasers/ipg1000.h"
#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

using hostkit::TIoKind;
using testing::Events;
using testing::FirstAt;
using testing::IoParams;
using testing::Names;
using testing::OutputWrites;
using Strs = std::vector<std::string>;

constexpr int KStatus = 5;
constexpr int KLaserOn = 6;
constexpr int KRequest = 7;
constexpr int KStart = 8;
constexpr int KDA = 2;

class IPG1000LaserTest : public testing::HostTest {
protected:
  static TLaserParams Params(TIPGLaserType Type, const char* Model = "YLS-2000") {
    TLaserParams P = IoParams(eltIPG);
    P.DefParams.Model = Model;
    P.DefParams.DA.DAPort = KDA;
    P.DefParams.PWM.DiodeCurrent = 80.0;
    P.CfgIPG.IPGType = Type;
    P.CfgIPG.YLS.Wire.EmissionStatusPort = KStatus;
    P.CfgIPG.YLS.Wire.LaserRequestDelay = 100;
    P.CfgIPG.YLS.Wire.LaserOnPulse = 300;
    P.CfgIPG.YLS.Wire.LaserOnDelay = 500;
    return P;
  }
  int PowerOnThreads() const {
    const auto N = Host->App.ThreadNames();
    return static_cast<int>(std::count(N.begin(), N.end(), "IPG1000"));
  }
};

TEST_F(IPG1000LaserTest, AmericanPowerOnPulsesLaserOnThenStartsTheProgramInOneThread) {
  auto L = NewLaser<TIPG1000Laser>(nullptr, Params(ltYLSAmHW));
  const double T0 = NowMs();
  L->PowerOn();
  EXPECT_LT(ElapsedMs(T0), testing::KAtOnceMs);
  Sleep(50);
  L->PowerOn(); // while the thread runs: only the request again
  ASSERT_TRUE(Host->IO.WaitOutput(KStart, true, 3000));
  Sleep(30);
  EXPECT_EQ(Names(OutputWrites(Host->IO, {KLaserOn, KRequest, KStart}, T0)),
            (Strs{"out7=1", "out7=1", "out6=1", "out6=0", "out8=1"}));
  EXPECT_AT(FirstAt(Host->IO, "out7=1", T0), 0.0);
  EXPECT_AT(FirstAt(Host->IO, "out6=1", T0), 100.0);
  EXPECT_AT(FirstAt(Host->IO, "out6=0", T0), 400.0);
  EXPECT_AT(FirstAt(Host->IO, "out8=1", T0), 900.0);
  // The diode current comes last, through the analog output.
  const auto Da = FirstAt(Host->IO, "da2=8", T0);
  ASSERT_TRUE(Da.has_value());
  EXPECT_GE(*Da, *FirstAt(Host->IO, "out8=1", T0));
  EXPECT_EQ(PowerOnThreads(), 1);
  const auto Dbg = Host->App.DebugLines();
  EXPECT_TRUE(
      std::any_of(Dbg.begin(), Dbg.end(), [](const auto& D) { return D.Text == "IPG1000"; }));
  // Finished: the next PowerOn starts a new thread.
  L->PowerOn();
  EXPECT_TRUE(testing::Until([&] { return PowerOnThreads() == 2; }, 1000));
}

TEST_F(IPG1000LaserTest, TrumpfUsesTheGermanWiringAndStartsTheProgramOnlyWithTheStatusInput) {
  Host->IO.SetInputsExist({});
  auto L = NewLaser<TIPG1000Laser>(nullptr, Params(ltYLSAmHW, "tRUMPF"));
  const double T0 = NowMs();
  L->PowerOn();
  ASSERT_TRUE(Host->IO.WaitOutput(KLaserOn, true, 1000));
  Sleep(700);
  // German steps (no pulse), and no program start without the status input.
  EXPECT_EQ(Names(OutputWrites(Host->IO, {KLaserOn, KRequest, KStart}, T0)),
            (Strs{"out7=1", "out6=1"}));
  EXPECT_TRUE(FirstAt(Host->IO, "da2=8", T0).has_value()) << "the thread did not finish";
  L->EmissionOn(); // the request is high: the direct path, which follows the same rule
  EXPECT_FALSE(Host->IO.GetOutput(KStart));
  EXPECT_FALSE(L->GetIsEmissionOn());
  Host->IO.SetInputsExist({KStatus});
  Host->IO.SetInput(KStatus, true);
  L->PowerOn(); // the thread again, now with the status input on
  EXPECT_TRUE(Host->IO.WaitOutput(KStart, true, 1500));
  // A Trumpf laser reports the output, not the status input.
  Host->IO.SetInput(KStatus, false);
  EXPECT_TRUE(L->GetIsEmissionOn());
}

TEST_F(IPG1000LaserTest, EmissionOnRunsTheGermanPowerOnWithoutTheRequestAndStartsAtOnceWithIt) {
  auto L = NewLaser<TIPG1000Laser>(nullptr, Params(ltYLSGemHW));
  const double T0 = NowMs();
  L->EmissionOn();
  EXPECT_TRUE(Host->IO.GetOutput(KRequest));
  EXPECT_FALSE(Host->IO.GetOutput(KStart)) << "raised at once";
  ASSERT_TRUE(Host->IO.WaitOutput(KStart, true, 3000));
  Sleep(30);
  EXPECT_EQ(Names(OutputWrites(Host->IO, {KLaserOn, KRequest, KStart}, T0)),
            (Strs{"out7=1", "out6=1", "out8=1"}));
  EXPECT_AT(FirstAt(Host->IO, "out6=1", T0), 100.0);
  EXPECT_AT(FirstAt(Host->IO, "out8=1", T0), 600.0);
  EXPECT_TRUE(FirstAt(Host->IO, "da2=8", T0).has_value());
  EXPECT_TRUE(Host->IO.GetOutput(KLaserOn));
  // The request is high now: no thread, the program starts at once.
  L->EmissionOff();
  L->SetDiodeCurrent(30);
  const double T1 = NowMs();
  L->EmissionOn();
  EXPECT_EQ(Names(OutputWrites(Host->IO, {KLaserOn, KRequest, KStart}, T1)), Strs{"out8=1"});
  // The configured current (80 %) is set again, and re-applied by the fiber base.
  EXPECT_EQ(Events(Host->IO, TIoKind::DA, T1), (Strs{"da2=8", "da2=8"}));
  EXPECT_EQ(PowerOnThreads(), 1);
  // The status input exists: it is the emission state.
  EXPECT_FALSE(L->GetIsEmissionOn());
  Host->IO.SetInput(KStatus, true);
  EXPECT_TRUE(L->GetIsEmissionOn());
  L->EmissionOff();
  EXPECT_FALSE(Host->IO.GetOutput(KStart));
  // Only ResetErrors (any case) drops the request.
  TVariant V;
  L->ExecCmd("SomethingElse", V);
  EXPECT_TRUE(Host->IO.GetOutput(KRequest));
  L->ExecCmd("rESETeRRORS", V);
  EXPECT_FALSE(Host->IO.GetOutput(KRequest));
}

TEST_F(IPG1000LaserTest, PowerOffDropsTheOutputsInOrder) {
  Host->IO.SetOutputsExist({}); // driven without asking
  auto L = NewLaser<TIPG1000Laser>(nullptr, Params(ltYLSGemHW));
  const double T0 = NowMs();
  L->PowerOff();
  const auto W = OutputWrites(Host->IO, {KLaserOn, KRequest, KStart}, T0);
  ASSERT_EQ(Names(W), (Strs{"out8=0", "out7=0", "out6=0"}));
  EXPECT_GE(W[1].AtMs - W[0].AtMs, 9.0);
  EXPECT_GE(W[2].AtMs - W[1].AtMs, 9.0);
  EXPECT_LT(W[2].AtMs, 20.0 + testing::KLateMs);
}

// Where a call cuts the power-on thread short: after which output event (empty: at once)
// and how much later. With the delays above the American wiring raises LaserOn at 100,
// lowers it at 400 and starts the program at 900; the German one keeps LaserOn high from
// 100 and starts the program at 600.
enum class TCutBy { EmissionOff, PowerOff, Destroy, LaserOff };
struct TYlsCut {
  const char* Name;
  TIPGLaserType Wiring;
  const char* After;
  int ThenMs;
  TCutBy By;
};
void PrintTo(const TYlsCut& C, std::ostream* Os) {
  *Os << C.Name;
}

class IPG1000CutTest : public IPG1000LaserTest, public ::testing::WithParamInterface<TYlsCut> {};

TEST_P(IPG1000CutTest, NothingOfThePowerOnFollowsTheCallAndItWorksAgain) {
  const TYlsCut& C = GetParam();
  Host->IO.SetInputsExist({}); // no status input: the program start is the emission
  auto L = NewLaser<TIPG1000Laser>(nullptr, Params(C.Wiring));
  const double T0 = NowMs();
  L->EmissionOn(); // the laser request is low: the power-on thread runs
  while (*C.After != '\0' && !FirstAt(Host->IO, C.After, T0) && ElapsedMs(T0) < 2000) {
    Sleep(1);
  }
  Sleep(C.ThenMs);
  const double TCall = NowMs();
  switch (C.By) {
  case TCutBy::EmissionOff:
    L->EmissionOff();
    break;
  case TCutBy::PowerOff:
    L->PowerOff();
    break;
  case TCutBy::Destroy:
    L.reset();
    break;
  case TCutBy::LaserOff:
    L->LaserOff();
    break;
  }
  const double TBack = NowMs();
  std::printf("[ measured ] IPG1000 %s: the call took %.1f ms\n", C.Name, TBack - TCall);
  EXPECT_LT(TBack - TCall, 20.0 + testing::KLateMs); // PowerOff pauses twice 10 ms
  Sleep(1000);
  EXPECT_TRUE(OutputWrites(Host->IO, {KLaserOn, KStart}, TBack).empty());
  EXPECT_FALSE(Host->IO.GetOutput(KStart));
  if (C.Wiring == ltYLSAmHW) {
    EXPECT_FALSE(Host->IO.GetOutput(KLaserOn)) << "the laser-on pulse was left high";
  }
  if (!L) {
    L = NewLaser<TIPG1000Laser>(nullptr, Params(C.Wiring));
  }
  EXPECT_FALSE(L->GetIsEmissionOn());
  L->PowerOn();
  EXPECT_TRUE(Host->IO.WaitOutput(KStart, true, 3000));
  EXPECT_TRUE(L->GetIsEmissionOn());
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, IPG1000CutTest,
    ::testing::Values(
        TYlsCut{"UsaAtOnce", ltYLSAmHW, "", 0, TCutBy::EmissionOff},
        TYlsCut{"UsaInRequestDelay", ltYLSAmHW, "out7=1", 50, TCutBy::EmissionOff},
        TYlsCut{"UsaInLaserOnPulse", ltYLSAmHW, "out6=1", 0, TCutBy::EmissionOff},
        TYlsCut{"UsaAfterLaserOnPulse", ltYLSAmHW, "out6=0", 0, TCutBy::EmissionOff},
        TYlsCut{"UsaCompleted", ltYLSAmHW, "out8=1", 50, TCutBy::EmissionOff},
        TYlsCut{"UsaPowerOffInLaserOnPulse", ltYLSAmHW, "out6=1", 0, TCutBy::PowerOff},
        TYlsCut{"UsaDestroyInLaserOnPulse", ltYLSAmHW, "out6=1", 0, TCutBy::Destroy},
        TYlsCut{"UsaLaserOffInLaserOnPulse", ltYLSAmHW, "out6=1", 0, TCutBy::LaserOff},
        TYlsCut{"GermanAtOnce", ltYLSGemHW, "", 0, TCutBy::EmissionOff},
        TYlsCut{"GermanInRequestDelay", ltYLSGemHW, "out7=1", 50, TCutBy::EmissionOff},
        TYlsCut{"GermanInLaserOnDelay", ltYLSGemHW, "out6=1", 0, TCutBy::EmissionOff},
        TYlsCut{"GermanCompleted", ltYLSGemHW, "out8=1", 50, TCutBy::EmissionOff},
        TYlsCut{"GermanPowerOffInLaserOnDelay", ltYLSGemHW, "out6=1", 0, TCutBy::PowerOff},
        TYlsCut{"GermanDestroyInLaserOnDelay", ltYLSGemHW, "out6=1", 0, TCutBy::Destroy},
        TYlsCut{"GermanLaserOffInLaserOnDelay", ltYLSGemHW, "out6=1", 0, TCutBy::LaserOff}),
    [](const auto& I) { return std::string(I.param.Name); });

} // namespace
} // namespace nclaser
