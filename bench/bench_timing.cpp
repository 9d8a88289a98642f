// Timing precision of the plug-in's waits: TNcIOThread delays and input waits, and SleepA,
// on an idle machine and on a loaded one (one busy process per core), with the sequence
// threads at normal priority and under the host's real-time policy ("auto").
// Error = measured - requested, in milliseconds.
// Usage: bench_timing [runs] [--idle] [--lock-memory]   (default 100 runs: about a minute;
// --idle skips the loaded rows; --lock-memory adds LockMemory to the real-time rows; 1000
// runs for a long run of several minutes)
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "host/clock.h"
#include "host/io.h"
#include "host/sync.h"
#include "hostkit/host.h"
#include "lasers/iothread.h"

using namespace nclaser;
using nclaser::bench::Json;
using nclaser::bench::Report;
using nclaser::bench::Summarize;
using nclaser::bench::TStats;

namespace {

const int KDelays[] = {1, 10, 100, 500};

// The time between the two outputs around one step, from the machine's own timeline.
double StepSpan(hostkit::THost& Host) {
  double A = -1;
  double B = -1;
  for (const auto& E : Host.IO.Timeline()) {
    if (E.Kind == hostkit::TIoKind::Output && E.Port == 1) {
      A = E.TimeMs;
    }
    if (E.Kind == hostkit::TIoKind::Output && E.Port == 2) {
      B = E.TimeMs;
    }
  }
  return B - A;
}

class TSleeper : public TThread {
public:
  TSleeper(int Ms, int Runs) : FMs(Ms), FRuns(Runs) {}
  std::vector<double> Errors;

protected:
  void Execute() override {
    for (int I = 0; I < FRuns; ++I) {
      const double T0 = NowMs();
      SleepA(FMs);
      Errors.push_back(ElapsedMs(T0) - FMs);
    }
  }

private:
  int FMs;
  int FRuns;
};

// Samples per delay: every run for the short ones, a time budget of 40 ms per run for the
// long ones (at least 10), so the default stays near a minute.
int Samples(int Runs, int Ms) {
  return std::min(Runs, std::max(10, Runs * 40 / Ms));
}

struct TRow {
  std::string Name;
  std::string Policy;
  std::vector<TStats> Delay; // per KDelays
  TStats Input;
  TStats PollLate;
};

// The machine's inputs as the sequence sees them, noting when each read (poll) was made.
class TPollRecorder : public TNcInputGroup {
public:
  explicit TPollRecorder(TNcInputGroup& In) : FIn(In) {}
  bool GetPortExist(Byte Port) override { return FIn.GetPortExist(Port); }
  bool GetInputBit(Byte Port) override {
    const double At = NowMs();
    std::lock_guard<std::mutex> L(FLock);
    FTimes.push_back(At);
    return FIn.GetInputBit(Port);
  }
  void Clear() {
    std::lock_guard<std::mutex> L(FLock);
    FTimes.clear();
  }
  std::vector<double> Times() {
    std::lock_guard<std::mutex> L(FLock);
    return FTimes;
  }

private:
  TNcInputGroup& FIn;
  std::mutex FLock;
  std::vector<double> FTimes;
};

bool GLockMemory = false;

TRow Measure(const std::string& Name, bool RealTime, int Runs) {
  hostkit::THost Host;
  Host.SetRealTime({RealTime ? hostkit::TRealTimeMode::Auto : hostkit::TRealTimeMode::Off,
                    0,
                    RealTime && GLockMemory,
                    {}});
  Host.Install();
  TRow Row{Name, Host.RealTime->Decide(), {}, {}, {}};
  const THandle Lock = CreateSemaphoreW(1, 1, "");
  const THandle Finish = CreateSemaphoreW(0, 1, "");

  for (const int Ms : KDelays) {
    std::vector<double> Err;
    for (int I = 0, N = Samples(Runs, Ms); I < N; ++I) {
      WaitForSingleObject(Lock, INFINITE);
      Host.IO.ClearTimeline();
      auto* T = new TNcIOThread(Lock);
      T->SetFinishSemaphore(Finish);
      T->AddOutport(1, true);
      T->AddDelay(Ms);
      T->AddOutport(2, true);
      T->Start();
      WaitForSingleObject(Finish, INFINITE);
      Err.push_back(StepSpan(Host) - Ms);
    }
    WaitForSingleObject(Lock, INFINITE);
    ReleaseSemaphore(Lock, 1);
    Row.Delay.push_back(Summarize(Err));
    Report("iothread_delay", Name + "." + std::to_string(Ms) + "ms.error", Row.Delay.back(), "ms");
  }

  // Input waits: the machine raises the input at a random point of the sequence's 1 ms
  // poll; the step ends at the next poll. The latency is up to one poll step by design;
  // what scheduling adds shows as the polls' lateness over their 1 ms.
  TPollRecorder Polls(*GPInput);
  GPInput = &Polls;
  std::mt19937 Rng(12345);
  std::uniform_int_distribution<int> Phase(2000, 2999); // microseconds after the step starts
  std::vector<double> Lat;
  std::vector<double> Late;
  for (int I = 0; I < Runs; ++I) {
    WaitForSingleObject(Lock, INFINITE);
    Host.IO.SetInput(5, false);
    Host.IO.ClearTimeline();
    Polls.Clear();
    auto* T = new TNcIOThread(Lock);
    T->SetFinishSemaphore(Finish);
    T->AddOutport(1, true);
    T->AddInport(5, true, 5000);
    T->AddOutport(2, true);
    T->Start();
    Host.IO.WaitOutput(1, true, 5000);
    std::this_thread::sleep_for(std::chrono::microseconds(Phase(Rng)));
    const double Raised = NowMs();
    Host.IO.SetInput(5, true);
    WaitForSingleObject(Finish, INFINITE);
    double At = -1;
    for (const auto& E : Host.IO.Timeline()) {
      if (E.Kind == hostkit::TIoKind::Output && E.Port == 2) {
        At = E.TimeMs;
      }
    }
    Lat.push_back(At - Raised);
    const std::vector<double> P = Polls.Times();
    for (size_t K = 1; K < P.size(); ++K) {
      Late.push_back(P[K] - P[K - 1] - 1.0);
    }
    Host.IO.Outputs().SetOutputbit(1, false);
    Host.IO.Outputs().SetOutputbit(2, false);
  }
  WaitForSingleObject(Lock, INFINITE);
  ReleaseSemaphore(Lock, 1);
  GPInput = &Host.IO.Inputs();
  Row.Input = Summarize(Lat);
  Row.PollLate = Summarize(Late);
  Report("iothread_input_wait", Name + ".latency", Row.Input, "ms");
  Report("iothread_input_wait", Name + ".poll_lateness", Row.PollLate, "ms");
  CloseHandle(Lock);
  CloseHandle(Finish);
  return Row;
}

// One busy process per core, for at most MaxSeconds even if this program dies without
// stopping them (the parent-death signal and an alarm both end them).
class TLoad {
public:
  TLoad(int Count, int MaxSeconds) {
    const pid_t Parent = getpid();
    for (int I = 0; I < Count; ++I) {
      const pid_t Pid = fork();
      if (Pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != Parent) {
          _exit(0);
        }
        alarm(static_cast<unsigned>(MaxSeconds));
        const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(MaxSeconds);
        volatile unsigned long Spin = 0;
        while (std::chrono::steady_clock::now() < End) {
          for (int K = 0; K < 100000; ++K) {
            Spin = Spin + 1;
          }
        }
        _exit(0);
      }
      if (Pid > 0) {
        FPids.push_back(Pid);
      }
    }
    // Let the scheduler see them as the hogs they are.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  TLoad(const TLoad&) = delete;
  TLoad& operator=(const TLoad&) = delete;
  ~TLoad() {
    for (const pid_t Pid : FPids) {
      kill(Pid, SIGKILL);
    }
    for (const pid_t Pid : FPids) {
      waitpid(Pid, nullptr, 0);
    }
  }
  int Count() const { return static_cast<int>(FPids.size()); }

private:
  std::vector<pid_t> FPids;
};

std::string ReadLine(const char* Path) {
  std::ifstream F(Path);
  std::string S;
  std::getline(F, S);
  return S.empty() ? "?" : S;
}

// The measuring thread stands for the machine raising its inputs, which no load delays on
// real hardware: it runs at real-time priority when it may, so the loaded rows show the
// sequence thread's lateness and not the stimulus's. Threads it starts begin ordinary.
bool RaiseStimulus() {
  sched_param P{};
  P.sched_priority = hostkit::KAutoRealTimePriority;
  return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &P) == 0;
}

} // namespace

int main(int argc, char** argv) {
  int Runs = 100;
  bool Loaded = true;
  for (int I = 1; I < argc; ++I) {
    if (std::strcmp(argv[I], "--idle") == 0) {
      Loaded = false;
    } else if (std::strcmp(argv[I], "--lock-memory") == 0) {
      GLockMemory = true;
    } else {
      Runs = std::max(1, std::atoi(argv[I]));
    }
  }
  const int Cores = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  const bool Stimulus = RaiseStimulus();
  std::printf("# TNcIOThread timing error (measured - requested) and input-wait latency, %d runs "
              "(long delays: %d ms of delay per run, at least 10)\n",
              Runs, 40);
  std::printf("# %d cores, load average %s; stimulus at %s; kernel RT throttling %s us of %s "
              "us\n",
              Cores, ReadLine("/proc/loadavg").c_str(),
              Stimulus ? "real-time priority" : "normal priority (no right to real time)",
              ReadLine("/proc/sys/kernel/sched_rt_runtime_us").c_str(),
              ReadLine("/proc/sys/kernel/sched_rt_period_us").c_str());

  std::vector<TRow> Rows;
  Rows.push_back(Measure("idle.normal", false, Runs));
  Rows.push_back(Measure("idle.realtime", true, Runs));
  if (Loaded) {
    // Bounded well past the expected time of the two loaded rows.
    int Expected = 0;
    for (const int Ms : KDelays) {
      Expected += Samples(Runs, Ms) * (Ms + 2);
    }
    Expected += Runs * 10; // input waits
    const TLoad Load(Cores, 2 * (2 * Expected / 1000 + 30));
    std::printf("# load: %d busy processes\n", Load.Count());
    Rows.push_back(Measure("loaded.normal", false, Runs));
    Rows.push_back(Measure("loaded.realtime", true, Runs));
  }

  std::printf("\n%-18s", "p99, ms");
  for (const int Ms : KDelays) {
    std::printf(" %9s", ("delay " + std::to_string(Ms)).c_str());
  }
  std::printf(" %10s %9s  policy\n", "input wait", "poll late");
  for (const TRow& R : Rows) {
    std::printf("%-18s", R.Name.c_str());
    for (size_t I = 0; I < R.Delay.size(); ++I) {
      std::printf(" %9.3f", R.Delay[I].P99);
    }
    std::printf(" %10.3f %9.3f  %s\n", R.Input.P99, R.PollLate.P99, R.Policy.c_str());
  }
  std::printf("\n");

  for (const int Ms : {1, 10, 100}) {
    TSleeper S(Ms, std::max(1, Runs / 2));
    S.Start();
    S.WaitFor();
    Report("sleepa", std::to_string(Ms) + "ms.error", Summarize(S.Errors), "ms");
  }
  Json("timing", "load_processes", Loaded ? Cores : 0, "count");
  return 0;
}
