// TIPG500Laser against the simulated YLR laser over a real pty and over loopback TCP.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/ipg500.h"
#include "params/textbuf.h"
#include "sim/ylr_sim.h"
#include "strings/messages.h"
#include "tests/support/host_fixture.h"
#include "tests/support/sim_links.h"

namespace nclaser {
namespace {

using testing::Until;

using sim::TYLRSim;

enum class TLink { Pty, Tcp };

using testing::TSimCommFactory;

constexpr int PowerCtrlPort = 9;
constexpr int CtrlPort = 3;

class YlrEndToEnd : public testing::HostTest, public ::testing::WithParamInterface<TLink> {
protected:
  void SetUp() override {
    HostTest::SetUp();
    Host->Comm = std::make_unique<TSimCommFactory>(Host->SerialPorts, &Sim);
    CommFactory = Host->Comm.get();
    // The power-control output is absent unless a test adds it.
    Host->IO.SetOutputsExist({1, 2, CtrlPort});
    P.Initialize();
    P.DefParams.Initialize();
    P.DefParams.PWM.Initialize();
    P.DefParams.DA.Initialize();
    P.DefParams.Model = "YLR-500";
    P.DefParams.CtrlPort = CtrlPort;
    P.DefParams.AimingPort = 2;
    P.DefParams.PWM.DiodeCurrent = 60.0;
    P.LaserType = eltIPG;
    P.CfgIPG.Initialize();
    P.CfgIPG.PowerCtrlPort = PowerCtrlPort;
    P.CfgIPG.MaxCurrent = 100.0;
    Utf8ToTextBuf("YLR-500-AC", P.CfgIPG.Model);
    P.CfgIPG.YLR.Comm.IgnoreCommResult = false;
    // A distinct loopback address per process, so suites can run side by side.
    const int Pid = static_cast<int>(::getpid());
    Address = "127.44." + std::to_string(Pid / 250 % 250 + 1) + "." + std::to_string(Pid % 250 + 1);
    if (GetParam() == TLink::Pty) {
      P.CfgIPG.IPGType = ltYLRComm;
      P.CfgIPG.YLR.Comm.CommPort = 1;
    } else {
      P.CfgIPG.IPGType = ltYLRNet;
      Utf8ToTextBuf(Address, P.CfgIPG.YLR.Net.TcpHost);
    }
  }
  void TearDown() override {
    Laser.reset();
    Sim.Stop();
    HostTest::TearDown();
  }

  void StartSim() {
    std::string Err;
    if (GetParam() == TLink::Pty) {
      ASSERT_TRUE(Sim.StartPty(&Err)) << Err;
      Host->SerialPorts->Set(1, Sim.DevicePath());
    } else {
      ASSERT_TRUE(Sim.StartTcp(Address, 10001, &Err)) << Err;
    }
  }

  void Build() {
    Laser = FindLaserClass("TIPG500Laser")->Factory(nullptr, P);
    Ipg = dynamic_cast<TIPG500Laser*>(Laser.get());
    ASSERT_NE(Ipg, nullptr);
  }

  // Starts the simulator and builds the laser, then forgets the start-up traffic.
  void Up() {
    StartSim();
    Build();
    ASSERT_TRUE(Sim.WaitForCommand("SDC 60", 3000));
    Sim.ClearCommands();
  }

  // Received commands other than the monitor's status polls.
  std::vector<std::string> Actions() const {
    std::vector<std::string> C = Sim.Commands();
    C.erase(std::remove(C.begin(), C.end(), "STA"), C.end());
    return C;
  }

  int LinesWith(const std::string& Part) const { return Host->App.CountContaining(Part); }

  TYLRSim Sim;
  TLaserParams P{};
  std::string Address;
  TNcLaserPtr Laser;
  TIPG500Laser* Ipg = nullptr;
};

using Cmds = std::vector<std::string>;

TEST_P(YlrEndToEnd, PowerOnPulsesTheControlOutputThenSwitchesTheLaserOn) {
  Host->IO.SetOutputsExist({1, 2, CtrlPort, PowerCtrlPort});
  Up();
  Host->IO.ClearTimeline();
  Ipg->PowerOn();
  Sleep(100);
  Ipg->PowerOn(); // one thread only
  ASSERT_TRUE(Sim.WaitForCommand("SDC 60", 4000));
  EXPECT_EQ(Actions(), (Cmds{"EMOFF", "DEABC", "DEC", "EMON", "ABN", "SDC 60"}));
  std::vector<double> Edges;
  for (const auto& E : Host->IO.Timeline()) {
    if (E.Kind == hostkit::TIoKind::Output && E.Port == PowerCtrlPort && E.Changed) {
      Edges.push_back(E.TimeMs);
    }
  }
  ASSERT_EQ(Edges.size(), 2U); // high, then low
  EXPECT_GE(Edges[1] - Edges[0], 1200.0);
  EXPECT_LT(Edges[1] - Edges[0], 1300.0);
  EXPECT_FALSE(Host->IO.GetOutput(PowerCtrlPort));
  EXPECT_TRUE(Until([&] { return !Ipg->HasPowerOnThread(); }));
  const auto Names = Host->App.ThreadNames();
  EXPECT_EQ(std::count(Names.begin(), Names.end(), "IPG500"), 1);
  EXPECT_TRUE(Sim.Emission());
  EXPECT_TRUE(Sim.Aiming());
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn() && Ipg->GetIsAimingOn(); }));
}

TEST_P(YlrEndToEnd, EmissionOnContinuousWave) {
  Utf8ToTextBuf("qcw", P.CfgIPG.PulseModel); // case matters: this is continuous wave
  Up();
  EXPECT_FALSE(Ipg->GetIsQCW());
  Ipg->EmissionOn();
  EXPECT_EQ(Actions(), (Cmds{"DPM", "DGM", "DLE", "EMOD", "EMON", "SDC 60"}));
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn(); }));
  Sim.ClearCommands();
  Ipg->EmissionOff();
  ASSERT_TRUE(Sim.WaitForCommand("EMOFF", 1000));
  EXPECT_EQ(Actions(), Cmds{"EMOFF"});
  EXPECT_TRUE(Until([&] { return !Ipg->GetIsEmissionOn(); }));
}

TEST_P(YlrEndToEnd, EmissionOnQcwWithoutGateLeavesEmissionToTheExternalSignal) {
  Utf8ToTextBuf("QCW", P.CfgIPG.PulseModel);
  Up();
  Ipg->EmissionOn();
  EXPECT_EQ(Actions(), (Cmds{"DMOD", "DGM", "EPM", "ELE", "SDC 60"}));
  Sleep(300);
  EXPECT_FALSE(Sim.Emission());
  EXPECT_FALSE(Ipg->GetIsEmissionOn()); // follows the status bit, not the call
  EXPECT_TRUE(Ipg->GetDriver()->GetQCWMode());
}

TEST_P(YlrEndToEnd, EmissionOnQcwWithGateMode) {
  Utf8ToTextBuf("QCW", P.CfgIPG.PulseModel);
  P.CfgIPG.YLR.GateMode = true;
  Up();
  Ipg->EmissionOn();
  EXPECT_EQ(Actions(), (Cmds{"DMOD", "EGM", "DLE", "EPM", "EMON", "SDC 60"}));
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn(); }));
}

TEST_P(YlrEndToEnd, EmissionOnEoYlrSelectsDigitalPower) {
  P.DefParams.Model = "EO-YLR";
  Utf8ToTextBuf("QCW", P.CfgIPG.PulseModel);
  Up();
  Ipg->EmissionOn();
  EXPECT_EQ(Actions(), (Cmds{"DLE", "EMOD", "DGM", "DEABC", "SDS", "EMON", "SDC 60"}));
}

TEST_P(YlrEndToEnd, FlagsInsteadOfStatusWithIgnoreCommResult) {
  Utf8ToTextBuf("QCW", P.CfgIPG.PulseModel);
  P.CfgIPG.YLR.Comm.IgnoreCommResult = true;
  Up();
  Sim.SetFaultBits(TYLRSim::BitOverheat);
  Ipg->EmissionOn(); // the laser's emission stays off (external signal)
  Ipg->SetAimingOn(true);
  EXPECT_TRUE(Ipg->GetIsEmissionOn());
  EXPECT_TRUE(Ipg->GetIsAimingOn());
  ASSERT_TRUE(Until([&] { return Ipg->GetDriver()->HasAlarm(); }));
  Ipg->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  Ipg->SetAimingOn(false);
  EXPECT_FALSE(Ipg->GetIsAimingOn());
}

TEST_P(YlrEndToEnd, AimingFollowsTheStatusWord) {
  Up();
  Ipg->SetAimingOn(true);
  ASSERT_TRUE(Sim.WaitForCommand("ABN", 1000));
  EXPECT_EQ(Actions(), Cmds{"ABN"});
  EXPECT_TRUE(Host->IO.GetOutput(2));
  EXPECT_TRUE(Until([&] { return Ipg->GetIsAimingOn(); }));
  Ipg->SetAimingOn(false);
  EXPECT_TRUE(Until([&] { return !Ipg->GetIsAimingOn(); }));
}

TEST_P(YlrEndToEnd, VerifiedDiodeCurrentConvergesOnTheEcho) {
  Up();
  EXPECT_EQ(Ipg->ExecuteCmd(21, 75.0), 0);
  EXPECT_EQ(Sim.DiodeCurrent(), 75.0);
  EXPECT_EQ(Ipg->GetDiodeCurrent(), 75.0);
  EXPECT_EQ(Sim.CountCommand("SDC 75"), 1);
  // A laser that never reaches the set point gets the command for about a second.
  Sim.SetDiodeEchoOffset(0.5);
  const double T0 = NowMs();
  Ipg->ExecuteCmd(21, 40.0);
  EXPECT_GT(ElapsedMs(T0), 1000.0);
  EXPECT_GT(Sim.CountCommand("SDC 40"), 3);
  EXPECT_EQ(Ipg->GetDiodeCurrent(), 40.5);
}

TEST_P(YlrEndToEnd, QcwCurrentAboveTheLimitIsNotSent) {
  Utf8ToTextBuf("QCW", P.CfgIPG.PulseModel);
  P.CfgIPG.MaxCurrent = 80;
  Up();
  EXPECT_TRUE(Ipg->SetDiodeCustom(85));
  EXPECT_TRUE(Actions().empty());
  EXPECT_TRUE(Ipg->SetDiodeCustom(80));
  EXPECT_EQ(Actions(), Cmds{"SDC 80"});
}

TEST_P(YlrEndToEnd, AlarmsFromStatusBitsWithTheirTexts) {
  Up();
  Sim.SetFaultBits(TYLRSim::BitOverheat | TYLRSim::BitBackReflection);
  ASSERT_TRUE(Until([&] { return Ipg->GetDriver()->HasAlarm(); }));
  Ipg->UpdateAlarms();
  auto Shown = Host->Alarms.Active();
  ASSERT_EQ(Shown.size(), 1U);
  EXPECT_EQ(Shown[0].Desc,
            "YLR-500Laser: " + SIPGOverheat.Get() + SIPGHighBackReflectionLevel.Get());
  // Reset through the named command; the alarm goes with the next poll.
  TVariant V;
  Ipg->ExecCmd("rESETeRRORS", V);
  EXPECT_EQ(Sim.CountCommand("RERR"), 1);
  ASSERT_TRUE(Until([&] { return !Ipg->GetDriver()->HasAlarm(); }));
  Ipg->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  // QCW-only bits do not count in continuous-wave operation.
  Sim.SetFaultBits(TYLRSim::BitAveragePowerTooHigh);
  ASSERT_TRUE(Until([&] { return Ipg->GetDriver()->GetStatusBit(31); }));
  Ipg->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
}

TEST_P(YlrEndToEnd, LaserOnOutputWhenConfigured) {
  P.CfgIPG.YLR.UseOutputLaserOn = true;
  Up();
  EXPECT_TRUE(Ipg->GetIsUseOutputLaserOn());
  Ipg->LaserOn();
  EXPECT_TRUE(Host->IO.GetOutput(CtrlPort));
  EXPECT_TRUE(Ipg->GetIsLaserOn());
  Ipg->LaserOff();
  EXPECT_FALSE(Host->IO.GetOutput(CtrlPort));
  EXPECT_FALSE(Ipg->GetIsLaserOn());
  // Without the output the PWM port tells.
  Host->IO.SetOutputsExist({1, 2});
  Ipg->LaserOn();
  EXPECT_FALSE(Host->IO.GetOutput(CtrlPort));
  EXPECT_TRUE(Ipg->GetIsLaserOn());
  EXPECT_TRUE(Actions().empty()); // no protocol traffic for these
}

TEST_P(YlrEndToEnd, DeviceDescriptionAndSpecialCommands) {
  Up();
  Sim.SetSerialNumber("YL-0042");
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC SN: YL-0042");
  EXPECT_EQ(Ipg->ExecuteCmd(2101, 0), 10);
  EXPECT_EQ(Ipg->ExecuteCmd(2102, 0), 100);
}

TEST_P(YlrEndToEnd, SplitJoinedAndErrorRepliesAndRunawayInput) {
  Up();
  Sim.SetSplit(3, 2);
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC SN: PL1234567");
  Sim.SetSplit(0, 0);
  Sim.SetJoin(true);
  Ipg->SetAimingOn(true);
  EXPECT_TRUE(Until([&] { return Ipg->GetIsAimingOn(); }));
  Sim.SetJoin(false);

  Sim.SetErrorReply("EMON", "Interlock open");
  Ipg->EmissionOn();
  EXPECT_TRUE(Host->App.WaitForLine("Laser: ERR: Interlock open", 2000));
  Sim.SetErrorReply("EMON", "");

  Sim.SendRaw(std::string(1200, 'j'));
  EXPECT_TRUE(Host->App.WaitForLine(SIPGCommCommunicationException.Get(), 2000));
  // The link goes on working after the junk.
  Ipg->EmissionOn();
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn(); }));
}

TEST_P(YlrEndToEnd, SilentLaser) {
  StartSim();
  Sim.SetSilent(true);
  Build();
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC");
  EXPECT_FALSE(Ipg->GetIsEmissionOn());
  EXPECT_FALSE(Ipg->GetIsAimingOn());
  EXPECT_EQ(Ipg->GetDiodeCurrent(), 60.0); // the last request, no echo
  EXPECT_EQ(Ipg->GetDriver()->GetMinimumCurrent(), 10.0);
  Ipg->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 0);
  EXPECT_GT(Sim.CountCommand("STA"), 0); // polled all the same
}

TEST_P(YlrEndToEnd, DestroyDuringPowerOnStopsTheThread) {
  Host->IO.SetOutputsExist({1, 2, CtrlPort, PowerCtrlPort});
  Up();
  Ipg->PowerOn();
  Sleep(300);
  const double T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 400.0);
  Sleep(1100);
  EXPECT_EQ(Sim.CountCommand("DEC"), 0); // the thread ended without its steps
}

// What does not depend on the transport runs over the serial line only.
INSTANTIATE_TEST_SUITE_P(Links, YlrEndToEnd, ::testing::Values(TLink::Pty),
                         [](const auto&) { return "Pty"; });

// A vanished port and a missing listener, a closing serial line and a closing socket.
class YlrLinkEnds : public YlrEndToEnd {};

TEST_P(YlrLinkEnds, UnreachableLaserIsReportedOnSchedule) {
  if (GetParam() == TLink::Pty) {
    Host->SerialPorts->Set(1, "/nonexistent/ttyYLR");
  }
  const double T0 = NowMs();
  Build(); // no simulator at all
  Ipg->EmissionOn();
  EXPECT_FALSE(Ipg->GetIsEmissionOn());
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC");
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedFail.Get(), 5000));
  EXPECT_GT(ElapsedMs(T0), 864.0);
  Sleep(500);
  EXPECT_EQ(LinesWith(SLaserConnectedFail.Get()), 1);
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 0);
}

TEST_P(YlrLinkEnds, DestroyWhilePollingSendsEmissionOffFirstAndReturnsPromptly) {
  Up();
  ASSERT_TRUE(Sim.WaitForCommand("STA", 1000, 3));
  Sim.ClearCommands();
  const double T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 400.0);
  ASSERT_TRUE(Sim.WaitForCommand("EMOFF", 1000));
  EXPECT_EQ(Actions().front(), "EMOFF");
  const std::size_t N = Sim.Commands().size();
  Sleep(200);
  EXPECT_EQ(Sim.Commands().size(), N);
}

INSTANTIATE_TEST_SUITE_P(Links, YlrLinkEnds, ::testing::Values(TLink::Pty, TLink::Tcp),
                         [](const auto& I) { return I.param == TLink::Pty ? "Pty" : "Tcp"; });

// Link faults that only a network has.
class YlrEndToEndTcp : public YlrEndToEnd {};

TEST_P(YlrEndToEndTcp, PulledCableIsFoundByThePingWatchdogAndRecovered) {
  Up();
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedOk.Get(), 2000));
  Sim.PullCable(6500); // outlasts the next watchdog ping
  ASSERT_TRUE(Host->App.WaitForLine("TCP Connection Closed.", 8000));
  // The line comes first, then the flag drops; the cable stays out long after.
  EXPECT_TRUE(Until([&] { return !Ipg->GetDriver()->GetConnected(); }, 1000));
  ASSERT_TRUE(Until([&] { return LinesWith(SLaserConnectedOk.Get()) == 2; }, 6000));
  Sleep(300);
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 2); // once per recovery
  EXPECT_EQ(LinesWith("TCP Connection Closed."), 1);
  EXPECT_GE(Sim.ConnectCount(), 2);
  Ipg->EmissionOn();
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn(); }));
}

TEST_P(YlrEndToEndTcp, ClosedConnectionIsReopened) {
  Up();
  Sim.DropLink(400);
  ASSERT_TRUE(Until([&] { return Sim.ConnectCount() >= 2; }, 4000));
  Sim.ClearCommands();
  ASSERT_TRUE(Sim.WaitForCommand("STA", 2000));
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC SN: PL1234567");
}

INSTANTIATE_TEST_SUITE_P(Links, YlrEndToEndTcp, ::testing::Values(TLink::Tcp),
                         [](const auto&) { return "Tcp"; });

TEST(YlrFactory, RegisteredAndRefusesOtherIpgTypes) {
  const TLaserClassInfo* C = FindLaserClass("TIPG500Laser");
  ASSERT_NE(C, nullptr);
  EXPECT_EQ(C->ConfigMember, "CfgIPG");
  EXPECT_EQ(C->LaserType, eltIPG);
  hostkit::THost H;
  H.Install();
  TLaserParams P{};
  P.Initialize();
  P.LaserType = eltIPG;
  P.CfgIPG.Initialize();
  P.CfgIPG.IPGType = ltYLSGemNet;
  try {
    C->Factory(nullptr, P);
    FAIL() << "built";
  } catch (const ELaserError& E) {
    EXPECT_STREQ(E.what(), "IPG.LaserType Error Message");
  }
}

} // namespace
} // namespace nclaser
