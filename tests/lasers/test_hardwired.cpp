#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <ostream>
#include <thread>

#include "lasers/hardwired.h"
#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

using hostkit::TIoKind;
using testing::As;
using testing::Events;
using testing::FirstAt;
using testing::IoParams;
using testing::Names;
using testing::OutputWrites;
using Strs = std::vector<std::string>;

constexpr int KCtrl = 3;
constexpr int KReady = 20;
constexpr int KMains = 30;
constexpr int KReset = 31;
constexpr int KStandby = 32;
constexpr int KGate = 33;
constexpr int KWarning = 40;
constexpr int KError = 41;

TLaserParams DefaultParams(int ReadyDelay = 500) {
  TLaserParams P = IoParams(CfgOther);
  P.DefParams.CtrlPort = KCtrl;
  P.CfgOther = {.ShutterReadyDelay = ReadyDelay, .ShutterReady = KReady};
  return P;
}

// Mains at 0, reset pulse 200 to 300, standby at 400, complete at 550.
TLaserParams RofinParams() {
  TLaserParams P = IoParams(eltRofin);
  P.CfgRofin = {.FaultReset = KReset,
                .GatePort = KGate,
                .MainsOn = KMains,
                .StandbyOn = KStandby,
                .DelayAfterMainsOn = 200,
                .DelayAfterReset = 100,
                .DelayAfterResetOff = 5000, // not used by this laser
                .DelayAfterStandby = 150,
                .Warning = KWarning,
                .Error = KError};
  return P;
}

// ---- TDefaultLaser ----

using DefaultLaserTest = testing::HostTest;

TEST_F(DefaultLaserTest, PowerOnRaisesReadyAtOnceAndCtrlAfterTheDelay) {
  auto L = NewLaser<TDefaultLaser>(nullptr, DefaultParams(500));
  const double T0 = NowMs();
  L->EmissionOn();
  EXPECT_LT(ElapsedMs(T0), testing::KAtOnceMs) << "EmissionOn waited for the sequence";
  EXPECT_FALSE(L->GetIsEmissionOn());
  ASSERT_TRUE(Host->IO.WaitOutput(KCtrl, true, 2000));
  const auto W = OutputWrites(Host->IO, {KCtrl, KReady}, T0);
  EXPECT_EQ(Names(W), (Strs{"out20=1", "out3=1"}));
  EXPECT_AT(FirstAt(Host->IO, "out20=1", T0), 0.0);
  EXPECT_AT(FirstAt(Host->IO, "out3=1", T0), 500.0);
  EXPECT_TRUE(L->GetIsEmissionOn());
  EXPECT_EQ(Host->App.ThreadNames(), Strs{"NCIOThread"});

  L->EmissionOff();
  EXPECT_FALSE(Host->IO.GetOutput(KCtrl));
  EXPECT_FALSE(Host->IO.GetOutput(KReady));
  EXPECT_FALSE(L->GetIsEmissionOn());
}

TEST_F(DefaultLaserTest, OneSequenceAtATimeAcrossInstances) {
  auto A = NewLaser<TDefaultLaser>(nullptr, DefaultParams(400));
  TLaserParams PB = DefaultParams(0);
  PB.DefParams.CtrlPort = 5;
  PB.CfgOther.ShutterReady = 6;
  auto B = NewLaser<TDefaultLaser>(nullptr, PB);
  A->EmissionOn();
  ASSERT_TRUE(Host->IO.WaitOutput(KReady, true, 1000));
  const double T0 = NowMs();
  B->EmissionOn();
  const double Waited = ElapsedMs(T0);
  EXPECT_WAITED(Waited, 100.0);
  Sleep(50);
  EXPECT_TRUE(OutputWrites(Host->IO, {5, 6}, 0).empty()) << "the second sequence ran";

  // Once A's sequence has ended, B powers on.
  ASSERT_TRUE(Host->IO.WaitOutput(KCtrl, true, 1000));
  Sleep(20);
  B->EmissionOn();
  EXPECT_TRUE(Host->IO.WaitOutput(5, true, 1000));
  EXPECT_EQ(Names(OutputWrites(Host->IO, {5, 6}, 0)), (Strs{"out6=1", "out5=1"}));
}

TEST_F(DefaultLaserTest, EmissionOffTakesTheCompletionSignal) {
  auto L = NewLaser<TDefaultLaser>(nullptr, DefaultParams(0));
  L->EmissionOn();
  ASSERT_TRUE(Host->IO.WaitOutput(KCtrl, true, 1000));
  Sleep(20);
  const THandle Probe = CreateSemaphoreW(0, 1, "Default_Laser_Power_On_Semaphore");
  EXPECT_EQ(Host->Semaphores.GetCount(Probe), 1);
  CloseHandle(Probe);
  double T0 = NowMs();
  L->EmissionOff();
  EXPECT_LT(ElapsedMs(T0), testing::KAtOnceMs) << "the signal was there to take";
  // It was taken: without a signal the wait gives up after about 100 ms.
  T0 = NowMs();
  L->EmissionOff();
  EXPECT_WAITED(ElapsedMs(T0), 100.0);
}

TEST_F(DefaultLaserTest, OffWritesOnlyOutputsThatExistWhileTheSequenceWritesAnyway) {
  Host->IO.SetOutputsExist({});
  auto L = NewLaser<TDefaultLaser>(nullptr, DefaultParams(0));
  const double T0 = NowMs();
  L->EmissionOn();
  ASSERT_TRUE(Host->IO.WaitOutput(KCtrl, true, 1000));
  const double TOff = NowMs();
  L->EmissionOff();
  EXPECT_EQ(Names(OutputWrites(Host->IO, {KCtrl, KReady}, T0)), (Strs{"out20=1", "out3=1"}));
  EXPECT_TRUE(OutputWrites(Host->IO, {KCtrl, KReady}, TOff).empty());
}

TEST_F(DefaultLaserTest, DestroyWhileAnotherLaserWaitsForTheLock) {
  // B waits for A's sequence and gives up; A is destroyed meanwhile; nothing is left.
  const size_t Before = Host->Semaphores.OpenHandles();
  {
    auto A = NewLaser<TDefaultLaser>(nullptr, DefaultParams(200));
    auto B = NewLaser<TDefaultLaser>(nullptr, DefaultParams(0));
    A->EmissionOn();
    std::thread T([&] { B->EmissionOn(); });
    A.reset();
    T.join();
  }
  Sleep(50);
  EXPECT_EQ(Host->Semaphores.OpenHandles(), Before);
}

// ---- TRofinLaser ----

using RofinLaserTest = testing::HostTest;
TEST_F(RofinLaserTest, PowerOnSequenceAndItsCompletion) {
  auto L = NewLaser<TRofinLaser>(nullptr, RofinParams());
  const double T0 = NowMs();
  L->EmissionOn();
  EXPECT_LT(ElapsedMs(T0), testing::KAtOnceMs);
  ASSERT_TRUE(Host->IO.WaitOutput(KStandby, true, 2000));
  EXPECT_FALSE(L->GetIsEmissionOn()) << "on before the last delay ran";
  const auto W = OutputWrites(Host->IO, {KMains, KReset, KStandby}, T0);
  ASSERT_EQ(Names(W), (Strs{"out30=1", "out31=1", "out31=0", "out32=1"}));
  for (size_t I = 0; I < W.size(); ++I) {
    EXPECT_AT(std::optional<double>(W[I].AtMs), (std::array{0.0, 200.0, 300.0, 400.0})[I]);
  }

  while (!L->GetIsEmissionOn() && ElapsedMs(T0) < 2000) {
    Sleep(2);
  }
  EXPECT_AT(std::optional<double>(ElapsedMs(T0)), 550.0);
  EXPECT_TRUE(L->GetIsEmissionOn()) << "reading consumed it";
  const double TOff = NowMs();
  L->EmissionOff();
  EXPECT_LT(ElapsedMs(TOff), testing::KAtOnceMs);
  EXPECT_FALSE(L->GetIsEmissionOn());
  EXPECT_EQ(Names(OutputWrites(Host->IO, {KMains, KReset, KStandby}, TOff)),
            (Strs{"out32=0", "out30=0"}));
}

// A second Rofin power-on meanwhile waits for the lock and gives up; a default laser's
// sequence has a lock of its own.
TEST_F(RofinLaserTest, SecondPowerOnMeanwhileDoesNothing) {
  auto A = NewLaser<TRofinLaser>(nullptr, RofinParams());
  auto B = NewLaser<TRofinLaser>(nullptr, RofinParams());
  auto D = NewLaser<TDefaultLaser>(nullptr, DefaultParams(0));
  A->EmissionOn();
  ASSERT_TRUE(Host->IO.WaitOutput(KMains, true, 1000));
  double T0 = NowMs();
  D->EmissionOn();
  EXPECT_LT(ElapsedMs(T0), testing::KAtOnceMs);
  EXPECT_TRUE(Host->IO.WaitOutput(KCtrl, true, 1000));
  T0 = NowMs();
  B->EmissionOn();
  EXPECT_WAITED(ElapsedMs(T0), 100.0);
  while (!A->GetIsEmissionOn() && ElapsedMs(T0) < 2000) {
    Sleep(2);
  }
  // One sequence: each output was raised once.
  EXPECT_EQ(Names(OutputWrites(Host->IO, {KMains, KReset, KStandby}, 0)),
            (Strs{"out30=1", "out31=1", "out31=0", "out32=1"}));
  // The completion is shared by every Rofin laser.
  EXPECT_TRUE(B->GetIsEmissionOn());
}

TEST_F(RofinLaserTest, AlarmInputsDropStandbyAndItReturnsWhenTheyClear) {
  auto L = NewLaser<TRofinLaser>(nullptr, RofinParams());
  L->RegisterAlarms();
  const int ID = L->GetAlarmID();
  L->UpdateAlarms();
  EXPECT_FALSE(Host->Alarms.IsActive(ID));
  L->EmissionOn();
  while (!L->GetIsEmissionOn()) {
    Sleep(2);
  }
  for (const int Input : {KError, KWarning}) {
    Host->IO.SetInput(Input, true);
    L->UpdateAlarms();
    EXPECT_TRUE(Host->Alarms.IsActive(ID)) << Input;
    EXPECT_TRUE(As<TRofinLaser>(L).GetHasAlarm());
    EXPECT_FALSE(Host->IO.GetOutput(KStandby));
    Host->IO.SetInput(Input, false);
    L->UpdateAlarms();
    EXPECT_FALSE(Host->Alarms.IsActive(ID));
    EXPECT_TRUE(Host->IO.GetOutput(KStandby));
    EXPECT_TRUE(L->GetIsEmissionOn());
  }

  // After a stop -- EmissionOff, or LaserOff once the sequence has completed -- standby
  // stays off when the fault clears.
  for (const bool ViaLaserOff : {false, true}) {
    if (ViaLaserOff) {
      L->EmissionOn();
      while (!L->GetIsEmissionOn()) {
        Sleep(2);
      }
    }
    ViaLaserOff ? L->LaserOff() : L->EmissionOff();
    Host->IO.SetInput(KError, true);
    L->UpdateAlarms();
    Host->IO.SetInput(KError, false);
    const double T0 = NowMs();
    L->UpdateAlarms();
    EXPECT_TRUE(OutputWrites(Host->IO, {KStandby}, T0).empty()) << ViaLaserOff;
    EXPECT_FALSE(Host->Alarms.IsActive(ID));
  }
  EXPECT_EQ(Host->Alarms.CreatedCount(), 4);
}

// The host polls alarms and reads the emission state on one thread while another toggles
// emission: the toggle must find emission on (not start the sequence again), and standby
// must stay off once EmissionOff has returned.
TEST_F(RofinLaserTest, RacingPollsNeitherRestartTheSequenceNorRaiseStandbyAfterEmissionOff) {
  TLaserParams P = RofinParams();
  P.CfgRofin.DelayAfterMainsOn = P.CfgRofin.DelayAfterReset = P.CfgRofin.DelayAfterStandby = 0;
  auto L = NewLaser<TRofinLaser>(nullptr, P);
  std::atomic<bool> Stop{false};
  std::thread Poller([&] {
    while (!Stop) {
      L->UpdateAlarms();
      L->GetIsEmissionOn();
    }
  });
  int Restarted = 0;
  int StandbyBack = 0;
  for (int I = 0; I < 300; ++I) {
    L->EmissionOn();
    const double T0 = NowMs();
    while (!L->GetIsEmissionOn() && ElapsedMs(T0) < 1000) {
      Sleep(0);
    }
    L->ExecuteCmd(6, 0.0); // the toggle, with emission on: off
    Sleep(1);
    const bool Mains = Host->IO.GetOutput(KMains);
    const bool Standby = Host->IO.GetOutput(KStandby);
    Restarted += Mains ? 1 : 0;
    StandbyBack += Standby ? 1 : 0;
    if (Mains || Standby) {
      L->EmissionOff(); // start the next round from off
    }
  }
  Stop = true;
  Poller.join();
  EXPECT_EQ(Restarted, 0);
  EXPECT_EQ(StandbyBack, 0);
}

// ---- cutting a power-on sequence short ----

// Where a call cuts a power-on sequence short: after which output event (empty: at once)
// and how much later.
struct TCut {
  const char* Name;
  bool Rofin; // else the default laser with a 300 ms ready delay
  const char* After;
  int ThenMs;
  char By; // 'E' EmissionOff, 'L' LaserOff, 'D' Destroy
};
void PrintTo(const TCut& C, std::ostream* Os) {
  *Os << C.Name;
}

class SequenceCutTest : public testing::HostTest, public ::testing::WithParamInterface<TCut> {
protected:
  TNcLaserPtr Make() const {
    return GetParam().Rofin ? NewLaser<TRofinLaser>(nullptr, RofinParams())
                            : NewLaser<TDefaultLaser>(nullptr, DefaultParams(300));
  }
};

TEST_P(SequenceCutTest, NothingOfTheSequenceFollowsTheCallAndThePowerOnWorksAgain) {
  const TCut& C = GetParam();
  const std::set<int> Ports =
      C.Rofin ? std::set<int>{KMains, KReset, KStandby} : std::set<int>{KReady, KCtrl};
  const int Last = C.Rofin ? KStandby : KCtrl; // the last output raised, and when
  const double LastAt = C.Rofin ? 400.0 : 300.0;
  const size_t Handles = Host->Semaphores.OpenHandles();
  auto L = Make();
  const double T0 = NowMs();
  L->EmissionOn();
  while (*C.After != '\0' && !FirstAt(Host->IO, C.After, T0) && ElapsedMs(T0) < 2000) {
    Sleep(1);
  }
  Sleep(C.ThenMs);
  const double TCall = NowMs();
  switch (C.By) {
  case 'D':
    L.reset();
    break;
  case 'L':
    L->LaserOff();
    break;
  default:
    L->EmissionOff();
  }
  const double TBack = NowMs();
  std::printf("[ measured ] %s: the call took %.1f ms\n", C.Name, TBack - TCall);
  // The completion wait of EmissionOff is all it may take.
  EXPECT_LT(TBack - TCall, 100.0 + testing::KLateMs);
  for (int I = 0; I < 14; ++I) { // the host polls the alarms meanwhile
    if (L) {
      L->UpdateAlarms();
    }
    Sleep(50);
  }
  EXPECT_TRUE(OutputWrites(Host->IO, Ports, TBack).empty());
  for (const int Port : Ports) { // LaserOff leaves what was raised, but ends a pulse
    EXPECT_FALSE(Host->IO.GetOutput(Port) && (C.By != 'L' || Port == KReset))
        << "out" << Port << " left high";
  }
  if (C.By == 'D') {
    EXPECT_EQ(Host->Semaphores.OpenHandles(), Handles);
    L = Make();
  }
  EXPECT_FALSE(L->GetIsEmissionOn());
  // The lock came back: the next power-on runs in full.
  const double T1 = NowMs();
  L->EmissionOn();
  const std::string Up = "out" + std::to_string(Last) + "=1"; // high already after a LaserOff
  ASSERT_TRUE(testing::Until([&] { return FirstAt(Host->IO, Up, T1).has_value(); }, 2000));
  EXPECT_AT(FirstAt(Host->IO, Up, T1), LastAt);
  EXPECT_FALSE(Host->IO.GetOutput(KReset));
  EXPECT_TRUE(testing::Until([&] { return L->GetIsEmissionOn(); }, 1000));
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, SequenceCutTest,
    ::testing::Values(TCut{"RofinAtOnce", true, "", 0, 'E'},
                      TCut{"RofinInMainsDelay", true, "out30=1", 100, 'E'},
                      TCut{"RofinInResetPulse", true, "out31=1", 0, 'E'},
                      TCut{"RofinAfterResetPulse", true, "out31=0", 0, 'E'},
                      TCut{"RofinInStandbyDelay", true, "out32=1", 0, 'E'},
                      TCut{"RofinCompleted", true, "out32=1", 300, 'E'},
                      TCut{"RofinDestroyInResetPulse", true, "out31=1", 0, 'D'},
                      TCut{"RofinDestroyInStandbyDelay", true, "out32=1", 0, 'D'},
                      TCut{"RofinLaserOffInMainsDelay", true, "out30=1", 100, 'L'},
                      TCut{"RofinLaserOffInStandbyDelay", true, "out32=1", 0, 'L'},
                      TCut{"DefaultInDelay", false, "out20=1", 50, 'E'},
                      TCut{"DefaultDestroyInDelay", false, "out20=1", 0, 'D'},
                      TCut{"DefaultLaserOffInDelay", false, "out20=1", 50, 'L'}),
    [](const auto& I) { return std::string(I.param.Name); });

// ---- the lasers that switch outputs directly ----

// Each step's outputs and the laser's state afterwards, as "Op[writes]EL" with E the
// emission and L the laser state: "L1" LaserOn, "L0" LaserOff, "E1" EmissionOn, "E0"
// EmissionOff. Run once with every output present and once with none.
struct TSwitchRow {
  const char* Name;
  TNcLaserClass Make;
  const char* Ops;
  const char* Trace;
  const char* TraceWithoutOutputs;
};

class SwitchingLaserTest : public testing::HostTest {
protected:
  std::string Run(const TSwitchRow& R) {
    TLaserParams P = RofinParams();
    P.DefParams.CtrlPort = KCtrl;
    auto L = R.Make(nullptr, P);
    std::string Out;
    for (const char* Op = R.Ops; *Op != '\0'; Op += 2) {
      const double T0 = NowMs();
      const bool On = Op[1] == '1';
      if (Op[0] == 'L') {
        On ? L->LaserOn() : L->LaserOff();
      } else {
        On ? L->EmissionOn() : L->EmissionOff();
      }
      Out += (Out.empty() ? "" : " ") + std::string(Op, 2) + "[";
      for (const auto& W : OutputWrites(Host->IO, {KCtrl, KMains, KStandby, KGate}, T0)) {
        Out += W.What + ";";
      }
      Out +=
          "]" + std::to_string(int{L->GetIsEmissionOn()}) + std::to_string(int{L->GetIsLaserOn()});
    }
    return Out;
  }
};

TEST_F(SwitchingLaserTest, OutputsAndStatePerStep) {
  const TSwitchRow Rows[] = {
      {"Max", &NewLaser<TMaxLaser>, "L1E1E0", "L1[]01 E1[out3=1;]11 E0[out3=0;]01",
       "L1[]01 E1[]01 E0[]01"},
      {"LPING", &NewLaser<TLPINGLaser>, "E1L1L0", "E1[]00 L1[out3=1;]01 L0[out3=0;]00",
       "E1[]00 L1[]01 L0[]00"},
      {"OpticalValley", &NewLaser<TOpticalValleyLaser>, "L1E1E0L0",
       "L1[out3=1;]01 E1[out3=1;]01 E0[out3=0;]01 L0[out3=0;]00", "L1[]01 E1[]01 E0[]01 L0[]00"},
      // Meiman and Rofin write their outputs without asking whether they exist.
      {"Meiman", &NewLaser<TMeimanLaser>, "L1L0", "L1[out3=1;]11 L0[out3=0;]00",
       "L1[out3=1;]11 L0[out3=0;]00"},
      {"Rofin", &NewLaser<TRofinLaser>, "L1L0E0",
       "L1[out33=1;]01 L0[out33=0;]00 E0[out32=0;out30=0;]00",
       "L1[out33=1;]01 L0[out33=0;]00 E0[out32=0;out30=0;]00"},
  };
  for (const auto& R : Rows) {
    Host->IO.SetAllPortsExist();
    EXPECT_EQ(Run(R), R.Trace) << R.Name;
    Host->IO.SetOutputsExist({});
    EXPECT_EQ(Run(R), R.TraceWithoutOutputs) << R.Name << " without outputs";
  }
}

// ---- TMeimanLaser ----

TLaserParams MeimanParams() {
  TLaserParams P = IoParams(eltMeiMan);
  P.DefParams.CtrlPort = KCtrl;
  P.DefParams.DA.DAPort = 1;
  P.DefParams.PWM.Ratio = 0.5;
  P.CfgMeiMan = {.FreqDAPort = 6, .RatioDAPort = 7};
  return P;
}

using MeimanLaserTest = testing::HostTest;

TEST_F(MeimanLaserTest, FrequencyAndRatioGoOutAsVoltagesAndTheDiodeCurrentNever) {
  auto L = NewLaser<TMeimanLaser>(nullptr, MeimanParams());
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(7), 5.0); // the configured ratio at construction
  const double T0 = NowMs();
  L->SetPwmFreq(5000);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(6), 5.0);
  EXPECT_TRUE(Events(Host->IO, TIoKind::PwmFreq, T0).empty());
  EXPECT_EQ(L->GetPwmFreq(), 5000);
  L->ExecuteCmd(11, 0.35);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(7), 3.5);
  EXPECT_DOUBLE_EQ(Host->Pwm->GetRatio(1), 0.35); // the base setter still runs
  EXPECT_DOUBLE_EQ(L->GetPwmRatio(), 0.35);
  // The ratio steps start from the ratio last written.
  L->ExecuteCmd(13, 0.1);
  EXPECT_NEAR(Host->IO.GetDA(7), 4.5, 1e-9);

  const double T1 = NowMs();
  L->SetDiodeCurrent(50);
  L->EmissionOn();
  EXPECT_TRUE(Events(Host->IO, TIoKind::DA, T1).empty());
  As<TMeimanLaser>(L).ForceDiodeCurrent(0);
  EXPECT_EQ(Events(Host->IO, TIoKind::DA, T1), Strs{"da1=0"});
}

} // namespace
} // namespace nclaser
