// The Raycus classes over a real serial port on a pty against their simulators.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <type_traits>
#include <vector>

#include "lasers/raycus.h"
#include "protocols/raycus.h"
#include "sim/raycus/raycus_model.h"
#include "tests/support/sim_link_test.h"

namespace nclaser {
namespace {

using testing::Until;

using Bytes = std::vector<std::uint8_t>;
using Requests = std::vector<sim::TSimRequest>;

template <class A> Bytes B(const A& Array) {
  return Bytes(Array.begin(), Array.end());
}

Bytes Req(std::uint8_t Code, Bytes Data = {}) {
  return raycus::BuildRequest(Code, Data);
}

template <class M> class RaycusEndToEnd : public testing::SimLinkTest<sim::TSim<M>> {
protected:
  // The status query.
  bool IsPoll(const Bytes& B) const override {
    return B.size() > 6 && B[6] == raycus::cmdCheckStatus;
  }
  template <class T>
  T& Make(const char* Model, const char* PulseModel, double Current, bool ShowAnswers = false) {
    this->PlugNew();
    TLaserParams P =
        testing::RaycusLaserParams(std::is_same_v<M, sim::TRayQCWModel> ? "raycus-qcw" : "raycus",
                                   Model, PulseModel, 1, Current, ShowAnswers);
    P.DefParams.CtrlPort = 6;
    return this->template Open<T>(P);
  }
};

using RayQCWEndToEnd = RaycusEndToEnd<sim::TRayQCWModel>;
using RaycusCWEndToEnd = RaycusEndToEnd<sim::TRaycusCWModel>;

TEST_F(RayQCWEndToEnd, EmissionAndPulseParametersInOrderThenTearDown) {
  auto& L = Make<TRayQCWLaser>("Raycus", "qcw", 40.0); // any case selects QCW
  ASSERT_TRUE(Until([&] { return L.GetDeviceDesc().find("QCW150") != std::string::npos; }, 3000));
  L.LaserOn();
  L.EmissionOn();
  EXPECT_TRUE(Host->IO.GetOutput(6));
  EXPECT_TRUE(L.GetIsEmissionOn());
  L.SetDiodeCurrent(150.0); // goes out clamped to 100
  L.SetDiodeCurrent(60.7);  // the frame's power is truncated, not rounded
  EXPECT_DOUBLE_EQ(L.GetDiodeCurrent(), 60.0);
  L.EmissionOff();
  EXPECT_FALSE(Host->IO.GetOutput(6));
  EXPECT_EQ(L.ExecuteCmd(2101, 0.0), 10);
  TearDownQuietly(); // LaserOff's 0xEA goes out while the driver still exists
  const std::vector<Bytes> Want{
      Req(raycus::cmdResetLaserMode),
      // The configured 40 % before the model is known: ratio 20, 2000 Hz, mode off.
      Req(raycus::cmdSetLaserData, {0x00, 40, 0x07, 0xD0, 20, 0x00, 0x01}),
      Req(raycus::cmdResetLaserMode), // LaserOn: modulation mode
      Req(raycus::cmdLaserOn),
      // EmissionOn re-applies the driver's power: the configured pulse, a QCW150's limits.
      Req(raycus::cmdSetLaserData, {0x04, 100, 0x13, 0x88, 10, 0x00, 0x01}),
      Req(raycus::cmdSetLaserData, {0x04, 100, 0x13, 0x88, 10, 0x00, 0x01}),
      Req(raycus::cmdSetLaserData, {0x04, 60, 0x13, 0x88, 10, 0x00, 0x01}),
      Req(raycus::cmdLaserOff),
  };
  EXPECT_EQ(Commands(Sim->Requests()), Want);
}

TEST_F(RayQCWEndToEnd, AModuleFaultBecomesTheAlarmSpoiledAnswersChangeNothing) {
  auto& L = Make<TRayQCWLaser>("Raycus", "QCW", 0.0);
  const auto PollsLater = [&](int N) {
    const size_t Have = Sim->Requests().size();
    return Sim->WaitRequests([&](const Requests& R) { return R.size() >= Have + N; }, 3000);
  };
  Sim->With([](sim::TRayQCWModel& M) {
    M.SetModuleState(0, 0, 1);  // module 1, temperature 1
    M.SetModuleState(1, 11, 1); // module 2, interlock: the last fault names the alarm
  });
  ASSERT_TRUE(AlarmsBecome(1));
  EXPECT_EQ(Host->Alarms.Active().at(0).Desc, SInterLockStatusErr.Get());
  // Each spoils the answers while the fault clears: the alarm stays until whole answers
  // come again.
  const std::function<void(bool)> Spoilers[] = {
      [&](bool On) { Sim->With([&](sim::TRayQCWModel& M) { M.SetBadCheckWord(On); }); },
      [&](bool On) { Sim->With([&](sim::TRayQCWModel& M) { M.SetShortStatus(On); }); },
      [&](bool On) { Sim->SetSplit(On ? 7 : 0, On ? 15 : 0); }, // answers in pieces
  };
  for (const auto& Spoil : Spoilers) {
    Spoil(true);
    Sim->With([](sim::TRayQCWModel& M) { M.ClearModuleStates(); });
    ASSERT_TRUE(PollsLater(5));
    L.UpdateAlarms();
    EXPECT_EQ(Host->Alarms.Count(), 1U);
    EXPECT_EQ(L.GetAlarmDesc(), SInterLockStatusErr.Get());
    Spoil(false);
    ASSERT_TRUE(AlarmsBecome(0));
    EXPECT_EQ(L.GetAlarmDesc(), "");
    Sim->With([](sim::TRayQCWModel& M) { M.SetModuleState(1, 11, 1); });
    ASSERT_TRUE(AlarmsBecome(1));
  }
}

TEST_F(RayQCWEndToEnd, AnUnpluggedPortIsReportedAndRecovers) {
  auto& L = Make<TRayQCWLaser>("Raycus", "QCW", 0.0);
  ASSERT_TRUE(Until([&] { return !L.GetDeviceDesc().empty(); }, 3000));
  // Eleven polls take us past the short start-up limit.
  ASSERT_TRUE(Sim->WaitRequests(
      [&](const Requests& R) {
        return std::count_if(R.begin(), R.end(), [&](const auto& X) { return IsPoll(X.Bytes); }) >=
               11;
      },
      5000));
  Sim->Unplug();
  ASSERT_TRUE(Host->App.WaitForLine(SLaserConnectedFail.Get(), 3000));
  const auto Lines = Host->App.Lines();
  const auto Fail = std::find_if(Lines.begin(), Lines.end(),
                                 [](const auto& X) { return X.Text == SLaserConnectedFail.Get(); });
  ASSERT_NE(Fail, Lines.end());
  EXPECT_EQ(Fail->MessageType, mtProminent);
  Sim->With([](sim::TRayQCWModel& M) { M.SetModuleState(0, 4, 1); });
  Sim->ClearRequests();
  Sim->Replug();
  ASSERT_TRUE(AlarmsBecome(1));
  EXPECT_EQ(L.GetAlarmDesc(), SLaserOnStatus1Err.Get());
  // Later failures wait for the long interval.
  EXPECT_EQ(Host->App.CountContaining(SLaserConnectedFail.Get()), 1);
}

TEST_F(RaycusCWEndToEnd, OneCommandPerCycleInQueueOrderDiodeWhenIdleThenTearDown) {
  // Model in any case and PulseModel exactly "QCW": the pulse parameters go out.
  auto& L = Make<TRaycusLaser>("raycus", "QCW", 42.5, /*ShowAnswers=*/true);
  const Bytes D42 = B(raycus::DiodeCmd(42));
  const Bytes D60 = B(raycus::DiodeCmd(60));
  ASSERT_TRUE(WaitCommands(5));
  ASSERT_TRUE(WaitConnected());
  L.LaserOn();
  L.EmissionOn();
  L.SetDiodeCurrent(60.0); // restarts the count of five with 60
  ASSERT_TRUE(WaitCommands(12));
  Sleep(200);
  const Requests R = Sim->Requests();
  const Bytes F = B(raycus::PulseParamsCmd(5000, 10, 100));
  const Bytes On = B(raycus::EmissionOnCmd);
  const std::vector<Bytes> Want{D42, D42, D42, D42, D42, F, On, D60, D60, D60, D60, D60};
  EXPECT_EQ(Commands(R), Want);
  for (size_t I = 1; I < R.size(); ++I) {
    EXPECT_GE(R[I].TimeMs - R[I - 1].TimeMs, 20.0) << I;
  }
  EXPECT_EQ(Connected(), 1);
  EXPECT_GE(Host->App.CountContaining("TSC"), 5); // the answers are logged
  // An emission-on still queued (behind an emission off that holds the thread 20 ms) is
  // withdrawn by EmissionOff and by LaserOff: the laser is never switched on after they
  // return.
  L.EmissionOff();
  L.EmissionOn();
  L.EmissionOff();
  L.EmissionOn();
  L.LaserOff();
  EXPECT_FALSE(L.GetIsEmissionOn());
  TearDownQuietly();
  const std::vector<Bytes> Tail = Commands(Sim->Requests());
  EXPECT_EQ(std::count(Tail.begin() + 12, Tail.end(), On), 0);
}

} // namespace
} // namespace nclaser
