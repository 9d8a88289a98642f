// The Raycus classes and the QCW driver on a scripted port: what only a scripted line shows
// (write counts, answers fed while the driver holds its lock, failed writes) and the
// classes' choices that need no laser on the line. The traffic itself is in
// tests/e2e/test_raycus_e2e.cpp.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "lasers/factory.h"
#include "lasers/raycus.h"
#include "protocols/raycus.h"
#include "raydrv/rayqcwdriver.h"
#include "strings/messages.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RaycusLaserTest : public testing::FakeCommTest {
protected:
  template <class T>
  T& Make(int Port, const char* PulseModel, bool Debug = false, bool ShowAnswers = false) {
    TLaserParams P;
    P.Initialize();
    P.DefParams.PWM.Initialize();
    P.DefParams.DA.Initialize();
    P.DefParams.Model = "Raycus";
    P.LaserType = eltRay;
    P.CfgRay.Initialize();
    P.CfgRay.Comm.CommPort = Port;
    P.CfgRay.Comm.IgnoreCommResult = !ShowAnswers;
    P.CfgRay.DebugMode = Debug;
    EXPECT_TRUE(Utf8ToTextBuf(PulseModel, P.CfgRay.PulseModel));
    Laser = NewLaser<T>(nullptr, P);
    return static_cast<T&>(*Laser);
  }
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
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
  TNcLaserPtr Laser;
};

// A write that reports -1 counts as written on this make: it is logged and paced.
TEST_F(RaycusLaserTest, AnyNonzeroWriteCountsAndTheLaserTextsAreShown) {
  auto& L = Make<TRaycusLaser>(1, "qcw", /*Debug=*/true, /*ShowAnswers=*/true);
  Line->FailNextWrites(1, -1);
  L.EmissionOn();
  L.LaserOn(); // PulseModel is not exactly "QCW": no pulse parameters
  ASSERT_TRUE(
      Line->WaitFor([&] { return Host->App.CountContaining("Send Data: 1B 4F 0D") == 1; }, 2000));
  Line->Feed({'T', 'S', 'O', '\r'});
  Line->Feed({0x1B, 0x01});
  Line->Feed({'T', 'S', '!'});
  ASSERT_TRUE(Line->WaitFor([&] { return Line->PendingInput() == 0; }, 2000));
  Laser.reset();
  EXPECT_EQ(Host->App.CountContaining("TSO\r"), 1);
  EXPECT_EQ(Host->App.CountContaining("Rev Data: 1B 01"), 1);
  EXPECT_EQ(Host->App.CountContaining("Rev Data: 54"), 0); // text is shown, not dumped
  EXPECT_EQ(Host->App.CountContaining(SLaserConnectedOk.Get()), 1);
  EXPECT_EQ(Host->App.CountContaining("Raycus thread started!"), 1);
  for (const auto& W : Line->Writes()) {
    EXPECT_NE(W.Bytes.at(1), 'F');
  }
}

TEST_F(RaycusLaserTest, WithoutALinkOrTheQCWModelTheClassesStepAside) {
  auto& C = Make<TRaycusLaser>(0, "QCW");
  EXPECT_FALSE(C.SetDiodeCustom(50.0)); // the analog output instead
  EXPECT_EQ(C.GetCommThread(), nullptr);
  Laser.reset();
  for (const char* Model : {"CW", ""}) {
    auto& Q = Make<TRayQCWLaser>(1, Model);
    EXPECT_FALSE(Q.GetIsQCW());
    EXPECT_FALSE(Q.SetDiodeCustom(50.0));
    EXPECT_EQ(Q.GetDiodeCurrent(), 0.0);
    EXPECT_EQ(Q.GetDeviceDesc(), "");
    Laser.reset();
  }
  EXPECT_TRUE(Make<TRayQCWLaser>(0, "qCw").GetIsQCW());
  EXPECT_FALSE(static_cast<TRayQCWLaser&>(*Laser).SetDiodeCustom(50.0)); // no link
  // Only the constructor's mode reset ever went out: the other lasers sent no frame.
  for (const auto& W : Line->Writes()) {
    EXPECT_TRUE(W.Bytes == raycus::BuildRequest(raycus::cmdResetLaserMode) ||
                W.Bytes == raycus::BuildRequest(raycus::cmdCheckStatus))
        << ::testing::PrintToString(W.Bytes);
  }
}

TEST_F(RaycusLaserTest, DriverModeByteOnlyTheLastReadAndResultsInTheDebugLog) {
  auto D = MakeDriver(1, true);
  std::mutex EventLock; // the monitor logs its polls too
  std::vector<std::string> Events;
  D->SetBufEvent([&](const std::string& L) {
    std::lock_guard<std::mutex> G(EventLock);
    Events.push_back(L);
  });
  Bytes Head(32, 0);
  for (int I = 0; I < 6; ++I) {
    Head[I] = static_cast<std::uint8_t>("QCW450"[I]);
  }
  Bytes ModeAnswer{0x02};
  const Bytes E7 = raycus::BuildAnswer(raycus::cmdCheckBySuperMode, Head);
  ModeAnswer.insert(ModeAnswer.end(), E7.begin(), E7.end());
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
    Bytes Other{0x03};
    const Bytes Short = raycus::BuildAnswer(raycus::cmdCheckBySuperMode, Bytes(31, 0x41));
    Other.insert(Other.end(), Short.begin(), Short.end());
    Line->Feed(Other);
    D->CheckBySuperMode();
  });
  EXPECT_EQ(Logged("ErrorCode3"), 1);
  EXPECT_EQ(Logged("ErrorCode4"), 0);
  EXPECT_EQ(D->CtrlMode(), raycus::InterModulationMode);
  EXPECT_TRUE(D->GetIsQCW450());
}

TEST_F(RaycusLaserTest, DriverAFailedWriteClosesThePortAndTheNextCommandReopensIt) {
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
