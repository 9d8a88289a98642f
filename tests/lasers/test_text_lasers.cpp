// The text-protocol lasers (Mars, NLight, CAS, QingHua) on a scripted serial line: what
// only a scripted line shows (no port at all, what the caller waits for, what is never
// read). The traffic itself is in tests/e2e/test_text_e2e.cpp.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host/clock.h"
#include "lasers/castext.h"
#include "lasers/factory.h"
#include "lasers/mars.h"
#include "lasers/nlight.h"
#include "tests/support/fake_comm_test.h"
#include "tests/support/text_params.h"

namespace nclaser {
namespace {

class TextLaserTest : public testing::FakeCommTest {
protected:
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
  }
  template <class T> T& Make(TEnumLaserType Type, int Port = 1, bool Debug = false) {
    Laser = NewLaser<T>(nullptr, testing::TextLaserParams(Type, Port, 40.0, Debug));
    Laser->RegisterAlarms();
    return static_cast<T&>(*Laser);
  }
  int Count(const std::string& Text) const {
    int N = 0;
    for (const auto& W : Line->Writes()) {
      N += std::string(W.Bytes.begin(), W.Bytes.end()) == Text ? 1 : 0;
    }
    return N;
  }
  bool WaitSent(const std::string& Text, int TimeoutMs = 3000) {
    return Line->WaitFor([&] { return Count(Text) >= 1; }, TimeoutMs);
  }
  TNcLaserPtr Laser;
};

TEST_F(TextLaserTest, WithoutAPortOnlyFlagsChangeAndTheAnalogOutputCarriesThePower) {
  {
    auto& L = Make<TMarsLaser>(eltMars, 0);
    EXPECT_FALSE(L.HasCommThread());
    EXPECT_DOUBLE_EQ(L.GetMaxPower(), 0.0);
    EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 4.0);
    EXPECT_FALSE(L.SetDiodeCustom(70.0));
    L.EmissionOn();
    L.SetAimingOn(true);
    EXPECT_TRUE(L.GetIsEmissionOn());
    EXPECT_TRUE(L.GetIsAimingOn());
  }
  {
    auto& L = Make<TNLightLaser>(CfgNLight, 0);
    const double T0 = NowMs();
    L.EmissionOn(); // no waits without a port
    EXPECT_LT(ElapsedMs(T0), 1000.0);
    EXPECT_TRUE(L.GetIsEmissionOn());
    EXPECT_TRUE(L.SetDiodeCustom(50.0)); // the analog output is NLight's own path
    EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 5.0);
  }
  {
    auto& L = Make<TCASLaser>(eltCAS, 0);
    EXPECT_FALSE(L.SetDiodeCustom(150.0));
    L.SetDiodeCurrent(70.0);
    EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 7.0);
  }
  {
    auto& L = Make<TQingHuaLaser>(eltQingHua, 0);
    L.LaserOn();
    EXPECT_TRUE(L.GetIsLaserOn());
    L.LaserOff();
    EXPECT_FALSE(L.GetIsLaserOn());
    EXPECT_FALSE(L.SetDiodeCustom(80.0));
  }
  Laser.reset();
  EXPECT_EQ(Line->PortsAlive(), 0);
  EXPECT_TRUE(Line->Writes().empty());
}

TEST_F(TextLaserTest, NLightEmissionOffDuringEmissionOnsWaitKeepsTheEnableBack) {
  auto& L = Make<TNLightLaser>(CfgNLight);
  std::thread On([&] { L.EmissionOn(); });
  ASSERT_TRUE(WaitSent("set syson 1\r"));
  const double T0 = NowMs();
  L.EmissionOff();
  On.join();
  EXPECT_LT(ElapsedMs(T0), 2000.0); // the waiting EmissionOn gave up at once
  ASSERT_TRUE(WaitSent("set syson 0\r"));
  Sleep(300);
  EXPECT_EQ(Count("set enable 1\r"), 0);
  EXPECT_FALSE(L.GetIsEmissionOn());
}

TEST_F(TextLaserTest, QingHuaWaitsBetweenModeAndPowerAndNeverReads) {
  auto& L = Make<TQingHuaLaser>(eltQingHua, 1, true);
  Line->Feed({'o', 'k', '\r', '\n'});
  const double T0 = NowMs();
  EXPECT_TRUE(L.SetDiodeCustom(7.0));
  EXPECT_GE(ElapsedMs(T0), 99.0);
  ASSERT_TRUE(WaitSent("w61 07\r\n", 5000));
  EXPECT_EQ(Line->PendingInput(), 1U); // still waiting there
  EXPECT_TRUE(Host->App.DebugLines().empty());
}

} // namespace
} // namespace nclaser
