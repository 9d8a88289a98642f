#include "hostkit/realtime.h"

#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace nclaser::hostkit {

namespace {

int LinuxSetFifo(int Priority) {
  sched_param P{};
  P.sched_priority = Priority;
  // On Linux, pid 0 is the calling thread. SCHED_RESET_ON_FORK: a thread or process that a
  // real-time thread starts begins ordinary, so the priority never spreads past the
  // threads that asked for it.
  return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &P) == 0 ? 0 : errno;
}

int LinuxRtPrioLimit() {
  rlimit L{};
  if (getrlimit(RLIMIT_RTPRIO, &L) != 0) {
    return 0;
  }
  return L.rlim_cur == RLIM_INFINITY ? 99 : static_cast<int>(std::min<rlim_t>(L.rlim_cur, 99));
}

int LinuxLockMemory() {
  return mlockall(MCL_CURRENT | MCL_FUTURE) == 0 ? 0 : errno;
}

std::string ErrorText(int Error) {
  return std::strerror(Error);
}

} // namespace

TRealTimePolicy::TRealTimePolicy(TRealTimeOptions Options) : FOptions(std::move(Options)) {
  TRealTimeSystem& S = FOptions.System;
  if (!S.SetFifo) {
    S.SetFifo = LinuxSetFifo;
  }
  if (!S.RtPrioLimit) {
    S.RtPrioLimit = LinuxRtPrioLimit;
  }
  if (!S.LockMemory) {
    S.LockMemory = LinuxLockMemory;
  }
}

const std::string& TRealTimePolicy::Decide() {
  std::lock_guard<std::mutex> L(FLock);
  if (FDecided) {
    return FLine;
  }
  FDecided = true;
  const TRealTimeSystem& S = FOptions.System;
  int Priority = 0;
  int Error = 0;
  if (FOptions.Mode != TRealTimeMode::Off) {
    // Tried on a thread of its own: the caller's scheduling stays as it is.
    const int Wanted =
        FOptions.Mode == TRealTimeMode::Auto ? KAutoRealTimePriority : FOptions.Priority;
    std::thread Probe([&] {
      Error = S.SetFifo(Wanted);
      if (Error == 0) {
        Priority = Wanted;
        return;
      }
      // Without privilege, a smaller rtprio grant still allows its own priority.
      const int Limit = S.RtPrioLimit();
      if (FOptions.Mode == TRealTimeMode::Auto && Error == EPERM && Limit > 0 && Limit < Wanted &&
          S.SetFifo(Limit) == 0) {
        Priority = Limit;
        Error = 0;
      }
    });
    Probe.join();
  }
  FPriority = Priority;

  switch (FOptions.Mode) {
  case TRealTimeMode::Off:
    FLine = "RealTime off: timed sequences run at normal priority";
    break;
  case TRealTimeMode::Auto:
    FLine = Priority > 0
                ? "RealTime auto: timed sequences run on SCHED_FIFO priority " +
                      std::to_string(Priority)
                : "RealTime auto: real-time scheduling not permitted (" + ErrorText(Error) +
                      "; needs root, CAP_SYS_NICE or an rtprio limit), timed sequences "
                      "run at normal priority";
    break;
  case TRealTimeMode::Fixed:
    FLine =
        "RealTime " + std::to_string(FOptions.Priority) + ": " +
        (Priority > 0 ? "timed sequences run on SCHED_FIFO priority " + std::to_string(Priority)
                      : "SCHED_FIFO priority " + std::to_string(FOptions.Priority) + " refused (" +
                            ErrorText(Error) + "), timed sequences run at normal priority");
    break;
  }
  if (FOptions.LockMemory) {
    const int LockError = S.LockMemory();
    FMemoryLocked = LockError == 0;
    FLine +=
        LockError == 0 ? "; memory locked" : "; memory not locked (" + ErrorText(LockError) + ")";
  }
  return FLine;
}

void TRealTimePolicy::EnterTimingCritical() {
  const int Priority = FPriority.load();
  if (Priority <= 0) {
    return;
  }
  // No log line here: this runs at the start of a sequence, whose first step must not wait
  // for the message log. The counters tell tests and the benchmark.
  if (FOptions.System.SetFifo(Priority) == 0) {
    ++FRaised;
  } else {
    ++FRefused;
  }
}

} // namespace nclaser::hostkit
