// The tool's answer to SIGINT and SIGTERM: stop the laser now, whatever operation runs.
//
// Both signals are blocked in every thread and taken by one signal thread (sigwait), so
// the stop runs in a plain thread context the moment the signal comes, not when the
// operation in progress returns. The first signal sets StopRequested() and runs the
// registered stop action (emission off, laser off) on the signal thread; the command then
// tears down and leaves with 128 + the signal. A later signal only says that the
// tear-down is in progress: the laser's Destroy always runs, so nothing is left emitting
// and no thread is left running.
#pragma once

#include <atomic>
#include <functional>

namespace nclaser::cli {

// Blocks SIGINT and SIGTERM in the calling thread (call before any other thread starts, so
// every thread inherits the mask) and starts the signal thread.
void InstallStopSignals();
// Ends the signal thread; the signals stay blocked.
void RemoveStopSignals();

// Set by the first SIGINT or SIGTERM.
const std::atomic<bool>& StopRequested();
// 128 + the signal that came (SIGINT when none did).
int InterruptedStatus();

// While it lives, a signal runs Fn at once on the signal thread (at most one signal does).
// The destructor waits for a stop action in progress, so the laser is not torn down under
// it. One at a time.
class TStopAction {
public:
  explicit TStopAction(std::function<void()> Fn);
  TStopAction(const TStopAction&) = delete;
  TStopAction& operator=(const TStopAction&) = delete;
  ~TStopAction();
};

} // namespace nclaser::cli
