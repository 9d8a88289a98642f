#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "host/clock.h"
#include "host/thread.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

using nclaser::testing::HostTest;

class TSleeper : public TThread {
public:
  explicit TSleeper(int Ms) : FMs(Ms) {}
  std::atomic<bool> Result{true};
  std::atomic<double> Took{-1};
  std::atomic<bool> Started{false};

protected:
  void Execute() override {
    Started = true;
    const double T0 = NowMs();
    Result = SleepA(FMs);
    Took = ElapsedMs(T0);
  }

private:
  int FMs;
};

using ThreadTest = HostTest;

TEST_F(ThreadTest, SleepARunsItsTimeWhenNotTerminated) {
  TSleeper T(20);
  T.Start();
  T.WaitFor();
  EXPECT_TRUE(T.Result);
  EXPECT_GT(T.Took, 20.0);
  EXPECT_LT(T.Took, 200.0);
  EXPECT_EQ(Host->App.DebugLines().size(), 0U);
}

TEST_F(ThreadTest, SleepAIsCutShortByTerminateAndSaysSo) {
  TSleeper T(10000);
  T.Start();
  while (!T.Started) {
    std::this_thread::yield();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double T0 = NowMs();
  T.Terminate();
  T.WaitFor();
  EXPECT_LT(ElapsedMs(T0), 200.0);
  EXPECT_FALSE(T.Result);
  const auto Debug = Host->App.DebugLines();
  ASSERT_EQ(Debug.size(), 1U);
  EXPECT_EQ(Debug[0].Text, "Terminated");
}

// No wait at all: on a thread terminated before it started (false), and for zero or less
// (true, the clock moved on; nothing reported, even when terminated).
TEST_F(ThreadTest, SleepAWithoutAWait) {
  const std::tuple<int, bool, bool> Cases[] = {
      {20, true, false}, {0, true, true}, {-5, false, true}};
  for (const auto& [Ms, Terminated, Result] : Cases) {
    SCOPED_TRACE(Ms);
    const auto Reported = Host->App.DebugLines().size();
    TSleeper T(Ms);
    if (Terminated) {
      T.Terminate(); // before it even starts
    }
    T.Start();
    T.WaitFor();
    EXPECT_EQ(T.Result, Result);
    EXPECT_LT(T.Took, 15.0);
    if (Ms <= 0) {
      EXPECT_EQ(Host->App.DebugLines().size(), Reported);
    }
  }
}

class TSelfFreeing : public TThread {
public:
  TSelfFreeing(std::atomic<int>& Alive, int Ms) : FAlive(Alive), FMs(Ms) {
    ++FAlive;
    SetFreeOnTerminate(true);
  }
  ~TSelfFreeing() override { --FAlive; }

protected:
  void Execute() override { SleepA(FMs); }

private:
  std::atomic<int>& FAlive;
  int FMs;
};

TEST_F(ThreadTest, AFreeOnTerminateThreadFreesItselfAndARefOutlivesOrStopsIt) {
  std::atomic<int> Alive{0};
  auto* T = new TSelfFreeing(Alive, 5);
  const TThreadRef Ref = T->Ref();
  T->Start();
  EXPECT_TRUE(Ref.WaitFor(2000));
  EXPECT_TRUE(Ref.Finished());
  EXPECT_EQ(Alive, 0);
  Ref.Terminate(); // harmless once the thread is gone

  auto* Long = new TSelfFreeing(Alive, 60000);
  const TThreadRef LongRef = Long->Ref();
  Long->Start();
  EXPECT_FALSE(LongRef.WaitFor(20));
  LongRef.Terminate();
  EXPECT_TRUE(LongRef.WaitFor(2000));
  EXPECT_EQ(Alive, 0);
}

class TThrower : public TThread {
public:
  std::atomic<bool> Cleaned{false};

protected:
  void Execute() override { throw std::runtime_error("fault inside a thread"); }
  void DoTerminate() override { Cleaned = true; }
};

TEST_F(ThreadTest, AnExceptionEndsTheThreadButStillRunsDoTerminate) {
  TThreadPtr<TThrower> T(new TThrower());
  T->Start();
  T->WaitFor();
  EXPECT_TRUE(T->Cleaned);
}

} // namespace
} // namespace nclaser
