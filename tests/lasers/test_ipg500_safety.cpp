// TIPG500Laser's power-on thread against the simulated YLR laser on a pty: stopped at any
// step, nothing of it reaches the laser after the call that stopped it, and its failures
// leave the laser able to power on again.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/clock.h"
#include "lasers/ipg500.h"
#include "params/textbuf.h"
#include "sim/ylr_sim.h"
#include "tests/lasers/io_laser_support.h"
#include "tests/support/tcp_listener.h"

namespace nclaser {
namespace {

constexpr int KPowerCtrl = 9;

class IPG500SafetyTest : public testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    std::string Err;
    ASSERT_TRUE(Sim.StartPty(&Err)) << Err;
    Host->SerialPorts->Set(1, Sim.DevicePath());
  }
  void TearDown() override {
    Laser.reset();
    Sim.Stop();
    HostTest::TearDown();
  }

  void Build() {
    TLaserParams P = testing::IoParams(eltIPG);
    P.DefParams.Model = "YLR-500";
    P.DefParams.PWM.DiodeCurrent = 60.0;
    P.CfgIPG.Initialize();
    P.CfgIPG.IPGType = ltYLRComm;
    P.CfgIPG.YLR.Comm.CommPort = 1;
    P.CfgIPG.PowerCtrlPort = KPowerCtrl;
    P.CfgIPG.MaxCurrent = 100.0;
    Laser = NewLaser<TIPG500Laser>(nullptr, P);
    ASSERT_TRUE(Sim.WaitForCommand("SDC 60", 3000));
    Sim.ClearCommands();
  }
  TIPG500Laser& Ipg() { return testing::As<TIPG500Laser>(Laser); }

  // A power-on thread ran (again): only it sends "DEC".
  bool PowerOnRuns() {
    Sim.ClearCommands();
    return Sim.WaitForCommand("DEC", 2500);
  }

  sim::TYLRSim Sim;
  TNcLaserPtr Laser;
};

// Where a call cuts the power-on short: after which command reached the laser (and how
// many of it), then how much later. The thread pulses the power control for 1200 ms, then
// sends EMOFF, DEABC, DEC, EMON; 500 ms later ABN; 500 ms later the diode current.
struct TYlrCut {
  const char* Name;
  const char* After;
  int Count;
  int ThenMs;
  char By; // 'E' EmissionOff, 'D' Destroy, 'L' LaserOff
};
void PrintTo(const TYlrCut& C, std::ostream* Os) {
  *Os << C.Name;
}

class IPG500CutTest : public IPG500SafetyTest, public ::testing::WithParamInterface<TYlrCut> {};

TEST_P(IPG500CutTest, NothingOfThePowerOnFollowsTheCallAndItWorksAgain) {
  const TYlrCut& C = GetParam();
  Build();
  const double T0 = NowMs();
  Laser->EmissionOn(); // with a power-control output: PowerOn and its thread
  if (*C.After != '\0') {
    ASSERT_TRUE(Sim.WaitForCommand(C.After, 3000, C.Count));
  }
  Sleep(C.ThenMs);
  const double TCall = NowMs();
  switch (C.By) {
  case 'D':
    Laser.reset();
    break;
  case 'L':
    Laser->LaserOff();
    break;
  default:
    Laser->EmissionOff();
  }
  const double TBack = NowMs();
  std::printf("[ measured ] IPG500 %s: the call took %.1f ms\n", C.Name, TBack - TCall);
  // At most an exchange on the wire (its 20 ms drain) and the EMOFF of its own.
  EXPECT_LT(TBack - TCall, 100.0 + testing::KLateMs);
  EXPECT_FALSE(Host->IO.GetOutput(KPowerCtrl)) << "the power-control pulse was left high";
  while (ElapsedMs(T0) < 2700) { // past the whole power-on
    Sleep(20);
  }
  EXPECT_TRUE(testing::OutputWrites(Host->IO, {KPowerCtrl}, TBack).empty());
  if (C.By == 'L') {
    // LaserOff sends nothing itself: after it returned the laser hears status polls only.
    for (const auto& R : Sim.Requests()) {
      EXPECT_TRUE(R.TimeMs <= TBack || sim::ToText(R.Bytes) == "STA\r") << sim::ToText(R.Bytes);
    }
    Laser->LaserOn();
    Laser->EmissionOn();
    EXPECT_TRUE(PowerOnRuns());
    return;
  }
  // After the call's own EMOFF the laser hears status polls only.
  const std::vector<std::string> Cmds = Sim.Commands();
  const auto LastOff = std::find(Cmds.rbegin(), Cmds.rend(), "EMOFF");
  ASSERT_NE(LastOff, Cmds.rend());
  const std::vector<std::string> After(Cmds.rbegin(), LastOff);
  EXPECT_TRUE(std::all_of(After.begin(), After.end(), [](const auto& X) { return X == "STA"; }))
      << "sent after the call: " << ::testing::PrintToString(After);
  if (C.By == 'D') {
    Build();
  }
  Laser->EmissionOn();
  EXPECT_TRUE(PowerOnRuns());
}

INSTANTIATE_TEST_SUITE_P(Cuts, IPG500CutTest,
                         ::testing::Values(TYlrCut{"AtOnce", "", 0, 0, 'E'},
                                           TYlrCut{"InPulse", "", 0, 600, 'E'},
                                           TYlrCut{"InSwitchOn", "DEABC", 1, 0, 'E'},
                                           TYlrCut{"BeforeAiming", "EMON", 2, 100, 'E'},
                                           TYlrCut{"BeforeCurrent", "ABN", 1, 100, 'E'},
                                           TYlrCut{"Completed", "SDC 60", 2, 100, 'E'},
                                           TYlrCut{"DestroyInPulse", "", 0, 600, 'D'},
                                           TYlrCut{"DestroyInSwitchOn", "DEABC", 1, 0, 'D'},
                                           TYlrCut{"LaserOffInPulse", "", 0, 600, 'L'},
                                           TYlrCut{"LaserOffBeforeAiming", "EMON", 2, 100, 'L'}),
                         [](const auto& I) { return std::string(I.param.Name); });

// A laser that answers pings but whose port drops every handshake: each connect attempt
// runs to its time-out, under the link's lock. Tear-down must not queue up behind them.
TEST_F(IPG500SafetyTest, DestroyIsPromptWhenTheLaserAnswersPingsButDropsHandshakes) {
  const std::string Address = "127.0.9.21";
  const testing::TTcpListener Port(Address, 10001, 0);
  testing::TBacklogFiller Filler;
  ASSERT_TRUE(Filler.Fill(Address, 10001));
  TLaserParams P = testing::IoParams(eltIPG);
  P.CfgIPG.Initialize();
  P.CfgIPG.IPGType = ltYLRNet;
  P.CfgIPG.PowerCtrlPort = KPowerCtrl;
  Utf8ToTextBuf(Address, P.CfgIPG.YLR.Net.TcpHost);
  Laser = NewLaser<TIPG500Laser>(nullptr, P);
  Laser->PowerOn();
  Sleep(1300); // the power-on thread and the monitor are both trying to connect
  const double T0 = NowMs();
  Laser.reset();
  std::printf("[ measured ] IPG500 over TCP, handshakes dropped: Destroy took %.1f ms\n",
              ElapsedMs(T0));
  EXPECT_LT(ElapsedMs(T0), 100.0 + testing::KLateMs);
  EXPECT_FALSE(Host->IO.GetOutput(KPowerCtrl));
}

// The host's outputs, failing once when one port is switched to one level.
class TFailOnceOutputs : public TNcOutputGroup {
public:
  TFailOnceOutputs(TNcOutputGroup* Inner, int Port, bool Level)
      : FInner(Inner), FPort(Port), FLevel(Level) {}
  bool GetPortExist(Byte Port) override { return FInner->GetPortExist(Port); }
  bool GetOutputBit(Byte Port) override { return FInner->GetOutputBit(Port); }
  void SetOutputbit(Byte Port, bool Value) override {
    if (Port == FPort && Value == FLevel && !FFailed.exchange(true)) {
      throw std::runtime_error("output failed");
    }
    FInner->SetOutputbit(Port, Value);
  }

private:
  TNcOutputGroup* FInner;
  int FPort;
  bool FLevel;
  std::atomic<bool> FFailed{false};
};

TEST_F(IPG500SafetyTest, APowerOnThreadThatFailsEndsItsPulseAndTheNextPowerOnRuns) {
  Build();
  TFailOnceOutputs Failing(GPOutput, KPowerCtrl, false);
  GPOutput = &Failing;
  Laser->PowerOn(); // the thread's end of the pulse fails: the thread ends there
  EXPECT_TRUE(Host->IO.WaitOutput(KPowerCtrl, false, 2500)) << "pulse left high";
  const double T0 = NowMs();
  while (Ipg().HasPowerOnThread() && ElapsedMs(T0) < 500) { // it ends just after the pulse
    Sleep(1);
  }
  EXPECT_FALSE(Ipg().HasPowerOnThread());
  EXPECT_EQ(Sim.CountCommand("DEC"), 0);
  GPOutput = &Host->IO.Outputs();
  Laser->PowerOn();
  EXPECT_TRUE(PowerOnRuns());
}

// Pages of address space in use, from the kernel's view of this process.
[[maybe_unused]] long AddressSpaceBytes() {
  std::ifstream Statm("/proc/self/statm");
  long Pages = 0;
  Statm >> Pages;
  return Pages * ::sysconf(_SC_PAGESIZE);
}

TEST_F(IPG500SafetyTest, APowerOnThreadThatCannotStartIsRefusedCleanly) {
#ifdef NCLASER_TEST_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than a limit can leave";
#else
  Build();
  // No room for another thread's stack: starting the power-on thread fails.
  rlimit Old{};
  ASSERT_EQ(::getrlimit(RLIMIT_AS, &Old), 0);
  rlimit Tight = Old;
  Tight.rlim_cur = static_cast<rlim_t>(AddressSpaceBytes() + (1 << 20));
  ASSERT_EQ(::setrlimit(RLIMIT_AS, &Tight), 0);
  bool Threw = false;
  try {
    Laser->PowerOn();
  } catch (...) {
    Threw = true;
  }
  ::setrlimit(RLIMIT_AS, &Old);
  if (!Threw && Ipg().HasPowerOnThread()) {
    GTEST_SKIP() << "the thread reused a stack an earlier test left: run this test alone";
  }
  EXPECT_FALSE(Threw);
  EXPECT_FALSE(Ipg().HasPowerOnThread());
  EXPECT_FALSE(Host->IO.GetOutput(KPowerCtrl)) << "refused, but the pulse was left high";
  Laser->PowerOn();
  EXPECT_TRUE(PowerOnRuns());
  const double T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 100.0 + testing::KLateMs);
#endif
}

} // namespace
} // namespace nclaser
