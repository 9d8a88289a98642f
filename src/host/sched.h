// How the host schedules the plug-in's threads. A thread whose work is a timed sequence
// (output steps and delays, a power-on sequence) says so before it starts; as it starts,
// the host gives it whatever such threads get on this machine (real-time scheduling, or
// nothing). The plug-in asks, the host decides: threads paced by a device's answers
// (serial command threads, monitors) stay ordinary.
// Threads: EnterTimingCritical is called on the starting thread itself, before its
// Execute, so a change of scheduling never races with the thread's start. It must not
// block, and must leave the thread running if the host refuses.
#pragma once

namespace nclaser {

class TThreadScheduler {
public:
  virtual ~TThreadScheduler() = default;
  virtual void EnterTimingCritical() = 0;
};

// The host's scheduler, or null when the host leaves every thread as it is. Set while no
// plug-in thread starts (when the host installs itself); the host keeps it alive while
// threads of the plug-in may start.
extern TThreadScheduler* ThreadScheduler;

} // namespace nclaser
