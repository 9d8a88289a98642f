#include "lasers/iothread.h"

#include <thread>

#include "host/appsys.h"
#include "host/clock.h"
#include "host/io.h"

namespace nclaser {

namespace {

constexpr std::int32_t KMaxStepMs = 600000;
// A delay sleeps until this close to its end, then watches the clock; the sleep keeps a
// long delay from costing a core, the watch keeps its end exact. The watch is the only spin
// of a sequence and lasts at most this long per delay step, so a sequence on real-time
// priority never holds a core for more than 2 ms at a time.
constexpr double KSpinMs = 2.0;

} // namespace

TNcIOThread::TNcIOThread(THandle SingleLock) {
  // Handles of our own: the owner may close its handles (laser destroyed) while the
  // sequence still runs.
  FLock = SingleLock > 0 ? DuplicateHandle(SingleLock) : SingleLock;
  SetFreeOnTerminate(true);
  // Its delays and input waits are the machine's timing: the host may give it real-time
  // scheduling.
  SetTimingCritical(true);
}

TNcIOThread::~TNcIOThread() {
  if (FLock > 0) {
    CloseHandle(FLock);
  }
  if (FSemaphoreFinish > 0) {
    CloseHandle(FSemaphoreFinish);
  }
}

void TNcIOThread::AddOutport(std::int32_t Port, bool Value) {
  FSteps.push_back({stOutport, Value, Port, 0});
}

void TNcIOThread::AddInport(std::int32_t Port, bool Status, std::int32_t Timeout) {
  FSteps.push_back({stInport, Status, Port, Timeout});
}

void TNcIOThread::AddDelay(std::int32_t Ms) {
  FSteps.push_back({stDelay, false, 0, Ms});
}

void TNcIOThread::SetFinishSemaphore(THandle hSem) {
  if (FSemaphoreFinish > 0) {
    CloseHandle(FSemaphoreFinish);
  }
  FSemaphoreFinish = hSem > 0 ? DuplicateHandle(hSem) : hSem;
}

void TNcIOThread::Execute() {
  SetThreadName("NCIOThread");
  for (const TNcIOStep& Step : FSteps) {
    if (Terminated()) {
      return;
    }
    switch (Step.StepType) {
    case stDelay: {
      if (Step.Delay < 0 || Step.Delay > KMaxStepMs) {
        break;
      }
      const double Start = NowMs();
      const int SleepMs = static_cast<int>(Step.Delay - KSpinMs);
      if (SleepMs > 0 && !SleepA(SleepMs)) {
        break; // terminated
      }
      // Bounded: SleepA returned no earlier than KSpinMs before the end (or the whole delay
      // is shorter than that).
      while (!Terminated() && ElapsedMs(Start) <= Step.Delay) {
      }
      break;
    }
    case stOutport: {
      std::unique_lock<std::mutex> G;
      if (FGate) {
        G = std::unique_lock<std::mutex>(FGate->Lock);
        if (FGate->Closed) {
          return; // cut short: no completion signal either
        }
      }
      if (GPOutput != nullptr) {
        GPOutput->SetOutputbit(PortByte(Step.Port), Step.PortStatus);
      }
      break;
    }
    case stInport: {
      const double Start = NowMs();
      const std::int32_t Timeout =
          Step.Delay < 0 || Step.Delay > KMaxStepMs ? KMaxStepMs : Step.Delay;
      for (;;) {
        if (GPInput != nullptr && GPInput->GetInputBit(PortByte(Step.Port)) == Step.PortStatus) {
          break;
        }
        if (ElapsedMs(Start) >= Timeout || Terminated()) {
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      break;
    }
    }
  }
  // A sequence cut short by termination does not signal completion.
  if (!Terminated() && FSemaphoreFinish > 0) {
    ReleaseSemaphore(FSemaphoreFinish, 1);
  }
}

void TNcIOThread::DoTerminate() {
  TThread::DoTerminate();
  FSteps.clear();
  if (FLock > 0) {
    ReleaseSemaphore(FLock, 1);
  }
}

} // namespace nclaser
