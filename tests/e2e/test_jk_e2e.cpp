// TJKLaser over a real serial port on a pty against the JK/GSI simulator.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "lasers/jk.h"
#include "protocols/jk.h"
#include "sim/jk/jk_sim.h"
#include "tests/support/sim_link_test.h"

namespace nclaser {
namespace {

using testing::Until;

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<sim::TJKSimFrame>;

class JKEndToEnd : public testing::SimLinkTest<sim::TJKSim> {
protected:
  void SetUp() override {
    SimLinkTest::SetUp();
    PlugNew(sim::TJKSimOptions{.ReadyDelayMs = 200, .ActiveParamSet = 7});
  }
  bool IsPoll(const Bytes& B) const override { return B.size() > 2 && B[2] == jk::fcStatus; }
  TJKLaser& Make(std::uint8_t Address = 1, bool Debug = false) {
    TLaserParams P = testing::RigLaserParams("jk", "GSI-1500", 60.0);
    P.CfgGSI.Comm.DebugMode = Debug;
    P.CfgGSI.Address = Address;
    return Open<TJKLaser>(P);
  }
};

TEST_F(JKEndToEnd, EmissionOnHoldsTheEmissionFrameUntilTheLaserIsReady) {
  TJKLaser& L = Make();
  ASSERT_TRUE(WaitConnected());
  L.EmissionOn();
  ASSERT_TRUE(WaitCommands(9));
  ASSERT_TRUE(Until([&] { return L.GetIsEmissionOn(); }, 3000));

  const Frames All = Sim->Frames();
  size_t I01 = 0;
  size_t I02 = 0;
  for (size_t I = 0; I < All.size(); ++I) {
    EXPECT_TRUE(All[I].CrcOk);
    I01 = I01 == 0 && All[I].FunctionCode() == jk::fcStandby ? I : I01;
    I02 = All[I].FunctionCode() == jk::fcEmission ? I : I02;
  }
  const std::vector<Bytes> Cmds = Commands(Sim->Requests());
  std::vector<Bytes> Want;
  for (const Bytes& Payload :
       {Bytes{0x05}, Bytes{0x01}, Bytes{0x02}, Bytes{0x5F, 0x01, 0x01, 0x00},
        Bytes{0x5F, 0x01, 0x02, 0xFF}, Bytes{0x5F, 0x01, 0x06, 0xFF}, Bytes{0x50, 0x01, 0x01},
        Bytes{0x5D, 0x01, 0x05, 0x00, 0x00, 0x02, 0x58}, Bytes{0x50, 0x01, 0x01}}) {
    Want.push_back(jk::BuildFrame(1, Payload));
  }
  ASSERT_GE(Cmds.size(), Want.size());
  EXPECT_EQ(std::vector<Bytes>(Cmds.begin(), Cmds.begin() + 9), Want);
  // While the laser was getting ready the 02 frame waited and the status poll went on.
  ASSERT_GT(I02, I01);
  int Polls = 0;
  for (size_t I = I01 + 1; I < I02; ++I) {
    Polls += All[I].FunctionCode() == jk::fcStatus ? 1 : 0;
  }
  EXPECT_GE(Polls, 2);
  EXPECT_GE(All[I02].TimeMs - All[I01].TimeMs, 150.0);
  EXPECT_EQ(Sim->State(), 3);
  // The parameter answer names the active set.
  EXPECT_TRUE(Until([&] { return L.GetLaserActiveParamSet() == 7; }, 3000));
}

TEST_F(JKEndToEnd, CommandsQueuedWhileThePortIsClosedGoOutOnceItOpens) {
  Sim->Unplug();
  TJKLaser& L = Make();
  L.SetAimingOn(true);
  Sleep(100);
  EXPECT_TRUE(Sim->Frames().empty());
  Sim->Replug();
  ASSERT_TRUE(WaitCommands(3));
  const Frames C = Sim->Commands();
  EXPECT_EQ(C[0].Bytes, jk::BuildFrame(1, Bytes{0x01}));
  EXPECT_EQ(C[1].Bytes, jk::BuildFrame(1, Bytes{0x10, 0xFF}));
  EXPECT_EQ(C[2].Bytes, jk::BuildFrame(1, Bytes{0x11}));
  EXPECT_TRUE(Sim->AimingOn());
  EXPECT_TRUE(L.GetIsAimingOn());
}

// The JK thread writes no traffic log, even with the debug flag: the connected message is
// its only line.
TEST_F(JKEndToEnd, AlarmFromTheAlarmAnswerWithTheCodeInTheTextAndNoTrafficLog) {
  TJKLaser& L = Make(1, /*Debug=*/true);
  ASSERT_TRUE(WaitConnected());
  Sim->ReportAlarm(0x0102);
  ASSERT_TRUE(Until([&] { return L.GetLaserAlarm() == 258; }, 3000));
  L.UpdateAlarms();
  auto A = Host->Alarms.Active();
  ASSERT_EQ(A.size(), 1U);
  EXPECT_EQ(A[0].Desc, "GSI-1500" + SLaserAlarm.Get() + " Code: 258");
  EXPECT_EQ(A[0].PlcName, "Laser");
  Sim->ReportAlarm(0);
  ASSERT_TRUE(Until([&] { return L.GetLaserAlarm() == 0; }, 3000));
  L.UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  L.ExecuteCmd(0x1011, 0);
  ASSERT_TRUE(WaitCommands(1));
  EXPECT_EQ(Host->App.Lines().size(), 1U);
  EXPECT_EQ(Host->App.ThreadNames(), std::vector<std::string>{"GSI/JK"});
  const auto Dbg = Host->App.DebugLines();
  ASSERT_EQ(Dbg.size(), 1U);
  EXPECT_EQ(Dbg[0].Text, "TJKLaser.CommThread");
}

TEST_F(JKEndToEnd, DestructionWithANeverOpenedPortReturnsWithinOneRetry) {
  Host->SerialPorts->Set(1, Sim->DevicePath() + ".missing");
  Make();
  Sleep(60);
  TearDownQuietly(100.0, 0);
  EXPECT_TRUE(Sim->Frames().empty());
}

TEST_F(JKEndToEnd, SurvivesSilenceGarbageShortAnswersAndAPulledCable) {
  TJKLaser& L = Make();
  Sim->SetState(2);
  ASSERT_TRUE(Until([&] { return L.GetLaserStatus() == 2; }, 3000));

  Sim->SetFault(sim::TJKFault::Silence);
  const int Polls = Sim->CountFunction(jk::fcStatus);
  Sim->SetState(3);
  ASSERT_TRUE(Until([&] { return Sim->CountFunction(jk::fcStatus) >= Polls + 3; }, 3000));
  EXPECT_EQ(L.GetLaserStatus(), 2); // no answer: the last value stays

  Sim->SetFault(sim::TJKFault::ShortAnswers);
  Sleep(300);
  EXPECT_EQ(L.GetLaserStatus(), 2);

  Sim->SetFault(sim::TJKFault::Garbage);
  Sleep(300);

  Sim->Unplug();
  Sleep(150);
  Sim->Replug();
  Sim->SetFault(sim::TJKFault::None);
  ASSERT_TRUE(Until([&] { return L.GetLaserStatus() == 3; }, 5000));
  EXPECT_TRUE(L.GetIsEmissionOn());
  L.ExecuteCmd(0x1011, 0);
  ASSERT_TRUE(Sim->WaitFrames(
      [](const Frames& F) { return !F.empty() && F.back().FunctionCode() == jk::fcAimingQuery; },
      3000));
  EXPECT_EQ(Connected(), 1);
}

TEST_F(JKEndToEnd, EmissionOffSendsTheStandbyFrameAndDestructionTheClosingFrames) {
  TJKLaser& L = Make();
  // Off before the laser got ready: the waiting emission frame never goes out.
  ASSERT_TRUE(WaitConnected());
  L.EmissionOn();
  L.EmissionOff();
  // The rest of the sequence goes out (its last frame is the second 50 query), well past
  // the laser's ready delay.
  ASSERT_TRUE(Sim->WaitFrames(
      [](const Frames& F) {
        return std::count_if(F.begin(), F.end(),
                             [](const auto& X) { return X.FunctionCode() == jk::fcParams; }) >= 2;
      },
      5000));
  Sleep(300);
  EXPECT_EQ(Sim->CountFunction(jk::fcEmission), 0);
  EXPECT_NE(Sim->State(), 3);
  Sim->ClearFrames();
  Sim->SetState(3);
  ASSERT_TRUE(Until([&] { return L.GetIsEmissionOn(); }, 3000));
  L.EmissionOff();
  ASSERT_TRUE(WaitCommands(1));
  EXPECT_EQ(Sim->Commands().back().Bytes, (Bytes{0x7E, 0x01, 0x01, 0x16, 0x07, 0x7E}));
  ASSERT_TRUE(Until([&] { return Sim->State() == 2; }, 3000));
  ASSERT_TRUE(Until([&] { return !L.GetIsEmissionOn(); }, 3000));

  // Destruction ends with the two closing frames.
  Laser.reset();
  ASSERT_TRUE(Sim->WaitFrames(
      [](const Frames& F) { return F.size() >= 2 && F.back().FunctionCode() == jk::fcOff; }, 2000));
  const Frames F = Sim->Frames();
  EXPECT_EQ(F[F.size() - 2].Bytes, Bytes(jk::ClosingFrame1.begin(), jk::ClosingFrame1.end()));
  EXPECT_EQ(F.back().Bytes, Bytes(jk::ClosingFrame2.begin(), jk::ClosingFrame2.end()));
  EXPECT_EQ(Sim->State(), 0);
}

// Only the first frame of a read is decoded: two answers in one read still give the state,
// and so does an answer whose first piece already holds the state byte (the 3-byte tail
// that follows is too short to be decoded).
TEST_F(JKEndToEnd, JoinedAndSplitAnswersStillGiveTheState) {
  TJKLaser& L = Make();
  for (const bool Join : {true, false}) {
    Join ? Sim->SetJoin(true) : Sim->SetSplit(4, 30);
    Sim->SetState(Join ? 2 : 3);
    ASSERT_TRUE(Until([&] { return L.GetLaserStatus() == (Join ? 2 : 3); }, 3000));
    for (int I = 0; I < 20; ++I) {
      ASSERT_EQ(L.GetLaserStatus(), Join ? 2 : 3);
      Sleep(10);
    }
    Sim->SetJoin(false);
  }
}

// Each host thread's commands go out in its own order, with the configured address.
TEST_F(JKEndToEnd, HostThreadsQueueConcurrently) {
  TJKLaser& L = Make(7);
  constexpr int Threads = 3;
  constexpr int PerThread = 4;
  std::vector<std::thread> Hosts;
  Hosts.reserve(Threads);
  for (int H = 0; H < Threads; ++H) {
    Hosts.emplace_back([&L, H] {
      for (int I = 0; I < PerThread; ++I) {
        L.ExecuteCmd(0x5D00 + H, I);
        L.GetIsEmissionOn();
      }
    });
  }
  for (auto& H : Hosts) {
    H.join();
  }
  ASSERT_TRUE(WaitCommands(Threads * PerThread, 10000));
  std::vector<int> Next(Threads, 0);
  for (const auto& C : Sim->Commands()) {
    ASSERT_TRUE(C.CrcOk);
    EXPECT_EQ(C.Address(), 7);
    const int H = C.Bytes[4];
    ASSERT_LT(H, Threads);
    EXPECT_EQ(C.Bytes[8], Next[H]);
    ++Next[H];
  }
  EXPECT_EQ(Next, std::vector<int>(Threads, PerThread));
}

} // namespace
} // namespace nclaser
