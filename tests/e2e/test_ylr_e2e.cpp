// TIPG500Laser and its TIPGYLRDriver against the simulated YLR laser over a real pty and
// over loopback TCP.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/clock.h"
#include "hostkit/comm_factory.h"
#include "hostkit/icmp_client.h"
#include "ipgdrv/ylrdriver.h"
#include "lasers/factory.h"
#include "lasers/ipg500.h"
#include "params/textbuf.h"
#include "sim/ylr/ylr_sim.h"
#include "strings/messages.h"
#include "tests/lasers/io_laser_support.h"
#include "tests/support/sim_link_test.h"
#include "tests/support/tcp_listener.h"

namespace nclaser {
namespace {

using testing::Until;

using sim::TYLRSim;
using testing::TLink;

constexpr int PowerCtrlPort = 9;
constexpr int CtrlPort = 3;

// The simulator on Link, and a laser with a power-control output that exists only when a
// test adds it.
class YlrSim : public testing::SimLinkTest<TYLRSim> {
protected:
  YlrSim() : SimLinkTest(44) {}
  void SetUp() override {
    SimLinkTest::SetUp();
    UseRig("ylr");
    Sim = std::make_unique<TYLRSim>();
    // The power-control output is absent unless a test adds it.
    Host->IO.SetOutputsExist({1, 2, CtrlPort});
    P = RigParams();
    P.DefParams.Model = "YLR-500";
    P.DefParams.PWM.DiodeCurrent = 60.0;
    P.DefParams.CtrlPort = CtrlPort;
    P.DefParams.AimingPort = 2;
    P.CfgIPG.PowerCtrlPort = PowerCtrlPort;
    P.CfgIPG.MaxCurrent = 100.0;
    Utf8ToTextBuf("YLR-500-AC", P.CfgIPG.Model);
    P.CfgIPG.YLR.Comm.IgnoreCommResult = false;
    P.CfgIPG.YLR.Net.TcpPort = 4444; // the laser listens on 10001 whatever this says
  }
  void TearDown() override {
    if (Held) {
      Drv()->UnlockComm(); // a failed check left the link held: let the monitor end
    }
    SimLinkTest::TearDown();
  }
  bool IsPoll(const Bytes& B) const override { return sim::ToText(B) == "STA\r"; }

  void Build() {
    Laser = NewRigLaser(P);
    Ipg = dynamic_cast<TIPG500Laser*>(Laser.get());
    ASSERT_NE(Ipg, nullptr);
  }

  // Starts the simulator and builds the laser, then forgets the start-up traffic.
  void Up() {
    if (!Sim->Running()) {
      StartSim();
    }
    Build();
    ASSERT_TRUE(Sim->WaitForCommand("SDC 60", 3000));
    Sim->ClearCommands();
  }
  TIPGYLRDriver* Drv() const { return Ipg->GetDriver(); }
  // Holding the link keeps the monitor still.
  void Hold(bool On) {
    On ? Drv()->LockComm() : Drv()->UnlockComm();
    Held = On;
  }
  // Up, holding the link, with whatever was on its way read and forgotten.
  void UpAndHold() {
    Up();
    Hold(true);
    std::string Pending;
    Drv()->ReceiveResponse(30, Pending);
    Sim->ClearCommands();
  }

  // One receive of TimeoutMs while Meanwhile runs on another thread.
  struct TDrain {
    std::string Reply;
    double TookMs;
    double CpuMs; // this thread's processor time: a waiting drain uses next to none
  };
  TDrain Drain(int TimeoutMs, const std::function<void()>& Meanwhile) {
    std::thread Other(Meanwhile);
    TDrain D{};
    timespec C0{};
    timespec C1{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &C0);
    const double T0 = NowMs();
    Drv()->ReceiveResponse(TimeoutMs, D.Reply);
    D.TookMs = ElapsedMs(T0);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &C1);
    D.CpuMs = (C1.tv_sec - C0.tv_sec) * 1e3 + (C1.tv_nsec - C0.tv_nsec) / 1e6;
    Other.join();
    return D;
  }

  // Received commands other than the monitor's status polls.
  std::vector<std::string> Actions() const {
    std::vector<std::string> C = Sim->Commands();
    C.erase(std::remove(C.begin(), C.end(), "STA"), C.end());
    return C;
  }

  int LinesWith(const std::string& Part) const { return Host->App.CountContaining(Part); }
  std::vector<hostkit::TLogLine> LinesOf(const std::string& Text) const {
    std::vector<hostkit::TLogLine> L = Host->App.Lines();
    L.erase(std::remove_if(L.begin(), L.end(), [&](const auto& X) { return X.Text != Text; }),
            L.end());
    return L;
  }
  int RedLines() const {
    const auto L = Host->App.Lines();
    return static_cast<int>(
        std::count_if(L.begin(), L.end(), [](const auto& X) { return X.Color == clRed; }));
  }

  bool Held = false;
  TLaserParams P{};
  TIPG500Laser* Ipg = nullptr;
};

class YlrEndToEnd : public YlrSim, public ::testing::WithParamInterface<TLink> {
protected:
  void SetUp() override {
    Link = GetParam();
    YlrSim::SetUp();
  }
};

using Cmds = std::vector<std::string>;

TEST_P(YlrEndToEnd, PowerOnPulsesTheControlOutputThenSwitchesTheLaserOn) {
  Host->IO.SetOutputsExist({1, 2, CtrlPort, PowerCtrlPort});
  Up();
  Host->IO.ClearTimeline();
  Ipg->PowerOn();
  Sleep(100);
  Ipg->PowerOn(); // one thread only
  ASSERT_TRUE(Sim->WaitForCommand("SDC 60", 4000));
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
  EXPECT_TRUE(Until([&] { return !Ipg->HasPowerOnThread(); }));
  const auto Names = Host->App.ThreadNames();
  EXPECT_EQ(std::count(Names.begin(), Names.end(), "IPG500"), 1);
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn() && Ipg->GetIsAimingOn(); }));
}

// The mode commands before EMON per pulse model, gate mode and model; EmissionOff sends
// EMOFF only. Without the gate, QCW emission is left to the external signal: no EMON, and
// the state follows the status bit, not the call.
TEST_P(YlrEndToEnd, EmissionOnSetsTheModesOfThePulseModel) {
  struct TCase {
    const char* Model;
    const char* Pulse; // case matters: "qcw" is continuous wave
    bool Gate;
    Cmds Sent;
  };
  const TCase Cases[] = {
      {"YLR-500", "qcw", false, {"DPM", "DGM", "DLE", "EMOD", "EMON", "SDC 60"}},
      {"YLR-500", "QCW", false, {"DMOD", "DGM", "EPM", "ELE", "SDC 60"}},
      {"YLR-500", "QCW", true, {"DMOD", "EGM", "DLE", "EPM", "EMON", "SDC 60"}},
      {"EO-YLR", "QCW", false, {"DLE", "EMOD", "DGM", "DEABC", "SDS", "EMON", "SDC 60"}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(::testing::Message() << C.Model << " " << C.Pulse << " gate " << C.Gate);
    P.DefParams.Model = C.Model;
    Utf8ToTextBuf(C.Pulse, P.CfgIPG.PulseModel);
    P.CfgIPG.YLR.GateMode = C.Gate;
    Laser.reset();
    Sim->ClearCommands();
    Up();
    Ipg->EmissionOn();
    EXPECT_EQ(Actions(), C.Sent);
    const bool On = std::ranges::find(C.Sent, "EMON") != C.Sent.end();
    EXPECT_EQ(Until([&] { return Ipg->GetIsEmissionOn(); }, On ? 2000 : 300), On);
    EXPECT_EQ(Drv()->GetQCWMode(), std::string(C.Pulse) == "QCW");
    Sim->ClearCommands();
    Ipg->EmissionOff();
    ASSERT_TRUE(Sim->WaitForCommand("EMOFF", 1000));
    EXPECT_EQ(Actions(), Cmds{"EMOFF"});
    EXPECT_TRUE(Until([&] { return !Ipg->GetIsEmissionOn(); }));
  }
}

// QCW with the comm result ignored: the laser's flags instead of its status, and no current
// above the limit.
TEST_P(YlrEndToEnd, QcwFlagsInsteadOfStatusAndCurrentLimit) {
  Utf8ToTextBuf("QCW", P.CfgIPG.PulseModel);
  P.CfgIPG.YLR.Comm.IgnoreCommResult = true;
  P.CfgIPG.MaxCurrent = 80;
  Up();
  EXPECT_TRUE(Ipg->SetDiodeCustom(85));
  EXPECT_TRUE(Actions().empty());
  EXPECT_TRUE(Ipg->SetDiodeCustom(80));
  EXPECT_EQ(Actions(), Cmds{"SDC 80"});
  Sim->SetFaultBits(TYLRSim::BitOverheat);
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

TEST_P(YlrEndToEnd, VerifiedDiodeCurrentConvergesOnTheEcho) {
  Up();
  EXPECT_EQ(Ipg->ExecuteCmd(2101, 0), 10); // the least current it takes
  EXPECT_EQ(Ipg->ExecuteCmd(21, 75.0), 0);
  EXPECT_EQ(Sim->DiodeCurrent(), 75.0);
  EXPECT_EQ(Ipg->GetDiodeCurrent(), 75.0);
  EXPECT_EQ(Sim->CountCommand("SDC 75"), 1);
  Sim->SetDiodeEchoOffset(0.04); // close enough: one exchange
  Ipg->ExecuteCmd(21, 30.0);
  EXPECT_EQ(Sim->CountCommand("SDC 30"), 1);
  // A laser that never reaches the set point gets the command for about a second.
  Sim->SetDiodeEchoOffset(0.5);
  const double T0 = NowMs();
  Ipg->ExecuteCmd(21, 40.0);
  EXPECT_GT(ElapsedMs(T0), 1000.0);
  EXPECT_GT(Sim->CountCommand("SDC 40"), 3);
  EXPECT_EQ(Ipg->GetDiodeCurrent(), 40.5);
}

TEST_P(YlrEndToEnd, AlarmsFromStatusBitsWithTheirTexts) {
  Up();
  Sim->SetFaultBits(TYLRSim::BitOverheat | TYLRSim::BitBackReflection);
  ASSERT_TRUE(Until([&] { return Ipg->GetDriver()->HasAlarm(); }));
  Ipg->UpdateAlarms();
  auto Shown = Host->Alarms.Active();
  ASSERT_EQ(Shown.size(), 1U);
  EXPECT_EQ(Shown[0].Desc,
            "YLR-500Laser: " + SIPGOverheat.Get() + SIPGHighBackReflectionLevel.Get());
  // Reset through the named command; the alarm goes with the next poll.
  TVariant V;
  Ipg->ExecCmd("rESETeRRORS", V);
  EXPECT_EQ(Sim->CountCommand("RERR"), 1);
  ASSERT_TRUE(Until([&] { return !Ipg->GetDriver()->HasAlarm(); }));
  Ipg->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
}

TEST_P(YlrEndToEnd, LaserOnOutputWhenConfigured) {
  P.CfgIPG.YLR.UseOutputLaserOn = true;
  Up();
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

TEST_P(YlrEndToEnd, AimingAndSerialNumberThroughSplitJoinedAndErrorRepliesAndRunawayInput) {
  Up();
  Sim->SetSerialNumber("YL-0042");
  Sim->SetSplit(3, 2);
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC SN: YL-0042");
  Sim->SetSplit(0, 0);
  Sim->SetJoin(true);
  Sim->ClearCommands();
  Ipg->SetAimingOn(true); // the aiming state follows the status word
  ASSERT_TRUE(Sim->WaitForCommand("ABN", 1000));
  EXPECT_EQ(Actions(), Cmds{"ABN"});
  EXPECT_TRUE(Host->IO.GetOutput(2));
  EXPECT_TRUE(Until([&] { return Ipg->GetIsAimingOn(); }));
  Ipg->SetAimingOn(false);
  EXPECT_TRUE(Until([&] { return !Ipg->GetIsAimingOn(); }));
  Sim->SetJoin(false);

  Sim->SetErrorReply("EMON", "Interlock open");
  Ipg->EmissionOn();
  EXPECT_TRUE(Host->App.WaitForLine("Laser: ERR: Interlock open", 2000));
  Sim->SetErrorReply("EMON", "");

  Sim->SendRaw(std::string(1200, 'j'));
  EXPECT_TRUE(Host->App.WaitForLine(SIPGCommCommunicationException.Get(), 2000));
  // The link goes on working after the junk.
  Ipg->EmissionOn();
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn(); }));
}

TEST_P(YlrEndToEnd, SilentLaser) {
  StartSim();
  Sim->SetSilent(true);
  Build();
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC");
  EXPECT_FALSE(Ipg->GetIsEmissionOn());
  EXPECT_FALSE(Ipg->GetIsAimingOn());
  EXPECT_EQ(Ipg->GetDiodeCurrent(), 60.0); // the last request, no echo
  Ipg->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 0);
  EXPECT_GT(Sim->CountCommand("STA"), 0); // polled all the same
}

// ---- The driver on its own: what the laser never asks of it ----

TEST_P(YlrEndToEnd, DriverOpensTheSerialLineLazilyWithItsSettingsAndGivesDefaultsUntilThen) {
  Host->SerialPorts->Set(1, "/nonexistent/ttyYLR");
  Utf8ToTextBuf("19200,e,7,2", P.CfgIPG.YLR.Comm.CommSettings);
  P.CfgIPG.YLR.IgnoreDiodeReply = true; // no second of retries in the constructor
  Build();
  EXPECT_EQ(Drv()->GetMonThread()->GetThreadDelay(), 50);
  EXPECT_FALSE(Drv()->CheckConnection());
  std::string Reply = "stale";
  Drv()->SendAndReply("RSN", 1000, Reply);
  EXPECT_EQ(Reply, "");
  EXPECT_EQ(Drv()->GetMinimumCurrent(), 10.0);
  EXPECT_EQ(Drv()->GetModuleErrorCode(), 0);
  EXPECT_EQ(Drv()->GetSerialNumber(), "");

  StartSim(); // the port appears: the next check opens it as configured
  ASSERT_TRUE(Drv()->CheckConnection());
  const int Fd = ::open(Sim->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(Fd, 0);
  termios T{};
  ASSERT_EQ(::tcgetattr(Fd, &T), 0);
  ::close(Fd);
  EXPECT_EQ(::cfgetospeed(&T), B19200);
  EXPECT_NE(T.c_cflag & CSTOPB, 0U); // a pty keeps eight bits and no parity whatever it is told
  EXPECT_EQ(Drv()->GetSerialNumber(), "PL1234567");
}

// Blind diode current (its reply ignored): five sends without a drain between them.
TEST_P(YlrEndToEnd, DriverSendsEachCommandWithOneCrAndSetPointsOnlyInRange) {
  P.CfgIPG.YLR.IgnoreDiodeReply = true;
  UpAndHold();
  TIPGYLRDriver& D = *Drv();
  D.SendCmd("ABC");
  D.SendCmd("DEF\r");
  D.SendCmd("");
  using TCall = void (TIPGYLRDriver::*)();
  for (const TCall C :
       {&TIPGYLRDriver::DisableEmissionControl, &TIPGYLRDriver::EnableEmissionControl,
        &TIPGYLRDriver::DisableExternalAimControl, &TIPGYLRDriver::EnableExternalAimControl,
        &TIPGYLRDriver::DisableExternalControl, &TIPGYLRDriver::EnableExternalControl,
        &TIPGYLRDriver::DisableGateMode, &TIPGYLRDriver::EnableGateMode,
        &TIPGYLRDriver::DisableModulation, &TIPGYLRDriver::EnableModulation,
        &TIPGYLRDriver::DisablePulseMode, &TIPGYLRDriver::EnablePulseMode,
        &TIPGYLRDriver::SetDigitalPowerSelect, &TIPGYLRDriver::StartAimingBeam,
        &TIPGYLRDriver::StopAimingBeam, &TIPGYLRDriver::StartEmission,
        &TIPGYLRDriver::StopEmission}) {
    (D.*C)();
  }
  D.SetDiodeCurrent(100.5);
  D.SetFilterWndSz(5.01);
  D.SetPulseRate(0);
  D.SetPulseWidth(50.5);
  D.SetFilterWndSz(0.2);
  D.SetPulseRate(20000);
  D.SetPulseWidth(50);
  const double T0 = NowMs();
  D.SetDiodeCurrent(100);
  const double Took = ElapsedMs(T0);
  ASSERT_TRUE(Sim->WaitForCommand("SDC 100", 1000, 5));
  std::string Sent;
  for (const auto& R : Sim->Requests()) {
    Sent += sim::ToText(R.Bytes);
  }
  Hold(false);
  EXPECT_EQ(Sent,
            "ABC\rDEF\rDLE\rELE\rDEABC\rEEABC\rDEC\rEEC\rDGM\rEGM\rDMOD\rEMOD\rDPM\rEPM\r"
            "SDS\rABN\rSTA\rABF\rSTA\rEMON\rSTA\rEMOFF\rSTA\rSFWS 0.2\rSPRR 20000\rSPW 50.00\r"
            "SDC 100\rSDC 100\rSDC 100\rSDC 100\rSDC 100\r");
  EXPECT_LT(Took, 100.0) << "drained before the sends"; // a drain lasts 20 ms
  EXPECT_FALSE(D.GetIsImdState());
}

TEST_P(YlrEndToEnd, DriverQueriesTakeTheReplyParameterAndAnErrorGivesTheDefault) {
  Up();
  TIPGYLRDriver& D = *Drv();
  EXPECT_EQ(D.GetElapsedTime(), 1234.5);
  EXPECT_EQ(D.GetLaserTemperature(), 25.3);
  EXPECT_EQ(D.GetMinimumCurrent(), 10.0);
  EXPECT_EQ(D.GetFilterWndSz(), 1.0);
  EXPECT_EQ(D.GetModuleErrorCode(), 0);
  EXPECT_EQ(D.GetSoftwareRevision(), "YLR-SIM 1.0");
  EXPECT_EQ(D.GetOutputPower(), "Off");
  EXPECT_EQ(Actions(), (Cmds{"RET", "RCT", "RNC", "RFWS", "RMEC", "RFV", "ROP"}));
  Sim->SetErrorReply("RET", "BCMD");
  EXPECT_EQ(D.GetElapsedTime(), 0.0);
  EXPECT_EQ(LinesWith("Laser: ERR: BCMD"), 1);
}

// Replies the laser splits or joins arbitrarily, taken one read at a time.
TEST_P(YlrEndToEnd, DriverRepliesUpdateTheStateLineByLine) {
  UpAndHold();
  TIPGYLRDriver& D = *Drv();
  const std::uint32_t Polled = D.GetDeviceStatus();
  ASSERT_NE(Polled, 12U);
  D.AnalyzeResponse("STA: 12");
  EXPECT_EQ(D.GetDeviceStatus(), Polled); // not a whole line yet
  D.AnalyzeResponse("34\r");
  EXPECT_EQ(D.GetDeviceStatus(), 1234U);
  D.AnalyzeResponse("ERR: 5\rSTA: 1024\r");
  EXPECT_EQ(D.GetDeviceStatus(), 1024U);
  EXPECT_EQ(LinesWith("Laser: ERR: 5"), 1);
  EXPECT_EQ(RedLines(), 1);
  D.AnalyzeResponse("STA: abc\r");
  EXPECT_EQ(D.GetDeviceStatus(), 1024U);
  D.AnalyzeResponse("SDC: 45.0\r");
  EXPECT_EQ(D.GetDiodeCurrentEcho(), 45.0);
  D.AnalyzeResponse("RCS: 46.5\rSDC: high\r");
  EXPECT_EQ(D.GetDiodeCurrentEcho(), 46.5); // a non-number leaves it
  D.SetQCWMode(true);
  D.AnalyzeResponse("STA: 512\r"); // pulse too short counts in QCW only
  EXPECT_TRUE(D.HasAlarm());
  D.SetQCWMode(false);
  EXPECT_FALSE(D.HasAlarm());
  Hold(false);
}

// A drain listens to its end without spinning, but lets the link go at once when the port
// vanishes.
TEST_P(YlrEndToEnd, DriverDrainListensToTheEndUnlessThePortVanishes) {
  UpAndHold();
  const TDrain D = Drain(100, [this] {
    Sleep(40);
    Sim->SendRaw("STA: 3\r");
  });
  EXPECT_EQ(D.Reply, "STA: 3\r");
  EXPECT_EQ(Drv()->GetDeviceStatus(), 3U);
  EXPECT_GT(D.TookMs, 100.0);
  EXPECT_LT(D.TookMs, 180.0);
  EXPECT_LT(D.CpuMs, 20.0) << "spun while waiting";
  const TDrain Gone = Drain(500, [this] {
    Sleep(30);
    Sim->Unplug();
  });
  Hold(false);
  EXPECT_LT(Gone.TookMs, 200.0) << "held the lock to the end of its time-out";
}

TEST_P(YlrEndToEnd, DriverDebugModeLogsTraffic) {
  P.CfgIPG.YLR.DebugMode = true;
  UpAndHold();
  Drv()->SendCmd("RSN");
  Drv()->AnalyzeResponse("STA: 5\rST");
  Hold(false);
  EXPECT_GE(LinesWith("PC->Laser:RSN\r"), 1);
  EXPECT_GE(LinesWith("Response      = STA: 5#13ST"), 1);
  EXPECT_GE(LinesWith("Response Buf2 = ST"), 1);
  EXPECT_GE(LinesWith("IPG>>\"STA: 5\", param=\"5\""), 1);
  EXPECT_GE(LinesWith("IPG QCWMode=0, AlarmBits=6308000A, Status=       5, HasAlarm=0"), 1);
}

// What does not depend on the transport runs over the serial line only.
INSTANTIATE_TEST_SUITE_P(Links, YlrEndToEnd, ::testing::Values(TLink::Pty), testing::LinkName);

// A vanished port and a missing listener, a closing serial line and a closing socket.
class YlrLinkEnds : public YlrEndToEnd {};

TEST_P(YlrLinkEnds, UnreachableLaserIsReportedAsConfigured) {
  if (GetParam() == TLink::Pty) {
    Host->SerialPorts->Set(1, "/nonexistent/ttyYLR");
  }
  P.CfgIPG.YLR.ConnCheck.ConnCheckTimeStart = 0.002; // 172.8 ms
  P.CfgIPG.YLR.ConnCheck.ConnCheckTimeIntv = 0.01;   // 864 ms
  const double T0 = NowMs();
  Build(); // no simulator at all
  ASSERT_TRUE(Until([&] { return LinesOf(SLaserConnectedFail.Get()).size() == 2; }, 3000));
  const auto L = LinesOf(SLaserConnectedFail.Get());
  EXPECT_GT(L[0].TimeMs - T0, 172.0);
  EXPECT_LT(L[0].TimeMs - T0, 600.0);
  EXPECT_GT(L[1].TimeMs - L[0].TimeMs, 864.0);
  EXPECT_LT(L[1].TimeMs - L[0].TimeMs, 1300.0);
  EXPECT_EQ(L[0].MessageType, mtProminent);
  EXPECT_EQ(L[1].MessageType, mtProminent);
  Ipg->EmissionOn();
  EXPECT_FALSE(Ipg->GetIsEmissionOn());
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC");
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 0);
}

TEST_P(YlrLinkEnds, DestroyWhilePollingSendsEmissionOffFirstAndReturnsPromptly) {
  Up();
  ASSERT_TRUE(Sim->WaitForCommand("STA", 1000, 3));
  Sim->ClearCommands();
  const double T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 400.0);
  ASSERT_TRUE(Sim->WaitForCommand("EMOFF", 1000));
  EXPECT_EQ(Actions().front(), "EMOFF");
  const std::size_t N = Sim->Commands().size();
  Sleep(200);
  EXPECT_EQ(Sim->Commands().size(), N);
}

INSTANTIATE_TEST_SUITE_P(Links, YlrLinkEnds, ::testing::Values(TLink::Pty, TLink::Tcp),
                         testing::LinkName);

// Link faults that only a network has.
class YlrEndToEndTcp : public YlrEndToEnd {};

TEST_P(YlrEndToEndTcp, PulledCableIsFoundByThePingWatchdogAndRecovered) {
  Up();
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedOk.Get(), 2000));
  Sim->PullCable(6500); // outlasts the next watchdog ping
  ASSERT_TRUE(Host->App.WaitForLine("TCP Connection Closed.", 8000));
  // The line comes first, then the flag drops; the cable stays out long after.
  EXPECT_TRUE(Until([&] { return !Ipg->GetDriver()->GetConnected(); }, 1000));
  ASSERT_TRUE(Until([&] { return LinesWith(SLaserConnectedOk.Get()) == 2; }, 6000));
  Sleep(300);
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 2); // once per recovery
  EXPECT_EQ(LinesWith("TCP Connection Closed."), 1);
  EXPECT_GE(Sim->ConnectCount(), 2);
  Ipg->EmissionOn();
  EXPECT_TRUE(Until([&] { return Ipg->GetIsEmissionOn(); }));
}

TEST_P(YlrEndToEndTcp, ClosedConnectionIsReopened) {
  Up();
  Sim->DropLink(400);
  ASSERT_TRUE(Until([&] { return Sim->ConnectCount() >= 2; }, 4000));
  Sim->ClearCommands();
  ASSERT_TRUE(Sim->WaitForCommand("STA", 2000));
  EXPECT_EQ(Ipg->GetDeviceDesc(), "IPG YLR-500-AC SN: PL1234567");
}

// No connect without a ping answer; once connected a background ping every 5 s, whose
// failure drops the link.
TEST_P(YlrEndToEndTcp, DriverPingsBeforeConnectingAndAFailedPingDropsTheLink) {
  StartSim();
  Pings->Deaf = true;
  P.CfgIPG.YLR.IgnoreDiodeReply = true; // no second of retries in the constructor
  Build();
  TIPGYLRDriver& D = *Drv();
  EXPECT_EQ(D.GetMonThread()->GetThreadDelay(), 100);
  EXPECT_FALSE(D.CheckConnection());
  EXPECT_GE(Pings->Probes, 1);
  EXPECT_EQ(Sim->ConnectCount(), 0);
  Pings->AnswerAfterMs = 300; // later than the 100 ms a check waits for it: no answer
  Pings->Deaf = false;
  EXPECT_FALSE(D.CheckConnection());
  Pings->Deaf = true;
  Pings->AnswerAfterMs = 0;
  EXPECT_EQ(Sim->ConnectCount(), 0);
  D.IcmpTimeout(nullptr); // not connected: nothing to drop
  EXPECT_EQ(LinesWith("TCP Connection Closed."), 0);

  Hold(true); // this check makes the connection
  Pings->Deaf = false;
  ASSERT_TRUE(D.CheckConnection());
  const int Probes = Pings->Probes;
  Pings->AnswerAfterMs = 400; // the watchdog waits a second for its answer
  Hold(false);
  EXPECT_TRUE(D.CheckConnection());
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedOk.Get(), 2000));
  Sleep(700);
  EXPECT_EQ(Pings->Probes - Probes, 1); // the watchdog's first, then not within 5 s
  Pings->AnswerAfterMs = 0;

  D.IcmpTimeout(nullptr);
  EXPECT_FALSE(D.GetConnected());
  const auto Closed = LinesOf("TCP Connection Closed.");
  ASSERT_EQ(Closed.size(), 1U);
  EXPECT_EQ(Closed[0].MessageType, mtProminent);
  EXPECT_EQ(D.GetSerialNumber(), "PL1234567"); // reconnected
  EXPECT_EQ(LinesWith(SLaserConnectedOk.Get()), 2);
  EXPECT_EQ(Sim->ConnectCount(), 2);
}

// Where the host may not send ICMP, the ping knocks on a TCP port. A firewall in front of the
// laser that silently drops the echo port must not keep the link down: the driver has the
// knock go to the laser's own port, unless the host's configuration names another (here
// the dropped one, which proves the drop is real).
TEST_P(YlrEndToEndTcp, PingKnockGoesToTheLasersPortUnlessConfiguredOtherwise) {
  class TKnockOnly : public TCommFactory {
  public:
    explicit TKnockOnly(int Port) : FInner(nullptr, nullptr, Port), FPort(Port) {}
    std::unique_ptr<TCommCtrl> NewCommCtrl() override { return nullptr; }
    std::unique_ptr<TKdTcpClient> NewTcpClient() override { return FInner.NewTcpClient(); }
    std::unique_ptr<TIcmpClient> NewIcmpClient() override {
      return std::make_unique<hostkit::TPingClient>(
          hostkit::NewPingProber(hostkit::TPingMethod::TcpProbe), nullptr, FPort);
    }

  private:
    hostkit::TLinuxCommFactory FInner;
    int FPort;
  };
  std::unique_ptr<testing::TTcpListener> Echo;
  try {
    Echo = std::make_unique<testing::TTcpListener>(Address, 7, 0);
  } catch (const std::exception& E) {
    GTEST_SKIP() << "cannot listen on the echo port here: " << E.what();
  }
  testing::TBacklogFiller Filler;
  ASSERT_TRUE(Filler.Fill(Address, 7)); // handshakes to port 7 now go unanswered
  StartSim();
  P.CfgIPG.YLR.IgnoreDiodeReply = true; // no second of retries in the constructor
  for (const int Configured : {7, 0}) {
    Laser.reset();
    Host->Comm = std::make_unique<TKnockOnly>(Configured);
    CommFactory = Host->Comm.get();
    Build();
    EXPECT_EQ(Until([&] { return Drv()->CheckConnection(); }, 1500), Configured != 7)
        << "configured probe port " << Configured;
  }
}

INSTANTIATE_TEST_SUITE_P(Links, YlrEndToEndTcp, ::testing::Values(TLink::Tcp), testing::LinkName);

// ---- The power-on thread stopped at any step: nothing of it reaches the laser after the
// call that stopped it, and its failures leave the laser able to power on again.

// A power-on thread ran (again): only it sends "DEC".
bool PowerOnRuns(TYLRSim& S) {
  S.ClearCommands();
  return S.WaitForCommand("DEC", 2500);
}

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

class IPG500CutTest : public YlrSim, public ::testing::WithParamInterface<TYlrCut> {};

TEST_P(IPG500CutTest, NothingOfThePowerOnFollowsTheCallAndItWorksAgain) {
  const TYlrCut& C = GetParam();
  Host->IO.SetOutputsExist({1, 2, CtrlPort, PowerCtrlPort});
  Up();
  const double T0 = NowMs();
  Laser->EmissionOn(); // with a power-control output: PowerOn and its thread
  if (*C.After != '\0') {
    ASSERT_TRUE(Sim->WaitForCommand(C.After, 3000, C.Count));
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
  EXPECT_FALSE(Host->IO.GetOutput(PowerCtrlPort)) << "the power-control pulse was left high";
  while (ElapsedMs(T0) < 2700) { // past the whole power-on
    Sleep(20);
  }
  EXPECT_TRUE(testing::OutputWrites(Host->IO, {PowerCtrlPort}, TBack).empty());
  if (C.By == 'L') {
    // LaserOff sends nothing itself: after it returned the laser hears status polls only.
    for (const auto& R : Sim->Requests()) {
      EXPECT_TRUE(R.TimeMs <= TBack || sim::ToText(R.Bytes) == "STA\r") << sim::ToText(R.Bytes);
    }
    Laser->LaserOn();
  } else {
    // After the call's own EMOFF the laser hears status polls only.
    const std::vector<std::string> Cmds = Sim->Commands();
    const auto LastOff = std::find(Cmds.rbegin(), Cmds.rend(), "EMOFF");
    ASSERT_NE(LastOff, Cmds.rend());
    const std::vector<std::string> After(Cmds.rbegin(), LastOff);
    EXPECT_TRUE(std::all_of(After.begin(), After.end(), [](const auto& X) { return X == "STA"; }))
        << "sent after the call: " << ::testing::PrintToString(After);
  }
  if (C.By == 'E') { // LaserOff leaves the emission the laser reports as it is
    EXPECT_FALSE(Laser->GetIsEmissionOn());
  }
  if (C.By == 'D') {
    Build();
  }
  Laser->EmissionOn();
  EXPECT_TRUE(PowerOnRuns(*Sim));
  EXPECT_TRUE(Until([&] { return Laser->GetIsEmissionOn(); }, 2000));
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
                                           TYlrCut{"LaserOffBeforeAiming", "EMON", 2, 100, 'L'},
                                           TYlrCut{"LaserOffBeforeCurrent", "ABN", 1, 100, 'L'},
                                           TYlrCut{"DestroyBeforeCurrent", "ABN", 1, 100, 'D'}),
                         [](const auto& I) { return std::string(I.param.Name); });

// A laser that answers pings but whose port drops every handshake: each connect attempt
// runs to its time-out, under the link's lock. Tear-down must not queue up behind them.
TEST_P(YlrEndToEndTcp, DestroyIsPromptWhenTheLaserAnswersPingsButDropsHandshakes) {
  const testing::TTcpListener Port(Address, 10001, 0);
  testing::TBacklogFiller Filler;
  ASSERT_TRUE(Filler.Fill(Address, 10001));
  std::string Err;
  ASSERT_TRUE(Sim->StartTcp(Address, 10002, &Err)) << Err; // only to answer the pings
  Host->IO.SetOutputsExist({1, 2, CtrlPort, PowerCtrlPort});
  Build();
  Laser->PowerOn();
  Sleep(1300); // the power-on thread and the monitor are both trying to connect
  const double T0 = NowMs();
  Laser.reset();
  std::printf("[ measured ] IPG500 over TCP, handshakes dropped: Destroy took %.1f ms\n",
              ElapsedMs(T0));
  EXPECT_LT(ElapsedMs(T0), 100.0 + testing::KLateMs);
  EXPECT_FALSE(Host->IO.GetOutput(PowerCtrlPort));
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

TEST_F(YlrSim, APowerOnThreadThatFailsEndsItsPulseAndTheNextPowerOnRuns) {
  Host->IO.SetOutputsExist({1, 2, CtrlPort, PowerCtrlPort});
  Up();
  TFailOnceOutputs Failing(GPOutput, PowerCtrlPort, false);
  GPOutput = &Failing;
  Laser->PowerOn(); // the thread's end of the pulse fails: the thread ends there
  EXPECT_TRUE(Host->IO.WaitOutput(PowerCtrlPort, false, 2500)) << "pulse left high";
  EXPECT_TRUE(Until([&] { return !Ipg->HasPowerOnThread(); }, 500)); // ends just after the pulse
  EXPECT_EQ(Sim->CountCommand("DEC"), 0);
  GPOutput = &Host->IO.Outputs();
  Laser->PowerOn();
  EXPECT_TRUE(PowerOnRuns(*Sim));
}

TEST_F(YlrSim, APowerOnThreadThatCannotStartIsRefusedCleanly) {
#ifdef NCLASER_TEST_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than a limit can leave";
#else
  Host->IO.SetOutputsExist({1, 2, CtrlPort, PowerCtrlPort});
  Up();
  // No room for another thread's stack: starting the power-on thread fails.
  std::ifstream Statm("/proc/self/statm"); // pages of address space in use
  long Pages = 0;
  Statm >> Pages;
  rlimit Old{};
  ASSERT_EQ(::getrlimit(RLIMIT_AS, &Old), 0);
  rlimit Tight = Old;
  Tight.rlim_cur = static_cast<rlim_t>(Pages * ::sysconf(_SC_PAGESIZE) + (1 << 20));
  ASSERT_EQ(::setrlimit(RLIMIT_AS, &Tight), 0);
  bool Threw = false;
  try {
    Laser->PowerOn();
  } catch (...) {
    Threw = true;
  }
  ::setrlimit(RLIMIT_AS, &Old);
  if (!Threw && Ipg->HasPowerOnThread()) {
    GTEST_SKIP() << "the thread reused a stack an earlier test left: run this test alone";
  }
  EXPECT_FALSE(Threw);
  EXPECT_FALSE(Ipg->HasPowerOnThread());
  EXPECT_FALSE(Host->IO.GetOutput(PowerCtrlPort)) << "refused, but the pulse was left high";
  Laser->PowerOn();
  EXPECT_TRUE(PowerOnRuns(*Sim));
  const double T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 100.0 + testing::KLateMs);
#endif
}

TEST_F(YlrSim, FactoryRefusesOtherIpgTypes) {
  for (const TIPGLaserType T : {ltYLSGemNet, ltYLSGemHW, ltYLP, ltIPGErr}) {
    P.CfgIPG.IPGType = T;
    try {
      Build();
      ADD_FAILURE() << "built with type " << int(T);
    } catch (const ELaserError& E) {
      EXPECT_STREQ(E.what(), "IPG.LaserType Error Message");
    }
  }
}

} // namespace
} // namespace nclaser
