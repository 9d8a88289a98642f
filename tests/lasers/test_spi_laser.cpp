// The SPI classes on a scripted line: what a cycle, a host call or an answer does that the
// end-to-end run cannot force (write counts, queue timing, the debug traffic log).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "lasers/factory.h"
#include "lasers/spi.h"
#include "protocols/spi.h"
#include "strings/messages.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using testing::TBytes;

const TBytes StatusQuery(spi::StatusQuery.begin(), spi::StatusQuery.end());

TBytes Pkt(std::uint8_t Code, TBytes Data = {}) {
  return spi::BuildPacket(Code, Data);
}

TLaserParams SPIParams(int Port, bool Debug = false) {
  TLaserParams P;
  P.Initialize();
  P.DefParams.PWM.Initialize();
  P.DefParams.DA.Initialize();
  P.DefParams.Model = "SPI-500";
  P.DefParams.CtrlPort = 7;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.LaserType = eltSPI;
  P.CfgSPI.Initialize();
  P.CfgSPI.Comm.Initialize();
  P.CfgSPI.Comm.CommPort = Port;
  P.CfgSPI.Comm.DebugMode = Debug;
  return P;
}

class SPILaserTest : public testing::FakeCommTest {
protected:
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
  }
  template <class T> T& Make(int Port = 1, bool Debug = false) {
    Laser = NewLaser<T>(nullptr, SPIParams(Port, Debug));
    Laser->RegisterAlarms();
    return static_cast<T&>(*Laser);
  }
  // Packets other than the idle polls, once at least N of them went out.
  std::vector<TBytes> Sent(size_t N, int TimeoutMs = 3000) {
    const auto Commands = [this] {
      std::vector<TBytes> Out;
      for (const auto& W : Line->Writes()) {
        if (W.Bytes != StatusQuery && W.Bytes.size() > 2 && W.Bytes[2] != spi::cmdAlarmWarning) {
          Out.push_back(W.Bytes);
        }
      }
      return Out;
    };
    Line->WaitFor([&] { return Commands().size() >= N; }, TimeoutMs);
    return Commands();
  }
  TNcLaserPtr Laser;
};

TEST(SPILaserClasses, AreRegisteredWithTheirConfiguration) {
  for (const char* Name : {"TSPILaser", "TSPI1000Laser"}) {
    const TLaserClassInfo* C = FindLaserClass(Name);
    ASSERT_NE(C, nullptr) << Name;
    EXPECT_EQ(C->ConfigMember, "CfgSPI");
    EXPECT_EQ(C->LaserType, eltSPI);
  }
}

TEST_F(SPILaserTest, WithoutAPortTheAnalogPathAndOnlyTheHostsCallsCount) {
  auto& L = Make<TSPI1000Laser>(0);
  EXPECT_FALSE(L.HasCommThread());
  EXPECT_EQ(Line->PortsAlive(), 0);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 4.0); // 40 % of 10 V
  EXPECT_FALSE(L.SetDiodeCustom(55.5));
  L.EmissionOn();
  EXPECT_TRUE(L.GetIsEmissionOn());
  EXPECT_TRUE(Host->IO.GetOutput(7)); // the emission output needs no port
  L.SetAimingOn(true);
  EXPECT_TRUE(L.GetIsAimingOn());
  L.EmissionOff();
  EXPECT_FALSE(L.GetIsEmissionOn());
  EXPECT_FALSE(Host->IO.GetOutput(7));
}

TEST_F(SPILaserTest, ConfiguredCurrentIsTheFirstPacketAndZeroQueuesNothing) {
  auto& L = Make<TSPILaser>(4);
  EXPECT_EQ(Line->PortNumber(), 4);
  // The thread exists before the fiber base sets the configured current.
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 0.0);
  EXPECT_FALSE(L.SetDiodeCustom(0.0));
  EXPECT_TRUE(L.SetDiodeCustom(12.25));
  const auto S = Sent(2);
  ASSERT_EQ(S.size(), 2U);
  EXPECT_EQ(S[0], Pkt(spi::cmdDiodeCurrent, {0x90, 0x01}));
  EXPECT_EQ(S[1], Pkt(spi::cmdDiodeCurrent, {0x7A, 0x00}));
  const auto Names = Host->App.ThreadNames();
  EXPECT_NE(std::find(Names.begin(), Names.end(), "SPILaser"), Names.end());
}

// The SPI rule: any nonzero count is a write done (logged and paused after), where the
// JK row wants a positive one.
TEST_F(SPILaserTest, NegativeWriteCountsCountAsDone) {
  Line->SetCanOpen(false);
  auto& L = Make<TSPI1000Laser>(1, /*Debug=*/true);
  L.SetAimingOn(true);
  L.SetAimingOn(false);
  Line->FailNextWrites(2, -1);
  const double Opened = NowMs();
  Line->SetCanOpen(true);
  ASSERT_TRUE(Line->WaitFor([&] { return !Line->Writes().empty(); }, 3000));
  const auto Diode = Pkt(spi::cmd1000DiodeCurrent, {0x90, 0x01});
  const auto Aim = Pkt(spi::cmd1000Aiming, {0x01});
  EXPECT_EQ(Host->App.CountContaining("Send: " + BytesToStr(Diode.data(), 7)), 1);
  EXPECT_EQ(Host->App.CountContaining("Send: " + BytesToStr(Aim.data(), 6)), 1);
  // Both -1 writes were followed by their 20 ms pause.
  EXPECT_EQ(Line->Writes()[0].Bytes, Pkt(spi::cmd1000Aiming, {0x00}));
  EXPECT_GE(Line->Writes()[0].TimeMs - Opened, 40.0);
}

TEST_F(SPILaserTest, EmissionOffWithdrawsEmissionPacketsNotYetWritten) {
  const auto Check = [&]<class T>(T*, std::uint8_t First, std::uint8_t Second) {
    Line->SetCanOpen(false);
    auto& L = Make<T>();
    const size_t Before = Line->Writes().size();
    L.EmissionOn();
    L.EmissionOff();
    EXPECT_FALSE(L.GetIsEmissionOn());
    Line->SetCanOpen(true);
    // Drained once an idle poll follows.
    ASSERT_TRUE(Line->WaitFor(
        [&] {
          const auto W = Line->Writes();
          return std::any_of(W.begin() + static_cast<long>(Before), W.end(),
                             [](const auto& X) { return X.Bytes == StatusQuery; });
        },
        3000));
    const auto W = Line->Writes();
    for (size_t I = Before; I < W.size(); ++I) {
      EXPECT_NE(W[I].Bytes[2], First);
      EXPECT_FALSE(W[I].Bytes[2] == Second && W[I].Bytes.size() > 5 && W[I].Bytes[3] == 0x01);
    }
    Laser.reset();
  };
  Check(static_cast<TSPILaser*>(nullptr), spi::cmdEmissionStart, spi::cmdEmissionOn);
  Check(static_cast<TSPI1000Laser*>(nullptr), spi::cmd1000EmissionMode, spi::cmd1000Emission);
}

TEST_F(SPILaserTest, WhatIsQueuedAtTearDownGoesOutBeforeTheThreadEnds) {
  auto& L = Make<TSPI1000Laser>();
  ASSERT_TRUE(Line->WaitFor([&] { return Line->WritesExcept(StatusQuery).size() == 1; }, 3000));
  L.SetAimingOn(true);
  Laser.reset();
  const auto S = Line->WritesExcept(StatusQuery);
  const TBytes Off = Pkt(spi::cmd1000Emission, {0x00});
  ASSERT_EQ(S.size(), 4U);
  EXPECT_EQ(S[1], Pkt(spi::cmd1000Aiming, {0x01}));
  EXPECT_EQ(S[2], Off); // the laser's own EmissionOff
  EXPECT_EQ(S[3], Off); // the fiber base's
}

TEST_F(SPILaserTest, ThousandSeriesStatusLogsEveryChunkAndLeavesEmissionAlone) {
  auto& L = Make<TSPI1000Laser>(1, /*Debug=*/true);
  TBytes D(14, 0x00);
  D[0] = 0x01; // emission, which this layout's class does not take
  D[1] = 0x40;
  D[7] = 0xE8;
  D[8] = 0x03;
  Line->Feed(TBytes{0x1B, 0x01, 0x1C}); // three bytes: never a packet
  Line->Feed(Pkt(spi::cmdStatus, D));
  ASSERT_TRUE(Line->WaitFor([&] { return L.GetIsAimingOn(); }, 2000));
  EXPECT_DOUBLE_EQ(L.GetActualPower(), 100.0);
  EXPECT_FALSE(L.GetIsEmissionOn());
  EXPECT_FALSE(L.GetHasAlarm());
  EXPECT_EQ(Host->App.CountContaining("Recv: 1B 01 1C "), 1);
  EXPECT_EQ(Host->App.CountContaining("Recv: 1B 0F 01 01 40 "), 1);
  EXPECT_EQ(Host->App.CountContaining(SLaserConnectedOk.Get()), 1);
  const auto Dbg = Host->App.DebugLines();
  EXPECT_TRUE(std::any_of(Dbg.begin(), Dbg.end(),
                          [](const auto& X) { return X.Text == "TSPI1000Laser.CommThread"; }));
}

} // namespace
} // namespace nclaser
