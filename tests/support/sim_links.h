// The host's links for a laser under test against a simulator: the real serial port and
// TCP client, and a ping that asks the simulator whether its cable is in (on loopback every
// address would answer a real ping).
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "host/clock.h"
#include "hostkit/comm_factory.h"
#include "hostkit/icmp_client.h"
#include "sim/endpoint.h"

namespace nclaser::testing {

class TSimProber : public hostkit::TPingProber {
public:
  explicit TSimProber(const sim::TSimEndpoint* Sim) : FSim(Sim) {}
  hostkit::TPingResult Probe(const std::string& /*Host*/, int TimeoutMs) const override {
    if (FSim->Running() && !FSim->Unreachable()) {
      return hostkit::TPingResult::Answered;
    }
    Sleep(std::min(TimeoutMs, 100));
    return hostkit::TPingResult::NoAnswer;
  }
  std::string Describe() const override { return "simulator reachability"; }

private:
  const sim::TSimEndpoint* FSim;
};

class TSimCommFactory : public TCommFactory {
public:
  TSimCommFactory(std::shared_ptr<const hostkit::TSerialPortMap> Ports,
                  const sim::TSimEndpoint* Sim)
      : FInner(std::move(Ports)), FSim(Sim) {}
  std::unique_ptr<TCommCtrl> NewCommCtrl() override { return FInner.NewCommCtrl(); }
  std::unique_ptr<TKdTcpClient> NewTcpClient() override { return FInner.NewTcpClient(); }
  std::unique_ptr<TIcmpClient> NewIcmpClient() override {
    return std::make_unique<hostkit::TPingClient>(std::make_unique<TSimProber>(FSim));
  }

private:
  hostkit::TLinuxCommFactory FInner;
  const sim::TSimEndpoint* FSim;
};

} // namespace nclaser::testing
