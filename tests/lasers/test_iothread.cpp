#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

#include "host/clock.h"
#include "host/sync.h"
#include "lasers/iothread.h"
#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

class IOThreadTest : public nclaser::testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    Lock = CreateSemaphoreW(1, 1, "");
    Finish = CreateSemaphoreW(0, 1, "");
    ASSERT_EQ(WaitForSingleObject(Lock, 0), WAIT_OBJECT_0);
  }
  void TearDown() override {
    // Self-freeing sequences end on their own; none may outlive the host.
    for (const TThreadRef& R : Refs) {
      EXPECT_TRUE(R.WaitFor(3000));
    }
    CloseHandle(Lock);
    CloseHandle(Finish);
    HostTest::TearDown();
  }
  // The output writes since T0, with their times.
  std::vector<testing::TWrite> Outputs(double T0) const {
    return testing::OutputWrites(Host->IO, {1, 2, 3, 4}, T0);
  }
  bool Finished(int TimeoutMs) { return WaitForSingleObject(Finish, TimeoutMs) == WAIT_OBJECT_0; }
  bool LockBack(int TimeoutMs) { return WaitForSingleObject(Lock, TimeoutMs) == WAIT_OBJECT_0; }

  TNcIOThread* Make() {
    auto* T = new TNcIOThread(Lock);
    Refs.push_back(T->Ref());
    return T;
  }

  THandle Lock = 0;
  THandle Finish = 0;
  std::vector<TThreadRef> Refs;
};

TEST_F(IOThreadTest, RunsOutputsAndDelaysInOrderThenSignalsAndGivesBackTheLock) {
  auto* T = Make();
  T->SetFinishSemaphore(Finish);
  T->AddOutport(3, true);
  T->AddDelay(100);
  T->AddOutport(0x104, true); // low 8 bits: output 4
  T->AddDelay(50);
  T->AddOutport(3, false);
  const double T0 = NowMs();
  T->Start();
  ASSERT_TRUE(Finished(3000));
  ASSERT_TRUE(LockBack(1000));
  const auto O = Outputs(T0);
  ASSERT_EQ(testing::Names(O), (std::vector<std::string>{"out3=1", "out4=1", "out3=0"}));
  EXPECT_LT(O[0].AtMs, 80.0);
  EXPECT_GT(O[1].AtMs - O[0].AtMs, 100.0); // strictly more than the delay
  EXPECT_LT(O[1].AtMs - O[0].AtMs, 180.0);
  EXPECT_GT(O[2].AtMs - O[1].AtMs, 50.0);
  EXPECT_LT(O[2].AtMs - O[1].AtMs, 130.0);
  EXPECT_EQ(Host->App.ThreadNames().back(), "NCIOThread");
}

TEST_F(IOThreadTest, InputWaitsEndAtTheLevelOrAtTheTimeOut) {
  Host->IO.SetInput(5, true);
  auto* T = Make();
  T->SetFinishSemaphore(Finish);
  T->AddInport(5, true, 5000); // already there: no wait
  T->AddOutport(1, true);
  T->AddInport(6, true, 80); // never comes: times out, the sequence goes on
  T->AddOutport(2, true);
  T->AddInport(7, true, 5000); // comes from the machine after ~60 ms
  T->AddOutport(3, true);
  const double T0 = NowMs();
  T->Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Host->IO.SetInput(7, true);
  ASSERT_TRUE(Finished(3000));
  const auto O = Outputs(T0);
  ASSERT_EQ(testing::Names(O), (std::vector<std::string>{"out1=1", "out2=1", "out3=1"}));
  EXPECT_LT(O[0].AtMs, 80.0);
  EXPECT_GE(O[1].AtMs - O[0].AtMs, 80.0);
  EXPECT_LT(O[1].AtMs - O[0].AtMs, 180.0);
  EXPECT_GE(O[2].AtMs, 150.0);
  EXPECT_LT(O[2].AtMs, 300.0);
  EXPECT_TRUE(LockBack(1000));
}

TEST_F(IOThreadTest, OutOfRangeTimes) {
  auto* T = Make();
  T->SetFinishSemaphore(Finish);
  T->AddDelay(600001); // does nothing
  T->AddDelay(-1);     // does nothing
  T->AddDelay(0);      // ends once the clock moved
  T->AddOutport(1, true);
  const double T0 = NowMs();
  T->Start();
  ASSERT_TRUE(Finished(2000));
  EXPECT_LT(ElapsedMs(T0), 100.0);

  // A negative input time-out means the longest wait: still waiting well after it began.
  ASSERT_TRUE(LockBack(1000));
  auto* W = Make();
  W->SetFinishSemaphore(Finish);
  W->AddInport(9, true, -1);
  W->AddOutport(2, true);
  const TThreadRef Ref = W->Ref();
  W->Start();
  EXPECT_FALSE(Finished(150));
  Host->IO.SetInput(9, true);
  EXPECT_TRUE(Finished(2000));
  EXPECT_TRUE(Ref.WaitFor(2000));
  EXPECT_TRUE(Host->IO.GetOutput(2));
}

TEST_F(IOThreadTest, TerminationMidStepSkipsTheRestWithoutSignalButReleasesTheLock) {
  // Cut in a delay or an input wait with a step after it, and in the last step: none of
  // them signals completion.
  for (const auto& [InDelay, Last] :
       {std::pair{true, false}, {false, false}, {true, true}, {false, true}}) {
    auto* T = Make();
    T->SetFinishSemaphore(Finish);
    T->AddOutport(1, true);
    if (InDelay) {
      T->AddDelay(5000);
    } else {
      T->AddInport(8, true, 5000);
    }
    if (!Last) {
      T->AddOutport(2, true);
    }
    const TThreadRef Ref = T->Ref();
    T->Start();
    ASSERT_TRUE(Host->IO.WaitOutput(1, true, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const double T0 = NowMs();
    Ref.Terminate();
    EXPECT_TRUE(Ref.WaitFor(1000));
    EXPECT_LT(ElapsedMs(T0), 100.0);
    EXPECT_FALSE(Host->IO.GetOutput(2));
    EXPECT_FALSE(Finished(50));
    EXPECT_TRUE(LockBack(0));
    Host->IO.Outputs().SetOutputbit(1, false);
  }
}

TEST_F(IOThreadTest, NoCompletionSignalWithoutAFinishSemaphore) {
  for (const THandle H : {THandle{0}, THandle{-3}}) {
    auto* T = Make();
    T->SetFinishSemaphore(H);
    T->AddOutport(1, true);
    T->Start();
    EXPECT_TRUE(LockBack(2000));
    EXPECT_EQ(Host->Semaphores.GetCount(Finish), 0);
  }
}

TEST_F(IOThreadTest, TheOwnerMayCloseItsHandlesWhileTheSequenceRuns) {
  auto* T = Make();
  T->SetFinishSemaphore(Finish);
  T->AddDelay(60);
  T->AddOutport(1, true);
  const TThreadRef Ref = T->Ref();
  T->Start();
  CloseHandle(Lock);
  CloseHandle(Finish);
  Lock = Finish = 0;
  EXPECT_TRUE(Ref.WaitFor(2000));
  EXPECT_TRUE(Host->IO.GetOutput(1));
  EXPECT_EQ(Host->Semaphores.OpenHandles(), 0U); // the thread closed its own handles
}

} // namespace
} // namespace nclaser
