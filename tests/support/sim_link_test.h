// A serial laser on port 1 of a fresh stand-in host, against a simulator on a pty.
// TS is sim::TSimEndpoint or a sim::TSim<Model> (or a class derived from one); a suite
// says which requests are its make's idle polls.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/clock.h"
#include "lasers/factory.h"
#include "params/params.h"
#include "sim/endpoint.h"
#include "strings/messages.h"
#include "tests/support/host_fixture.h"
#include "tests/support/serial_params.h"

namespace nclaser::testing {

// Comm on serial port 1, everything else at its defaults.
inline void OnPort1(TLaserComm& Comm, bool Debug = false) {
  Comm.Initialize();
  Comm.CommPort = 1;
  Comm.DebugMode = Debug;
}

template <class TS> class SerialSimTest : public HostTest {
protected:
  using Bytes = std::vector<std::uint8_t>;
  using Requests = std::vector<sim::TSimRequest>;

  void TearDown() override {
    Stop();
    HostTest::TearDown();
  }

  // Takes a running simulator and maps serial port 1 to it.
  TS& Plug(std::unique_ptr<TS> Running) {
    Sim = std::move(Running);
    Host->SerialPorts->Set(1, Sim->DevicePath());
    return *Sim;
  }
  template <class... A> TS& PlugNew(A&&... Args) {
    auto S = std::make_unique<TS>(std::forward<A>(Args)...);
    std::string Error;
    EXPECT_TRUE(S->StartPty(&Error)) << Error;
    return Plug(std::move(S));
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

  std::unique_ptr<TS> Sim;
  TNcLaserPtr Laser;
};

} // namespace nclaser::testing
