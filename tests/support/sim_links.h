// The host's links for a laser under test against a simulator: the real serial port and
// TCP client, and a ping that asks the simulator whether its cable is in (on loopback every
// address would answer a real ping).
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "host/clock.h"
#include "hostkit/comm_factory.h"
#include "hostkit/icmp_client.h"
#include "sim/endpoint.h"

namespace nclaser::testing {

// What the pings saw, and a switch that makes a reachable laser ignore them.
struct TSimPings {
  std::atomic<int> Probes{0};
  std::atomic<bool> Deaf{false};
};

class TSimProber : public hostkit::TPingProber {
public:
  explicit TSimProber(const sim::TSimEndpoint* Sim,
                      std::shared_ptr<TSimPings> Pings = std::make_shared<TSimPings>())
      : FSim(Sim), FPings(std::move(Pings)) {}
  hostkit::TPingResult Probe(const std::string& /*Host*/, int TimeoutMs) const override {
    ++FPings->Probes;
    if (FSim->Running() && !FSim->Unreachable() && !FPings->Deaf) {
      return hostkit::TPingResult::Answered;
    }
    Sleep(std::min(TimeoutMs, 100));
    return hostkit::TPingResult::NoAnswer;
  }
  std::string Describe() const override { return "simulator reachability"; }

private:
  const sim::TSimEndpoint* FSim;
  std::shared_ptr<TSimPings> FPings;
};

class TSimCommFactory : public TCommFactory {
public:
  TSimCommFactory(std::shared_ptr<const hostkit::TSerialPortMap> Ports,
                  const sim::TSimEndpoint* Sim)
      : FInner(std::move(Ports)), FSim(Sim) {}
  std::unique_ptr<TCommCtrl> NewCommCtrl() override { return FInner.NewCommCtrl(); }
  std::unique_ptr<TKdTcpClient> NewTcpClient() override { return FInner.NewTcpClient(); }
  std::unique_ptr<TIcmpClient> NewIcmpClient() override {
    return std::make_unique<hostkit::TPingClient>(std::make_unique<TSimProber>(FSim, Pings));
  }
  std::shared_ptr<TSimPings> Pings = std::make_shared<TSimPings>();

private:
  hostkit::TLinuxCommFactory FInner;
  const sim::TSimEndpoint* FSim;
};

} // namespace nclaser::testing
