// A laser on a fresh stand-in host against a simulator over the link a suite chooses, so
// that one suite runs on both transports: a pty mapped to serial port 1, or TCP at a
// loopback address of this process. TS is sim::TSimEndpoint or a sim::TSim<Model> (or a
// class derived from one); a suite says which requests are its make's idle polls. The
// host's pings ask the simulator whether its cable is in (on loopback every address would
// answer a real ping).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/clock.h"
#include "hostkit/comm_factory.h"
#include "hostkit/comm_tap.h"
#include "hostkit/icmp_client.h"
#include "lasers/factory.h"
#include "params/params.h"
#include "sim/endpoint.h"
#include "sim/table.h"
#include "strings/messages.h"
#include "tests/support/host_fixture.h"
#include "tests/support/serial_params.h"

namespace nclaser::testing {

enum class TLink { Pty, Tcp };

inline std::string LinkName(const ::testing::TestParamInfo<TLink>& I) {
  return I.param == TLink::Pty ? "Pty" : "Tcp";
}

// What the pings saw, and a switch that makes a reachable laser ignore them.
struct TSimPings {
  std::atomic<int> Probes{0};
  std::atomic<bool> Deaf{false};
  std::atomic<int> AnswerAfterMs{0}; // a slow network: later than a ping's time-out is none
};

class TSimProber : public hostkit::TPingProber {
public:
  TSimProber(std::function<const sim::TSimEndpoint*()> Sim, std::shared_ptr<TSimPings> Pings)
      : FSim(std::move(Sim)), FPings(std::move(Pings)) {}
  hostkit::TPingResult Probe(const std::string& /*Host*/, int TimeoutMs) const override {
    ++FPings->Probes;
    const sim::TSimEndpoint* S = FSim();
    if (S != nullptr && S->Running() && !S->Unreachable() && !FPings->Deaf) {
      const int After = FPings->AnswerAfterMs;
      Sleep(std::min(After, TimeoutMs));
      return After < TimeoutMs ? hostkit::TPingResult::Answered : hostkit::TPingResult::NoAnswer;
    }
    Sleep(std::min(TimeoutMs, 100));
    return hostkit::TPingResult::NoAnswer;
  }
  std::string Describe() const override { return "simulator reachability"; }

private:
  std::function<const sim::TSimEndpoint*()> FSim;
  std::shared_ptr<TSimPings> FPings;
};

// The real serial port and TCP client, and the simulator's ping.
class TSimCommFactory : public hostkit::TLinuxCommFactory {
public:
  TSimCommFactory(std::shared_ptr<const hostkit::TSerialPortMap> Ports,
                  std::function<const sim::TSimEndpoint*()> Sim)
      : TLinuxCommFactory(std::move(Ports)), FSim(std::move(Sim)) {}
  std::unique_ptr<TIcmpClient> NewIcmpClient() override {
    return std::make_unique<hostkit::TPingClient>(std::make_unique<TSimProber>(FSim, Pings));
  }
  std::shared_ptr<TSimPings> Pings = std::make_shared<TSimPings>();

private:
  std::function<const sim::TSimEndpoint*()> FSim;
};

// Every write of the laser under test, stamped before it left: the pace the laser kept,
// which a simulator's reader starved of the processor cannot blur by reading late.
class TWriteLog : public hostkit::TLinkTap {
public:
  struct TWrite {
    double TimeMs;
    std::vector<std::uint8_t> Bytes;
  };
  void Writing(const std::string& /*Link*/, double AtMs,
               std::span<const std::uint8_t> Bytes) override {
    std::lock_guard<std::mutex> L(FLock);
    FWrites.push_back({AtMs, {Bytes.begin(), Bytes.end()}});
  }
  std::vector<TWrite> Writes() const {
    std::lock_guard<std::mutex> L(FLock);
    return FWrites;
  }
  void Clear() {
    std::lock_guard<std::mutex> L(FLock);
    FWrites.clear();
  }

private:
  mutable std::mutex FLock;
  std::vector<TWrite> FWrites;
};

template <class TS> class SimLinkTest : public HostTest {
protected:
  using Bytes = std::vector<std::uint8_t>;
  using Requests = std::vector<sim::TSimRequest>;

  // Net: the loopback network of this suite's TCP address.
  explicit SimLinkTest(int Net = 40) : Address(sim::LoopbackAddress(Net)) {}

  void SetUp() override {
    HostTest::SetUp();
    auto F = std::make_unique<TSimCommFactory>(Host->SerialPorts, [this] { return Sim.get(); });
    Pings = F->Pings;
    Host->Comm = std::make_unique<hostkit::TTapCommFactory>(std::move(F), WriteLog);
    CommFactory = Host->Comm.get();
  }
  void TearDown() override {
    Stop();
    HostTest::TearDown();
  }

  // The laser's class and record come from the simulator table's rig Name.
  void UseRig(const std::string& Name) {
    Rig = sim::FindRig(Name);
    ASSERT_NE(Rig, nullptr) << Name;
    TcpPort = sim::RigFamily(*Rig).TcpPort;
  }
  sim::TRigLink RigLink() const { return {Link == TLink::Tcp, 1, Address, TcpPort}; }
  // The rig's record on this suite's link.
  TLaserParams RigParams() const { return sim::RigParams(*Rig, RigLink()); }
  TNcLaserPtr NewRigLaser(const TLaserParams& P) const {
    return FindLaserClass(Rig->Class)->Factory(nullptr, P);
  }

  // Starts Sim on the link: on a pty mapped to serial port 1, or at Address.
  void StartSim() {
    std::string Error;
    ASSERT_TRUE(Link == TLink::Tcp ? Sim->StartTcp(Address, TcpPort, &Error)
                                   : Sim->StartPty(&Error))
        << Error;
    if (Link == TLink::Pty) {
      Host->SerialPorts->Set(1, Sim->DevicePath());
    }
  }
  // Takes a running simulator (and maps serial port 1 to its pty).
  TS& Plug(std::unique_ptr<TS> Running) {
    Sim = std::move(Running);
    if (!Sim->IsTcp()) {
      Host->SerialPorts->Set(1, Sim->DevicePath());
    }
    return *Sim;
  }
  template <class... A> TS& PlugNew(A&&... Args) {
    Sim = std::make_unique<TS>(std::forward<A>(Args)...);
    StartSim();
    return *Sim;
  }
  // Takes the laser and registers its alarms.
  template <class T = TNcLaser> T& Adopt(TNcLaserPtr L) {
    Laser = std::move(L);
    Laser->RegisterAlarms();
    return static_cast<T&>(*Laser);
  }
  template <class T> T& Open(const TLaserParams& P) { return Adopt<T>(NewLaser<T>(nullptr, P)); }
  void Stop() {
    Laser.reset();
    if (Sim) {
      Sim->Stop();
    }
  }

  virtual bool IsPoll(const Bytes& Request) const = 0;
  // The requests other than the idle polls.
  Requests CommandRequests(Requests R) const {
    std::erase_if(R, [this](const auto& X) { return IsPoll(X.Bytes); });
    return R;
  }
  std::vector<Bytes> Commands(const Requests& R) const {
    std::vector<Bytes> Out;
    for (const auto& X : CommandRequests(R)) {
      Out.push_back(X.Bytes);
    }
    return Out;
  }
  bool WaitCommands(size_t N, int TimeoutMs = 5000) const {
    return Sim->WaitRequests([&](const Requests& R) { return CommandRequests(R).size() >= N; },
                             TimeoutMs);
  }

  // How many requests are exactly Want.
  int Count(const Bytes& Want) const {
    const Requests R = Sim->Requests();
    return static_cast<int>(
        std::count_if(R.begin(), R.end(), [&](const auto& X) { return X.Bytes == Want; }));
  }
  int Count(std::string_view Want) const { return Count(Bytes(Want.begin(), Want.end())); }
  template <class W> bool WaitCount(const W& Want, int N, int TimeoutMs = 5000) const {
    return Until([&] { return Count(Want) >= N; }, TimeoutMs);
  }

  // Updates the alarms until the host shows N.
  bool AlarmsBecome(size_t N, int TimeoutMs = 5000) {
    return Until(
        [&] {
          Laser->UpdateAlarms();
          return Host->Alarms.Count() == N;
        },
        TimeoutMs);
  }
  bool WaitConnected() { return Host->App.WaitForLine(SLaserConnectedOk.Get(), 3000); }
  int Connected() const { return Host->App.CountContaining(SLaserConnectedOk.Get()); }

  // Frees the laser: Destroy returns within WithinMs, and for WatchMs afterwards nothing
  // reaches the simulator later than SlackMs (its read stamps) after Destroy returned.
  void TearDownQuietly(double WithinMs = 1000.0, int WatchMs = 300, double SlackMs = 50.0) {
    const double Start = NowMs();
    Laser.reset();
    const double Returned = NowMs();
    EXPECT_LT(Returned - Start, WithinMs);
    Sleep(WatchMs);
    for (const auto& X : Sim->Requests()) {
      EXPECT_LT(X.TimeMs, Returned + SlackMs) << sim::HexText(X.Bytes);
    }
  }

  TLink Link = TLink::Pty; // a suite run on both links sets it from its parameter
  std::string Address;
  int TcpPort = 0;
  const sim::TSimRig* Rig = nullptr;
  std::shared_ptr<TSimPings> Pings;
  std::shared_ptr<TWriteLog> WriteLog = std::make_shared<TWriteLog>();
  std::unique_ptr<TS> Sim;
  TNcLaserPtr Laser;
};

} // namespace nclaser::testing
