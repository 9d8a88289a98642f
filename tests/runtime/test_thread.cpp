#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "host/clock.h"
#include "runtime/thread.h"
#include "runtime/threadreap.h"
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

// SleepA runs its time unless the thread is terminated, before it starts or meanwhile; no
// wait at all for zero or less (true, the clock moved on). Only a wait cut short reports.
TEST_F(ThreadTest, SleepA) {
  struct TRow {
    int Ms;
    int TerminateAfterMs; // -1: before Start, -2: never
    bool Result;
    double MinMs, MaxMs; // how long SleepA took, both bounds exclusive
    size_t Reported;     // "Terminated" lines; SIZE_MAX: not checked
  };
  const TRow Rows[] = {{20, -2, true, 20.0, 200.0, 0},
                       {10000, 20, false, 20.0, 220.0, 1},
                       {20, -1, false, -1.0, 15.0, SIZE_MAX},
                       {0, -1, true, -1.0, 15.0, 0},
                       {-5, -2, true, -1.0, 15.0, 0}};
  for (const auto& R : Rows) {
    SCOPED_TRACE(::testing::Message() << R.Ms << " ms, terminated at " << R.TerminateAfterMs);
    const auto Before = Host->App.DebugLines().size();
    TSleeper T(R.Ms);
    if (R.TerminateAfterMs == -1) {
      T.Terminate();
    }
    T.Start();
    if (R.TerminateAfterMs >= 0) {
      while (!T.Started) {
        std::this_thread::yield();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(R.TerminateAfterMs));
      T.Terminate();
    }
    T.WaitFor();
    EXPECT_EQ(T.Result, R.Result);
    EXPECT_GT(T.Took, R.MinMs);
    EXPECT_LT(T.Took, R.MaxMs);
    const auto Debug = Host->App.DebugLines();
    if (R.Reported != SIZE_MAX) {
      ASSERT_EQ(Debug.size() - Before, R.Reported);
    }
    if (R.Reported == 1) {
      EXPECT_EQ(Debug.back().Text, "Terminated");
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

TEST_F(ThreadTest, AFreeOnTerminateThreadFreesItselfAndItsRefOutlivesIt) {
  std::atomic<int> Alive{0};
  auto* T = new TSelfFreeing(Alive, 5);
  const TThreadRef Ref = T->Ref();
  T->Start();
  EXPECT_TRUE(Ref.WaitFor(2000));
  EXPECT_TRUE(Ref.Finished());
  EXPECT_EQ(Alive, 0);
  Ref.Terminate(); // harmless once the thread is gone
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

// Before the plug-in may be unloaded every thread it started is joined: a self-freeing
// thread is waited for even after its ref reports it finished, and a thread still running
// keeps the wait from succeeding until it is stopped.
TEST_F(ThreadTest, EveryStartedThreadIsJoinedBeforeUnloadMayGoOn) {
  std::atomic<int> Alive{0};
  auto* Quick = new TSelfFreeing(Alive, 1);
  Quick->Start();
  auto* Long = new TSelfFreeing(Alive, 60000);
  const TThreadRef LongRef = Long->Ref();
  Long->Start();
  TThreadPtr<TSleeper> Owned(new TSleeper(60000));
  Owned->Start();

  EXPECT_FALSE(LongRef.WaitFor(20));
  EXPECT_FALSE(JoinEveryThread(50));
  LongRef.Terminate();               // a ref stops a self-freeing thread
  EXPECT_FALSE(JoinEveryThread(50)); // the owned one still runs
  Owned.reset();
  EXPECT_TRUE(JoinEveryThread(2000));
  EXPECT_EQ(Alive, 0);
  EXPECT_TRUE(JoinEveryThread(0)); // nothing left: no wait
}

} // namespace
} // namespace nclaser
