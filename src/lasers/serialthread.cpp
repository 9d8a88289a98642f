#include "lasers/serialthread.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "host/appsys.h"
#include "host/clock.h"
#include "params/textbuf.h"
#include "protocols/hexdump.h"

namespace nclaser {

namespace {

int WriteCommand(TCommCtrl& Port, const TCommCmd& Cmd) {
  return Port.Write(Cmd.CmdBuf, Cmd.CmdSize);
}
int WriteCommand(TCommCtrl& Port, const std::string& Cmd) {
  return Port.WriteString(Cmd);
}

std::string DumpCommand(const TCommCmd& Cmd) {
  return BytesToStr(Cmd.CmdBuf, Cmd.CmdSize);
}
const std::string& DumpCommand(const std::string& Cmd) {
  return Cmd;
}

} // namespace

bool MakeCommCmd(std::span<const std::uint8_t> Bytes, TCommCmd& Cmd) {
  if (Bytes.empty() || Bytes.size() > sizeof(Cmd.CmdBuf)) {
    return false;
  }
  Cmd = TCommCmd{};
  Cmd.CmdSize = static_cast<std::int32_t>(Bytes.size());
  std::memcpy(Cmd.CmdBuf, Bytes.data(), Bytes.size());
  return true;
}

template <class TElem>
TQueuedCommThread<TElem>::TQueuedCommThread(const TLaserComm& Comm, bool DebugMode)
    : FCmdQueue(std::make_unique<std::deque<TElem>>()), FComm(NewCommCtrl()),
      FDebugMode(DebugMode) {
  if (FComm != nullptr) {
    FComm->SetSettings(TextBufToUtf8(Comm.CommSettings));
    FComm->SetCommPort(Comm.CommPort);
  }
}

template <class TElem> TQueuedCommThread<TElem>::~TQueuedCommThread() {
  // Owners free the thread by Terminate + WaitFor first; this only covers a thread that
  // was never started.
  Terminate();
  WaitFor();
}

template <class TElem> void TQueuedCommThread<TElem>::LockAdd(TElem Cmd) {
  std::lock_guard<TCriticalSection> L(FCmdLock);
  if (FCmdQueue != nullptr) {
    FCmdQueue->push_back(std::move(Cmd));
  }
}

template <class TElem> int TQueuedCommThread<TElem>::QueueCount() {
  std::lock_guard<TCriticalSection> L(FCmdLock);
  return FCmdQueue != nullptr ? static_cast<int>(FCmdQueue->size()) : 0;
}

template <class TElem> void TQueuedCommThread<TElem>::OpenPort() {
  if (FComm != nullptr) {
    FComm->SetActive(true);
  }
}

template <class TElem> void TQueuedCommThread<TElem>::ShowDrained(const std::string& Line) {
  ShowMsg(Line, clBlack);
}

template <class TElem> bool TQueuedCommThread<TElem>::TakeOnce() {
  return !FOnce.exchange(true);
}

template <class TElem> bool TQueuedCommThread<TElem>::SendCommand(const TElem& Cmd) {
  if (FComm == nullptr || !WriteDone(WriteCommand(*FComm, Cmd))) {
    return false;
  }
  if (FDebugMode) {
    ShowMsg(SendLogPrefix() + DumpCommand(Cmd), clBlack);
  }
  PauseAfterWrite();
  return true;
}

template <class TElem> void TQueuedCommThread<TElem>::Execute() {
  SetThreadName(ThreadName());
  if (const std::string D = DebugLine(); !D.empty()) {
    OutputDebugString(D);
  }
  if (FDebugMode) {
    if (const std::string M = StartMessage(); !M.empty()) {
      ShowMsg(M, clBlack);
    }
  }
  FOnce = false;
  while (!Terminated()) {
    try {
      Cycle();
    } catch (...) {
      // A port or parser fault costs one cycle, never the thread.
    }
  }
  try {
    AfterLoop();
  } catch (...) {
  }
}

template <class TElem> void TQueuedCommThread<TElem>::Cycle() {
  if (FComm != nullptr) {
    FComm->SetActive(true);
  }
  if (!PortActive()) {
    Sleep(20);
    return;
  }
  if (const std::string M = PortOpenMessage(); !M.empty() && TakeOnce() && FDebugMode) {
    ShowMsg(M, clBlack);
  }
  InputPhase();
  bool Written = false;
  {
    std::lock_guard<TCriticalSection> L(FCmdLock);
    if (!FCmdQueue->empty()) {
      if (!HoldBack(FCmdQueue->front())) {
        const TElem Cmd = std::move(FCmdQueue->front());
        FCmdQueue->pop_front();
        Written = SendCommand(Cmd);
      }
    } else {
      IdleRequest();
    }
  }
  AfterSend(Written);
  Sleep(5);
}

template <class TElem> void TQueuedCommThread<TElem>::DoTerminate() {
  TThread::DoTerminate();
  std::unique_ptr<std::deque<TElem>> Queue;
  {
    std::lock_guard<TCriticalSection> L(FCmdLock);
    Queue = std::move(FCmdQueue);
  }
  Queue.reset();
  FComm.reset();
}

template class TQueuedCommThread<TCommCmd>;
template class TQueuedCommThread<std::string>;

void TBinaryCommThread::LockAddBytes(std::span<const std::uint8_t> Bytes) {
  TCommCmd Cmd;
  if (MakeCommCmd(Bytes, Cmd)) {
    LockAdd(Cmd);
  }
}

int TBinaryCommThread::LockRemoveBytes(std::span<const std::uint8_t> Bytes) {
  return LockRemoveIf([&](const TCommCmd& C) {
    return static_cast<std::size_t>(C.CmdSize) == Bytes.size() &&
           std::equal(Bytes.begin(), Bytes.end(), C.CmdBuf);
  });
}

} // namespace nclaser
