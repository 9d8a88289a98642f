#include "hostkit/oprunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/clock.h"
#include "lasers/laser.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

using hostkit::TOpRunner;
using TKind = TOpRunner::TOpKind;

// Records its calls, and how many laser calls ever ran at once.
class TFakeLaser : public TNcLaser {
public:
  bool GetIsLaserOn() override { return false; }
  void LaserOn() override { Note("LaserOn"); }
  void LaserOff() override { Note("LaserOff"); }
  void EmissionOff() override { Note("EmissionOff"); }
  // A blocking operation: holds until released.
  void Block() {
    Enter();
    while (!Release) {
      Sleep(1);
    }
    Leave("Block");
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> L(FLock);
    return FCalls;
  }
  std::atomic<bool> Release{false};
  std::atomic<int> Inside{0}, MostInside{0};
  std::atomic<std::thread::id> StopThread;

private:
  void Enter() {
    const int N = ++Inside;
    int M = MostInside;
    while (N > M && !MostInside.compare_exchange_weak(M, N)) {
    }
  }
  void Leave(const char* Name) {
    std::lock_guard<std::mutex> L(FLock);
    FCalls.emplace_back(Name);
    --Inside;
  }
  void Note(const char* Name) {
    Enter();
    if (std::string(Name) != "LaserOn") {
      StopThread = std::this_thread::get_id();
    }
    Leave(Name);
  }
  std::mutex FLock;
  std::vector<std::string> FCalls;
};

TEST(OpRunner, StopCutsInAtOnceDropsQueuedSwitchOnsAndKeepsTheRestInOrder) {
  TFakeLaser L;
  TOpRunner R(L);
  EXPECT_THROW(R.Call([] { throw std::runtime_error("x"); }, TKind::Plain), std::runtime_error);
  const auto Seen = R.Stops();
  auto Blocked = R.Post([&] { L.Block(); }, TKind::SwitchesOn);
  auto On = R.Post([&] { L.LaserOn(); }, TKind::SwitchesOn);
  std::atomic<int> After{0};
  auto Plain = R.Post([&] { After = L.Inside.load() + 1; }, TKind::Plain);
  ASSERT_TRUE(testing::Until([&] { return L.Inside == 1; }));
  R.Stop(true); // while Block runs
  EXPECT_EQ(L.StopThread.load(), std::this_thread::get_id());
  EXPECT_EQ(On->State(), TOpRunner::TOpState::Dropped);
  // Made before the stop: dropped; made after it: runs.
  EXPECT_FALSE(R.Call([&] { L.LaserOn(); }, TKind::SwitchesOn, Seen));
  L.Release = true;
  EXPECT_TRUE(R.Wait(Blocked));
  EXPECT_TRUE(R.Wait(Plain));
  EXPECT_EQ(After, 1); // alone: the stop was over and Block had returned
  EXPECT_TRUE(R.Call([&] { L.LaserOn(); }, TKind::SwitchesOn, R.Stops()));
  EXPECT_EQ(L.Calls(), (std::vector<std::string>{"EmissionOff", "LaserOff", "Block", "LaserOn"}));
  EXPECT_EQ(L.MostInside, 2); // only the stop against the running operation
  EXPECT_TRUE(R.Idle());

  // From a pin loop: no lock, no wait; the stopper thread stops shortly after.
  L.StopThread = std::this_thread::get_id();
  R.RequestStop(false);
  ASSERT_TRUE(testing::Until([&] { return L.Calls().size() == 5; }));
  EXPECT_EQ(L.Calls().back(), "EmissionOff");
  EXPECT_NE(L.StopThread.load(), std::this_thread::get_id());
  EXPECT_EQ(R.Stops(), 2U);
}

} // namespace
} // namespace nclaser
