#include "hostkit/oprunner.h"

#include <algorithm>

#include "lasers/laser.h"

namespace nclaser::hostkit {

TOpRunner::TOpRunner(TNcLaser& Laser) : FLaser(Laser) {
  FWorker = std::thread([this] { WorkerLoop(); });
  try {
    FStopper = std::thread([this] { StopperLoop(); });
  } catch (...) {
    {
      std::lock_guard<std::mutex> L(FLock);
      FClosing = true;
    }
    FChanged.notify_all();
    FWorker.join();
    throw;
  }
}

TOpRunner::~TOpRunner() {
  FStopRequests.fetch_or(KReqClose);
  FStopRequests.notify_one();
  FStopper.join();
  {
    std::lock_guard<std::mutex> L(FLock);
    FClosing = true;
    for (auto& I : FQueue) {
      I.Handle->FState = TOpState::Dropped;
    }
    FQueue.clear();
  }
  FChanged.notify_all();
  FWorker.join();
}

TOpRunner::THandlePtr TOpRunner::Queue(TOp Op, TOpKind Kind, std::optional<std::uint32_t> SeenStops,
                                       std::unique_lock<std::mutex>& L) {
  auto H = std::make_shared<TOpHandle>();
  if (FClosing || (Kind == TOpKind::SwitchesOn && SeenStops && *SeenStops != FStops.load())) {
    H->FState = TOpState::Dropped;
    return H;
  }
  FQueue.push_back({std::move(Op), Kind, H});
  L.unlock();
  FChanged.notify_all();
  return H;
}

TOpRunner::THandlePtr TOpRunner::Post(TOp Op, TOpKind Kind,
                                      std::optional<std::uint32_t> SeenStops) {
  std::unique_lock<std::mutex> L(FLock);
  return Queue(std::move(Op), Kind, SeenStops, L);
}

TOpRunner::THandlePtr TOpRunner::TryPost(TOp Op, TOpKind Kind,
                                         std::optional<std::uint32_t> SeenStops) {
  std::unique_lock<std::mutex> L(FLock, std::try_to_lock);
  if (!L.owns_lock()) {
    return nullptr;
  }
  return Queue(std::move(Op), Kind, SeenStops, L);
}

bool TOpRunner::Wait(const THandlePtr& H) {
  std::unique_lock<std::mutex> L(FLock);
  FChanged.wait(L, [&] {
    const TOpState S = H->State();
    return S != TOpState::Queued && S != TOpState::Running;
  });
  if (H->State() == TOpState::Failed) {
    std::rethrow_exception(H->FError);
  }
  return H->State() == TOpState::Done;
}

bool TOpRunner::Idle() {
  std::lock_guard<std::mutex> L(FLock);
  return FQueue.empty() && !FRunning;
}

void TOpRunner::WorkerLoop() {
  std::unique_lock<std::mutex> L(FLock);
  for (;;) {
    FChanged.wait(L, [&] { return FClosing || (!FQueue.empty() && FStopping == 0); });
    if (FClosing) {
      return;
    }
    TItem Item = std::move(FQueue.front());
    FQueue.pop_front();
    Item.Handle->FState = TOpState::Running;
    FRunning = true;
    L.unlock();
    TOpState End = TOpState::Done;
    try {
      Item.Op();
    } catch (...) {
      Item.Handle->FError = std::current_exception();
      End = TOpState::Failed;
    }
    Item.Op = nullptr; // what the operation captured goes before its caller hears of it
    L.lock();
    Item.Handle->FState = End;
    FRunning = false;
    FChanged.notify_all();
  }
}

void TOpRunner::Stop(bool AlsoLaserOff) {
  std::lock_guard<std::mutex> Serial(FStopSerial);
  std::deque<TItem> Dropped;
  {
    std::lock_guard<std::mutex> L(FLock);
    ++FStopping;
    ++FStops;
    const auto Keep = std::stable_partition(
        FQueue.begin(), FQueue.end(), [](const TItem& I) { return I.Kind != TOpKind::SwitchesOn; });
    for (auto It = Keep; It != FQueue.end(); ++It) {
      It->Handle->FState = TOpState::Dropped;
      Dropped.push_back(std::move(*It));
    }
    FQueue.erase(Keep, FQueue.end());
  }
  FChanged.notify_all();
  std::exception_ptr Error;
  try {
    FLaser.EmissionOff();
    if (AlsoLaserOff) {
      FLaser.LaserOff();
    }
  } catch (...) {
    Error = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> L(FLock);
    --FStopping;
  }
  FChanged.notify_all();
  if (Error) {
    std::rethrow_exception(Error);
  }
}

void TOpRunner::RequestStop(bool AlsoLaserOff) {
  FStopRequests.fetch_or(KReqEmissionOff | (AlsoLaserOff ? KReqLaserOff : 0U));
  FStopRequests.notify_one();
}

void TOpRunner::StopperLoop() {
  for (;;) {
    FStopRequests.wait(0);
    const std::uint32_t R = FStopRequests.exchange(0);
    if ((R & KReqClose) != 0) {
      return;
    }
    if ((R & KReqEmissionOff) != 0) {
      try {
        Stop((R & KReqLaserOff) != 0);
      } catch (...) {
        // The requester cannot hear of it; the laser reports its own faults.
      }
    }
  }
}

} // namespace nclaser::hostkit
