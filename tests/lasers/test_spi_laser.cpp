// The SPI classes without a port, and on a scripted line for what a real port cannot
// force: a write that reports -1.
#include <gtest/gtest.h>

#include "lasers/factory.h"
#include "lasers/spi.h"
#include "protocols/hexdump.h"
#include "protocols/spi.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using testing::TBytes;

TBytes Pkt(std::uint8_t Code, TBytes Data = {}) {
  return spi::BuildPacket(Code, Data);
}

TLaserParams SPIParams(int Port, bool Debug = false) {
  TLaserParams P;
  InitializeHostDefaults(P, eltSPI);
  P.DefParams.Model = "SPI-500";
  P.DefParams.CtrlPort = 7;
  P.DefParams.PWM.DiodeCurrent = 40.0;
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
  TNcLaserPtr Laser;
};

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

} // namespace
} // namespace nclaser
