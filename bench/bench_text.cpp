// The text-protocol lasers (Mars, NLight, CAS, QingHua) on simulator models over ptys:
//  - idle CPU per laser with 1, 8 and 32 lasers (simulators in a child process, so the
//    figure is the plug-in's own), answering and (for the polling makes) silent;
//  - host call to the command's arrival at the simulator, with the thread idle-polling;
//  - resident memory per additional laser (1, then 33).
// Usage: bench_text [seconds per CPU window, default 5] [make filter]
#include <algorithm>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "host/clock.h"
#include "hostkit/host.h"
#include "lasers/factory.h"
#include "sim/table.h"

using namespace nclaser;
using namespace nclaser::bench;

namespace {

// The lasers settle before the window opens: 1.5 s, less for the short windows of a quick
// run (the start-up traffic is over well within that).
double SettleSeconds(double Window) {
  return std::clamp(Window, 0.3, 1.5);
}

struct TMake {
  const char* Family; // the simulator table's rig, named as the make's row
  bool Polls;         // the thread sends requests of its own when idle
  // A call and the text it puts on the wire.
  std::function<void(TNcLaser&, int Run)> Call;
  std::function<std::string(int Run)> Text;
};

const std::vector<TMake>& Makes() {
  static const std::vector<TMake> M = {
      {"mars", true, [](TNcLaser& L, int R) { L.SetAimingOn(R % 2 == 0); },
       [](int R) { return std::string(R % 2 == 0 ? "PILOT_EN=1\r\n" : "PILOT_EN=0\r\n"); }},
      {"nlight", true, [](TNcLaser& L, int R) { L.SetAimingOn(R % 2 == 0); },
       [](int R) { return std::string(R % 2 == 0 ? "set aimingon 1\r" : "set aimingon 0\r"); }},
      {"cas", false, [](TNcLaser& L, int R) { L.SetAimingOn(R % 2 == 0); },
       [](int R) { return std::string(R % 2 == 0 ? "GUID:1\r" : "GUID:0\r"); }},
      {"qinghua", false, [](TNcLaser& L, int R) { R % 2 == 0 ? L.LaserOn() : L.LaserOff(); },
       [](int R) { return std::string(R % 2 == 0 ? "w60 1\r\n" : "w60 0\r\n"); }},
  };
  return M;
}

TNcLaserPtr Build(hostkit::THost& Host, const TMake& M, int I, const std::string& Path) {
  const sim::TSimRig& Rig = *sim::FindRig(M.Family);
  TLaserParams P = sim::RigParams(Rig, {false, I + 1, "", 0});
  P.DefParams.PWM.DiodeCurrent = 0.0; // no set-point traffic while building
  Host.SerialPorts->Set(I + 1, Path);
  return FindLaserClass(Rig.Class)->Factory(nullptr, P);
}

std::unique_ptr<sim::TSimEndpoint> StartSim(const TMake& M) {
  return sim::StartRig(*sim::FindRig(M.Family), false, "");
}

double ProcessCpuSeconds() {
  timespec T{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

double ResidentKiB() {
  std::ifstream In("/proc/self/statm");
  long Size = 0;
  long Resident = 0;
  In >> Size >> Resident;
  return static_cast<double>(Resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// Child: N simulators, one path per line, served until stdin closes.
int Serve(const TMake& M, int N, bool Silent) {
  std::vector<std::unique_ptr<sim::TSimEndpoint>> Sims;
  for (int I = 0; I < N; ++I) {
    Sims.push_back(StartSim(M));
    Sims.back()->SetSilent(Silent);
    std::printf("%s\n", Sims.back()->DevicePath().c_str());
  }
  std::fflush(stdout);
  char C;
  while (read(0, &C, 1) > 0) {
  }
  return 0;
}

void IdleCpu(const TMake& M, double Window) {
  for (const bool Silent : {false, true}) {
    if (Silent && !M.Polls) {
      continue;
    }
    for (const int N : {1, 8, 32}) {
      int In[2];
      int Out[2];
      if (pipe(In) != 0 || pipe(Out) != 0) {
        std::perror("pipe");
        return;
      }
      const pid_t Pid = fork();
      if (Pid == 0) {
        dup2(In[0], 0);
        dup2(Out[1], 1);
        close(In[1]);
        close(Out[0]);
        _exit(Serve(M, N, Silent));
      }
      close(In[0]);
      close(Out[1]);
      FILE* From = fdopen(Out[0], "r");
      std::vector<std::string> Paths;
      char Line[512];
      while (static_cast<int>(Paths.size()) < N && std::fgets(Line, sizeof(Line), From)) {
        Line[std::strcspn(Line, "\n")] = 0;
        Paths.emplace_back(Line);
      }
      {
        hostkit::THost Host;
        Host.Install();
        std::vector<TNcLaserPtr> Lasers;
        for (int I = 0; I < static_cast<int>(Paths.size()); ++I) {
          Lasers.push_back(Build(Host, M, I, Paths[static_cast<size_t>(I)]));
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(SettleSeconds(Window)));
        const double C0 = ProcessCpuSeconds();
        const double W0 = NowMs();
        std::this_thread::sleep_for(std::chrono::duration<double>(Window));
        const double Core = (ProcessCpuSeconds() - C0) / (ElapsedMs(W0) / 1000.0);
        const std::string Name = std::string(M.Family) + (Silent ? ".silent" : ".answering");
        std::printf("%-26s lasers=%-3d per_laser=%7.4f%% of a core\n", Name.c_str(), N,
                    Core * 100 / N);
        Json("idle_cpu", Name + ".n" + std::to_string(N) + ".per_laser", Core * 100 / N,
             "percent_core");
      }
      close(In[1]);
      std::fclose(From);
      int Status = 0;
      waitpid(Pid, &Status, 0);
    }
  }
}

void Latency(const TMake& M, int Runs) {
  auto Sim = StartSim(M);
  hostkit::THost Host;
  Host.Install();
  auto L = Build(Host, M, 0, Sim->DevicePath());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::vector<double> Ms;
  for (int R = 0; R < Runs; ++R) {
    Sim->ClearRequests();
    const std::string Want = M.Text(R);
    const double T0 = NowMs();
    M.Call(*L, R);
    double At = -1;
    Sim->WaitRequests(
        [&](const std::vector<sim::TSimRequest>& Q) {
          for (const auto& Q1 : Q) {
            if (std::string(Q1.Bytes.begin(), Q1.Bytes.end()) == Want) {
              At = Q1.TimeMs;
              return true;
            }
          }
          return false;
        },
        3000);
    if (At >= 0) {
      Ms.push_back(At - T0);
    }
    // Let the pause after this command pass, as between two host calls.
    std::this_thread::sleep_for(std::chrono::milliseconds(250 + 37 * (R % 5)));
  }
  Report("latency", std::string(M.Family) + ".call_to_wire", Summarize(Ms), "ms");
}

void Memory(const TMake& M, int Count) {
  std::vector<std::unique_ptr<sim::TSimEndpoint>> Sims;
  for (int I = 0; I <= Count; ++I) {
    Sims.push_back(StartSim(M));
  }
  hostkit::THost Host;
  Host.Install();
  std::vector<TNcLaserPtr> Lasers;
  Lasers.push_back(Build(Host, M, 0, Sims[0]->DevicePath()));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double Before = ResidentKiB();
  for (int I = 1; I <= Count; ++I) {
    Lasers.push_back(Build(Host, M, I, Sims[static_cast<size_t>(I)]->DevicePath()));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double Per = (ResidentKiB() - Before) / Count;
  std::printf("%-26s per_extra_laser=%.1f KiB\n", M.Family, Per);
  Json("memory", std::string(M.Family) + ".per_extra_laser", Per, "KiB");
}

} // namespace

int main(int argc, char** argv) {
  const double Window = argc > 1 ? std::atof(argv[1]) : 5.0;
  const std::string Filter = argc > 2 ? argv[2] : "";
  // CPU first: its children fork before this process has any thread.
  std::printf("# idle CPU over %.0f s windows, %% of one core per laser\n", Window);
  for (const auto& M : Makes()) {
    if (Filter.empty() || Filter == M.Family) {
      IdleCpu(M, Window);
    }
  }
  std::printf("# host call to the command at the simulator (thread idle-polling)\n");
  for (const auto& M : Makes()) {
    if (Filter.empty() || Filter == M.Family) {
      Latency(M, Window < 1.0 ? 10 : 30); // a quick run takes fewer samples
    }
  }
  std::printf("# resident memory per additional laser\n");
  for (const auto& M : Makes()) {
    if (Filter.empty() || Filter == M.Family) {
      Memory(M, 32);
    }
  }
  return 0;
}
