// A HostTest whose communication services hand out fake serial ports on one line.
#pragma once

#include <memory>

#include "tests/support/fake_comm.h"
#include "tests/support/host_fixture.h"

namespace nclaser::testing {

class FakeCommTest : public HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    CommFactory = &Factory;
  }
  void TearDown() override {
    CommFactory = nullptr;
    HostTest::TearDown();
  }

  std::shared_ptr<TFakeLine> Line = std::make_shared<TFakeLine>();
  TFakeCommFactory Factory{Line};
};

} // namespace nclaser::testing
