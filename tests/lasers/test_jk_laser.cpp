// TJKLaser without a port, and on a scripted line for answers the simulator never sends
// first. The rest runs end to end over a pty.
#include <gtest/gtest.h>

#include "lasers/factory.h"
#include "lasers/jk.h"
#include "protocols/jk.h"
#include "strings/messages.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using testing::TBytes;

TLaserParams JKParams(int Port) {
  TLaserParams P;
  InitializeHostDefaults(P, eltGSI);
  P.DefParams.Model = "JK-2000";
  P.DefParams.AimingPort = 9;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.CfgGSI.Comm.Initialize();
  P.CfgGSI.Comm.CommPort = Port;
  P.CfgGSI.Address = 1;
  return P;
}

class JKLaserTest : public testing::FakeCommTest {
protected:
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
  }
  TJKLaser& Make(int Port) {
    Laser = NewLaser<TJKLaser>(nullptr, JKParams(Port));
    Laser->RegisterAlarms();
    return static_cast<TJKLaser&>(*Laser);
  }
  TNcLaserPtr Laser;
};

TEST_F(JKLaserTest, WithoutAPortNothingIsQueuedAndTheAnalogPathIsUsed) {
  TJKLaser& L = Make(0);
  EXPECT_FALSE(L.HasCommThread());
  EXPECT_EQ(Line->PortsAlive(), 0);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 4.0); // 40 % of 10 V
  EXPECT_FALSE(L.SetDiodeCustom(55.5));
  EXPECT_EQ(L.ExecuteCmd(0x1001, 0), 0);
  EXPECT_EQ(L.ExecuteCmd(2102, 0), 100); // the base's dispatch
  L.Standby();
  EXPECT_EQ(L.GetLaserStatus(), 2);
  L.EmissionOn();
  EXPECT_EQ(L.GetLaserStatus(), 1);
  EXPECT_FALSE(L.GetIsEmissionOn());
  L.SetAimingOn(true);
  EXPECT_TRUE(L.GetIsAimingOn());
  EXPECT_TRUE(Host->IO.GetOutput(9));
  EXPECT_EQ(L.GetLaserActiveParamSet(), 1);
}

// Only status, aiming, parameter and alarm answers prove the link.
TEST_F(JKLaserTest, OtherAnswersDoNotAnnounceTheLink) {
  Make(1);
  Line->Feed(jk::BuildFrame(1, TBytes{0x02, 0x00}));
  Line->Feed(TBytes{0x7E, 0x01, 0x03}); // too short to decode
  ASSERT_TRUE(Line->WaitFor([&] { return Line->PendingInput() == 0; }, 3000));
  const size_t Seen = Line->Writes().size();
  ASSERT_TRUE(Line->WaitFor([&] { return Line->Writes().size() >= Seen + 3; }, 3000));
  EXPECT_EQ(Host->App.CountContaining(SLaserConnectedOk.Get()), 0);
  Line->Feed(jk::BuildFrame(1, TBytes{0x03, 0x02}));
  EXPECT_TRUE(Host->App.WaitForLine(SLaserConnectedOk.Get(), 3000));
}

} // namespace
} // namespace nclaser
