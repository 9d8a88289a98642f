#include "runtime/threadreap.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace nclaser {

namespace {

struct TReaper {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<std::thread> Ending;
  int Running = 0; // started and not yet joined

  // Joins outside the lock: a thread being joined may still hand itself over.
  void JoinEnding() {
    std::vector<std::thread> Batch;
    {
      std::lock_guard<std::mutex> L(Lock);
      Batch.swap(Ending);
    }
    for (auto& T : Batch) {
      if (T.joinable() && T.get_id() != std::this_thread::get_id()) {
        T.join();
        NoteThreadJoined();
      } else if (T.joinable()) {
        std::lock_guard<std::mutex> L(Lock);
        Ending.push_back(std::move(T));
      }
    }
  }

  ~TReaper() { JoinEnding(); }
};

TReaper& Reaper() {
  static TReaper R;
  return R;
}

} // namespace

void NoteThreadStarted() {
  auto& R = Reaper();
  std::lock_guard<std::mutex> L(R.Lock);
  ++R.Running;
}

void NoteThreadJoined() {
  auto& R = Reaper();
  {
    std::lock_guard<std::mutex> L(R.Lock);
    --R.Running;
  }
  R.Changed.notify_all();
}

void HandOverEndingThread(std::thread Thread) {
  auto& R = Reaper();
  // Earlier ones are done or nearly so; joining them here keeps the list short.
  R.JoinEnding();
  {
    std::lock_guard<std::mutex> L(R.Lock);
    R.Ending.push_back(std::move(Thread));
  }
  R.Changed.notify_all();
}

bool JoinEveryThread(int TimeoutMs) {
  auto& R = Reaper();
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    R.JoinEnding();
    std::unique_lock<std::mutex> L(R.Lock);
    if (R.Running == 0) {
      return true;
    }
    if (!R.Changed.wait_until(L, Deadline, [&] { return !R.Ending.empty() || R.Running == 0; })) {
      return false;
    }
  }
}

} // namespace nclaser
