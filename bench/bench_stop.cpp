// Stop latency: from TOpRunner::Stop (what SIGINT, SIGTERM or an interlock calls) to the
// emission-off command's arrival at the laser, or to the output falling, while the runner's
// worker is inside the operation that blocks longest. p50/p99 per case.
//   nlight_9600   EmissionOn waiting out its 3.5 s; "set enable 0" on a 9600-baud line
//   ylr_poweron   EmissionOn returned, its power-on thread running; "EMOFF" over TCP
//   rofin_seq     EmissionOn's output sequence running; the mains output falling
// A pty carries bytes at once whatever the line settings say, so the serial row adds the
// command's own transfer time at 9600 baud (10 bits a byte) to what it measured.
// Usage: bench_stop [runs] [case-filter]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "host/clock.h"
#include "hostkit/host.h"
#include "hostkit/oprunner.h"
#include "lasers/factory.h"
#include "params/textbuf.h"
#include "plugin/select.h"
#include "sim/table.h"

using namespace nclaser;
using namespace nclaser::bench;

namespace {

using TKind = hostkit::TOpRunner::TOpKind;

std::mt19937 GRandom(12345);

int Between(int Lo, int Hi) {
  return std::uniform_int_distribution<int>(Lo, Hi)(GRandom);
}

// The first request at or after T0 that is Want; -1 when none came within 2 s.
double Arrival(sim::TSimEndpoint& Sim, const std::string& Want, double T0) {
  double At = -1.0;
  Sim.WaitRequests(
      [&](const std::vector<sim::TSimRequest>& R) {
        for (const auto& Q : R) {
          if (Q.TimeMs >= T0 && std::string(Q.Bytes.begin(), Q.Bytes.end()) == Want) {
            At = Q.TimeMs;
            return true;
          }
        }
        return false;
      },
      2000);
  return At;
}

// Builds the class on Host, lets its start-up traffic pass, then per run: EmissionOn on the
// runner, a stop after a random part of StopWithinMs, the latency, and a pause for the
// laser to settle. Latency returns the time the stop reached the laser, or -1.
template <class TLatency>
void Measure(const char* Name, const char* Class, const TLaserParams& P, int Runs, int StopFromMs,
             int StopWithinMs, int SettleMs, double AddMs, TLatency Latency) {
  auto L = FindLaserClass(Class)->Factory(nullptr, P);
  Sleep(800);
  std::vector<double> Lat;
  {
    hostkit::TOpRunner Runner(*L);
    for (int I = 0; I < Runs; ++I) {
      auto H = Runner.Post([&] { L->EmissionOn(); }, TKind::SwitchesOn);
      Sleep(Between(StopFromMs, StopWithinMs));
      const double T0 = NowMs();
      Runner.Stop(false);
      const double At = Latency(T0);
      Runner.Wait(H);
      if (At >= 0) {
        Lat.push_back(At - T0 + AddMs);
      }
      Sleep(SettleMs);
    }
  }
  L.reset();
  if (static_cast<int>(Lat.size()) < Runs) {
    std::printf("%s: the stop was not seen on %d of %d runs\n", Name,
                Runs - static_cast<int>(Lat.size()), Runs);
  }
  Report("stop", Name, Summarize(Lat), "ms");
}

void NLight(int Runs) {
  const sim::TSimRig& Rig = *sim::FindRig("nlight");
  auto Sim = sim::StartRig(Rig, false, "");
  hostkit::THost Host;
  Host.Install();
  Host.SerialPorts->Set(1, Sim->DevicePath());
  TLaserParams P = sim::RigParams(Rig, sim::LinkTo(*Sim));
  (void)Utf8ToTextBuf("9600,n,8,1", P.CfgNLight.Comm.CommSettings);
  const std::string Off = "set enable 0\r";
  const double TransferMs = static_cast<double>(Off.size()) * 10.0 * 1000.0 / 9600.0;
  Measure("nlight_9600", Rig.Class.c_str(), P, Runs, 300, 2800, 500, TransferMs,
          [&](double T0) { return Arrival(*Sim, Off, T0); });
  Sim->Stop();
}

void YlrPowerOn(int Runs) {
  const sim::TSimRig& Rig = *sim::FindRig("ylr");
  auto Sim = sim::StartRig(Rig, true, sim::LoopbackAddress(51));
  hostkit::THost Host;
  Host.Install();
  TLaserParams P = sim::RigParams(Rig, sim::LinkTo(*Sim));
  P.DefParams.CtrlPort = 3;
  P.CfgIPG.PowerCtrlPort = 4;
  // EmissionOn's own exchanges end within 300 ms; the power-on thread waits 1.2 s, then
  // sends its commands and the aiming beam until about 2.2 s. A stop that meets an exchange
  // with a reply time-out (the diode current: 100 ms of silence) waits for it.
  Measure("ylr_poweron", Rig.Class.c_str(), P, Runs, 300, 2100, 300, 0.0,
          [&](double T0) { return Arrival(*Sim, "EMOFF\r", T0); });
  Sim->Stop();
}

void RofinSequence(int Runs) {
  hostkit::THost Host;
  Host.Install();
  TLaserParams P;
  InitializeHostDefaults(P, eltRofin);
  P.CfgRofin.MainsOn = 30;
  P.CfgRofin.FaultReset = 31;
  P.CfgRofin.StandbyOn = 32;
  P.CfgRofin.GatePort = 33;
  P.CfgRofin.DelayAfterMainsOn = 200;
  P.CfgRofin.DelayAfterReset = 100;
  P.CfgRofin.DelayAfterStandby = 150;
  Measure("rofin_seq", DefaultClassName(P), P, Runs, 5, 520, 50, 0.0, [&](double T0) {
    for (const auto& E : Host.IO.Timeline()) {
      if (E.TimeMs >= T0 && E.Kind == hostkit::TIoKind::Output && E.Port == 30 && E.Value == 0.0) {
        return E.TimeMs;
      }
    }
    return -1.0;
  });
}

} // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
  const std::string Filter = argc > 2 ? argv[2] : "";
  std::printf("stop latency, %d runs per case (targets: p99 <= 50 ms at 9600 baud, <= 5 ms for "
              "an output)\n",
              Runs);
  const struct {
    const char* Name;
    void (*Run)(int);
  } Cases[] = {{"nlight_9600", NLight}, {"ylr_poweron", YlrPowerOn}, {"rofin_seq", RofinSequence}};
  for (const auto& C : Cases) {
    if (std::string(C.Name).find(Filter) != std::string::npos) {
      C.Run(Runs);
    }
  }
  return 0;
}
