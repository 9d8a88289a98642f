#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/sync.h"
#include "lasers/fiber.h"
#include "runtime/format1033.h"
#include "runtime/thread.h"
#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

// What the probe lasers did, in order; outlives them.
class TCallLog {
public:
  void Add(std::string S) {
    std::lock_guard<std::mutex> L(FLock);
    FCalls.push_back(std::move(S));
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> L(FLock);
    return std::exchange(FCalls, {});
  }

private:
  std::mutex FLock;
  std::vector<std::string> FCalls;
};
TCallLog GLog;

std::string Num(double V) {
  return FloatToStr1033(V);
}

// Records every operation that the base's dispatch reaches.
class TProbeLaser : public TNcLaser {
public:
  bool Emission = false;
  double Diode = 40.0;
  double Ratio = 0.5;

  bool GetIsLaserOn() override { return false; }
  void LaserOn() override { GLog.Add(FPrepareOnly ? "LaserOn(prepare)" : "LaserOn"); }
  void LaserOff() override { GLog.Add("LaserOff"); }
  void EmissionOn() override { GLog.Add("EmissionOn"); }
  void EmissionOff() override { GLog.Add("EmissionOff"); }
  bool GetIsEmissionOn() override { return Emission; }
  void SetAimingOn(bool On) override { GLog.Add(On ? "Aiming(1)" : "Aiming(0)"); }
  void SetPwmRatio(double R) override { GLog.Add("PwmRatio(" + Num(R) + ")"); }
  double GetPwmRatio() override { return Ratio; }
  void SetPwmFreq(int F) override { GLog.Add("PwmFreq(" + Num(F) + ")"); }
  void SetLaserMode(int M) override { GLog.Add("Mode(" + Num(M) + ")"); }
  void SetDiodeCurrent(double V) override { GLog.Add("Diode(" + Num(V) + ")"); }
  double GetDiodeCurrent() override { return Diode; }
  void PowerOn() override { GLog.Add("PowerOn"); }
};

class LaserBaseTest : public nclaser::testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    GLog.Take();
    Params = testing::IoParams(eltNone);
    Params.DefParams.Model = "YLR-500";
    Params.DefParams.AimingPort = 9;
  }

  template <class T> TNcLaserPtr Build() { return NewLaser<T>(nullptr, Params); }

  TLaserParams Params;
};

TEST_F(LaserBaseTest, ExecuteCmdDispatchesEveryRowOfTheTable) {
  auto L = Build<TProbeLaser>();
  auto* P = static_cast<TProbeLaser*>(L.get());
  struct TRow {
    int Cmd;
    double Param;
    std::vector<std::string> Calls;
  };
  const std::vector<TRow> Rows = {
      {0, 0, {"LaserOff"}},           {1, 0, {"LaserOn"}},
      {2, 0, {"Aiming(0)"}},          {3, 0, {"Aiming(1)"}},
      {4, 0, {"EmissionOff"}},        {5, 0, {"EmissionOn"}},
      {6, 0, {"EmissionOn"}}, // emission is off: toggles on
      {11, 0.25, {"PwmRatio(0.25)"}}, {12, 0.001, {"PwmRatio(0.49)"}}, // step at least 0.01
      {12, 0.05, {"PwmRatio(0.45)"}}, {13, 0.2, {"PwmRatio(0.7)"}},
      {20, 0.75, {"Diode(75)"}},      {21, 60, {"Diode(60)"}},
      {22, 0.2, {"Diode(39)"}}, // step at least 1.0
      {23, 5, {"Diode(45)"}},         {25, 0, {"PowerOn"}},
      {26, 0, {"LaserOn(prepare)"}},
  };
  for (const auto& R : Rows) {
    EXPECT_EQ(L->ExecuteCmd(R.Cmd, R.Param), 0) << R.Cmd;
    EXPECT_EQ(GLog.Take(), R.Calls) << "command " << R.Cmd << " " << R.Param;
  }
  P->Emission = true;
  L->ExecuteCmd(6, 0);
  EXPECT_EQ(GLog.Take(), std::vector<std::string>{"EmissionOff"});
  for (int Idle : {7, 8, 9, 10, 15, 16, 18, 19, 24, 27, 2101, -1}) {
    EXPECT_EQ(L->ExecuteCmd(Idle, 3.0), 0) << Idle;
  }
  EXPECT_EQ(L->ExecuteCmd(2102, 3.0), 100);
  EXPECT_TRUE(GLog.Take().empty());
}

TEST_F(LaserBaseTest, PrepareOnlyIsClearedEvenWhenLaserOnFails) {
  class TFailing : public TProbeLaser {
  public:
    void LaserOn() override {
      GLog.Add(FPrepareOnly ? "prepare" : "full");
      throw std::runtime_error("no");
    }
  };
  auto L = Build<TFailing>();
  EXPECT_THROW(L->LaserOnPrepare(), std::runtime_error);
  EXPECT_THROW(L->LaserOn(), std::runtime_error);
  EXPECT_EQ(GLog.Take(), (std::vector<std::string>{"prepare", "full"}));
}

// A laser on the real base operations.
class TPlainLaser : public TNcLaser {
public:
  bool GetIsLaserOn() override { return false; }
  void LaserOn() override {}
  void LaserOff() override { GLog.Add("LaserOff"); }
};

TEST_F(LaserBaseTest, BaseOperations) {
  Params.DefParams.PWM.Frequency = 4000;
  Params.DefParams.PWM.Ratio = 0.3;
  Params.DefParams.DA.DAPort = 0x103;
  auto L = Build<TPlainLaser>();
  EXPECT_EQ(L->GetDeviceDesc(), "YLR-500");
  EXPECT_FALSE(L->GetIsBusy());
  EXPECT_EQ(L->GetDiodeCurrent(), 100.0);
  EXPECT_EQ(L->GetLaserMode(), 0);
  EXPECT_FALSE(L->GetIsEmissionOn());
  EXPECT_EQ(L->CurrentToVoltage(1.2), 10.0);
  EXPECT_EQ(L->CurrentToVoltage(-0.1), 0.0);
  EXPECT_DOUBLE_EQ(L->CurrentToVoltage(0.55), 5.5);
  EXPECT_EQ(L->GetCurrentDAPort(), 3); // the low 8 bits
  // Construction does not touch the outputs or the PWM port.
  EXPECT_TRUE(Host->IO.Timeline().empty());

  L->SetPwmFreq(2500);
  L->SetPwmRatio(0.4);
  EXPECT_EQ(Host->Pwm->GetFrequency(1), 2500.0);
  EXPECT_EQ(Host->Pwm->GetRatio(1), 0.4);
  EXPECT_EQ(L->GetPwmFreq(), 2500);
  EXPECT_EQ(L->GetPwmRatio(), 0.4);
  Host->Pwm->SetFrequency(1, 1000.5);
  EXPECT_EQ(L->GetPwmFreq(), 1000); // taken to the even neighbour

  L->Stop(TNcStopReason::srUser);
  EXPECT_EQ(GLog.Take(), std::vector<std::string>{"LaserOff"});
}

TEST_F(LaserBaseTest, AimingFollowsItsActiveLevel) {
  auto High = Build<TPlainLaser>();
  High->SetAimingOn(true);
  EXPECT_TRUE(Host->IO.GetOutput(9));
  EXPECT_TRUE(High->GetIsAimingOn());
  Params.DefParams.AimingLowActive = true;
  Params.DefParams.AimingPort = 265; // only the low 8 bits count: output 9
  auto Low = Build<TPlainLaser>();
  Low->SetAimingOn(true);
  EXPECT_FALSE(Host->IO.GetOutput(9));
  EXPECT_TRUE(Low->GetIsAimingOn());
  Low->SetAimingOn(false);
  EXPECT_TRUE(Host->IO.GetOutput(9));
  EXPECT_FALSE(Low->GetIsAimingOn());
}

// The virtual constructor and destructor reach the most-derived class, in the order each
// class chains its steps.
class TChainLaser : public TFiberLaser {
public:
  void Create(TComponent* AOwner, const TLaserParams& AParams) override {
    GLog.Add("Chain.Create");
    TFiberLaser::Create(AOwner, AParams);
    GLog.Add("Chain.Created");
  }
  void Destroy() override {
    GLog.Add("Chain.Destroy");
    TFiberLaser::Destroy();
    GLog.Add("Chain.Destroyed");
  }
  void SetPwmRatio(double R) override {
    GLog.Add("Chain.SetPwmRatio(" + Num(R) + ")");
    TFiberLaser::SetPwmRatio(R);
  }
  bool SetDiodeCustom(double V) override {
    GLog.Add("Chain.SetDiodeCustom(" + Num(V) + ")");
    return true;
  }
  void EmissionOff() override { GLog.Add("Chain.EmissionOff"); }
  void LaserOff() override {
    GLog.Add("Chain.LaserOff");
    TFiberLaser::LaserOff();
  }
};

TEST_F(LaserBaseTest, CreateAndDestroyReachTheMostDerivedClass) {
  Params.DefParams.PWM.DiodeCurrent = 80.0;
  Params.DefParams.PWM.Ratio = 0.6;
  {
    auto L = Build<TChainLaser>();
    EXPECT_EQ(GLog.Take(), (std::vector<std::string>{"Chain.Create", "Chain.SetPwmRatio(0.6)",
                                                     "Chain.SetDiodeCustom(80)", "Chain.Created"}));
  }
  EXPECT_EQ(GLog.Take(), (std::vector<std::string>{"Chain.Destroy", "Chain.EmissionOff",
                                                   "Chain.LaserOff", "Chain.Destroyed"}));
}

// A family that starts a thread, opens a semaphore and raises its alarm, then refuses its
// configuration.
class TRefusingLaser : public TFiberLaser {
public:
  static std::atomic<int> Threads;
  class TWorker : public TThread {
  protected:
    void Execute() override {
      ++Threads;
      while (!Terminated()) {
        SleepA(5);
      }
      --Threads;
    }
  };
  void Create(TComponent* AOwner, const TLaserParams& AParams) override {
    FSem = CreateSemaphoreW(1, 1, "Refusing_Laser_Lock");
    FWorker.reset(new TWorker());
    FWorker->Start();
    TFiberLaser::Create(AOwner, AParams);
    RegisterAlarms();
    SetAlarmStatus(true);
    throw ELaserError("LaserPwmPort Error Message");
  }
  void Destroy() override {
    FWorker.reset();
    if (FSem != 0) {
      CloseHandle(FSem);
    }
    TFiberLaser::Destroy();
  }

private:
  THandle FSem = 0;
  TThreadPtr<TWorker> FWorker;
};
std::atomic<int> TRefusingLaser::Threads{0};

TEST_F(LaserBaseTest, ACreateThatThrowsLeavesNothingBehind) {
  EXPECT_THAT(
      [&] { Build<TRefusingLaser>(); },
      ::testing::ThrowsMessage<ELaserError>(::testing::StrEq("LaserPwmPort Error Message")));
  EXPECT_EQ(TRefusingLaser::Threads, 0);
  EXPECT_EQ(Host->Semaphores.OpenHandles(), 0U);
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  EXPECT_EQ(Host->Alarms.CreatedCount(), 1);
  // The fiber base's teardown ran: PWM stopped.
  EXPECT_FALSE(Host->Pwm->GetPwmOn(1));
}

// ---- the laser alarm ----
// A laser whose fault the test sets.
class TFaultyLaser : public TFiberLaser {
public:
  std::atomic<bool> Fault{false};
  void UpdateAlarms() override {
    TFiberLaser::UpdateAlarms();
    SetAlarmStatus(Fault);
  }
  std::string GetAlarmDesc() override { return "fault A"; }
};

class AlarmTest : public nclaser::testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    P.Initialize();
    P.DefParams.Model = "M";
    L = NewLaser<TFaultyLaser>(nullptr, P);
    F = static_cast<TFaultyLaser*>(L.get());
  }
  void TearDown() override {
    L.reset();
    HostTest::TearDown();
  }
  TLaserParams P;
  TNcLaserPtr L;
  TFaultyLaser* F = nullptr;
};

TEST_F(AlarmTest, OneIdPerLaserCreatedOnlyWhenFirstRaised) {
  EXPECT_EQ(L->GetAlarmID(), 0);
  L->RegisterAlarms();
  const int ID = L->GetAlarmID();
  EXPECT_NE(ID, 0);
  EXPECT_EQ(Host->Alarms.CreatedCount(), 0); // registering creates no alarm
  L->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.CreatedCount(), 0); // nor does clearing one never raised
  F->Fault = true;
  L->UpdateAlarms();
  L->UpdateAlarms();
  ASSERT_TRUE(Host->Alarms.IsActive(ID));
  EXPECT_EQ(Host->Alarms.CreatedCount(), 1);
  const auto A = Host->Alarms.Active();
  ASSERT_EQ(A.size(), 1U);
  EXPECT_EQ(A[0].PlcName, "Laser");
  EXPECT_EQ(A[0].Options & 0x00E0, 0x00E0);
  EXPECT_EQ(A[0].Desc, "fault A");
  F->Fault = false;
  L->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  F->Fault = true;
  L->UpdateAlarms();
  EXPECT_TRUE(Host->Alarms.IsActive(ID)); // same id again
  EXPECT_EQ(L->GetAlarmID(), ID);
  EXPECT_EQ(Host->Alarms.CreatedCount(), 2);
}

// Two lasers have two alarms; a destroyed one takes only its own along and is never asked
// for its text again.
TEST_F(AlarmTest, ADestroyedLaserTakesOnlyItsOwnAlarmAlongAndIsNeverAskedAgain) {
  auto Other = NewLaser<TFaultyLaser>(nullptr, P);
  L->RegisterAlarms();
  Other->RegisterAlarms();
  EXPECT_NE(L->GetAlarmID(), Other->GetAlarmID());
  F->Fault = true;
  static_cast<TFaultyLaser*>(Other.get())->Fault = true;
  L->UpdateAlarms();
  Other->UpdateAlarms();
  ASSERT_EQ(Host->Alarms.Count(), 2U);
  // Read the texts on another thread while a laser goes away.
  std::atomic<bool> Stop{false};
  std::thread Reader([&] {
    while (!Stop) {
      for (const auto& A : Host->Alarms.Active()) {
        EXPECT_TRUE(A.Desc == "fault A" || A.Desc.empty());
      }
    }
  });
  Sleep(20);
  Other.reset();
  Stop = true;
  Reader.join();
  EXPECT_EQ(Host->Alarms.Count(), 1U);
}

} // namespace
} // namespace nclaser
