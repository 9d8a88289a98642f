// The queued serial command thread every serial laser owns (as its nested TCommThread).
//
// Host calls never touch the port: a laser operation builds a complete command and hands it
// to the thread (LockAdd...), which only appends it to a FIFO under a re-entrant lock. The
// thread keeps the port open (retrying every 20 ms while it is closed), runs the make's
// input phase, writes at most one queued command per cycle (holding the lock across the
// write and the make's pause), runs the make's idle request when the queue is empty, and
// sleeps 5 ms. Each make adds only its own rows through the hooks below.
//
// Threads: LockAdd..., QueueCount may be called from any thread while the thread lives;
// everything else runs on the thread itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <type_traits>

#include "host/clock.h"
#include "host/comm.h"
#include "host/sync.h"
#include "params/params.h"
#include "runtime/thread.h"

namespace nclaser {

constexpr int CommCmdBufSize = 28;

// One binary command, stored by value in the queue: the bytes exactly as they go on the
// line.
struct TCommCmd {
  std::int32_t CmdSize;
  std::uint8_t CmdBuf[CommCmdBufSize];
};
static_assert(sizeof(TCommCmd) == 32, "TCommCmd is a 32-byte record");
static_assert(std::is_trivially_copyable_v<TCommCmd>);

// Fills Cmd; false (Cmd untouched) unless 1 <= size <= 28.
bool MakeCommCmd(std::span<const std::uint8_t> Bytes, TCommCmd& Cmd);

// TElem is TCommCmd for the binary makes and std::string for the text makes.
template <class TElem> class TQueuedCommThread : public TThread {
public:
  using TElement = TElem;

  // Creates the port (no owner), hands it the line settings (up to the first NUL) and the
  // port number, and creates the queue. DebugMode switches the thread's log lines on (makes
  // without them pass false). Does not start: the owner calls Start() once the make's
  // object is fully built (see StartCommThread).
  TQueuedCommThread(const TLaserComm& Comm, bool DebugMode);
  ~TQueuedCommThread() override;

  // Appends one command; never blocks longer than the thread's pause after a write.
  // Commands are dropped once the thread has ended.
  void LockAdd(TElem Cmd);
  int QueueCount();
  bool GetDebugMode() const { return FDebugMode; }
  // The once-flag: set at most once per thread life, when the make's connected (or
  // port-open) message is due. Readable from any thread.
  bool OnceTaken() const { return FOnce.load(); }
  // Drops every queued command for which Pred holds (a command not yet written can be
  // withdrawn); returns how many.
  template <class P> int LockRemoveIf(P&& Pred);

protected:
  // The make's rows.
  virtual std::string ThreadName() const = 0;
  // Written to the debugger output at start; empty for none.
  virtual std::string DebugLine() const { return {}; }
  // Shown (colour 0) at start when the debug flag is set; empty for none.
  virtual std::string StartMessage() const { return {}; }
  // Shown once, with the debug flag, the first time the port is open; a non-empty text
  // also uses up the once-flag. Empty for none.
  virtual std::string PortOpenMessage() const { return {}; }
  // Reads and interprets the laser's input; runs with the port open, outside the lock.
  virtual void InputPhase() {}
  // Under the lock with a non-empty queue: true keeps the head queued for this cycle.
  virtual bool HoldBack(const TElem& /*Head*/) { return false; }
  // Whether the count a write reported means the command went out (and so is logged and
  // followed by the pause). Most makes want a positive count.
  virtual bool WriteDone(int Count) const { return Count > 0; }
  // Under the lock, right after a write that WriteDone accepted.
  virtual void PauseAfterWrite() {}
  // Under the lock, when the queue is empty.
  virtual void IdleRequest() {}
  // Outside the lock, after the send step; Written tells whether a command went out.
  virtual void AfterSend(bool /*Written*/) {}
  // After the loop, before the port is freed.
  virtual void AfterLoop() {}
  virtual std::string SendLogPrefix() const { return "Send Data: "; }

  void Execute() override;
  // Retires the lock (no more commands are taken), then frees the queue, then the port
  // (which closes it).
  void DoTerminate() override;

  // ShowMsg in colour 0, for the input templates of this header.
  static void ShowDrained(const std::string& Line);
  // Writes one command; when WriteDone accepts the count, logs it (debug flag) and pauses.
  // Lock held.
  bool SendCommand(const TElem& Cmd);
  // True the first time it is called in the thread's life (the once-flag).
  bool TakeOnce();
  bool PortActive() const { return FComm != nullptr && FComm->GetActive(); }
  // Opens the port now, for makes that open it while the thread is being built (the
  // cycle keeps reopening it as usual).
  void OpenPort();

  // Input helpers: reads of at most 1024 bytes until one returns nothing, each non-empty
  // read handed to OnChunk and followed by Sleep(20).
  template <class F> void DrainBytes(F&& OnChunk);
  template <class F> void DrainText(F&& OnText);
  // DrainText for makes that log their input: every read, the final empty one included, is
  // shown (colour 0) as Prefix + text when the debug flag is set.
  template <class F> void DrainTextLogged(const std::string& Prefix, F&& OnText);

  TCriticalSection FCmdLock;
  std::unique_ptr<std::deque<TElem>> FCmdQueue;
  std::unique_ptr<TCommCtrl> FComm;
  bool FDebugMode = false;

private:
  void Cycle();
  std::atomic<bool> FOnce{false};
};

// Builds a make's thread and starts it once the object is complete.
template <class T, class... A> TThreadPtr<T> StartCommThread(A&&... Args) {
  TThreadPtr<T> P(new T(std::forward<A>(Args)...));
  P->Start();
  return P;
}

template <class TElem> template <class P> int TQueuedCommThread<TElem>::LockRemoveIf(P&& Pred) {
  std::lock_guard<TCriticalSection> L(FCmdLock);
  if (FCmdQueue == nullptr) {
    return 0;
  }
  const auto Before = FCmdQueue->size();
  std::erase_if(*FCmdQueue, Pred);
  return static_cast<int>(Before - FCmdQueue->size());
}

template <class TElem> template <class F> void TQueuedCommThread<TElem>::DrainBytes(F&& OnChunk) {
  std::uint8_t Buf[1024];
  for (;;) {
    const int N = FComm->Read(Buf, sizeof(Buf));
    if (N <= 0) {
      return;
    }
    OnChunk(static_cast<const std::uint8_t*>(Buf), N);
    Sleep(20);
    if (Terminated()) {
      return;
    }
  }
}

template <class TElem> template <class F> void TQueuedCommThread<TElem>::DrainText(F&& OnText) {
  for (;;) {
    const std::string Text = FComm->ReadAsString();
    if (Text.empty()) {
      return;
    }
    OnText(Text);
    Sleep(20);
    if (Terminated()) {
      return;
    }
  }
}

template <class TElem>
template <class F>
void TQueuedCommThread<TElem>::DrainTextLogged(const std::string& Prefix, F&& OnText) {
  for (;;) {
    const std::string Text = FComm->ReadAsString();
    if (FDebugMode) {
      ShowDrained(Prefix + Text);
    }
    if (Text.empty()) {
      return;
    }
    OnText(Text);
    Sleep(20);
    if (Terminated()) {
      return;
    }
  }
}

extern template class TQueuedCommThread<TCommCmd>;
extern template class TQueuedCommThread<std::string>;

// The binary makes' thread: adds the byte form of LockAdd.
class TBinaryCommThread : public TQueuedCommThread<TCommCmd> {
public:
  using TQueuedCommThread::TQueuedCommThread;
  // Queues the bytes as one command when they are 1 to 28 long; drops others silently.
  void LockAddBytes(std::span<const std::uint8_t> Bytes);
  // Withdraws queued commands equal to Bytes that have not gone out yet: a switch-off
  // takes back the switch-on still waiting for the port.
  int LockRemoveBytes(std::span<const std::uint8_t> Bytes);
};

} // namespace nclaser
