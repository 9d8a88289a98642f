// The thread base of every plug-in thread, on std::thread.
//
// Start() runs Execute on a new thread once the object is fully built; Terminate() asks it
// to stop (seen by Terminated() and by SleepA at once); WaitFor() joins. A thread marked
// free-on-terminate deletes itself after DoTerminate; its owner may keep a TThreadRef,
// which stays valid after the object is gone, to ask it to stop and wait for its end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace nclaser {

class TThreadScheduler;

struct TThreadControl {
  std::mutex M;
  std::condition_variable CV;
  std::atomic<bool> Terminated{false};
  bool Finished = false;
};

class TThreadRef {
public:
  TThreadRef() = default;
  explicit TThreadRef(std::shared_ptr<TThreadControl> Ctl) : FCtl(std::move(Ctl)) {}
  bool Assigned() const { return FCtl != nullptr; }
  // The same thread.
  bool operator==(const TThreadRef& Other) const { return FCtl == Other.FCtl; }
  void Reset() { FCtl.reset(); }
  void Terminate() const;
  bool Finished() const;
  // Waits until the thread has run Execute and DoTerminate (and, when it frees itself, is
  // gone). A negative time-out waits without limit. True when it has finished.
  bool WaitFor(int TimeoutMs = -1) const;

private:
  std::shared_ptr<TThreadControl> FCtl;
};

class TThread {
public:
  TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // Joins a thread that is still running; owners stop and join their threads in their own
  // teardown (derived fields are gone by the time this runs).
  virtual ~TThread();

  void Start();
  void Terminate();
  bool Terminated() const { return FCtl->Terminated.load(std::memory_order_acquire); }
  // Joins; not for free-on-terminate threads (use Ref().WaitFor()).
  void WaitFor();
  void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
  bool GetFreeOnTerminate() const { return FFreeOnTerminate; }
  TThreadRef Ref() const { return TThreadRef(FCtl); }
  // A timed sequence's thread: as it starts, the host's scheduler (host/sched.h) gives it
  // the scheduling such threads get on this machine. Set before Start().
  void SetTimingCritical(bool Value) { FTimingCritical = Value; }

  // The interruptible sleep of every plug-in thread: waits until more than Ms milliseconds
  // have passed or the thread is asked to terminate (then writes "Terminated" to the
  // debugger output). True when the time ran out, false when cut short.
  bool SleepA(int Ms);

protected:
  virtual void Execute() = 0;
  // Runs on the thread after Execute returns (also after an exception).
  virtual void DoTerminate() {}

private:
  static void Run(TThread* Self, const std::shared_ptr<TThreadControl>& Ctl,
                  TThreadScheduler* Scheduler);

  std::shared_ptr<TThreadControl> FCtl;
  std::thread FThread;
  bool FFreeOnTerminate = false;
  bool FStarted = false;
  bool FTimingCritical = false;
};

// Frees a thread the way the runtime does: Terminate, WaitFor, delete.
struct TThreadFree {
  void operator()(TThread* T) const;
};
template <class T> using TThreadPtr = std::unique_ptr<T, TThreadFree>;

} // namespace nclaser
