// A fresh stand-in host per test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "host/clock.h"

#include "hostkit/host.h"

namespace nclaser::testing {

// Polls Pred every 5 ms until it holds (true) or TimeoutMs has passed (false).
inline bool Until(const std::function<bool()>& Pred, int TimeoutMs = 2000) {
  const double T0 = NowMs();
  while (!Pred()) {
    if (ElapsedMs(T0) > TimeoutMs) {
      return false;
    }
    Sleep(5);
  }
  return true;
}

// Counts Counted() over a while after a settling pause: it grows no faster than once per
// PeriodMs (sleeps end late, never early), and not four times slower (a loaded machine).
inline void ExpectPace(const std::function<int()>& Counted, double PeriodMs, int SettleMs = 250) {
  Sleep(SettleMs);
  const int Before = Counted();
  const double T0 = NowMs();
  Sleep(static_cast<int>(std::max(1000.0, 10 * PeriodMs)));
  const double Ms = ElapsedMs(T0);
  const int N = Counted() - Before;
  EXPECT_LE(N, Ms / PeriodMs + 2) << "faster than every " << PeriodMs << " ms";
  EXPECT_GE(N, Ms / (4 * PeriodMs) - 1) << "slower than every " << 4 * PeriodMs << " ms";
}

class HostTest : public ::testing::Test {
protected:
  // Override to build the host differently (for example without a PWM port).
  virtual hostkit::THostOptions HostOptions() { return {}; }

  void SetUp() override {
    Host = std::make_unique<hostkit::THost>(HostOptions());
    Host->Install();
  }
  void TearDown() override { Host.reset(); }

  std::unique_ptr<hostkit::THost> Host;
};

} // namespace nclaser::testing
