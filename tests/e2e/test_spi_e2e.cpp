// The SPI classes over a real serial port on a pty against the SPI simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "lasers/spi.h"
#include "protocols/spi.h"
#include "sim/spi/spi_model.h"
#include "tests/support/sim_link_test.h"

namespace nclaser {
namespace {

using testing::Until;

using TLayout = sim::TSPIModel::TLayout;
using Bytes = std::vector<std::uint8_t>;

const Bytes StatusQuery(spi::StatusQuery.begin(), spi::StatusQuery.end());
const Bytes AlarmQuery(spi::AlarmWarningQuery.begin(), spi::AlarmWarningQuery.end());

Bytes Pkt(std::uint8_t Code, Bytes Data = {}) {
  return spi::BuildPacket(Code, Data);
}

class SPIEndToEnd : public testing::SimLinkTest<sim::TSim<sim::TSPIModel>> {
protected:
  bool IsPoll(const Bytes& B) const override { return B == StatusQuery || B == AlarmQuery; }
  template <class T> T& Make(TLayout Layout, double Current = 40.0, bool Debug = false) {
    PlugNew(Layout);
    TLaserParams P = testing::RigLaserParams(Layout == TLayout::SPI1000 ? "spi1000" : "spi",
                                             "SPI-1000", Current);
    P.DefParams.CtrlPort = 6;
    P.CfgSPI.Comm.DebugMode = Debug;
    return Open<T>(P);
  }
  template <class F> auto Model(F&& Fn) { return Sim->With(std::forward<F>(Fn)); }
};

TEST_F(SPIEndToEnd, OneCommandPerCycleInQueueOrderAndTheStatusPollWhenIdle) {
  auto& L = Make<TSPILaser>(TLayout::Standard);
  ASSERT_TRUE(WaitConnected());
  EXPECT_FALSE(L.SetDiodeCustom(0.0)); // queues nothing
  L.SetAimingOn(true);
  L.SetDiodeCurrent(70.0);
  L.SetAimingOn(false);
  L.EmissionOn();
  ASSERT_TRUE(WaitCommands(7));
  const Requests R = Sim->Requests();
  const std::vector<Bytes> Want{
      Pkt(spi::cmdDiodeCurrent, {0x90, 0x01}), // the configured 40 % at construction
      Pkt(spi::cmdAiming, {0x01}),
      Pkt(spi::cmdDiodeCurrent, {0xBC, 0x02}),
      Pkt(spi::cmdAiming, {0x00}),
      Pkt(spi::cmdEmissionStart),
      Pkt(spi::cmdEmissionOn, {0x00}),
      Pkt(spi::cmdDiodeCurrent, {0xBC, 0x02}), // emission re-applies the current
  };
  EXPECT_EQ(Commands(R), Want);
  // From the first host command on, the queue was never empty until the last went out:
  // no poll in between, and each command a cycle (its 20 ms pause and more) after the last.
  const auto First =
      std::find_if(R.begin(), R.end(), [&](const auto& X) { return X.Bytes == Want[1]; }) -
      R.begin();
  for (auto K = First + 1; K < First + 6; ++K) {
    EXPECT_FALSE(IsPoll(R[K].Bytes)) << K;
    EXPECT_GE(R[K].TimeMs - R[K - 1].TimeMs, 20.0) << K;
  }
  ASSERT_TRUE(WaitCount(StatusQuery, static_cast<int>(R.size()) + 3));
  // The laser's status answer now reports the emission.
  EXPECT_TRUE(Until([&] { return L.GetIsEmissionOn(); }, 3000));
  EXPECT_EQ(Connected(), 1);
  // Tear-down flushes a long queue (a second of commands) for a bounded time only.
  for (int I = 0; I < 50; ++I) {
    L.SetDiodeCurrent(10.0 + I);
  }
  TearDownQuietly(700.0);
}

// Through to tear-down: EmissionOff's packet first, and nothing after Destroy returns.
TEST_F(SPIEndToEnd, ThousandSeriesEmissionPowerTrafficLogAndTearDown) {
  auto& L = Make<TSPI1000Laser>(TLayout::SPI1000, 50.0, /*Debug=*/true);
  ASSERT_TRUE(WaitConnected());
  L.EmissionOn();
  EXPECT_TRUE(Host->IO.GetOutput(6));
  ASSERT_TRUE(WaitCommands(4));
  const std::vector<Bytes> Want{
      Pkt(spi::cmd1000DiodeCurrent, {0xF4, 0x01}), Pkt(spi::cmd1000EmissionMode, {0x02}),
      Pkt(spi::cmd1000Emission, {0x01}), Pkt(spi::cmd1000DiodeCurrent, {0xF4, 0x01})};
  EXPECT_EQ(Commands(Sim->Requests()), Want);
  ASSERT_TRUE(Until([&] { return L.GetActualPower() > 499.0; }, 3000));
  EXPECT_DOUBLE_EQ(L.GetActualPower(), 500.0); // 50 % of the model's 1000 W
  EXPECT_EQ(Host->App.CountContaining("Send: 1B 02 16 02 0D 42 "), 1);
  EXPECT_GE(Host->App.CountContaining("Recv: 1B 0F 01 01 00 "), 1);
  // The 1000 series takes emission from the host's calls only.
  Model([](sim::TSPIModel& M) { M.SetEmission(false); });
  ASSERT_TRUE(WaitCount(StatusQuery, static_cast<int>(Sim->Requests().size()) + 3));
  EXPECT_TRUE(L.GetIsEmissionOn());

  Sim->ClearRequests();
  // The simulator stamps a packet when it has read it: allow it a moment.
  TearDownQuietly(500.0, 150, 15.0);
  EXPECT_FALSE(Host->IO.GetOutput(6));
  const Bytes Off = Pkt(spi::cmd1000Emission, {0x00});
  // The laser's own EmissionOff, then the fiber base's.
  EXPECT_EQ(Commands(Sim->Requests()), (std::vector<Bytes>{Off, Off}));
  Model([](sim::TSPIModel& M) { EXPECT_FALSE(M.Emission()); });
}

TEST_F(SPIEndToEnd, BadSumsAndShortAnswersChangeNothing) {
  auto& L = Make<TSPILaser>(TLayout::Standard);
  ASSERT_TRUE(WaitConnected());
  const auto PollsLater = [&](int N) {
    const auto Have = static_cast<int>(Sim->Requests().size());
    return WaitCount(StatusQuery, Have + N);
  };
  const std::function<void(sim::TSPIModel&)> Faults[] = {
      [](sim::TSPIModel& M) { M.SetBadChecksum(true); },
      [](sim::TSPIModel& M) { M.SetShortAnswers(true); },
  };
  for (const auto& Fault : Faults) {
    Model([&](sim::TSPIModel& M) {
      Fault(M);
      M.SetEmission(true);
      M.SetAlarmBits(0x01);
    });
    ASSERT_TRUE(PollsLater(6));
    EXPECT_FALSE(L.GetIsEmissionOn());
    EXPECT_FALSE(L.GetHasAlarm());
    Model([](sim::TSPIModel& M) {
      M.SetBadChecksum(false);
      M.SetShortAnswers(false);
      M.SetEmission(false);
      M.SetAlarmBits(0x00);
    });
    ASSERT_TRUE(Until([&] { return !L.GetHasAlarm(); }, 3000));
  }
  EXPECT_EQ(Connected(), 1);
}

// While the port is unplugged the host's calls queue; EmissionOff withdraws the emission
// packets not yet written, so after the replug only the rest goes out. Then an alarm bit
// becomes the laser's alarm and clears.
TEST_F(SPIEndToEnd, AnUnpluggedPortIsReopenedOnlyUnwithdrawnCommandsGoOutAndAlarmsClear) {
  for (const TLayout Layout : {TLayout::Standard, TLayout::SPI1000}) {
    const bool K = Layout == TLayout::SPI1000;
    SCOPED_TRACE(K ? "1000" : "standard");
    TNcLaser& L = K ? static_cast<TNcLaser&>(Make<TSPI1000Laser>(Layout)) : Make<TSPILaser>(Layout);
    ASSERT_TRUE(WaitConnected());
    Sim->Unplug();
    Sleep(150); // the laser's port notices the hang-up
    L.SetAimingOn(true);
    L.EmissionOn();
    L.SetDiodeCurrent(80.0);
    L.EmissionOff();
    Sleep(100);
    Sim->ClearRequests();
    Sim->Replug();
    using U8 = std::uint8_t;
    const U8 Aim = K ? U8{spi::cmd1000Aiming} : U8{spi::cmdAiming};
    const U8 Current = K ? U8{spi::cmd1000DiodeCurrent} : U8{spi::cmdDiodeCurrent};
    std::vector<Bytes> Want{Pkt(Aim, {0x01}), Pkt(Current, {0x90, 0x01}),
                            Pkt(Current, {0x20, 0x03})};
    if (K) {
      Want.push_back(Pkt(spi::cmd1000Emission, {0x00}));
    }
    ASSERT_TRUE(WaitCommands(Want.size()));
    ASSERT_TRUE(WaitCount(StatusQuery, 3));
    EXPECT_EQ(Commands(Sim->Requests()), Want);
    Model([](sim::TSPIModel& M) {
      EXPECT_TRUE(M.Aiming());
      EXPECT_FALSE(M.Emission());
    });
    Model([](sim::TSPIModel& M) { M.SetAlarmBits(0x02); });
    ASSERT_TRUE(AlarmsBecome(1, 3000));
    EXPECT_EQ(Host->Alarms.Active().at(0).Desc, "SPI-1000" + SLaserAlarm.Get());
    if (!K) {
      // While the alarm is seen the idle poll asks for alarms and warnings.
      ASSERT_TRUE(WaitCount(AlarmQuery, 3));
    }
    Model([](sim::TSPIModel& M) { M.SetAlarmBits(0x00); });
    ASSERT_TRUE(AlarmsBecome(0, 3000));
    Sim->ClearRequests();
    ASSERT_TRUE(WaitCount(StatusQuery, 3));
    EXPECT_EQ(Connected(), 1);
    Stop();
    Host->App.ClearLines();
  }
}

} // namespace
} // namespace nclaser
