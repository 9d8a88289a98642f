// Real-time scheduling for the plug-in's timing-critical threads ([Host] RealTime): the
// policy, the one line that says what is in effect, and the optional memory lock.
//
// "auto" puts timing-critical threads on SCHED_FIFO at a moderate priority when the process
// may (root, CAP_SYS_NICE, or an RLIMIT_RTPRIO grant; a grant below the moderate priority
// is used as it is), and otherwise leaves them as they are. A fixed priority is asked for
// as given and, when refused, the threads run as they are as well: the laser works either
// way, only its timing under load differs. The kernel's real-time throttling stays as the
// system has it.
// Threads: Decide on the host's thread before any plug-in thread starts;
// EnterTimingCritical from any thread; the counters from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "host/sched.h"

namespace nclaser::hostkit {

enum class TRealTimeMode : std::uint8_t { Off, Auto, Fixed };

// Below the kernel's interrupt threads (50), so a busy sequence never holds off the serial
// and network interrupts the lasers' links depend on.
constexpr int KAutoRealTimePriority = 20;

// The system calls the policy makes. Left empty, each is the real call; a test puts in its
// own to be refused (or granted) whatever the rights of the process that runs it.
struct TRealTimeSystem {
  // Puts the calling thread on SCHED_FIFO at Priority. 0, or the errno value.
  std::function<int(int Priority)> SetFifo;
  // The soft RLIMIT_RTPRIO: the highest priority the process may take without privilege.
  std::function<int()> RtPrioLimit;
  // mlockall(MCL_CURRENT | MCL_FUTURE). 0, or the errno value.
  std::function<int()> LockMemory;
};

struct TRealTimeOptions {
  TRealTimeMode Mode = TRealTimeMode::Off;
  int Priority = 0;        // Fixed: the SCHED_FIFO priority, 1 to 99
  bool LockMemory = false; // lock the process's memory so a sequence never waits on a page
  TRealTimeSystem System;
};

class TRealTimePolicy : public TThreadScheduler {
public:
  explicit TRealTimePolicy(TRealTimeOptions Options);

  // Works out what is in effect (the first call tries the scheduling on a short-lived
  // thread of its own, and locks memory when asked) and returns the line that says so.
  // Later calls return the same line.
  const std::string& Decide();
  // The calling thread gets the decided scheduling; refused, it stays as it is. A thread
  // it starts later begins ordinary again (the priority is not inherited).
  void EnterTimingCritical() override;

  // The SCHED_FIFO priority timing-critical threads get; 0 when they are left as they are.
  int Priority() const { return FPriority.load(); }
  bool MemoryLocked() const { return FMemoryLocked.load(); }
  // Threads given real-time scheduling so far, and threads refused it after the decision.
  int Raised() const { return FRaised.load(); }
  int Refused() const { return FRefused.load(); }

private:
  TRealTimeOptions FOptions;
  std::mutex FLock; // Decide
  bool FDecided = false;
  std::string FLine;
  std::atomic<int> FPriority{0};
  std::atomic<bool> FMemoryLocked{false};
  std::atomic<int> FRaised{0};
  std::atomic<int> FRefused{0};
};

} // namespace nclaser::hostkit
