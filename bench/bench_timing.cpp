// Timing precision of the plug-in's waits: TNcIOThread delays and input waits, and SleepA.
// Error = measured - requested, in milliseconds. Usage: bench_timing [runs]
#include <chrono>
#include <cstdlib>
#include <thread>

#include "bench/bench_util.h"
#include "host/clock.h"
#include "host/sync.h"
#include "hostkit/host.h"
#include "lasers/iothread.h"

using namespace nclaser;
using nclaser::bench::Report;
using nclaser::bench::Summarize;

namespace {

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

} // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::atoi(argv[1]) : 200;
  hostkit::THost Host;
  Host.Install();
  const THandle Lock = CreateSemaphoreW(1, 1, "");
  const THandle Finish = CreateSemaphoreW(0, 1, "");
  std::printf("# TNcIOThread and SleepA timing error (measured - requested), %d runs each\n", Runs);

  for (const int Ms : {1, 10, 100, 500}) {
    std::vector<double> Err;
    for (int I = 0; I < Runs; ++I) {
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
    Report("iothread_delay", std::to_string(Ms) + "ms.error", Summarize(Err), "ms");
  }

  {
    // Input waits: the machine raises the input; the step ends at the sequence's next poll.
    std::vector<double> Lat;
    for (int I = 0; I < Runs; ++I) {
      WaitForSingleObject(Lock, INFINITE);
      Host.IO.SetInput(5, false);
      Host.IO.ClearTimeline();
      auto* T = new TNcIOThread(Lock);
      T->SetFinishSemaphore(Finish);
      T->AddOutport(1, true);
      T->AddInport(5, true, 5000);
      T->AddOutport(2, true);
      T->Start();
      Host.IO.WaitOutput(1, true, 5000);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
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
      Host.IO.Outputs().SetOutputbit(1, false);
      Host.IO.Outputs().SetOutputbit(2, false);
    }
    WaitForSingleObject(Lock, INFINITE);
    ReleaseSemaphore(Lock, 1);
    Report("iothread_input_wait", "latency", Summarize(Lat), "ms");
  }

  for (const int Ms : {1, 10, 100}) {
    TSleeper S(Ms, Runs);
    S.Start();
    S.WaitFor();
    Report("sleepa", std::to_string(Ms) + "ms.error", Summarize(S.Errors), "ms");
  }
  CloseHandle(Lock);
  CloseHandle(Finish);
  return 0;
}
