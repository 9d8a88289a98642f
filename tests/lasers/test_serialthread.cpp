// The queued serial thread on a scripted line: what a real port cannot force (writes of
// nothing, a read that throws, exact chunks, the lock held across a write and its pause).
// Order, hold-back, reopening, tear-down timing and concurrent hosts are proven by the
// makes' end-to-end suites.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
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
  std::atomic<int> ChunksAtFirstWrite{-1};

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
    if (Written && ChunksAtFirstWrite < 0) {
      ChunksAtFirstWrite = static_cast<int>(FChunks.size());
    }
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

std::vector<bool> First(std::vector<bool> V, size_t N) {
  V.resize(std::min(V.size(), N));
  return V;
}

class SerialThreadTest : public testing::FakeCommTest {
protected:
  TThreadPtr<TProbeThread> Start(bool Debug = false) {
    return StartCommThread<TProbeThread>(LineConfig(3), Debug);
  }
  bool WaitWrites(size_t N) {
    return Line->WaitFor([&] { return Line->Writes().size() >= N; }, 3000);
  }
  bool WaitResults(const TThreadPtr<TProbeThread>& T, size_t N) {
    return Line->WaitFor([&] { return T->SendResults().size() >= N; }, 3000);
  }
};

TEST_F(SerialThreadTest, QueuedWhileClosedThenOneCommandPerCycleThenIdle) {
  Line->SetCanOpen(false);
  TLaserComm C = LineConfig(7);
  Utf8ToTextBuf("115200,e,7,2", C.CommSettings);
  auto T = StartCommThread<TProbeThread>(C, false);
  EXPECT_EQ(Line->Settings(), "115200,e,7,2");
  EXPECT_EQ(Line->PortNumber(), 7);
  T->LockAddBytes(TBytes{0x01});
  T->LockAddBytes(TBytes{0x02, 0x02});
  // Retried while it cannot be opened (the pace: tests/lasers/test_pace.cpp).
  ASSERT_TRUE(Line->WaitFor([&] { return Line->OpenAttempts() >= 3; }, 2000));
  EXPECT_TRUE(Line->Writes().empty());
  EXPECT_EQ(T->QueueCount(), 2);
  Line->SetCanOpen(true);
  ASSERT_TRUE(WaitResults(T, 3));
  const auto W = Line->Writes();
  ASSERT_EQ(W.size(), 2U);
  EXPECT_EQ(W[1].Bytes, (TBytes{0x02, 0x02}));
  // One write per cycle, then the queue is empty and the idle request takes over, at most
  // once per cycle's 5 ms sleep.
  EXPECT_EQ(First(T->SendResults(), 3), (std::vector<bool>{true, true, false}));
  const int Idle = T->IdleCalls;
  const double T0 = NowMs();
  Sleep(50);
  EXPECT_LE(T->IdleCalls - Idle, ElapsedMs(T0) / 5.0 + 1.0);
}

// 1 to 28 bytes make a command; the rest is dropped without a word.
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

TEST_F(SerialThreadTest, AWriteOfNothingIsLostWithoutLogOrPause) {
  Line->SetCanOpen(false);
  auto T = Start(true);
  T->PauseMs = 300;
  Line->FailNextWrites(1, 0);
  T->LockAddBytes(TBytes{0x01});
  T->LockAddBytes(TBytes{0x02});
  Line->SetCanOpen(true);
  ASSERT_TRUE(WaitWrites(1));
  ASSERT_TRUE(WaitResults(T, 2));
  EXPECT_EQ(First(T->SendResults(), 2), (std::vector<bool>{false, true}));
  EXPECT_EQ(Line->Writes()[0].Bytes, TBytes{0x02});
  EXPECT_EQ(Host->App.CountContaining("Send Data: "), 1);
  EXPECT_EQ(Host->App.CountContaining("Send Data: 02 "), 1);
}

// A throwing read costs one cycle, not the thread; the next input phase drains every
// waiting chunk, as it came, before that cycle's write.
TEST_F(SerialThreadTest, AnExceptionCostsOneCycleAndOneInputPhaseDrainsEveryChunk) {
  Line->SetCanOpen(false);
  auto T = Start();
  T->LockAddBytes(TBytes{0x01});
  Line->ThrowOnNextRead();
  Line->Feed(TBytes{1});
  Line->Feed(TBytes{2, 2});
  Line->Feed(TBytes{3});
  Line->SetCanOpen(true);
  ASSERT_TRUE(WaitResults(T, 1));
  EXPECT_EQ(T->Chunks(), (std::vector<TBytes>{{1}, {2, 2}, {3}}));
  EXPECT_EQ(T->ChunksAtFirstWrite.load(), 3);
}

TEST_F(SerialThreadTest, DebugLinesOnlyWithTheDebugFlag) {
  for (const bool Debug : {true, false}) {
    Host->App.ClearLines();
    auto T = Start(Debug);
    T->LockAddBytes(TBytes{0x01, 0xAB});
    ASSERT_TRUE(WaitResults(T, 2));
    T.reset();
    const int Want = Debug ? 1 : 0;
    EXPECT_EQ(Host->App.CountContaining("Probe thread started"), Want);
    EXPECT_EQ(Host->App.CountContaining("Open serial port successfully"), Want);
    EXPECT_EQ(Host->App.CountContaining("Send Data: 01 AB "), Want);
    EXPECT_EQ(Host->App.Lines().size(), Debug ? 3U : 0U);
    // The thread's name and its debugger line come with or without the flag.
    const auto Dbg = Host->App.DebugLines();
    ASSERT_EQ(Dbg.size(), 1U);
    EXPECT_EQ(Dbg[0].Text, "TProbe.CommThread");
  }
  EXPECT_EQ(Host->App.ThreadNames(), (std::vector<std::string>{"Probe", "Probe"}));
}

TEST_F(SerialThreadTest, TextCommandsGoOutAndAreLoggedAsText) {
  auto T = StartCommThread<TTextProbe>(LineConfig(1), true);
  T->LockAdd("?STATUS\r\n");
  ASSERT_TRUE(WaitWrites(1));
  const auto W = Line->Writes()[0].Bytes;
  EXPECT_EQ(std::string(W.begin(), W.end()), "?STATUS\r\n");
  EXPECT_TRUE(Host->App.WaitForLine("Send Data: ?STATUS\r\n", 1000));
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

} // namespace
} // namespace nclaser
