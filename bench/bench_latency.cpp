// Latency from a host call (SetDiodeCurrent, EmissionOn) to the command's arrival at the
// far end of the pty or socket, p50/p99, set against the least time the family's pacing
// allows. Usage: bench_latency [runs] [family-filter]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "bench/bench_common.h"
#include "bench/bench_util.h"
#include "host/clock.h"
#include "protocols/raycus.h"
#include "protocols/spi.h"
#include "sim/jk/jk_sim.h"
#include "sim/ylr/ylr_sim.h"
#include "sim/yls/yls_model.h"

using namespace nclaser;
using namespace nclaser::bench;

namespace {

// YLR: every send first drains the link for 20 ms; the monitor's own poll may hold the
// link for one more drain.
constexpr double KYlrDrainMs = 20.0;

void ReportVs(const std::string& Name, const std::vector<double>& Lat, double FloorMs,
              const char* FloorText) {
  const TStats S = Summarize(Lat);
  Report("latency", Name, S, "ms");
  std::printf("%-28s %-22s floor=%.2f ms (%s) p50/floor=%.2f p99-floor=%.2f ms\n", "latency",
              Name.c_str(), FloorMs, FloorText, S.P50 / FloorMs, S.P99 - FloorMs);
  Json("latency", Name + ".p99_above_floor", S.P99 - FloorMs, "ms");
  Json("latency", Name + ".p50_over_floor", S.P50 / FloorMs, "ratio");
}

// Runs Call on another thread and returns the time from its start until Seen() is true.
template <class TCall, class TSeen> double Measure(TCall Call, TSeen Seen) {
  const double T0 = NowMs();
  auto F = std::async(std::launch::async, Call);
  const double At = Seen(); // the arrival time, on the same clock
  F.wait();
  return At - T0;
}

void Ylr(TFamily F, int Runs) {
  sim::TYLRSim Sim;
  std::string Error;
  const std::string Address = TcpAddress(200);
  if (!(F == TFamily::YlrSerial ? Sim.StartPty(&Error) : Sim.StartTcp(Address, &Error))) {
    std::fprintf(stderr, "simulator: %s\n", Error.c_str());
    return;
  }
  hostkit::THost Host;
  Host.IO.SetOutputsExist({1, 2}); // no power-control output: EmissionOn sends at once
  Host.Install();
  auto L = BuildLaser(Host, F, 0, F == TFamily::YlrSerial ? Sim.DevicePath() : Address);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<double> Diode;
  std::vector<double> Emission;
  for (int I = 0; I < Runs; ++I) {
    const double V = I % 2 == 0 ? 40.0 : 60.0;
    const std::string Cmd = I % 2 == 0 ? "SDC 40" : "SDC 60";
    Sim.ClearCommands();
    Diode.push_back(Measure([&] { L->SetDiodeCurrent(V); },
                            [&] {
                              Sim.WaitForCommand(Cmd, 3000);
                              return NowMs();
                            }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + (I * 53) % 130));
    Sim.ClearCommands();
    Emission.push_back(Measure([&] { L->EmissionOn(); },
                               [&] {
                                 Sim.WaitForCommand("DPM", 3000);
                                 return NowMs();
                               }));
    // Let the emission sequence's traffic go by; land the next call anywhere in the
    // monitor's poll period.
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + (I * 37) % 130));
  }
  const std::string Name = FamilyName(F);
  ReportVs(Name + ".SetDiodeCurrent", Diode, KYlrDrainMs, "one 20 ms drain");
  ReportVs(Name + ".EmissionOn", Emission, KYlrDrainMs, "one 20 ms drain");
}

// YLS: every command first drains the link for 20 ms (the monitor's own exchange may hold
// the link for up to 40 ms more).
constexpr double KYlsDrainMs = 20.0;

void Yls(int Runs) {
  sim::TSim<sim::TYLSModel> Sim;
  std::string Error;
  const std::string Address = TcpAddress(201);
  if (!Sim.StartTcp(Address, sim::RigFamily(RigOf(TFamily::YlsTcp)).TcpPort, &Error)) {
    std::fprintf(stderr, "simulator: %s\n", Error.c_str());
    return;
  }
  hostkit::THost Host;
  Host.Install();
  auto L = BuildLaser(Host, TFamily::YlsTcp, 0, Address);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // The arrival time of the first request with Code and first data word Value.
  const auto Arrival = [&Sim](std::uint16_t Code, std::uint16_t Value) {
    double At = -1;
    Sim.WaitRequests(
        [&](const std::vector<sim::TSimRequest>& R) {
          for (const auto& X : R) {
            if (X.Bytes.size() >= 12 && (X.Bytes[0] | (X.Bytes[1] << 8)) == Code &&
                (X.Bytes[8] | (X.Bytes[9] << 8)) == Value) {
              At = X.TimeMs;
              return true;
            }
          }
          return false;
        },
        3000);
    return At;
  };
  std::vector<double> Diode;
  std::vector<double> Emission;
  for (int I = 0; I < Runs; ++I) {
    const double V = I % 2 == 0 ? 40.0 : 60.0;
    Sim.ClearRequests();
    Diode.push_back(Measure([&] { L->SetDiodeCurrent(V); },
                            [&] { return Arrival(2501, I % 2 == 0 ? 4000 : 6000); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + (I * 53) % 130));
    Sim.ClearRequests();
    Emission.push_back(Measure([&] { L->EmissionOff(); }, [&] { return Arrival(2503, 0); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + (I * 37) % 130));
  }
  ReportVs("yls_tcp.SetDiodeCurrent", Diode, KYlsDrainMs, "one 20 ms drain");
  ReportVs("yls_tcp.EmissionOff", Emission, KYlsDrainMs, "one 20 ms drain");
}

void Jk(int Runs) {
  sim::TJKSim Sim;
  Sim.Start();
  Sim.SetState(2);
  hostkit::THost Host;
  Host.Install();
  auto L = BuildLaser(Host, TFamily::Jk, 0, Sim.DevicePath());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // The cycle: the time between two status requests while idle.
  Sim.ClearFrames();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  std::vector<double> Gaps;
  double Last = -1;
  for (const auto& Fr : Sim.Frames()) {
    if (Fr.FunctionCode() == 0x03) {
      if (Last >= 0) {
        Gaps.push_back(Fr.TimeMs - Last);
      }
      Last = Fr.TimeMs;
    }
  }
  const double Cycle = Summarize(Gaps).P99;
  auto FirstOf = [&](std::uint8_t Code) {
    double At = -1;
    Sim.WaitFrames(
        [&](const std::vector<sim::TJKSimFrame>& Frames) {
          for (const auto& Fr : Frames) {
            if (Fr.FunctionCode() == Code) {
              At = Fr.TimeMs;
              return true;
            }
          }
          return false;
        },
        3000);
    return At;
  };
  std::vector<double> Diode;
  std::vector<double> Emission;
  for (int I = 0; I < Runs; ++I) {
    Sim.ClearFrames();
    const double V = I % 2 == 0 ? 40.0 : 60.0;
    Diode.push_back(Measure([&] { L->SetDiodeCurrent(V); }, [&] { return FirstOf(0x5D); }));
    // Back to the idle cycle (a command the laser does not answer is followed by a full
    // input phase of five empty reads), then call anywhere within a cycle.
    std::this_thread::sleep_for(std::chrono::milliseconds(250 + (I * 7) % 30));
    Sim.ClearFrames();
    Emission.push_back(Measure([&] { L->EmissionOn(); }, [&] { return FirstOf(0x02); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(250 + (I * 11) % 30));
  }
  ReportVs("jk_serial.SetDiodeCurrent", Diode, Cycle, "one idle cycle, p99");
  ReportVs("jk_serial.EmissionOn", Emission, Cycle, "one idle cycle, p99");
}

// SPI: a command waits for the next send step of the thread; while idle the thread polls
// once a cycle, so the floor is the idle cycle (the gap between two polls).
void Spi(TFamily F, int Runs) {
  const auto Sim = StartSim(F);
  hostkit::THost Host;
  Host.Install();
  auto L = BuildLaser(Host, F, 0, Sim->DevicePath());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Sim->ClearRequests();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  std::vector<double> Gaps;
  double Last = -1;
  for (const auto& R : Sim->Requests()) {
    if (R.Bytes.size() > 2 && R.Bytes[2] == spi::cmdStatus) {
      if (Last >= 0) {
        Gaps.push_back(R.TimeMs - Last);
      }
      Last = R.TimeMs;
    }
  }
  const double Cycle = Summarize(Gaps).P99;
  auto FirstOf = [&](std::uint8_t Code) {
    double At = -1;
    Sim->WaitRequests(
        [&](const std::vector<sim::TSimRequest>& Rs) {
          for (const auto& R : Rs) {
            if (R.Bytes.size() > 2 && R.Bytes[2] == Code) {
              At = R.TimeMs;
              return true;
            }
          }
          return false;
        },
        3000);
    return At;
  };
  const bool K = F == TFamily::Spi1000;
  std::vector<double> Diode;
  std::vector<double> Emission;
  for (int I = 0; I < Runs; ++I) {
    Sim->ClearRequests();
    const double V = I % 2 == 0 ? 40.0 : 60.0;
    Diode.push_back(Measure(
        [&] { L->SetDiodeCurrent(V); },
        [&] { return FirstOf(K ? int{spi::cmd1000DiodeCurrent} : int{spi::cmdDiodeCurrent}); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + (I * 7) % 30));
    Sim->ClearRequests();
    Emission.push_back(Measure(
        [&] { L->EmissionOn(); },
        [&] { return FirstOf(K ? int{spi::cmd1000EmissionMode} : int{spi::cmdEmissionStart}); }));
    // Three packets follow the first; then back to idle polling.
    std::this_thread::sleep_for(std::chrono::milliseconds(250 + (I * 11) % 30));
  }
  const std::string Name = FamilyName(F);
  ReportVs(Name + ".SetDiodeCurrent", Diode, Cycle, "one idle cycle, p99");
  ReportVs(Name + ".EmissionOn", Emission, Cycle, "one idle cycle, p99");
}

// Raycus QCW: the host's call writes the frame itself (between the monitor's polls, under
// the driver's lock), so the floor is the frame's time on a 115200 baud line. Raycus CW: a
// command waits for the next send step of its thread; an idle cycle is its 5 ms sleep.
void Raycus(TFamily F, int Runs) {
  const auto Sim = StartSim(F);
  hostkit::THost Host;
  Host.Install();
  auto L = BuildLaser(Host, F, 0, Sim->DevicePath());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const bool QCW = F == TFamily::RayQCW;
  // The first request whose byte At is Code.
  auto FirstOf = [&](std::size_t At, std::uint8_t Code) {
    double T = -1;
    Sim->WaitRequests(
        [&](const std::vector<sim::TSimRequest>& Rs) {
          for (const auto& R : Rs) {
            if (R.Bytes.size() > At && R.Bytes[At] == Code) {
              T = R.TimeMs;
              return true;
            }
          }
          return false;
        },
        3000);
    return T;
  };
  const std::size_t At = QCW ? 6 : 1;
  const auto DiodeCode = static_cast<std::uint8_t>(QCW ? int{raycus::cmdSetLaserData} : 'C');
  const auto EmissionCode = static_cast<std::uint8_t>(QCW ? int{raycus::cmdSetLaserData} : 'O');
  std::vector<double> Diode;
  std::vector<double> Emission;
  for (int I = 0; I < Runs; ++I) {
    Sim->ClearRequests();
    const double V = I % 2 == 0 ? 40.0 : 60.0;
    Diode.push_back(
        Measure([&] { L->SetDiodeCurrent(V); }, [&] { return FirstOf(At, DiodeCode); }));
    // The CW thread writes a diode request five times, each write answered (20 ms pause,
    // 20 ms after reading the answer): back to idle cycles before the next call.
    const int Settle = QCW ? 150 : 300;
    std::this_thread::sleep_for(std::chrono::milliseconds(Settle + (I * 7) % 30));
    Sim->ClearRequests();
    Emission.push_back(
        Measure([&] { L->EmissionOn(); }, [&] { return FirstOf(At, EmissionCode); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(Settle + (I * 11) % 30));
  }
  const std::string Name = FamilyName(F);
  const double Floor = QCW ? 19 * 10 * 1000.0 / 115200.0 : 5.0;
  const char* FloorText = QCW ? "0xE2 frame at 115200 baud" : "one idle cycle";
  ReportVs(Name + ".SetDiodeCurrent", Diode, Floor, FloorText);
  ReportVs(Name + ".EmissionOn", Emission, Floor, FloorText);
}

} // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const std::string Filter = argc > 2 ? argv[2] : "";
  const auto Wanted = [&Filter](TFamily F) {
    return std::string(FamilyName(F)).find(Filter) != std::string::npos;
  };
  std::printf("# host call to the command's arrival at the far end, %d runs each\n", Runs);
  for (const TFamily F : {TFamily::YlrSerial, TFamily::YlrTcp}) {
    if (Wanted(F)) {
      Ylr(F, Runs);
    }
  }
  if (Wanted(TFamily::Jk)) {
    Jk(Runs);
  }
  for (const TFamily F : {TFamily::Spi, TFamily::Spi1000}) {
    if (Wanted(F)) {
      Spi(F, Runs);
    }
  }
  if (Wanted(TFamily::YlsTcp)) {
    Yls(Runs);
  }
  for (const TFamily F : {TFamily::RayQCW, TFamily::RaycusCW}) {
    if (Wanted(F)) {
      Raycus(F, Runs);
    }
  }
  return 0;
}
