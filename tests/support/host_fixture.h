// A fresh stand-in host per test.
#pragma once

#include <gtest/gtest.h>

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
