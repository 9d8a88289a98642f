// TOpRunner: a host's operations on one laser, run one at a time and in order on a worker
// thread, and a stop that never waits for them.
//
// A laser operation may block its caller for seconds (an emission-on that waits for the
// laser's power supply, a queued command waiting for the port). A person pressing Ctrl-C,
// a service manager's SIGTERM or a machine interlock all mean "stop now", so the stop does
// not queue behind the operation: Stop() calls EmissionOff (and LaserOff when asked) at
// once on the stopping thread, while the worker may still be inside its operation. The
// lasers take that: EmissionOff and LaserOff cut their own running sequences.
//
// After a stop, emission comes back only by a new explicit request:
// - the stop drops every queued operation that would switch emission or a power-on step
//   on (those posted as SwitchesOn); other queued operations still run, in order;
// - a SwitchesOn operation posted with the stop count its caller last saw (Stops()) is
//   dropped when a stop came since, so a script or a pin loop racing the stop cannot slip
//   an emission-on in behind it.
//
// Threads:
// - Post, TryPost, Wait, Call, Stops, Idle: any thread but the worker.
// - Stop: any thread but the worker, never from a signal handler. Stops are serialised
//   with each other, and the worker starts no operation while a stop runs: the only laser
//   calls that ever overlap are the stop's EmissionOff/LaserOff and the one operation the
//   worker was already running.
// - RequestStop: any thread, never blocks and takes no lock (a real-time pin loop); the
//   runner's own stopper thread runs Stop for it shortly after.
// - The destructor: the owner's thread, once no other thread calls in. It drops what is
//   queued, lets the running operation end, and joins both threads; it does not touch the
//   laser, which the owner tears down afterwards.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace nclaser {
class TNcLaser;
}

namespace nclaser::hostkit {

class TOpRunner {
public:
  enum class TOpKind : std::uint8_t {
    Plain,      // a getter, a setting, a switch-off, a host action
    SwitchesOn, // switches emission, the laser or a power-on step on
  };
  enum class TOpState : std::uint8_t { Queued, Running, Done, Failed, Dropped };

  // One posted operation; its state can be polled without blocking.
  class TOpHandle {
  public:
    TOpState State() const { return FState.load(); }

  private:
    friend class TOpRunner;
    std::atomic<TOpState> FState{TOpState::Queued};
    std::exception_ptr FError; // written by the worker before FState becomes Failed
  };
  using TOp = std::function<void()>;
  using THandlePtr = std::shared_ptr<TOpHandle>;

  explicit TOpRunner(TNcLaser& Laser);
  TOpRunner(const TOpRunner&) = delete;
  TOpRunner& operator=(const TOpRunner&) = delete;
  ~TOpRunner();

  // How many stops have begun so far.
  std::uint32_t Stops() const { return FStops.load(); }

  // Queues Op. SeenStops: the stop count the request was made under (default: now); a
  // SwitchesOn operation made before a later stop comes back Dropped at once.
  THandlePtr Post(TOp Op, TOpKind Kind, std::optional<std::uint32_t> SeenStops = {});
  // Post that gives up (nullptr) instead of waiting for the runner's lock.
  THandlePtr TryPost(TOp Op, TOpKind Kind, std::optional<std::uint32_t> SeenStops = {});
  // Waits for the operation: true when it ran, false when it was dropped; rethrows what
  // it threw.
  bool Wait(const THandlePtr& H);
  bool Call(TOp Op, TOpKind Kind, std::optional<std::uint32_t> SeenStops = {}) {
    return Wait(Post(std::move(Op), Kind, SeenStops));
  }
  // True when nothing is queued or running.
  bool Idle();

  // EmissionOff, then LaserOff when AlsoLaserOff, on this thread now (see above).
  // Rethrows what the laser threw, after the runner is ready for operations again.
  void Stop(bool AlsoLaserOff);
  // Stop on the runner's stopper thread; requests that come before it runs are merged.
  void RequestStop(bool AlsoLaserOff);

private:
  struct TItem {
    TOp Op;
    TOpKind Kind;
    THandlePtr Handle;
  };
  static constexpr std::uint32_t KReqEmissionOff = 1;
  static constexpr std::uint32_t KReqLaserOff = 2;
  static constexpr std::uint32_t KReqClose = 4;

  THandlePtr Queue(TOp Op, TOpKind Kind, std::optional<std::uint32_t> SeenStops,
                   std::unique_lock<std::mutex>& L);
  void WorkerLoop();
  void StopperLoop();

  TNcLaser& FLaser;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TItem> FQueue;
  bool FRunning = false;
  int FStopping = 0;
  bool FClosing = false;
  std::atomic<std::uint32_t> FStops{0};
  std::mutex FStopSerial;
  std::atomic<std::uint32_t> FStopRequests{0};
  std::thread FWorker;
  std::thread FStopper;
};

} // namespace nclaser::hostkit
