// CPU per idle laser: 1, 8 and 32 lasers of each family connected to silent and to
// answering simulators, as a fraction of one core over a measuring window (10 s unless
// given). The simulators run in a child process, so the figure is the plug-in's own.
// Usage: bench_idle_cpu [seconds] [family-filter]
#include <algorithm>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "bench/bench_common.h"
#include "bench/bench_util.h"
#include "sim/jk/jk_model.h"

using namespace nclaser;
using namespace nclaser::bench;

namespace {

// The lasers settle before the window opens: 1.5 s, less for the short windows of a quick
// run (the start-up traffic is over well within that).
double SettleSeconds(double Window) {
  return std::clamp(Window, 0.3, 1.5);
}

double ProcessCpuSeconds() {
  timespec T{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_nsec) * 1e-9;
}

// Child mode: run N simulators, print one endpoint per line, serve until stdin closes.
int Serve(TFamily F, int N, bool Silent) {
  std::vector<std::unique_ptr<sim::TSimEndpoint>> Sims;
  for (int I = 0; I < N; ++I) {
    try {
      Sims.push_back(StartSim(F, I));
    } catch (const std::exception& E) {
      std::fprintf(stderr, "simulator: %s\n", E.what());
      return 1;
    }
    if (F == TFamily::Jk) {
      Sims.back()->With<sim::TJKModel>([](sim::TJKModel& M) { M.SetState(2); });
    }
    Sims.back()->SetSilent(Silent);
    std::printf("%s\n", EndpointOf(*Sims.back()).c_str());
  }
  std::fflush(stdout);
  char C;
  while (read(0, &C, 1) > 0) {
  }
  return 0;
}

struct TChild {
  pid_t Pid = -1;
  int ToChild = -1;
  FILE* FromChild = nullptr;
};

TChild SpawnServer(TFamily F, int N, bool Silent) {
  int In[2];
  int Out[2];
  if (pipe(In) != 0 || pipe(Out) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  const pid_t Pid = fork();
  if (Pid == 0) {
    dup2(In[0], 0);
    dup2(Out[1], 1);
    close(In[1]);
    close(Out[0]);
    const std::string Fam = std::to_string(static_cast<int>(F));
    const std::string Cnt = std::to_string(N);
    execl("/proc/self/exe", "bench_idle_cpu", "--serve", Fam.c_str(), Cnt.c_str(),
          Silent ? "1" : "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(In[0]);
  close(Out[1]);
  return {Pid, In[1], fdopen(Out[0], "r")};
}

void StopServer(TChild& C) {
  close(C.ToChild);
  std::fclose(C.FromChild);
  int Status = 0;
  waitpid(C.Pid, &Status, 0);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--serve") == 0) {
    return Serve(static_cast<TFamily>(std::atoi(argv[2])), std::atoi(argv[3]),
                 std::atoi(argv[4]) != 0);
  }
  const double Window = argc > 1 ? std::atof(argv[1]) : 10.0;
  const std::string Filter = argc > 2 ? argv[2] : "";
  std::printf("# CPU of idle lasers over %.0f s, fraction of one core (simulators in a child)\n",
              Window);
  for (const TFamily F : {TFamily::YlrSerial, TFamily::YlrTcp, TFamily::Jk, TFamily::Spi,
                          TFamily::Spi1000, TFamily::YlsTcp, TFamily::RayQCW, TFamily::RaycusCW}) {
    if (!Filter.empty() && std::string(FamilyName(F)).find(Filter) == std::string::npos) {
      continue;
    }
    for (const bool Silent : {false, true}) {
      for (const int N : {1, 8, 32}) {
        TChild Child = SpawnServer(F, N, Silent);
        std::vector<std::string> Endpoints;
        char Line[512];
        while (static_cast<int>(Endpoints.size()) < N &&
               std::fgets(Line, sizeof(Line), Child.FromChild)) {
          Line[std::strcspn(Line, "\n")] = 0;
          Endpoints.emplace_back(Line);
        }
        if (static_cast<int>(Endpoints.size()) < N) {
          std::fprintf(stderr, "simulators did not start\n");
          return 1;
        }
        {
          hostkit::THost Host;
          Host.Install();
          std::vector<TNcLaserPtr> Lasers;
          for (int I = 0; I < N; ++I) {
            Lasers.push_back(BuildLaser(Host, F, I, Endpoints[static_cast<size_t>(I)]));
          }
          std::this_thread::sleep_for(std::chrono::duration<double>(SettleSeconds(Window)));
          const double C0 = ProcessCpuSeconds();
          const auto W0 = std::chrono::steady_clock::now();
          std::this_thread::sleep_for(std::chrono::duration<double>(Window));
          const double Wall =
              std::chrono::duration<double>(std::chrono::steady_clock::now() - W0).count();
          const double Core = (ProcessCpuSeconds() - C0) / Wall;
          const std::string Name = std::string(FamilyName(F)) + (Silent ? ".silent" : ".answering");
          std::printf("%-30s lasers=%-3d total=%7.4f%% per_laser=%7.4f%% of a core\n", Name.c_str(),
                      N, Core * 100, Core * 100 / N);
          Json("idle_cpu", Name + ".n" + std::to_string(N) + ".per_laser", Core * 100 / N,
               "percent_core");
          Lasers.clear();
        }
        StopServer(Child);
      }
    }
  }
  return 0;
}
