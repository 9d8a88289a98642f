#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/clock.h"
#include "lasers/serialthread.h"
#include "params/textbuf.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using testing::TBytes;

TLaserComm LineConfig(int Port) {
  TLaserComm C{};
  C.Initialize();
  C.CommPort = Port;
  return C;
}

// A make with every row switched on, recording what the pattern does.
class TProbeThread : public TBinaryCommThread {
public:
  TProbeThread(const TLaserComm& C, bool Debug) : TBinaryCommThread(C, Debug) {}

  std::atomic<int> PauseMs{0};
  std::atomic<bool> HoldAll{false};
  std::atomic<int> IdleCalls{0};

  std::vector<bool> SendResults() {
    std::lock_guard<std::mutex> L(FM);
    return FResults;
  }
  std::vector<TBytes> Chunks() {
    std::lock_guard<std::mutex> L(FM);
    return FChunks;
  }

protected:
  std::string ThreadName() const override { return "Probe"; }
  std::string DebugLine() const override { return "TProbe.CommThread"; }
  std::string StartMessage() const override { return "Probe thread started"; }
  std::string PortOpenMessage() const override { return "Open serial port successfully"; }
  void InputPhase() override {
    DrainBytes([this](const std::uint8_t* B, int N) {
      std::lock_guard<std::mutex> L(FM);
      FChunks.emplace_back(B, B + N);
    });
  }
  bool HoldBack(const TCommCmd&) override { return HoldAll; }
  void PauseAfterWrite() override {
    if (PauseMs > 0) {
      SleepA(PauseMs);
    }
  }
  void IdleRequest() override { ++IdleCalls; }
  void AfterSend(bool Written) override {
    std::lock_guard<std::mutex> L(FM);
    FResults.push_back(Written);
  }

private:
  std::mutex FM;
  std::vector<bool> FResults;
  std::vector<TBytes> FChunks;
};

class TTextProbe : public TQueuedCommThread<std::string> {
public:
  TTextProbe(const TLaserComm& C, bool Debug) : TQueuedCommThread(C, Debug) {}

protected:
  std::string ThreadName() const override { return "TextProbe"; }
};

class SerialThreadTest : public testing::FakeCommTest {
protected:
  TThreadPtr<TProbeThread> Start(bool Debug = false) {
    return StartCommThread<TProbeThread>(LineConfig(3), Debug);
  }
  bool WaitWrites(size_t N, int TimeoutMs = 3000) {
    return Line->WaitFor([&] { return Line->Writes().size() >= N; }, TimeoutMs);
  }
};

TEST(TCommCmd, IsA32ByteValueHoldingOneTo28Bytes) {
  static_assert(sizeof(TCommCmd) == 32);
  TCommCmd C{};
  TBytes B(28, 0xAB);
  EXPECT_TRUE(MakeCommCmd(B, C));
  EXPECT_EQ(C.CmdSize, 28);
  EXPECT_EQ(C.CmdBuf[27], 0xAB);
  B.push_back(0x01);
  C.CmdSize = 7;
  EXPECT_FALSE(MakeCommCmd(B, C));
  EXPECT_EQ(C.CmdSize, 7);
  EXPECT_FALSE(MakeCommCmd(TBytes{}, C));
}

TEST_F(SerialThreadTest, PassesLineSettingsAndPortNumberToThePort) {
  TLaserComm C = LineConfig(7);
  Utf8ToTextBuf("115200,e,7,2", C.CommSettings);
  auto T = StartCommThread<TProbeThread>(C, false);
  EXPECT_EQ(Line->Settings(), "115200,e,7,2");
  EXPECT_EQ(Line->PortNumber(), 7);
}

TEST_F(SerialThreadTest, QueuedWhileClosedThenOneCommandPerCycleInOrder) {
  Line->SetCanOpen(false);
  auto T = Start();
  T->LockAddBytes(TBytes{0x01});
  T->LockAddBytes(TBytes{0x02, 0x02});
  T->LockAddBytes(TBytes{0x03, 0x03, 0x03});
  // Closed: retried about every 20 ms, nothing written, nothing lost.
  ASSERT_TRUE(Line->WaitFor([&] { return Line->OpenAttempts() >= 3; }, 2000));
  EXPECT_TRUE(Line->Writes().empty());
  EXPECT_EQ(T->QueueCount(), 3);
  Line->SetCanOpen(true);
  ASSERT_TRUE(WaitWrites(3));
  ASSERT_TRUE(Line->WaitFor([&] { return T->SendResults().size() >= 4; }, 2000));
  const auto W = Line->Writes();
  EXPECT_EQ(W[0].Bytes, TBytes{0x01});
  EXPECT_EQ(W[1].Bytes, (TBytes{0x02, 0x02}));
  EXPECT_EQ(W[2].Bytes, (TBytes{0x03, 0x03, 0x03}));
  // One write per cycle, then the queue is empty and the idle request takes over.
  const auto R = T->SendResults();
  EXPECT_EQ(R[0], true);
  EXPECT_EQ(R[1], true);
  EXPECT_EQ(R[2], true);
  EXPECT_EQ(R[3], false);
  EXPECT_GT(T->IdleCalls.load(), 0);
}

TEST_F(SerialThreadTest, Drops29ByteAndEmptyCommandsSilently) {
  auto T = Start(true);
  T->LockAddBytes(TBytes(29, 0x11));
  T->LockAddBytes(TBytes{});
  T->LockAddBytes(TBytes(28, 0x22));
  ASSERT_TRUE(WaitWrites(1));
  Sleep(60);
  const auto W = Line->Writes();
  ASSERT_EQ(W.size(), 1U);
  EXPECT_EQ(W[0].Bytes, TBytes(28, 0x22));
  EXPECT_EQ(Host->App.CountContaining("Send Data: "), 1);
}

TEST_F(SerialThreadTest, HoldsTheLockAcrossTheWriteAndItsPause) {
  auto T = Start();
  T->PauseMs = 150;
  T->LockAddBytes(TBytes{0x0A});
  ASSERT_TRUE(WaitWrites(1));
  const double Start = NowMs();
  T->LockAddBytes(TBytes{0x0B}); // waits for the pause to end
  EXPECT_GT(ElapsedMs(Start), 60.0);
  ASSERT_TRUE(WaitWrites(2));
  const auto W = Line->Writes();
  EXPECT_GE(W[1].TimeMs - W[0].TimeMs, 140.0);
}

TEST_F(SerialThreadTest, HeldBackHeadBlocksTheQueueUntilReleased) {
  Line->SetCanOpen(false);
  auto T = Start();
  T->HoldAll = true;
  T->LockAddBytes(TBytes{0x01});
  T->LockAddBytes(TBytes{0x02});
  Line->SetCanOpen(true);
  ASSERT_TRUE(Line->WaitFor([&] { return T->SendResults().size() >= 3; }, 2000));
  EXPECT_TRUE(Line->Writes().empty());
  EXPECT_EQ(T->QueueCount(), 2);
  // Held back is not "queue empty": no idle request meanwhile.
  EXPECT_EQ(T->IdleCalls.load(), 0);
  T->HoldAll = false;
  ASSERT_TRUE(WaitWrites(2));
  EXPECT_EQ(Line->Writes()[0].Bytes, TBytes{0x01});
}

TEST_F(SerialThreadTest, AWriteOfNothingIsLostWithoutLogOrPause) {
  Line->SetCanOpen(false);
  auto T = Start(true);
  T->PauseMs = 300;
  Line->FailNextWrites(1, 0);
  T->LockAddBytes(TBytes{0x01});
  T->LockAddBytes(TBytes{0x02});
  Line->SetCanOpen(true);
  ASSERT_TRUE(WaitWrites(1));
  ASSERT_TRUE(Line->WaitFor([&] { return T->SendResults().size() >= 2; }, 2000));
  const auto R = T->SendResults();
  EXPECT_FALSE(R[0]);
  EXPECT_TRUE(R[1]);
  EXPECT_EQ(Line->Writes()[0].Bytes, TBytes{0x02});
  EXPECT_EQ(Host->App.CountContaining("Send Data: "), 1);
  EXPECT_EQ(Host->App.CountContaining("Send Data: 02 "), 1);
}

TEST_F(SerialThreadTest, AnExceptionCostsOneCycleNotTheThread) {
  auto T = Start();
  Line->ThrowOnNextRead();
  Line->Feed(TBytes{0x55});
  T->LockAddBytes(TBytes{0x01});
  ASSERT_TRUE(WaitWrites(1));
  ASSERT_TRUE(Line->WaitFor([&] { return !T->Chunks().empty(); }, 2000));
  EXPECT_EQ(T->Chunks()[0], TBytes{0x55});
}

TEST_F(SerialThreadTest, DebugLinesOnlyWithTheDebugFlag) {
  {
    auto T = Start(true);
    T->LockAddBytes(TBytes{0x01, 0xAB});
    ASSERT_TRUE(WaitWrites(1));
    Line->SetCanOpen(false);
    Sleep(60);
  }
  EXPECT_EQ(Host->App.CountContaining("Probe thread started"), 1);
  EXPECT_EQ(Host->App.CountContaining("Open serial port successfully"), 1);
  EXPECT_EQ(Host->App.CountContaining("Send Data: 01 AB "), 1);
  const auto Names = Host->App.ThreadNames();
  EXPECT_NE(std::find(Names.begin(), Names.end(), "Probe"), Names.end());
  const auto Dbg = Host->App.DebugLines();
  EXPECT_TRUE(std::any_of(Dbg.begin(), Dbg.end(),
                          [](const auto& L) { return L.Text == "TProbe.CommThread"; }));

  Host->App.ClearLines();
  Line->SetCanOpen(true);
  {
    auto T = Start(false);
    T->LockAddBytes(TBytes{0x01});
    ASSERT_TRUE(WaitWrites(2));
  }
  EXPECT_TRUE(Host->App.Lines().empty());
}

TEST_F(SerialThreadTest, DrainsEveryWaitingChunk) {
  Line->Feed(TBytes{1});
  Line->Feed(TBytes{2, 2});
  Line->Feed(TBytes{3});
  auto T = Start();
  ASSERT_TRUE(Line->WaitFor([&] { return T->Chunks().size() >= 3; }, 2000));
  EXPECT_EQ(T->Chunks()[1], (TBytes{2, 2}));
}

TEST_F(SerialThreadTest, TextCommandsGoOutAsText) {
  auto T = StartCommThread<TTextProbe>(LineConfig(1), true);
  T->LockAdd("?STATUS\r\n");
  ASSERT_TRUE(WaitWrites(1));
  const auto W = Line->Writes()[0].Bytes;
  EXPECT_EQ(std::string(W.begin(), W.end()), "?STATUS\r\n");
  EXPECT_TRUE(Host->App.WaitForLine("Send Data: ?STATUS\r\n", 1000));
}

TEST_F(SerialThreadTest, PortNeverOpenedEndsWithinOneRetry) {
  Line->SetCanOpen(false);
  auto T = Start();
  ASSERT_TRUE(Line->WaitFor([&] { return Line->OpenAttempts() >= 2; }, 2000));
  const double Start = NowMs();
  T.reset();
  EXPECT_LT(ElapsedMs(Start), 100.0);
  EXPECT_EQ(Line->PortsAlive(), 0);
}

TEST_F(SerialThreadTest, EndFreesQueueAndPortAndTakesNoMoreCommands) {
  auto* T = new TProbeThread(LineConfig(1), false);
  T->Start();
  T->LockAddBytes(TBytes{0x01});
  ASSERT_TRUE(WaitWrites(1));
  T->HoldAll = true;
  T->LockAddBytes(TBytes{0x02});
  T->Terminate();
  T->WaitFor();
  EXPECT_EQ(Line->PortsAlive(), 0);
  EXPECT_EQ(T->QueueCount(), 0);
  T->LockAddBytes(TBytes{0x03});
  EXPECT_EQ(T->QueueCount(), 0);
  delete T;
}

TEST_F(SerialThreadTest, HostThreadsQueueConcurrently) {
  auto T = Start();
  constexpr int Threads = 4;
  constexpr int PerThread = 20;
  std::vector<std::thread> Hosts;
  Hosts.reserve(Threads);
  for (int H = 0; H < Threads; ++H) {
    Hosts.emplace_back([&, H] {
      for (int I = 0; I < PerThread; ++I) {
        T->LockAddBytes(TBytes{static_cast<std::uint8_t>(H), static_cast<std::uint8_t>(I)});
        if (I % 5 == 0) {
          std::this_thread::yield();
        }
      }
    });
  }
  for (auto& H : Hosts) {
    H.join();
  }
  ASSERT_TRUE(WaitWrites(Threads * PerThread, 20000));
  std::vector<int> Next(Threads, 0);
  for (const auto& W : Line->Writes()) {
    ASSERT_EQ(W.Bytes.size(), 2U);
    ASSERT_EQ(W.Bytes[1], Next[W.Bytes[0]]) << "host thread " << int(W.Bytes[0]);
    ++Next[W.Bytes[0]];
  }
  EXPECT_EQ(Next, std::vector<int>(Threads, PerThread));
}

} // namespace
} // namespace nclaser
