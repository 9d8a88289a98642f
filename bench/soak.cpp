// The soak: every laser of the simulator table at once on one stand-in host, driven for a
// while from several host threads with random operations while the simulators show random
// link faults, with the safety and liveness invariants checked all the time.
//
// Usage: soak [--minutes M] [--seed S] [--only NAME]
//   --minutes M  how long to drive the lasers (fractions allowed; default 1)
//   --seed S     the seed of every random choice (default: a random one; always printed)
//   --only NAME  one rig of the simulator table ("jk", "spi1000", ...)
//
// Checked continuously (each violation is printed with the seed, the time, the laser and its
// last host calls and wire events; the exit status is 1 when any was seen):
//   - emission: no request that switches emission on reaches the simulator after
//     EmissionOff, LaserOff or Destroy returned, until the host next asks for emission on;
//   - hangs: every host call returns within CallBoundMs (a watchdog names the call);
//   - resources: resident memory, open descriptors and threads are sampled; their slopes
//     after warm-up are printed at the end.
// The same seed replays the same choices; the threads' interleaving is not replayed.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/bench_util.h"
#include "host/clock.h"
#include "hostkit/comm_factory.h"
#include "hostkit/host.h"
#include "hostkit/icmp_client.h"
#include "lasers/factory.h"
#include "protocols/castext.h"
#include "protocols/jk.h"
#include "protocols/mars.h"
#include "protocols/nlight.h"
#include "protocols/raycus.h"
#include "protocols/spi.h"
#include "protocols/yls.h"
#include "sim/endpoint.h"
#include "sim/table.h"

using namespace nclaser;

namespace {

using TRequest = std::span<const std::uint8_t>;

// A host call that has not returned after this long is a hang. Generous on purpose: the
// slowest legitimate calls (a stop waiting for a sequence thread, a tear-down against a
// dead TCP peer) take a few seconds at most, and the machine is shared.
constexpr double CallBoundMs = 10000.0;
// A request the laser wrote before a stop returned may be stamped by the simulator's reader
// thread a little later; stamps within this slack after the return are not held against it.
constexpr double StampSlackMs = 100.0;
constexpr int HostThreads = 3;
constexpr double SampleEveryMs = 2000.0;
constexpr double Inf = std::numeric_limits<double>::infinity();

// ---- Which requests switch emission on, per rig --------------------------------------

std::string Line(TRequest R) {
  std::string S(R.begin(), R.end());
  while (!S.empty() && (S.back() == '\r' || S.back() == '\n')) {
    S.pop_back();
  }
  return S;
}
std::string Line(const std::string& S) {
  return Line(TRequest(reinterpret_cast<const std::uint8_t*>(S.data()), S.size()));
}
template <class C> bool Same(TRequest R, const C& Want) {
  return std::equal(R.begin(), R.end(), std::begin(Want), std::end(Want));
}

using TEmissionOn = std::function<bool(TRequest)>;

// The one table of what "emission on" (or the step that arms it) is on each make's wire.
const std::map<std::string, TEmissionOn>& EmissionOnTable() {
  static const std::map<std::string, TEmissionOn> Table = {
      {"ylr", [](TRequest R) { return Line(R) == "EMON"; }},
      {"yls",
       [](TRequest R) {
         static const auto On =
             yls::BuildRequest(yls::TCrc16(), yls::cmdEmission, yls::Word16(yls::EmissionOnValue));
         return Same(R, On);
       }},
      {"jk",
       [](TRequest R) { return R.size() >= 3 && R[0] == jk::Flag && R[2] == jk::fcEmission; }},
      {"spi",
       [](TRequest R) {
         return R.size() >= 3 && (R[2] == spi::cmdEmissionStart || R[2] == spi::cmdEmissionOn);
       }},
      {"spi1000",
       [](TRequest R) { return R.size() >= 4 && R[2] == spi::cmd1000Emission && R[3] == 0x01; }},
      {"raycus-qcw", [](TRequest R) { return R.size() > 6 && R[6] == raycus::cmdLaserOn; }},
      {"raycus", [](TRequest R) { return Same(R, raycus::EmissionOnCmd); }},
      {"mars", [](TRequest R) { return Line(R) == Line(mars::EmissionOnCmd()); }},
      {"nlight", [](TRequest R) { return Line(R) == Line(nlight::EnableCmd(true)); }},
      {"cas", [](TRequest R) { return Line(R) == Line(cas::EmissionCmd(true)); }},
      {"qinghua",
       [](TRequest R) {
         const auto F = qinghua::Frame(qinghua::chLaser, "1");
         return Line(R) == Line(std::string(F.begin(), F.end()));
       }},
  };
  return Table;
}

// ---- Shared state --------------------------------------------------------------------

struct TViolations {
  std::atomic<int> Count{0};
  std::mutex Print;
};

std::uint64_t GSeed = 0;
double GStart = 0;
TViolations GViolations;

double Elapsed() {
  return ElapsedMs(GStart) / 1000.0;
}

// The faults a simulator is given.
enum class TFault {
  Silence,
  Garbage,
  Truncate,
  Split,
  Join,
  Delay,
  Drop,
  PullCable,
  Unplug,
  Alarm,    // the make's own alarm, through the simulator's commands
  BadCheck, // answers with a wrong checksum, or lines of junk for text makes
  Count
};
const char* FaultName(TFault F) {
  static const char* Names[] = {"silence", "garbage", "short",  "split", "join",    "delay",
                                "drop",    "pull",    "unplug", "alarm", "badcheck"};
  return Names[static_cast<int>(F)];
}

// One rig: its simulator, its laser and what the checks need to know about it.
struct TRigSlot {
  const sim::TSimRig* Rig = nullptr;
  TEmissionOn IsEmissionOn;
  std::unique_ptr<sim::TSimEndpoint> Sim;
  TNcLaserPtr Laser;
  std::string TcpHost; // empty on a pty

  std::mutex Lock; // guards everything below
  // Times after a stop returned during which no emission-on may reach the wire; To is
  // when the host next asked for emission on (Inf while open).
  struct TWindow {
    double From;
    double To;
    std::string Why;
  };
  std::vector<TWindow> Windows;
  double LastOnStart = 0;         // when the last call that may switch emission on started
  std::deque<std::string> Events; // the last host calls and wire requests
  int EmissionOnSeen = 0;
  int Violations = 0;
  std::string FaultNow; // the fault the simulator shows now, empty when none
  TFault FaultKind{};
  double FaultUntil = 0;

  void Note(const std::string& E) {
    char T[32];
    std::snprintf(T, sizeof T, "%9.3f ", Elapsed());
    Events.push_back(T + E);
    if (Events.size() > 16) {
      Events.pop_front();
    }
  }
};

// Prints the first few violations of each laser in full; all are counted.
void Violation(TRigSlot& Slot, const std::string& What) {
  ++GViolations.Count;
  if (++Slot.Violations > 3) {
    return;
  }
  std::lock_guard<std::mutex> P(GViolations.Print);
  std::printf("VIOLATION seed=%llu t=%.3fs laser=%s: %s\n", static_cast<unsigned long long>(GSeed),
              Elapsed(), Slot.Rig->Name.c_str(), What.c_str());
  for (const auto& E : Slot.Events) {
    std::printf("    %s\n", E.c_str());
  }
  std::fflush(stdout);
}

// ---- Pings and links: the simulators answer for their own reachability ----------------

class TSoakProber : public hostkit::TPingProber {
public:
  explicit TSoakProber(const std::vector<std::unique_ptr<TRigSlot>>& Slots) : FSlots(Slots) {}
  hostkit::TPingResult Probe(const std::string& Host, int TimeoutMs) const override {
    for (const auto& S : FSlots) {
      if (S->TcpHost == Host && S->Sim && S->Sim->Running() && !S->Sim->Unreachable()) {
        return hostkit::TPingResult::Answered;
      }
    }
    Sleep(std::min(TimeoutMs, 100));
    return hostkit::TPingResult::NoAnswer;
  }
  std::string Describe() const override { return "simulator reachability"; }

private:
  const std::vector<std::unique_ptr<TRigSlot>>& FSlots;
};

class TSoakComm : public hostkit::TLinuxCommFactory {
public:
  TSoakComm(std::shared_ptr<const hostkit::TSerialPortMap> Ports,
            const std::vector<std::unique_ptr<TRigSlot>>& Slots)
      : TLinuxCommFactory(std::move(Ports)), FSlots(Slots) {}
  std::unique_ptr<TIcmpClient> NewIcmpClient() override {
    return std::make_unique<hostkit::TPingClient>(std::make_unique<TSoakProber>(FSlots));
  }

private:
  const std::vector<std::unique_ptr<TRigSlot>>& FSlots;
};

// ---- The watchdog ----------------------------------------------------------------------

// The call each host thread is in (Start 0: none).
struct TCallSlot {
  std::atomic<double> Start{0};
  std::atomic<const char*> Op{""};
  std::atomic<TRigSlot*> Rig{nullptr};
  std::atomic<bool> Reported{false};
};

class TWatchdog {
public:
  TCallSlot& NewSlot() {
    std::lock_guard<std::mutex> L(FLock);
    FSlots.push_back(std::make_unique<TCallSlot>());
    return *FSlots.back();
  }
  void Check() {
    std::lock_guard<std::mutex> L(FLock);
    for (auto& S : FSlots) {
      const double T0 = S->Start;
      if (T0 > 0 && ElapsedMs(T0) > CallBoundMs && !S->Reported.exchange(true)) {
        TRigSlot* R = S->Rig;
        char B[160];
        std::snprintf(B, sizeof B, "%s has not returned after %.0f ms (bound %.0f ms)",
                      S->Op.load(), ElapsedMs(T0), CallBoundMs);
        if (R != nullptr) {
          std::lock_guard<std::mutex> G(R->Lock);
          Violation(*R, B);
        }
      }
    }
  }

private:
  std::mutex FLock;
  std::vector<std::unique_ptr<TCallSlot>> FSlots;
};

// Times one host call under the watchdog.
template <class F> void Call(TCallSlot& W, TRigSlot& R, const char* Op, F&& Fn) {
  W.Rig = &R;
  W.Op = Op;
  W.Reported = false;
  W.Start = NowMs();
  Fn();
  W.Start = 0;
}

// ---- Operations ------------------------------------------------------------------------

enum class TOp {
  LaserOn,
  LaserOff,
  EmissionOn,
  EmissionOff,
  DiodeCurrent,
  PwmFreq,
  PwmRatio,
  Aiming,
  ExecuteCmd,
  UpdateAlarms,
  AlarmDesc,
  Stop,
  Count
};
const char* OpName(TOp O) {
  static const char* Names[] = {"LaserOn",         "LaserOff",     "EmissionOn",   "EmissionOff",
                                "SetDiodeCurrent", "SetPwmFreq",   "SetPwmRatio",  "SetAimingOn",
                                "ExecuteCmd",      "UpdateAlarms", "GetAlarmDesc", "stop"};
  return Names[static_cast<int>(O)];
}
// How often each is chosen, in the order of TOp.
constexpr int OpWeights[] = {6, 4, 8, 6, 6, 3, 3, 3, 3, 10, 5, 4};

struct TCounters {
  std::atomic<long> Ops[static_cast<int>(TOp::Count)] = {};
};
TCounters GCounters;

// Calls that may switch emission on (ExecuteCmd runs make-specific numbered commands, some
// of which switch it on) close the emission windows when they start.
void OnCallBegins(TRigSlot& R, const char* Op) {
  std::lock_guard<std::mutex> L(R.Lock);
  const double Now = NowMs();
  R.LastOnStart = Now;
  for (auto& W : R.Windows) {
    W.To = std::min(W.To, Now);
  }
  R.Note(std::string("host ") + Op);
}
// A stop that began at Began returned at Returned: opens a window, unless a call that may
// switch emission on began while the stop ran (overlapping calls have no order, so that
// call may rightly come after the stop) or a window is open already. A call that began
// before the stop and still runs is no excuse: the stop must cut it short.
void StopReturned(TRigSlot& R, const char* Op, double Began, double Returned) {
  std::lock_guard<std::mutex> L(R.Lock);
  R.Note(std::string("host ") + Op + " returned");
  if (R.LastOnStart >= Began) {
    return;
  }
  for (const auto& W : R.Windows) {
    if (W.To == Inf) {
      return;
    }
  }
  R.Windows.push_back({Returned, Inf, Op});
}

void Perform(TOp Op, TRigSlot& R, TCallSlot& W, std::mt19937& Rng) {
  TNcLaser& L = *R.Laser;
  auto Pick = [&Rng](int Lo, int Hi) { return std::uniform_int_distribution<int>(Lo, Hi)(Rng); };
  const char* Name = OpName(Op);
  auto Stop = [&](const char* N, auto&& Fn) {
    const double Began = NowMs();
    Call(W, R, N, Fn);
    StopReturned(R, N, Began, NowMs());
  };
  auto On = [&](const char* N, auto&& Fn) {
    OnCallBegins(R, N);
    Call(W, R, N, Fn);
  };
  switch (Op) {
  case TOp::LaserOn:
    On(Name, [&] { L.LaserOn(); });
    break;
  case TOp::EmissionOn:
    On(Name, [&] { L.EmissionOn(); });
    break;
  case TOp::ExecuteCmd: {
    const int Cmd = Pick(0, 20);
    const double Param = Pick(0, 100);
    On(Name, [&] { L.ExecuteCmd(Cmd, Param); });
    break;
  }
  case TOp::LaserOff:
    Stop(Name, [&] { L.LaserOff(); });
    break;
  case TOp::EmissionOff:
    Stop(Name, [&] { L.EmissionOff(); });
    break;
  case TOp::DiodeCurrent: {
    const double V = Pick(0, 100);
    Call(W, R, Name, [&] { L.SetDiodeCurrent(V); });
    break;
  }
  case TOp::PwmFreq: {
    const int V = Pick(1, 50000);
    Call(W, R, Name, [&] { L.SetPwmFreq(V); });
    break;
  }
  case TOp::PwmRatio: {
    const double V = Pick(0, 100);
    Call(W, R, Name, [&] { L.SetPwmRatio(V); });
    break;
  }
  case TOp::Aiming: {
    const bool V = Pick(0, 1) == 1;
    Call(W, R, Name, [&] { L.SetAimingOn(V); });
    break;
  }
  case TOp::UpdateAlarms:
    Call(W, R, Name, [&] { L.UpdateAlarms(); });
    break;
  case TOp::AlarmDesc:
    Call(W, R, Name, [&] { (void)L.GetAlarmDesc(); });
    break;
  case TOp::Stop: {
    // EmissionOff from this thread while a helper thread is inside a power-on call.
    const bool ViaLaserOn = Pick(0, 1) == 1;
    const int AfterMs = Pick(1, 300);
    std::thread T([&R, &L, ViaLaserOn] {
      OnCallBegins(R, ViaLaserOn ? "LaserOn (stopped)" : "EmissionOn (stopped)");
      ViaLaserOn ? L.LaserOn() : L.EmissionOn();
    });
    Sleep(AfterMs);
    Stop("EmissionOff (stop)", [&] { L.EmissionOff(); });
    T.join();
    break;
  }
  case TOp::Count:
    break;
  }
  ++GCounters.Ops[static_cast<int>(Op)];
}

// ---- Faults ------------------------------------------------------------------------------

std::atomic<long> GFaults[static_cast<int>(TFault::Count)] = {};

// The make-specific faults: simulator command lines that raise and clear them, per rig.
struct TMakeFault {
  const char* Raise;
  const char* Clear;
};
struct TMakeFaults {
  std::optional<TMakeFault> Alarm;
  std::optional<TMakeFault> BadCheck;
};
const TMakeFaults& MakeFaults(const std::string& Rig) {
  static const std::map<std::string, TMakeFaults> Table = {
      {"jk", {TMakeFault{"alarm 0102", "alarm 0"}, std::nullopt}},
      {"mars", {TMakeFault{"alarm 27 on", "clear"}, TMakeFault{"garble on", "garble off"}}},
      {"nlight", {std::nullopt, TMakeFault{"garble on", "garble off"}}},
      {"cas", {std::nullopt, TMakeFault{"garble on", "garble off"}}},
      {"raycus-qcw",
       {TMakeFault{"fault 0 1 1", "clear"}, TMakeFault{"badcheck on", "badcheck off"}}},
      {"spi", {TMakeFault{"alarm 1", "alarm 0"}, TMakeFault{"badsum on", "badsum off"}}},
      {"spi1000", {TMakeFault{"alarm 1", "alarm 0"}, TMakeFault{"badsum on", "badsum off"}}},
      {"ylr", {TMakeFault{"fault 1 on", "fault 1 off"}, std::nullopt}},
      {"yls", {TMakeFault{"alarm 0x2", "clear"}, TMakeFault{"badcrc 5", "badcrc 0"}}},
  };
  static const TMakeFaults None;
  const auto It = Table.find(Rig);
  return It == Table.end() ? None : It->second;
}

// Runs a simulator command line; a refusal is the soak's own mistake, so it is said.
void SimCommand(TRigSlot& R, const char* Line) {
  try {
    (void)R.Sim->Command(Line);
  } catch (const std::exception& E) {
    std::printf("soak: %s simulator refused \"%s\": %s\n", R.Rig->Name.c_str(), Line, E.what());
  }
}

// Shows fault F on R's simulator for DurationMs (the fault thread clears it).
void Inject(TRigSlot& R, TFault F, int DurationMs, std::mt19937& Rng) {
  sim::TSimEndpoint& S = *R.Sim;
  switch (F) {
  case TFault::Silence:
    S.SetSilent(true);
    break;
  case TFault::Garbage:
    S.SetGarbage(true);
    break;
  case TFault::Truncate:
    S.SetTruncate(std::uniform_int_distribution<std::size_t>(1, 4)(Rng));
    break;
  case TFault::Split:
    S.SetSplit(std::uniform_int_distribution<std::size_t>(1, 3)(Rng), 5);
    break;
  case TFault::Join:
    S.SetJoin(true);
    break;
  case TFault::Delay:
    S.SetDelay(std::uniform_int_distribution<int>(50, 600)(Rng));
    break;
  case TFault::Drop:
    S.DropLink(DurationMs);
    break;
  case TFault::PullCable:
    S.PullCable(DurationMs);
    break;
  case TFault::Unplug:
    S.Unplug();
    break;
  case TFault::Alarm:
    SimCommand(R, MakeFaults(R.Rig->Name).Alarm->Raise);
    break;
  case TFault::BadCheck:
    SimCommand(R, MakeFaults(R.Rig->Name).BadCheck->Raise);
    break;
  case TFault::Count:
    break;
  }
  ++GFaults[static_cast<int>(F)];
  std::lock_guard<std::mutex> L(R.Lock);
  R.FaultNow = FaultName(F);
  R.FaultKind = F;
  R.FaultUntil = NowMs() + DurationMs;
  R.Note(std::string("fault ") + FaultName(F) + " for " + std::to_string(DurationMs) + " ms");
}

void ClearFault(TRigSlot& R) {
  sim::TSimEndpoint& S = *R.Sim;
  const TMakeFaults& Make = MakeFaults(R.Rig->Name);
  TFault Kind{};
  {
    std::lock_guard<std::mutex> L(R.Lock);
    Kind = R.FaultKind;
  }
  if (Kind == TFault::Alarm) {
    SimCommand(R, Make.Alarm->Clear);
  } else if (Kind == TFault::BadCheck) {
    SimCommand(R, Make.BadCheck->Clear);
  }
  S.SetSilent(false);
  S.SetGarbage(false);
  S.SetTruncate(0);
  S.SetSplit(0, 0);
  S.SetJoin(false);
  S.SetDelay(0);
  S.RestoreLink();
  if (!S.IsTcp() && !S.Plugged()) {
    S.Replug();
  }
  std::lock_guard<std::mutex> L(R.Lock);
  R.Note("fault " + R.FaultNow + " cleared");
  R.FaultNow.clear();
}

// ---- The emission check ------------------------------------------------------------------

// Reads what reached R's simulator since the last look and holds each emission-on request
// against the windows.
void CheckWire(TRigSlot& R) {
  const std::vector<sim::TSimRequest> Got = R.Sim->Requests();
  R.Sim->ClearRequests();
  std::lock_guard<std::mutex> L(R.Lock);
  for (const auto& Q : Got) {
    const bool On = R.IsEmissionOn(Q.Bytes);
    char T[32];
    std::snprintf(T, sizeof T, "%9.3f ", (Q.TimeMs - GStart) / 1000.0);
    R.Events.push_back(T + std::string(On ? "wire ON  " : "wire     ") + sim::HexText(Q.Bytes));
    if (R.Events.size() > 16) {
      R.Events.pop_front();
    }
    if (!On) {
      continue;
    }
    ++R.EmissionOnSeen;
    for (const auto& W : R.Windows) {
      if (Q.TimeMs > W.From + StampSlackMs && Q.TimeMs < W.To) {
        char B[200];
        std::snprintf(B, sizeof B,
                      "emission on reached the wire %.1f ms after %s returned (t=%.3fs)",
                      Q.TimeMs - W.From, W.Why.c_str(), (W.From - GStart) / 1000.0);
        Violation(R, B);
        break;
      }
    }
  }
  // Windows closed long ago cannot match anything still to come.
  const double Now = NowMs();
  std::erase_if(R.Windows, [Now](const auto& W) { return W.To < Now - 10000.0; });
}

// ---- Resources ---------------------------------------------------------------------------

struct TSample {
  double Minutes;
  double RssKiB;
  double Fds;
  double Threads;
};

std::size_t CountEntries(const char* Dir) {
  std::size_t N = 0;
  std::error_code E;
  for (auto It = std::filesystem::directory_iterator(Dir, E);
       !E && It != std::filesystem::directory_iterator(); It.increment(E)) {
    ++N;
  }
  return N;
}

TSample Sample() {
  long Size = 0;
  long Resident = 0;
  std::ifstream("/proc/self/statm") >> Size >> Resident;
  return {ElapsedMs(GStart) / 60000.0,
          static_cast<double>(Resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1024.0,
          static_cast<double>(CountEntries("/proc/self/fd")),
          static_cast<double>(CountEntries("/proc/self/task"))};
}

// Least-squares slope of Y over the samples' minutes.
double Slope(const std::vector<TSample>& S, double TSample::*Y) {
  if (S.size() < 2) {
    return 0;
  }
  double Mx = 0, My = 0;
  for (const auto& X : S) {
    Mx += X.Minutes;
    My += X.*Y;
  }
  Mx /= static_cast<double>(S.size());
  My /= static_cast<double>(S.size());
  double Num = 0, Den = 0;
  for (const auto& X : S) {
    Num += (X.Minutes - Mx) * (X.*Y - My);
    Den += (X.Minutes - Mx) * (X.Minutes - Mx);
  }
  return Den > 0 ? Num / Den : 0;
}

// ---- Main --------------------------------------------------------------------------------

struct TOptions {
  double Minutes = 1.0;
  std::uint64_t Seed = 0;
  bool SeedGiven = false;
  std::string Only;
};

[[noreturn]] void Usage(const char* Why) {
  std::fprintf(stderr, "soak: %s\nusage: soak [--minutes M] [--seed S] [--only NAME]\n", Why);
  std::exit(2);
}

TOptions ParseOptions(int Argc, char** Argv) {
  TOptions O;
  for (int I = 1; I < Argc; ++I) {
    const std::string A = Argv[I];
    if (A == "--help" || A == "-h") {
      std::printf("usage: soak [--minutes M] [--seed S] [--only NAME]\n");
      std::exit(0);
    }
    if (I + 1 >= Argc) {
      Usage(("missing value after " + A).c_str());
    }
    const std::string V = Argv[++I];
    char* End = nullptr;
    if (A == "--minutes") {
      O.Minutes = std::strtod(V.c_str(), &End);
      if (*End != '\0' || !(O.Minutes > 0)) {
        Usage("--minutes takes a positive number");
      }
    } else if (A == "--seed") {
      O.Seed = std::strtoull(V.c_str(), &End, 10);
      if (*End != '\0' || V.empty()) {
        Usage("--seed takes a whole number");
      }
      O.SeedGiven = true;
    } else if (A == "--only") {
      O.Only = V;
    } else {
      Usage(("unknown option " + A).c_str());
    }
  }
  return O;
}

} // namespace

int main(int Argc, char** Argv) {
  const TOptions Opt = ParseOptions(Argc, Argv);
  GSeed = Opt.SeedGiven ? Opt.Seed : std::random_device()();
  GStart = NowMs();
  std::printf("soak: seed %llu, %.2f minutes%s%s (replay: --seed %llu)\n",
              static_cast<unsigned long long>(GSeed), Opt.Minutes,
              Opt.Only.empty() ? "" : ", only ", Opt.Only.c_str(),
              static_cast<unsigned long long>(GSeed));

  std::vector<std::unique_ptr<TRigSlot>> Slots;
  hostkit::THost Host;
  Host.IO.SetOutputsExist({1, 2}); // no power-control output: emission requests go out at once
  Host.Comm = std::make_unique<TSoakComm>(Host.SerialPorts, Slots);
  Host.Install();

  // One laser per rig: serial rigs on their own port number, TCP-only rigs on their own
  // loopback address.
  int Port = 0;
  for (const sim::TSimRig* Rig : sim::AllRigs()) {
    if (!Opt.Only.empty() && Rig->Name != Opt.Only) {
      continue;
    }
    const auto Pred = EmissionOnTable().find(Rig->Name);
    if (Pred == EmissionOnTable().end()) {
      std::printf("soak: rig %s has no emission-on row; skipped\n", Rig->Name.c_str());
      continue;
    }
    auto S = std::make_unique<TRigSlot>();
    S->Rig = Rig;
    S->IsEmissionOn = Pred->second;
    const bool Tcp = !sim::RigFamily(*Rig).Pty;
    ++Port;
    try {
      S->Sim = sim::StartRig(*Rig, Tcp, Tcp ? sim::LoopbackAddress(51, Port) : std::string());
    } catch (const std::exception& E) {
      std::printf("soak: %s: %s\n", Rig->Name.c_str(), E.what());
      return 1;
    }
    const sim::TRigLink Link = sim::LinkTo(*S->Sim, Port);
    if (Tcp) {
      S->TcpHost = Link.TcpHost;
    } else {
      Host.SerialPorts->Set(Port, S->Sim->DevicePath());
    }
    S->Laser = FindLaserClass(Rig->Class)->Factory(nullptr, sim::RigParams(*Rig, Link));
    S->Laser->RegisterAlarms();
    std::printf("soak: %-10s %-16s on %s\n", Rig->Name.c_str(), Rig->Class.c_str(),
                S->Sim->Where().c_str());
    Slots.push_back(std::move(S));
  }
  if (Slots.empty()) {
    Usage(("no rig called " + Opt.Only).c_str());
  }
  std::fflush(stdout);

  std::atomic<bool> Done{false};
  const double EndMs = NowMs() + Opt.Minutes * 60000.0;
  TWatchdog Watchdog;
  std::discrete_distribution<int> OpDist(std::begin(OpWeights), std::end(OpWeights));

  std::vector<std::thread> Threads;
  for (int I = 0; I < HostThreads; ++I) {
    TCallSlot& W = Watchdog.NewSlot();
    Threads.emplace_back([&, I, Dist = OpDist]() mutable {
      std::mt19937 Rng(static_cast<std::uint32_t>(GSeed * 7919 + static_cast<std::uint64_t>(I)));
      while (!Done) {
        TRigSlot& R = *Slots[std::uniform_int_distribution<std::size_t>(0, Slots.size() - 1)(Rng)];
        Perform(static_cast<TOp>(Dist(Rng)), R, W, Rng);
        Sleep(std::uniform_int_distribution<int>(0, 30)(Rng));
      }
    });
  }
  // Faults: now and then one on a rig without one, cleared when its time is up.
  Threads.emplace_back([&] {
    std::mt19937 Rng(static_cast<std::uint32_t>(GSeed * 104729 + 1));
    while (!Done) {
      for (auto& S : Slots) {
        bool Due = false;
        {
          std::lock_guard<std::mutex> L(S->Lock);
          Due = !S->FaultNow.empty() && NowMs() >= S->FaultUntil;
        }
        if (Due) {
          ClearFault(*S);
        }
      }
      TRigSlot& R = *Slots[std::uniform_int_distribution<std::size_t>(0, Slots.size() - 1)(Rng)];
      bool Busy = false;
      {
        std::lock_guard<std::mutex> L(R.Lock);
        Busy = !R.FaultNow.empty();
      }
      if (!Busy && std::uniform_int_distribution<int>(0, 3)(Rng) == 0) {
        auto F = static_cast<TFault>(
            std::uniform_int_distribution<int>(0, static_cast<int>(TFault::Count) - 1)(Rng));
        // Faults the rig cannot show become a dropped link.
        const TMakeFaults& Make = MakeFaults(R.Rig->Name);
        if ((F == TFault::Unplug && R.Sim->IsTcp()) || (F == TFault::Alarm && !Make.Alarm) ||
            (F == TFault::BadCheck && !Make.BadCheck)) {
          F = TFault::Drop;
        }
        Inject(R, F, std::uniform_int_distribution<int>(100, 3000)(Rng), Rng);
      }
      Sleep(100);
    }
  });
  // The checks.
  std::vector<TSample> Samples;
  Threads.emplace_back([&] {
    double NextSample = NowMs();
    while (!Done) {
      for (auto& S : Slots) {
        CheckWire(*S);
      }
      Watchdog.Check();
      if (NowMs() >= NextSample) {
        // The stand-in host keeps every message-log line in memory (a factory host writes
        // them to a file); drop them so the memory slope is the plug-in's own.
        Host.App.ClearLines();
        Samples.push_back(Sample());
        NextSample += SampleEveryMs;
      }
      Sleep(100);
    }
  });

  while (NowMs() < EndMs) {
    Sleep(200);
  }
  Done = true;
  for (auto& T : Threads) {
    T.join();
  }

  // Tear-down: faults off, then every laser destroyed under the same checks (a window that
  // never closes) and within the call bound.
  for (auto& S : Slots) {
    if (!S->FaultNow.empty()) {
      ClearFault(*S);
    }
  }
  std::vector<double> DestroyMs;
  for (auto& S : Slots) {
    CheckWire(*S);
    const double T0 = NowMs();
    S->Laser.reset();
    DestroyMs.push_back(ElapsedMs(T0));
    if (DestroyMs.back() > CallBoundMs) {
      std::lock_guard<std::mutex> L(S->Lock);
      Violation(*S, "Destroy took " + std::to_string(DestroyMs.back()) + " ms");
    }
    StopReturned(*S, "Destroy", T0, NowMs());
  }
  Sleep(500);
  for (auto& S : Slots) {
    CheckWire(*S);
    S->Sim->Stop();
  }
  Host.Uninstall();

  // ---- Summary ----
  const double Minutes = ElapsedMs(GStart) / 60000.0;
  std::printf("\nsoak summary: seed %llu, %.2f minutes, %zu lasers, %d host threads\n",
              static_cast<unsigned long long>(GSeed), Minutes, Slots.size(), HostThreads);
  long TotalOps = 0;
  std::printf("operations:");
  for (int I = 0; I < static_cast<int>(TOp::Count); ++I) {
    std::printf(" %s=%ld", OpName(static_cast<TOp>(I)), GCounters.Ops[I].load());
    TotalOps += GCounters.Ops[I];
  }
  std::printf("\nfaults:");
  long TotalFaults = 0;
  for (int I = 0; I < static_cast<int>(TFault::Count); ++I) {
    std::printf(" %s=%ld", FaultName(static_cast<TFault>(I)), GFaults[I].load());
    TotalFaults += GFaults[I];
  }
  std::printf("\nemission-on requests seen per laser:");
  for (auto& S : Slots) {
    std::printf(" %s=%d", S->Rig->Name.c_str(), S->EmissionOnSeen);
  }
  std::printf("\nviolations per laser:");
  for (auto& S : Slots) {
    std::printf(" %s=%d", S->Rig->Name.c_str(), S->Violations);
  }
  const auto Destroy = bench::Summarize(DestroyMs);
  std::printf("\ndestroy: max %.1f ms\n", Destroy.Max);
  // Warm-up: the first quarter of the run (at least 10 s) is not in the slopes.
  std::vector<TSample> Steady;
  const double WarmUp = std::max(10.0 / 60.0, Minutes / 4.0);
  std::copy_if(Samples.begin(), Samples.end(), std::back_inserter(Steady),
               [WarmUp](const TSample& X) { return X.Minutes >= WarmUp; });
  const double RssSlope = Slope(Steady, &TSample::RssKiB);
  const double FdSlope = Slope(Steady, &TSample::Fds);
  const double ThreadSlope = Slope(Steady, &TSample::Threads);
  std::printf(
      "after warm-up (%zu samples): rss %+.1f KiB/min, fds %+.2f /min, threads %+.2f /min\n",
      Steady.size(), RssSlope, FdSlope, ThreadSlope);
  std::printf("stops: %ld, violations: %d\n", GCounters.Ops[static_cast<int>(TOp::Stop)].load(),
              GViolations.Count.load());
  bench::Json("soak", "operations", static_cast<double>(TotalOps), "count");
  bench::Json("soak", "faults", static_cast<double>(TotalFaults), "count");
  bench::Json("soak", "violations", GViolations.Count, "count");
  bench::Json("soak", "rss_slope", RssSlope, "KiB/min");
  bench::Json("soak", "fd_slope", FdSlope, "1/min");
  bench::Json("soak", "thread_slope", ThreadSlope, "1/min");
  return GViolations.Count == 0 ? 0 : 1;
}
