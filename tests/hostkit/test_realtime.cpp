#include <gtest/gtest.h>
#include <sched.h>

#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "host/sync.h"
#include "hostkit/host.h"
#include "lasers/iothread.h"
#include "runtime/thread.h"

namespace nclaser {
namespace {

using hostkit::TRealTimeMode;
using hostkit::TRealTimeOptions;

// A system that grants SCHED_FIFO up to a priority (0: refuses everything, as for a user
// without the right) and notes every thread that asked.
struct TFakeSystem {
  std::mutex M;
  int GrantUpTo = 0;
  bool RefuseAfterFirst = false; // the right is gone once the policy has been decided
  int Calls = 0;
  std::vector<std::thread::id> Threads;

  int SetFifo(int Priority) {
    std::lock_guard<std::mutex> L(M);
    ++Calls;
    Threads.push_back(std::this_thread::get_id());
    if (RefuseAfterFirst && Calls > 1) {
      return EPERM;
    }
    return Priority <= GrantUpTo ? 0 : EPERM;
  }
};

TRealTimeOptions Options(TFakeSystem& F, TRealTimeMode Mode, int Priority, bool Lock, int RtLimit,
                         int LockError) {
  TRealTimeOptions O{Mode, Priority, Lock, {}};
  O.System.SetFifo = [&F](int P) { return F.SetFifo(P); };
  O.System.RtPrioLimit = [RtLimit] { return RtLimit; };
  O.System.LockMemory = [LockError] { return LockError; };
  return O;
}

class TOrdinary : public TThread {
protected:
  void Execute() override {}
};

TEST(RealTimePolicy, DecidesOnceLogsOnceAndSequencesRunWhateverTheAnswer) {
  struct TCase {
    const char* Name;
    TRealTimeMode Mode;
    int Priority; // asked for (Fixed)
    bool Lock;
    int GrantUpTo;
    int RtLimit;
    int LockError;
    bool RefuseAfterFirst;
    int Expected; // priority in effect
    const char* LinePart;
  };
  const TCase Cases[] = {
      {"off", TRealTimeMode::Off, 0, false, 99, 0, 0, false, 0,
       "RealTime off: timed sequences run at normal priority"},
      {"auto, root", TRealTimeMode::Auto, 0, false, 99, 0, 0, false, 20,
       "RealTime auto: timed sequences run on SCHED_FIFO priority 20"},
      {"auto, no right", TRealTimeMode::Auto, 0, false, 0, 0, 0, false, 0,
       "RealTime auto: real-time scheduling not permitted"},
      {"auto, rtprio 10 grant", TRealTimeMode::Auto, 0, false, 10, 10, 0, false, 10,
       "SCHED_FIFO priority 10"},
      {"fixed, granted", TRealTimeMode::Fixed, 60, false, 99, 0, 0, false, 60,
       "RealTime 60: timed sequences run on SCHED_FIFO priority 60"},
      {"fixed, above the grant", TRealTimeMode::Fixed, 60, false, 10, 10, 0, false, 0,
       "RealTime 60: SCHED_FIFO priority 60 refused"},
      {"right lost after the decision", TRealTimeMode::Auto, 0, false, 99, 0, 0, true, 20,
       "SCHED_FIFO priority 20"},
      {"off, memory locked", TRealTimeMode::Off, 0, true, 99, 0, 0, false, 0,
       "normal priority; memory locked"},
      {"auto, memory lock refused", TRealTimeMode::Auto, 0, true, 99, 0, ENOMEM, false, 20,
       "priority 20; memory not locked ("},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TFakeSystem F;
    F.GrantUpTo = C.GrantUpTo;
    F.RefuseAfterFirst = C.RefuseAfterFirst;
    hostkit::THost Host;
    Host.SetRealTime(Options(F, C.Mode, C.Priority, C.Lock, C.RtLimit, C.LockError));
    Host.Install();
    Host.Uninstall();
    Host.Install();
    ASSERT_TRUE(Host.RealTime);
    EXPECT_EQ(Host.RealTime->Priority(), C.Expected);
    EXPECT_EQ(Host.RealTime->MemoryLocked(), C.Lock && C.LockError == 0);
    const auto Lines = Host.App.Lines();
    ASSERT_EQ(Lines.size(), 1U);
    EXPECT_NE(Lines[0].Text.find(C.LinePart), std::string::npos) << Lines[0].Text;
    const int CallsAtDecision = F.Calls;

    // An ordinary thread never asks; a sequence asks once, on its own thread, and runs
    // its steps whether it got the priority or not.
    TOrdinary Plain;
    Plain.Start();
    Plain.WaitFor();
    const THandle Lock = CreateSemaphoreW(1, 1, "");
    ASSERT_EQ(WaitForSingleObject(Lock, 0), WAIT_OBJECT_0);
    auto* T = new TNcIOThread(Lock);
    T->AddOutport(1, true);
    T->AddDelay(5);
    T->AddOutport(2, true);
    const TThreadRef Ref = T->Ref();
    T->Start();
    EXPECT_TRUE(Ref.WaitFor(3000));
    EXPECT_TRUE(Host.IO.GetOutput(1));
    EXPECT_TRUE(Host.IO.GetOutput(2));
    CloseHandle(Lock);

    const int Asked = C.Expected > 0 ? 1 : 0;
    std::lock_guard<std::mutex> L(F.M);
    EXPECT_EQ(F.Calls - CallsAtDecision, Asked);
    EXPECT_EQ(Host.RealTime->Raised(), C.RefuseAfterFirst ? 0 : Asked);
    EXPECT_EQ(Host.RealTime->Refused(), C.RefuseAfterFirst ? 1 : 0);
    for (const auto& Id : F.Threads) {
      EXPECT_NE(Id, std::this_thread::get_id()); // the host's own thread is never changed
    }
    EXPECT_EQ(Host.App.Lines().size(), 1U);
  }
}

// What a thread runs on, as the kernel sees it.
struct TSched {
  int Policy = -1;
  int Priority = -1;
};

TSched Current() {
  sched_param P{};
  TSched S;
  S.Policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
  if (sched_getparam(0, &P) == 0) {
    S.Priority = P.sched_priority;
  }
  return S;
}

class TProbe : public TThread {
public:
  explicit TProbe(bool Critical) { SetTimingCritical(Critical); }
  TSched Own;
  TSched Child; // a thread this one starts

protected:
  void Execute() override {
    Own = Current();
    std::thread C([this] { Child = Current(); });
    C.join();
  }
};

TEST(RealTimePolicy, TheRealSystemRaisesOnlyTheCriticalThreadAndNotWhatItStarts) {
  const TSched Main = Current();
  hostkit::THost Host;
  Host.SetRealTime(TRealTimeOptions{TRealTimeMode::Auto, 0, false, {}});
  Host.Install();
  TProbe Critical(true);
  TProbe Ordinary(false);
  Critical.Start();
  Ordinary.Start();
  Critical.WaitFor();
  Ordinary.WaitFor();
  const int P = Host.RealTime->Priority();
  if (P > 0) {
    EXPECT_EQ(Critical.Own.Policy, SCHED_FIFO);
    EXPECT_EQ(Critical.Own.Priority, P);
    EXPECT_EQ(Host.RealTime->Raised(), 1);
  } else {
    EXPECT_EQ(Critical.Own.Policy, Main.Policy); // no right to real-time scheduling here
  }
  EXPECT_EQ(Critical.Child.Policy, P > 0 ? SCHED_OTHER : Main.Policy);
  EXPECT_EQ(Ordinary.Own.Policy, Main.Policy);
  EXPECT_EQ(Current().Policy, Main.Policy);
}

} // namespace
} // namespace nclaser
