#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "host/clock.h"
#include "lasers/factory.h"
#include "lasers/jk.h"
#include "protocols/jk.h"
#include "strings/messages.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using testing::TBytes;

const TBytes StatusReq(jk::StatusRequestFrame.begin(), jk::StatusRequestFrame.end());

TBytes Frame(std::uint8_t Addr, TBytes Data) {
  return jk::BuildFrame(Addr, Data);
}

TLaserParams JKParams(int Port, std::uint8_t Address) {
  TLaserParams P;
  P.Initialize();
  P.DefParams.PWM.Initialize();
  P.DefParams.DA.Initialize();
  P.DefParams.Model = "JK-2000";
  P.DefParams.AimingPort = 9;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.LaserType = eltGSI;
  P.CfgGSI.Initialize();
  P.CfgGSI.Comm.Initialize();
  P.CfgGSI.Comm.CommPort = Port;
  P.CfgGSI.Address = Address;
  return P;
}

// A laser on the fake line that answers every status request with its state.
class JKLaserTest : public testing::FakeCommTest {
protected:
  void SetUp() override {
    FakeCommTest::SetUp();
    Line->Responder = [this](const TBytes& W) {
      if (W == StatusReq && Answering) {
        Line->Feed(Frame(1, {0x03, static_cast<std::uint8_t>(State.load())}));
      }
    };
  }
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
  }
  TJKLaser& Make(int Port = 1, std::uint8_t Address = 1) {
    Laser = NewLaser<TJKLaser>(nullptr, JKParams(Port, Address));
    Laser->RegisterAlarms();
    return static_cast<TJKLaser&>(*Laser);
  }
  // Frames other than the status poll, once at least N of them went out.
  std::vector<TBytes> Sent(size_t N, int TimeoutMs = 3000) {
    Line->WaitFor([&] { return Line->WritesExcept(StatusReq).size() >= N; }, TimeoutMs);
    return Line->WritesExcept(StatusReq);
  }
  int StatusPolls() const {
    int N = 0;
    for (const auto& W : Line->Writes()) {
      N += W.Bytes == StatusReq ? 1 : 0;
    }
    return N;
  }

  std::atomic<int> State{0};
  std::atomic<bool> Answering{true};
  TNcLaserPtr Laser;
};

TEST_F(JKLaserTest, WithoutAPortNothingIsQueuedAndTheAnalogPathIsUsed) {
  TJKLaser& L = Make(0);
  EXPECT_FALSE(L.HasCommThread());
  EXPECT_EQ(Line->PortsAlive(), 0);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 4.0); // 40 % of 10 V
  EXPECT_FALSE(L.SetDiodeCustom(55.5));
  L.SetDiodeCurrent(70.0);
  EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 7.0);
  EXPECT_EQ(L.ExecuteCmd(0x1001, 0), 0);
  EXPECT_EQ(L.ExecuteCmd(2102, 0), 100);
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

TEST_F(JKLaserTest, ConstructionStartsTheThreadAndPolls) {
  Make(4);
  EXPECT_EQ(Line->PortNumber(), 4);
  EXPECT_EQ(Line->Settings(), "9600,n,8,1");
  ASSERT_TRUE(Line->WaitFor([&] { return StatusPolls() >= 3; }, 2000));
  // The set point of the configuration went to the analog output: the thread did not
  // exist yet.
  EXPECT_TRUE(Line->WritesExcept(StatusReq).empty());
  const auto Names = Host->App.ThreadNames();
  EXPECT_NE(std::find(Names.begin(), Names.end(), "GSI/JK"), Names.end());
  const auto Dbg = Host->App.DebugLines();
  EXPECT_TRUE(std::any_of(Dbg.begin(), Dbg.end(),
                          [](const auto& L) { return L.Text == "TJKLaser.CommThread"; }));
}

TEST_F(JKLaserTest, StandbyFrameCarriesTheConfiguredAddress) {
  TJKLaser& L = Make(1, 5);
  L.Standby();
  const auto S = Sent(1);
  ASSERT_FALSE(S.empty());
  EXPECT_EQ(S[0], (TBytes{0x7E, 0x05, 0x01, 0x76, 0x60, 0x7E}));
  EXPECT_EQ(L.GetLaserStatus(), 2);
}

TEST_F(JKLaserTest, NumberedCommands) {
  TJKLaser& L = Make(1, 3);
  EXPECT_EQ(L.ExecuteCmd(0x5F03, 1.0), 0);
  EXPECT_EQ(L.ExecuteCmd(0x5D07, 300.0), 0);
  EXPECT_EQ(L.ExecuteCmd(0x1004, 1.0), 0); // ignored
  EXPECT_EQ(L.ExecuteCmd(0x1010, 1.0), 0);
  EXPECT_EQ(L.ExecuteCmd(2102, 0), 100); // the base's dispatch
  const auto S = Sent(3);
  ASSERT_EQ(S.size(), 3U);
  EXPECT_EQ(S[0], Frame(3, {0x5F, 0x01, 0x03, 0xFF}));
  EXPECT_EQ(S[1], Frame(3, {0x5D, 0x01, 0x07, 0x00, 0x00, 0x01, 0x2C}));
  EXPECT_EQ(S[2], Frame(3, {0x10, 0xFF}));
}

TEST_F(JKLaserTest, AlarmAnswerWithNonZeroByte3KeepsTheCode) {
  TJKLaser& L = Make();
  Answering = false;
  Line->Feed(Frame(1, {0xA4, 0x00, 0x01, 0x02}));
  ASSERT_TRUE(Line->WaitFor([&] { return L.GetLaserAlarm() == 258; }, 2000));
  Line->Feed(Frame(1, {0xA4, 0x01, 0x00, 0x00}));
  Line->Feed(Frame(1, {0x03, 0x02}));
  ASSERT_TRUE(Line->WaitFor([&] { return L.GetLaserStatus() == 2; }, 2000));
  EXPECT_EQ(L.GetLaserAlarm(), 258);
  EXPECT_EQ(L.GetAlarmDesc(), "JK-2000" + SLaserAlarm.Get() + " Code: 258");
}

TEST_F(JKLaserTest, ParameterAnswerSetsStateAndActiveSet) {
  TJKLaser& L = Make();
  Answering = false;
  TBytes P(24, 0x00);
  P[0] = 0x7E;
  P[2] = 0x50;
  P[6] = 3;
  P[21] = 7;
  Line->Feed(P);
  ASSERT_TRUE(Line->WaitFor([&] { return L.GetLaserActiveParamSet() == 7; }, 2000));
  EXPECT_TRUE(L.GetIsEmissionOn());
}

TEST_F(JKLaserTest, OtherAnswersDoNotAnnounceTheLink) {
  Answering = false;
  Make();
  Line->Feed(Frame(1, {0x02, 0x00}));
  Line->Feed(TBytes{0x7E, 0x01, 0x03}); // too short to decode
  ASSERT_TRUE(Line->WaitFor([&] { return StatusPolls() >= 5; }, 3000));
  EXPECT_EQ(Host->App.CountContaining(SLaserConnectedOk.Get()), 0);
}

} // namespace
} // namespace nclaser
