// What the QCW driver does with what it reads, on a scripted port: the end-to-end suite
// covers the traffic itself.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "lasers/laser.h"
#include "protocols/raycus.h"
#include "raydrv/rayqcwdriver.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RayQCWDriverTest : public testing::FakeCommTest {
protected:
  std::unique_ptr<TRayQCWDriver> Make(int Port, bool Debug) {
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
};

TEST_F(RayQCWDriverTest, ModeByteOnlyTheLastReadAndResultsInTheDebugLog) {
  auto D = Make(1, true);
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

TEST_F(RayQCWDriverTest, AFailedWriteClosesThePortAndTheNextCommandReopensIt) {
  auto D = Make(1, false);
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

  auto None = Make(0, false); // no port: no thread, every command a no-op
  EXPECT_EQ(None->GetThread(), nullptr);
  None->LaserOn();
  EXPECT_FALSE(None->HasAlarm());
}

} // namespace
} // namespace nclaser
