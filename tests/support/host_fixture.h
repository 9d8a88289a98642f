// A fresh stand-in host per test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "hostkit/host.h"

namespace nclaser::testing {

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
