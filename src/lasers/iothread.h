// TNcIOThread: runs a timed sequence of outputs, delays and input waits once on a thread
// of its own, signals completion, gives back its owner's lock and frees itself.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/sync.h"
#include "runtime/thread.h"

namespace nclaser {

// Shared by a sequence and its owner: once the owner has closed it, the sequence writes no
// output any more, though the thread may still be running (the owner need not wait for it
// before it drops its own outputs).
struct TIOGate {
  std::mutex Lock;
  bool Closed = false;
};

class TNcIOThread : public TThread {
public:
  enum TNCIOStepType : std::uint8_t { stDelay, stOutport, stInport };

  struct TNcIOStep {
    TNCIOStepType StepType;
    bool PortStatus;
    std::int32_t Port;
    std::int32_t Delay;
  };

  // The owner has taken SingleLock (count 1, maximum 1) before; the thread releases it by
  // one when it ends. The thread keeps its own handles on both semaphores, so it never
  // touches a handle its owner has closed. Created suspended and free-on-terminate: call
  // Start() after the Add... calls and keep no pointer afterwards (Ref() stays valid).
  explicit TNcIOThread(THandle SingleLock);
  ~TNcIOThread() override;

  void AddOutport(std::int32_t Port, bool Value);
  void AddInport(std::int32_t Port, bool Status, std::int32_t Timeout);
  void AddDelay(std::int32_t Ms);
  // 0 or less: no completion signal.
  void SetFinishSemaphore(THandle hSem);
  // Before Start: the gate the output steps go through.
  void SetGate(std::shared_ptr<TIOGate> Gate) { FGate = std::move(Gate); }

  const std::vector<TNcIOStep>& Steps() const { return FSteps; }

protected:
  void Execute() override;
  void DoTerminate() override;

private:
  THandle FLock = 0;
  THandle FSemaphoreFinish = 0;
  std::vector<TNcIOStep> FSteps;
  std::shared_ptr<TIOGate> FGate;
};

} // namespace nclaser
