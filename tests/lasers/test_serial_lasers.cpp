// The serial lasers (Mars, NLight, CAS, QingHua, Raycus) and the Raycus QCW driver on a
// scripted line: what only a scripted line shows (no port at all, write counts, what the
// caller waits for, answers fed while the driver holds its lock, failed writes, what is
// never read). The traffic itself is in tests/e2e/test_text_e2e.cpp and
// tests/e2e/test_raycus_e2e.cpp.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/clock.h"
#include "lasers/castext.h"
#include "lasers/factory.h"
#include "lasers/mars.h"
#include "lasers/nlight.h"
#include "lasers/raycus.h"
#include "protocols/hexdump.h"
#include "protocols/raycus.h"
#include "raydrv/rayqcwdriver.h"
#include "strings/messages.h"
#include "tests/support/fake_comm_test.h"
#include "tests/support/serial_params.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SerialLineTest : public testing::FakeCommTest {
protected:
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
  }
  template <class T> T& Make(const TLaserParams& P) {
    Laser = NewLaser<T>(nullptr, P);
    Laser->RegisterAlarms();
    return static_cast<T&>(*Laser);
  }
  template <class T> T& Make(const char* Rig, int Port = 1, bool Debug = false) {
    return Make<T>(testing::TextLaserParams(Rig, Port, 40.0, Debug));
  }
  std::unique_ptr<TRayQCWDriver> MakeDriver(int Port, bool Debug) {
    TRaycusLaserParams P;
    P.Initialize();
    P.Comm.CommPort = Port;
    P.DebugMode = Debug;
    return std::make_unique<TRayQCWDriver>(nullptr, P);
  }
  // Runs Fn with the driver's lock held, so the monitor reads none of what is fed here.
  template <class F> void Exclusive(TRayQCWDriver& D, F&& Fn) {
    D.LockComm();
    Fn();
    D.UnlockComm();
  }
  int Logged(const std::string& Text) const { return Host->App.CountContaining(Text); }
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

TEST_F(SerialLineTest, WithoutAPortNothingOpensAndTheAnalogOutputCarriesThePower) {
  for (const char* Rig : {"mars", "nlight", "cas", "qinghua"}) {
    SCOPED_TRACE(Rig);
    Laser = FindLaserClass(sim::FindRig(Rig)->Class)
                ->Factory(nullptr, testing::TextLaserParams(Rig, 0, 40.0));
    EXPECT_DOUBLE_EQ(Host->IO.GetDA(0), 4.0); // the configured set point
    const double T0 = NowMs();
    Laser->EmissionOn(); // no waits without a port
    Laser->SetAimingOn(true);
    Laser->LaserOn();
    EXPECT_LT(ElapsedMs(T0), 1000.0);
    Laser->LaserOff();
    Laser->EmissionOff();
    Laser.reset();
  }
  EXPECT_EQ(Line->PortsAlive(), 0);
  EXPECT_TRUE(Line->Writes().empty());
}

TEST_F(SerialLineTest, QingHuaWaitsBetweenModeAndPowerAndNeverReads) {
  auto& L = Make<TQingHuaLaser>("qinghua", 1, true);
  Line->Feed({'o', 'k', '\r', '\n'});
  const double T0 = NowMs();
  EXPECT_TRUE(L.SetDiodeCustom(7.0));
  EXPECT_GE(ElapsedMs(T0), 99.0);
  ASSERT_TRUE(WaitSent("w61 07\r\n", 5000));
  EXPECT_EQ(Line->PendingInput(), 1U); // still waiting there
  EXPECT_TRUE(Host->App.DebugLines().empty());
}

// A write that reports -1 counts as written on this make: it is logged and paced.
TEST_F(SerialLineTest, RaycusAnyNonzeroWriteCountsAndTheLaserTextsAreShown) {
  auto& L =
      Make<TRaycusLaser>(testing::RaycusLaserParams("raycus", "Raycus", "qcw", 1, 0.0, true, true));
  Line->FailNextWrites(1, -1);
  L.EmissionOn();
  L.LaserOn(); // PulseModel is not exactly "QCW": no pulse parameters
  ASSERT_TRUE(
      Line->WaitFor([&] { return Host->App.CountContaining("Send Data: 1B 4F 0D") == 1; }, 2000));
  Line->Feed({'T', 'S', 'O', '\r'});
  Line->Feed({0x1B, 0x01});
  ASSERT_TRUE(Line->WaitFor([&] { return Line->PendingInput() == 0; }, 2000));
  Laser.reset();
  EXPECT_EQ(Host->App.CountContaining("Rev Data: 1B 01"), 1);
  EXPECT_EQ(Host->App.CountContaining("Rev Data: 54"), 0); // text is shown, not dumped
  EXPECT_EQ(Host->App.CountContaining("Raycus thread started!"), 1);
  for (const auto& W : Line->Writes()) {
    EXPECT_NE(W.Bytes.at(1), 'F');
  }
}

TEST_F(SerialLineTest, RaycusWithoutALinkOrTheQCWModelTheClassesStepAside) {
  auto& C = Make<TRaycusLaser>(testing::RaycusLaserParams("raycus", "Raycus", "QCW", 0));
  EXPECT_FALSE(C.SetDiodeCustom(50.0)); // the analog output instead
  EXPECT_EQ(C.GetCommThread(), nullptr);
  Laser.reset();
  for (const char* Model : {"CW", ""}) {
    auto& Q = Make<TRayQCWLaser>(testing::RaycusLaserParams("raycus-qcw", "Raycus", Model, 1));
    EXPECT_FALSE(Q.GetIsQCW());
    EXPECT_FALSE(Q.SetDiodeCustom(50.0));
    EXPECT_EQ(Q.GetDiodeCurrent(), 0.0);
    EXPECT_EQ(Q.GetDeviceDesc(), "");
    Laser.reset();
  }
  EXPECT_TRUE(
      Make<TRayQCWLaser>(testing::RaycusLaserParams("raycus-qcw", "Raycus", "qCw", 0)).GetIsQCW());
  EXPECT_FALSE(static_cast<TRayQCWLaser&>(*Laser).SetDiodeCustom(50.0)); // no link
  // Only the constructor's mode reset ever went out: the other lasers sent no frame.
  for (const auto& W : Line->Writes()) {
    EXPECT_TRUE(W.Bytes == raycus::BuildRequest(raycus::cmdResetLaserMode) ||
                W.Bytes == raycus::BuildRequest(raycus::cmdCheckStatus))
        << ::testing::PrintToString(W.Bytes);
  }
}

TEST_F(SerialLineTest, RayQCWDriverModeByteOnlyTheLastReadAndResultsInTheDebugLog) {
  // Declared before the driver: its monitor logs its polls into them until it is gone.
  std::mutex EventLock;
  std::vector<std::string> Events;
  auto D = MakeDriver(1, true);
  D->SetBufEvent([&](const std::string& L) {
    std::lock_guard<std::mutex> G(EventLock);
    Events.push_back(L);
  });
  Bytes Head{'Q', 'C', 'W', '4', '5', '0'};
  Head.resize(32);
  // The mode byte, then the laser head.
  Bytes ModeAnswer = raycus::BuildAnswer(raycus::cmdCheckBySuperMode, Head);
  ModeAnswer.insert(ModeAnswer.begin(), 0x02);
  Exclusive(*D, [&] {
    Line->Feed(raycus::BuildAnswer(raycus::cmdSetLaserData, Bytes{0x05})); // not the last read
    Line->Feed(ModeAnswer);
    D->CheckBySuperMode();
  });
  EXPECT_EQ(D->CtrlMode(), raycus::InterModulationMode);
  EXPECT_TRUE(D->GetIsQCW450());
  EXPECT_EQ(Logged("ErrorCode5"), 0);
  const std::string Sent = "SendCmd: " + BytesToStr(raycus::BuildRequest(0xE7).data(), 12);
  const std::string Got = "Recevied:" + BytesToStr(ModeAnswer.data(), 45);
  EXPECT_EQ(Logged(Sent), 1);
  EXPECT_EQ(Logged(Got), 1);
  {
    std::lock_guard<std::mutex> G(EventLock);
    EXPECT_NE(std::find(Events.begin(), Events.end(), Got), Events.end());
  }

  // Results other than 1 are logged; a longer 0xE2 answer is ignored; a mode byte other
  // than 1 or 2 changes nothing, and a frame that is not 32 bytes leaves the status.
  Exclusive(*D, [&] {
    Line->Feed(raycus::BuildAnswer(raycus::cmdSetLaserData, Bytes{0x03}));
    D->SetLaserData();
    Line->Feed(raycus::BuildAnswer(raycus::cmdSetLaserData, Bytes{0x04, 0x00}));
    D->SetLaserData();
    Bytes Other = raycus::BuildAnswer(raycus::cmdCheckBySuperMode, Bytes(31, 0x41));
    Other.insert(Other.begin(), 0x03);
    Line->Feed(Other);
    D->CheckBySuperMode();
  });
  EXPECT_EQ(Logged("ErrorCode3"), 1);
  EXPECT_EQ(Logged("ErrorCode4"), 0);
  EXPECT_EQ(D->CtrlMode(), raycus::InterModulationMode);
  EXPECT_TRUE(D->GetIsQCW450());
}

TEST_F(SerialLineTest, RayQCWDriverAFailedWriteClosesThePortAndTheNextCommandReopensIt) {
  auto D = MakeDriver(1, false);
  const int Opens = Line->OpenAttempts();
  Exclusive(*D, [&] {
    Line->FailNextWrites(1, -1);
    D->LaserOn();
    D->SetControlMode(raycus::OFFMode); // the mode already set: nothing sent
  });
  const auto Before = Line->Writes().size();
  D->LaserOff();
  EXPECT_GT(Line->OpenAttempts(), Opens);
  const auto W = Line->Writes();
  ASSERT_GT(W.size(), Before);
  EXPECT_NE(std::find_if(W.begin() + static_cast<long>(Before), W.end(),
                         [](const auto& X) { return X.Bytes == raycus::BuildRequest(0xEA); }),
            W.end());
  EXPECT_EQ(std::count_if(W.begin(), W.end(),
                          [](const auto& X) { return X.Bytes == raycus::BuildRequest(0xED); }),
            1); // the one the constructor sends

  auto None = MakeDriver(0, false); // no port: no thread, every command a no-op
  EXPECT_EQ(None->GetThread(), nullptr);
  None->LaserOn();
  EXPECT_FALSE(None->HasAlarm());
}

} // namespace
} // namespace nclaser
