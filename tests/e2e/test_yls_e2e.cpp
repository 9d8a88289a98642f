// TIPGYLSLaser against the simulated YLS laser over loopback TCP.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/ipgyls.h"
#include "params/textbuf.h"
#include "sim/endpoint.h"
#include "sim/yls/yls_model.h"
#include "strings/messages.h"
#include "tests/support/sim_link_test.h"

namespace nclaser {
namespace {

using testing::Until;

using sim::TYLSModel;
using TYLSSim = sim::TSim<TYLSModel>;
using yls::TBytes;

std::uint16_t CodeOf(const sim::TBytes& B) {
  return static_cast<std::uint16_t>(B[0] | (B[1] << 8));
}
std::uint16_t Value16(const sim::TBytes& B, std::size_t At = 0) {
  return static_cast<std::uint16_t>(B[yls::HeaderSize + At] | (B[yls::HeaderSize + At + 1] << 8));
}

class YlsEndToEnd : public testing::SimLinkTest<TYLSSim> {
protected:
  YlsEndToEnd() : SimLinkTest(45) {}
  void SetUp() override {
    SimLinkTest::SetUp();
    Link = testing::TLink::Tcp;
    UseRig("yls");
    Sim = std::make_unique<TYLSSim>();
    P = RigParams();
    P.DefParams.Model = "YLS-2000";
    P.DefParams.PWM.DiodeCurrent = 60.0;
    Utf8ToTextBuf("YLS-2000-CT", P.CfgIPG.Model);
  }
  // The monitor's polls: status data, time counters.
  bool IsPoll(const Bytes& B) const override {
    return CodeOf(B) == yls::cmdGetLaserStatus || CodeOf(B) == yls::cmdGetTimeData;
  }

  void Build() {
    Laser = NewRigLaser(P);
    Yls = dynamic_cast<TIPGYLSLaser*>(Laser.get());
    ASSERT_NE(Yls, nullptr);
  }
  // Starts the simulator and builds the laser, then forgets the start-up traffic (which
  // ends with the pump current).
  void Up() {
    StartSim();
    Build();
    ASSERT_TRUE(WaitCode(yls::cmdSetPumpCurrent));
    Sim->ClearRequests();
  }
  // Waits until the simulator has received a request with this code.
  bool WaitCode(std::uint16_t Code, int TimeoutMs = 1000) {
    return Sim->WaitRequests(
        [Code](const std::vector<sim::TSimRequest>& R) {
          return std::any_of(R.begin(), R.end(),
                             [Code](const auto& X) { return CodeOf(X.Bytes) == Code; });
        },
        TimeoutMs);
  }

  std::vector<sim::TBytes> Actions() const { return Commands(Sim->Requests()); }
  std::vector<double> TimesOf(std::uint16_t Code) const {
    std::vector<double> T;
    for (const auto& R : Sim->Requests()) {
      if (CodeOf(R.Bytes) == Code) {
        T.push_back(R.TimeMs);
      }
    }
    return T;
  }
  template <class F> decltype(auto) Model(F&& Fn) { return Sim->With(std::forward<F>(Fn)); }
  int LinesWith(const std::string& Part) const { return Host->App.CountContaining(Part); }

  TLaserParams P{};
  TIPGYLSLaser* Yls = nullptr;
};

TEST_F(YlsEndToEnd, ConstructionSetsAccessAndControlThenThePumpCurrent) {
  StartSim();
  Build();
  ASSERT_TRUE(WaitCode(yls::cmdSetPumpCurrent));
  const auto A = Actions();
  ASSERT_GE(A.size(), 4U);
  EXPECT_EQ(CodeOf(A[0]), yls::cmdSetAccessLev);
  EXPECT_EQ(A[0].size(), 24U);
  EXPECT_EQ(CodeOf(A[1]), yls::cmdAnalogCtrl);
  EXPECT_EQ(Value16(A[1]), 0);
  EXPECT_EQ(CodeOf(A[2]), yls::cmdModulationCtrl);
  EXPECT_EQ(Value16(A[2]), 0);
  EXPECT_EQ(CodeOf(A[3]), yls::cmdSetPumpCurrent);
  EXPECT_EQ(Value16(A[3]), 6000);
  EXPECT_TRUE(Model([](TYLSModel& M) { return M.AccessGranted() && !M.AnalogCtrl(); }));
  EXPECT_EQ(Yls->GetDeviceDesc(), "IPG-YLS  SN: YLS-SIM-0042");
  EXPECT_EQ(Yls->ExecuteCmd(2101, 0), 10);
}

TEST_F(YlsEndToEnd, EmissionOnSwitchesPowerThenModulationThenEmissionThenCurrent) {
  Up();
  const double T0 = NowMs();
  Yls->EmissionOn();
  EXPECT_GT(ElapsedMs(T0), 1200.0); // power supply 1000 ms, control 100, emission 100
  // The pump current goes out twice: set, then forced through SetDiodeCustom.
  ASSERT_TRUE(Sim->WaitRequests(
      [](const auto& R) {
        return std::count_if(R.begin(), R.end(), [](const auto& X) {
                 return CodeOf(X.Bytes) == yls::cmdSetPumpCurrent;
               }) == 2;
      },
      1000));
  const auto A = Actions();
  std::vector<std::uint16_t> Codes;
  for (const auto& F : A) {
    if (Codes.empty() || Codes.back() != CodeOf(F)) {
      Codes.push_back(CodeOf(F));
    }
  }
  EXPECT_EQ(Codes, (std::vector<std::uint16_t>{yls::cmdPowerSupply, yls::cmdModulationCtrl,
                                               yls::cmdEmission, yls::cmdSetPumpCurrent}));
  EXPECT_EQ(Value16(A.front()), 1);
  const auto Emission =
      std::find_if(A.begin(), A.end(), [](const auto& F) { return CodeOf(F) == yls::cmdEmission; });
  ASSERT_NE(Emission, A.end());
  EXPECT_EQ(Value16(*Emission), 0x0155);
  EXPECT_EQ(Value16(A.back()), 6000);
  const auto Supply = TimesOf(yls::cmdPowerSupply);
  const auto Modulation = TimesOf(yls::cmdModulationCtrl);
  ASSERT_EQ(Supply.size(), 1U);
  ASSERT_FALSE(Modulation.empty());
  EXPECT_GE(Modulation.front() - Supply.front(), 990.0);
  EXPECT_TRUE(Model([](TYLSModel& M) { return M.Emission() && M.PumpCurrent() == 6000; }));
  EXPECT_TRUE(Until([&] { return Yls->GetIsEmissionOn(); }));
  EXPECT_DOUBLE_EQ(Yls->GetDiodeCurrent(), 60.0);

  Sim->ClearRequests();
  Yls->EmissionOff();
  ASSERT_TRUE(WaitCode(yls::cmdEmission));
  const auto Off = Actions();
  ASSERT_EQ(Off.size(), 1U);
  EXPECT_EQ(CodeOf(Off[0]), yls::cmdEmission);
  EXPECT_EQ(Value16(Off[0]), 0);
  EXPECT_TRUE(Until([&] { return !Yls->GetIsEmissionOn(); }));
}

TEST_F(YlsEndToEnd, HostOperationsBecomeTheirCommands) {
  constexpr int PowerCtrlPort = 9;
  P.CfgIPG.PowerCtrlPort = PowerCtrlPort;
  Up();
  struct TRow {
    const char* Name;
    std::function<void()> Call;
    TBytes Data; // of the one frame expected
    std::uint16_t Code;
  };
  TVariant V;
  const TRow Rows[] = {
      {"aiming on", [&] { Yls->SetAimingOn(true); }, yls::StructureA(0, 1), yls::cmdGuideLaser},
      {"aiming off", [&] { Yls->SetAimingOn(false); }, yls::StructureA(0, 0), yls::cmdGuideLaser},
      {"reset errors", [&] { Yls->ExecCmd("rESETeRRORS", V); }, {}, yls::cmdResetNoCritError},
  };
  for (const TRow& R : Rows) {
    Sim->ClearRequests();
    R.Call();
    ASSERT_TRUE(WaitCode(R.Code)) << R.Name;
    const auto A = Actions();
    ASSERT_EQ(A.size(), 1U) << R.Name;
    EXPECT_EQ(A[0], yls::BuildRequest(yls::TCrc16(), R.Code, R.Data)) << R.Name;
  }
  Yls->SetAimingOn(true);
  EXPECT_TRUE(Until([&] { return Yls->GetIsAimingOn(); }));

  // Power on: a 300 ms pulse on the power-control output while the link is up.
  Host->IO.ClearTimeline();
  Yls->PowerOn();
  std::vector<double> Edges;
  for (const auto& E : Host->IO.Timeline()) {
    if (E.Kind == hostkit::TIoKind::Output && E.Port == PowerCtrlPort && E.Changed) {
      Edges.push_back(E.TimeMs);
    }
  }
  ASSERT_EQ(Edges.size(), 2U);
  EXPECT_GE(Edges[1] - Edges[0], 299.0);
  EXPECT_LT(Edges[1] - Edges[0], 400.0);

  // Without the link: the analog path, and nothing on the wire.
  Sim->Stop();
  ASSERT_TRUE(Until([&] { return !Yls->GetDriver()->GetConnected(); }, 3000));
  EXPECT_FALSE(Yls->SetDiodeCustom(50));
}

TEST_F(YlsEndToEnd, RobotModeRefusesEmission) {
  Up();
  Model([](TYLSModel& M) { M.SetRobotMode(true); });
  ASSERT_TRUE(Until([&] { return Yls->GetDriver()->GetStatusBit(32); }));
  Yls->EmissionOn();
  EXPECT_TRUE(Host->App.WaitForLine(SYLSLaserInRobotMode.Get(), 100));
  for (const auto& F : Actions()) {
    EXPECT_NE(CodeOf(F), yls::cmdEmission);
  }
  EXPECT_TRUE(Yls->GetEmissionOnFlag());
}

// Where a call cuts the emission sequence short: after which request of it reached the
// laser, and how much later. The sequence: power supply, 1000 ms; modulation control,
// 100 ms; emission, 100 ms (its last pause); the pump current.
struct TYlsCut {
  const char* Name;
  std::uint16_t After;
  int ThenMs;
  char By; // 'E' EmissionOff, 'L' LaserOff, 'D' Destroy
};
void PrintTo(const TYlsCut& C, std::ostream* Os) {
  *Os << C.Name;
}

class YlsCutTest : public YlsEndToEnd, public ::testing::WithParamInterface<TYlsCut> {};

TEST_P(YlsCutTest, NothingOfTheSequenceFollowsTheCallAndEmissionWorksAgain) {
  const TYlsCut& C = GetParam();
  Up();
  std::thread On([&] { Yls->EmissionOn(); });
  EXPECT_TRUE(WaitCode(C.After, 2000));
  Sleep(C.ThenMs);
  const double TCall = NowMs();
  C.By == 'D' ? Laser.reset() : C.By == 'L' ? Yls->LaserOff() : Yls->EmissionOff();
  const double TBack = NowMs();
  On.join();
  EXPECT_LT(TBack - TCall, 300.0); // its own emission-off exchange
  Sleep(400);
  for (const auto& R : CommandRequests(Sim->Requests())) { // the polls go on, nothing else
    const bool Off = CodeOf(R.Bytes) == yls::cmdEmission && Value16(R.Bytes) == 0;
    EXPECT_TRUE(R.TimeMs < TBack || Off) << sim::HexText(R.Bytes) << " " << R.TimeMs - TBack;
  }
  EXPECT_FALSE(Model([](TYLSModel& M) { return M.Emission(); }));
  if (C.By == 'D') {
    Build();
  }
  EXPECT_FALSE(Yls->GetIsEmissionOn());
  Yls->EmissionOn();
  EXPECT_TRUE(Until([&] { return Yls->GetIsEmissionOn(); }, 2000));
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, YlsCutTest,
    ::testing::Values(TYlsCut{"InPowerSupplyPause", yls::cmdPowerSupply, 300, 'E'},
                      TYlsCut{"InControlPause", yls::cmdModulationCtrl, 30, 'E'},
                      TYlsCut{"InEmissionPause", yls::cmdEmission, 30, 'E'},
                      TYlsCut{"LaserOffInPowerSupplyPause", yls::cmdPowerSupply, 300, 'L'},
                      TYlsCut{"DestroyInControlPause", yls::cmdModulationCtrl, 30, 'D'},
                      TYlsCut{"DestroyInEmissionPause", yls::cmdEmission, 30, 'D'}),
    [](const auto& I) { return std::string(I.param.Name); });

TEST_F(YlsEndToEnd, PollsTimeCountersAfterTheStatusAndItsPause) {
  Up();
  Sleep(1600);
  const auto Status = TimesOf(yls::cmdGetLaserStatus);
  const auto Time = TimesOf(yls::cmdGetTimeData);
  ASSERT_GE(Status.size(), 5U);
  ASSERT_GE(Time.size(), 4U);
  // Each time-counter request follows its status request after the 100 ms pause.
  for (const double T : Time) {
    const auto Before = std::upper_bound(Status.begin(), Status.end(), T);
    if (Before == Status.begin()) {
      continue; // its status request came before the record was cleared
    }
    EXPECT_GE(T - *std::prev(Before), 99.0);
  }
  EXPECT_GT(Yls->GetDriver()->GetWorkTimeToday() + Yls->GetDriver()->GetTimeData().WorkTime, 0U);
}

TEST_F(YlsEndToEnd, AlarmBitBecomesTheLaserAlarmWithItsTextAndClears) {
  Up();
  Model([](TYLSModel& M) { M.SetAlarmWord(yls::lsAlarms1, 0x2); });
  ASSERT_TRUE(Until([&] { return Yls->GetDriver()->HasAlarm(); }));
  Yls->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 1U);
  EXPECT_EQ(Yls->GetAlarmDesc(), "YLS-2000Laser: Overheating of the laser(2_1)");
  Model([](TYLSModel& M) { M.SetAlarmWord(yls::lsAlarms1, 0); });
  ASSERT_TRUE(Until([&] { return !Yls->GetDriver()->HasAlarm(); }));
  Yls->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  EXPECT_EQ(Yls->GetAlarmDesc(), "YLS-2000");
}

TEST_F(YlsEndToEnd, AccessLevelAskedByTheLaserIsSentAgain) {
  Up();
  Model([](TYLSModel& M) { M.RequireAccessLevel(); });
  ASSERT_TRUE(Until([&] { return Model([](TYLSModel& M) { return M.AccessGranted(); }); }));
  const auto A = Actions();
  ASSERT_FALSE(A.empty());
  EXPECT_EQ(CodeOf(A.back()), yls::cmdSetAccessLev);
  EXPECT_EQ(A.back(),
            yls::BuildRequest(yls::TCrc16(), yls::cmdSetAccessLev, yls::AccessLevelData()));
}

TEST_F(YlsEndToEnd, WrongCrcAndShortRecordsChangeNothing) {
  P.CfgIPG.YLS.DebugMode = true; // a rejected answer is logged
  Up();
  ASSERT_TRUE(Until([&] { return Yls->GetDriver()->GetStatusBit(11) == false; }));
  Model([](TYLSModel& M) {
    M.SetStatusSize(170);
    M.SetAlarmWord(yls::lsAlarms1, 0x2);
  });
  Sleep(500);
  EXPECT_FALSE(Yls->GetDriver()->HasAlarm());
  Model([](TYLSModel& M) {
    M.SetStatusSize(176);
    M.CorruptCrc(1000);
  });
  Sleep(500);
  EXPECT_FALSE(Yls->GetDriver()->HasAlarm());
  EXPECT_GT(LinesWith("AnalyzeResponse CRC Error"), 0);
  Model([](TYLSModel& M) {
    M.CorruptCrc(0);
    M.SetIDSize(99);
  });
  EXPECT_TRUE(Until([&] { return Yls->GetDriver()->HasAlarm(); }));
  EXPECT_EQ(Yls->GetDeviceDesc(), "IPG YLS-2000-CT");
}

TEST_F(YlsEndToEnd, SplitAndJoinedAnswersAreDecodedOnceEach) {
  P.CfgIPG.YLS.DebugMode = true; // every answer is read, and its size logged
  StartSim();
  for (const bool Join : {false, true}) {
    if (Join) {
      Sim->SetSplit(0, 0);
      Sim->SetJoin(true);
    } else {
      Sim->SetSplit(70, 4); // a 194-byte status answer in three reads
    }
    Build();
    Sleep(1200);
    Sim->SetSilent(true);
    // One answer may be in flight, and with join one more is held back for good.
    const int Answered = static_cast<int>(TimesOf(yls::cmdGetLaserStatus).size());
    Sleep(300);
    const int Decoded = LinesWith("Datasize OK!");
    EXPECT_LE(Decoded, Answered) << "join " << Join;
    EXPECT_GE(Decoded, Answered - 2) << "join " << Join;
    EXPECT_GE(Decoded, 4) << "join " << Join;
    EXPECT_EQ(LinesWith("Datasize Error"), 0);
    EXPECT_EQ(LinesWith("CRC Error"), 0);
    EXPECT_EQ(Yls->GetDriver()->GetSkippedBytes(), 0U);
    Laser.reset();
    Sim->SetSilent(false);
    Sim->SetJoin(false);
    Sim->ClearRequests();
    Host->App.ClearLines();
  }
}

TEST_F(YlsEndToEnd, DroppedLinkIsReportedAndComesBack) {
  Up();
  Sleep(900); // past the start-up wait of the first report
  const int Connects = Sim->ConnectCount();
  Sim->DropLink(1200);
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedFail.Get(), 2000));
  EXPECT_TRUE(Until([&] { return !Yls->GetDriver()->GetConnected(); }, 500));
  const auto Shown = Host->App.Lines();
  EXPECT_TRUE(std::any_of(Shown.begin(), Shown.end(), [](const auto& L) {
    return L.Text == SLaserConnectedFail.Get() && L.MessageType == mtProminent;
  }));
  ASSERT_TRUE(Until([&] { return Sim->ConnectCount() > Connects; }, 3000));
  Sim->ClearRequests();
  EXPECT_TRUE(Until([&] { return TimesOf(yls::cmdGetLaserStatus).size() >= 2; }));
  EXPECT_TRUE(Yls->GetDriver()->GetConnected());
  EXPECT_EQ(LinesWith(SLaserConnectedFail.Get()), 1);
}

// The monitor's link checks (a 100 ms ping each while the laser is unreachable) hold no
// lock a host call needs.
TEST_F(YlsEndToEnd, HostCallsDoNotWaitForTheLinkChecksOfAnUnreachableLaser) {
  Up();
  Sim->DropLink(0);
  ASSERT_TRUE(Until([&] { return !Yls->GetDriver()->GetConnected(); }, 3000));
  Sim->PullCable(0);
  Sleep(300);
  const double T0 = NowMs();
  for (int I = 0; I < 10; ++I) {
    Yls->EmissionOff();
    Yls->SetAimingOn(false);
  }
  EXPECT_LT(ElapsedMs(T0), 60.0); // holding the lock through the pings costs about 200 ms
}

TEST_F(YlsEndToEnd, DestroySendsOnlyEmissionOffAndReturnsPromptly) {
  Up();
  Sleep(300);
  Sim->ClearRequests();
  double T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 400.0);
  ASSERT_TRUE(WaitCode(yls::cmdEmission));
  const auto A = Actions();
  ASSERT_EQ(A.size(), 1U);
  EXPECT_EQ(CodeOf(A[0]), yls::cmdEmission);
  EXPECT_EQ(Value16(A[0]), 0);
  const std::size_t N = Sim->Requests().size();
  Sleep(300);
  EXPECT_EQ(Sim->Requests().size(), N);

  // With the laser gone: within the ping and connect time-outs and 0.2 s.
  Build();
  Sleep(300);
  Sim->PullCable(0);
  T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 1300.0);
  Sim->RestoreLink();
  Build();
  Sim->Stop();
  Sleep(300);
  T0 = NowMs();
  Laser.reset();
  EXPECT_LT(ElapsedMs(T0), 1300.0);
}

TEST_F(YlsEndToEnd, RefusesNonNetworkedTypes) {
  for (const TIPGLaserType T : {ltYLSGemHW, ltYLSAmHW, ltYLRNet, ltYLP}) {
    P.CfgIPG.IPGType = T;
    try {
      NewRigLaser(P);
      ADD_FAILURE() << "built with type " << static_cast<int>(T);
    } catch (const std::exception& E) {
      EXPECT_STREQ(E.what(), "CfgIPG.IPGType Error Message");
    }
  }
}

} // namespace
} // namespace nclaser
