#include "runtime/thread.h"

#include <chrono>

#include "host/appsys.h"
#include "host/clock.h"
#include "host/sched.h"
#include "runtime/threadreap.h"

namespace nclaser {

void TThreadRef::Terminate() const {
  if (FCtl) {
    std::lock_guard<std::mutex> L(FCtl->M);
    FCtl->Terminated.store(true, std::memory_order_release);
    FCtl->CV.notify_all();
  }
}

bool TThreadRef::Finished() const {
  if (!FCtl) {
    return true;
  }
  std::lock_guard<std::mutex> L(FCtl->M);
  return FCtl->Finished;
}

bool TThreadRef::WaitFor(int TimeoutMs) const {
  if (!FCtl) {
    return true;
  }
  std::unique_lock<std::mutex> L(FCtl->M);
  if (TimeoutMs < 0) {
    FCtl->CV.wait(L, [this] { return FCtl->Finished; });
    return true;
  }
  return FCtl->CV.wait_for(L, std::chrono::milliseconds(TimeoutMs),
                           [this] { return FCtl->Finished; });
}

TThread::TThread() : FCtl(std::make_shared<TThreadControl>()) {}

TThread::~TThread() {
  if (FThread.joinable()) {
    if (FThread.get_id() == std::this_thread::get_id()) {
      HandOverEndingThread(std::move(FThread));
    } else {
      Terminate();
      FThread.join();
      NoteThreadJoined();
    }
  }
}

void TThread::Start() {
  if (FStarted) {
    return;
  }
  FStarted = true;
  // The new thread waits for the lock so that FThread is assigned before it may detach it.
  std::lock_guard<std::mutex> L(FCtl->M);
  // The scheduler is taken here, on the starting thread, so the new thread never reads the
  // host's global while the host may be changing it.
  FThread = std::thread(&TThread::Run, this, FCtl, FTimingCritical ? ThreadScheduler : nullptr);
  NoteThreadStarted();
}

void TThread::Run(TThread* Self, const std::shared_ptr<TThreadControl>& Ctl,
                  TThreadScheduler* Scheduler) {
  { std::lock_guard<std::mutex> L(Ctl->M); }
  if (Scheduler != nullptr) {
    try {
      Scheduler->EnterTimingCritical();
    } catch (...) {
      // Refused or failed: the thread runs as it is.
    }
  }
  try {
    Self->Execute();
  } catch (...) {
    // A thread's fault ends the thread, never the process.
  }
  try {
    Self->DoTerminate();
  } catch (...) {
  }
  if (Self->FFreeOnTerminate) {
    HandOverEndingThread(std::move(Self->FThread));
    delete Self;
  }
  std::lock_guard<std::mutex> L(Ctl->M);
  Ctl->Finished = true;
  Ctl->CV.notify_all();
}

void TThread::Terminate() {
  TThreadRef(FCtl).Terminate();
}

void TThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) {
    FThread.join();
    NoteThreadJoined();
  }
}

bool TThread::SleepA(int Ms) {
  const double Start = NowMs();
  if (Ms > 0) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    bool Cut = false;
    {
      std::unique_lock<std::mutex> L(FCtl->M);
      Cut = FCtl->CV.wait_until(L, Deadline, [this] { return Terminated(); });
    }
    if (Cut) {
      OutputDebugString("Terminated");
      return ElapsedMs(Start) > Ms;
    }
  }
  // The wait ends at or just past the deadline; make "more than Ms" hold. Bounded at any
  // priority: the deadline lies at least Ms after Start, so this turns for microseconds
  // (a clock tick when Ms is 0) and never holds a core for long at real-time priority.
  while (ElapsedMs(Start) <= Ms) {
    std::this_thread::yield();
  }
  return true;
}

void TThreadFree::operator()(TThread* T) const {
  if (T != nullptr) {
    T->Terminate();
    T->WaitFor();
    delete T;
  }
}

} // namespace nclaser
