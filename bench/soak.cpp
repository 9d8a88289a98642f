// The soak: every laser class at once on one stand-in host -- the makes with a link against
// the simulator table's rigs, the I/O-only makes on the host's virtual machine I/O with
// ports of their own -- driven for a while from several host threads with random
// operations while the simulators show random link faults and scripted inputs change, with
// the safety and liveness invariants checked all the time.
//
// Usage: soak [--minutes M] [--seed S] [--only NAME]
//   --minutes M  how long to drive the lasers (fractions allowed; default 1)
//   --seed S     the seed of every random choice (default: a random one; always printed)
//   --only NAME  one laser: a rig of the simulator table ("jk", "spi1000", ...) or an I/O
//                laser of this file's table ("rofin", "ylp", ...)
//
// Checked continuously (each violation is printed with the seed, the time, the laser and its
// last host calls, wire requests and I/O events; the exit status is 1 when any was seen):
//   - emission: no request that switches emission on is written to the link (stamped on the
//     laser's side, before the write), and no output that switches emission or a power-on
//     step on rises, after EmissionOff, LaserOff or Destroy returned, until the host next
//     asks for a switch-on; every emission-on the simulator reads must have been seen
//     written;
//   - hangs: every host call returns within CallBoundMs (a watchdog names the call);
//   - alarms: an alarm raised by a fault (the make's alarm bits, an alarm input) shows in
//     the host's alarm list within the class's polling budget and leaves it within the same
//     budget after the fault is gone;
//   - set points: on the makes whose thread queues commands, every set point the host asked
//     for reaches the wire exactly once (a fault on the link excuses it);
//   - resources: resident memory, open descriptors and threads are sampled; their slopes
//     after warm-up are printed at the end.
// The same seed replays the same choices; the threads' interleaving is not replayed.
#include <algorithm>
#include <array>
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
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "bench/bench_util.h"
#include "host/clock.h"
#include "hostkit/comm_factory.h"
#include "hostkit/comm_tap.h"
#include "hostkit/host.h"
#include "hostkit/icmp_client.h"
#include "lasers/factory.h"
#include "params/schema.h"
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
// A 5 ms sleep of the stall watch that took this much longer: the process was starved.
constexpr double StallMs = 50.0;
constexpr int HostThreads = 3;
constexpr double SampleEveryMs = 2000.0;
// The host's alarm poll: UpdateAlarms on every laser this often.
constexpr double AlarmPollMs = 200.0;
// What a loaded shared machine adds to any budget below; sanitizer builds run several
// times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr double SchedulingSlackMs = 4000.0;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
constexpr double SchedulingSlackMs = 4000.0;
#else
constexpr double SchedulingSlackMs = 1500.0;
#endif
#else
constexpr double SchedulingSlackMs = 1500.0;
#endif
// A set point still queued this long after the host's next set point has not been sent.
constexpr double SetPointDrainMs = 2000.0;
// The Mars simulator's maximum power; the laser uses 10 W until it has read it.
constexpr double MarsMaxPowerW = 500.0;
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

// What a set point of V percent is on the wire, for the makes whose thread queues every
// command it is given (the others keep the latest value, or send on the caller's thread
// and retry): the keys any of its requests may have. A text make's key is its line.
struct TSetPointRow {
  bool Text;
  std::function<std::vector<std::string>(double V)> Keys;
  // The make's queue waits behind an emission-on until the laser reports it is ready; a
  // laser that never gets ready (its standby lost with the link) holds the set points until
  // a stop takes the emission-on back.
  bool HeldBehindEmission = false;
};
std::string Key(const std::vector<std::uint8_t>& B) {
  return std::string(B.begin(), B.end());
}
const std::map<std::string, TSetPointRow>& SetPointTable() {
  static const std::map<std::string, TSetPointRow> Table = {
      {"jk",
       {false,
        [](double V) {
          // The rig's record has address 1.
          return std::vector<std::string>{Key(jk::BuildFrame(1, jk::DiodeSetPointData(V)))};
        },
        true}},
      {"spi",
       {false,
        [](double V) {
          return std::vector<std::string>{
              Key(spi::BuildPacket(spi::cmdDiodeCurrent, spi::DiodeCurrentData(V)))};
        }}},
      {"spi1000",
       {false,
        [](double V) {
          return std::vector<std::string>{
              Key(spi::BuildPacket(spi::cmd1000DiodeCurrent, spi::DiodeCurrentData(V)))};
        }}},
      {"cas", {true, [](double V) { return std::vector<std::string>{Line(cas::CurrentCmd(V))}; }}},
      {"qinghua",
       {true,
        [](double V) {
          const auto F = qinghua::Frame(qinghua::chPower, qinghua::PowerDigits(V));
          return std::vector<std::string>{Line(std::string(F.begin(), F.end()))};
        }}},
      {"mars",
       {true,
        [](double V) {
          return std::vector<std::string>{Line(mars::PowerCmd(10.0, V)),
                                          Line(mars::PowerCmd(MarsMaxPowerW, V))};
        }}},
  };
  return Table;
}

// How often each make with alarms refreshes the status its alarm is read from (its poll
// cycle, or one command thread cycle with its pause for the queued makes), in ms. An alarm
// raised by a fault must show within this plus the host's alarm poll plus the machine's
// slack, and leave within the same after the fault is gone.
const std::map<std::string, double>& StatusRefreshTable() {
  static const std::map<std::string, double> Table = {
      {"ylr", 120}, {"yls", 160},  {"raycus-qcw", 100}, {"spi", 200}, {"spi1000", 200},
      {"jk", 200},  {"mars", 200}, {"rofin", 0},        {"ylp", 0},
  };
  return Table;
}

// ---- The I/O lasers --------------------------------------------------------------------

// Each I/O laser owns a block of 16 outputs, inputs and analog channels from its base
// port: CtrlPort at +0, aiming at +1, the fiber enable outputs at +2 and +3, the make's own
// from +4.
constexpr int IoBlock = 16;

// An input the script moves off its idle level now and then.
struct TScriptInput {
  int Offset;
  bool Idle;
  bool Alarm; // the make turns it into its alarm
  const char* What;
};
struct TIoRig {
  const char* Name;
  const char* Class;
  std::function<void(TLaserParams&, int Base)> Configure;
  std::vector<int> SwitchOn; // outputs that switch emission or a power-on step on
  std::vector<TScriptInput> Inputs;
};

const std::vector<TIoRig>& IoRigs() {
  static const std::vector<TIoRig> Rigs = {
      {"co2",
       "TCO2Laser",
       [](TLaserParams& P, int B) {
         P.CfgCO2.Initialize();
         P.CfgCO2.DynamicDA = B + 1;
         P.CfgCO2.LaserMode = 1;
         P.CfgCO2.ModeSelect0 = B + 4;
         P.CfgCO2.ModeSelect1 = B + 5;
         P.CfgCO2.ShutterPort = B + 6;
         P.CfgCO2.ShutterStatus = B + 7;
         P.CfgCO2.ShutterDelay = 300;
       },
       {0, 6},
       {{7, false, false, "shutter open"}}},
      {"yag", "TYAGLaser", [](TLaserParams&, int) {}, {0}, {}},
      {"default",
       "TDefaultLaser",
       [](TLaserParams& P, int B) {
         P.CfgOther = {.ShutterReadyDelay = 300, .ShutterReady = B + 6};
       },
       {0, 2, 3, 6},
       {}},
      {"max", "TMaxLaser", [](TLaserParams&, int) {}, {0, 2, 3}, {}},
      {"lping", "TLPINGLaser", [](TLaserParams&, int) {}, {0, 2, 3}, {}},
      {"opticalvalley", "TOpticalValleyLaser", [](TLaserParams&, int) {}, {0, 2, 3}, {}},
      {"meiman",
       "TMeimanLaser",
       [](TLaserParams& P, int B) { P.CfgMeiMan = {.FreqDAPort = B + 2, .RatioDAPort = B + 3}; },
       {0, 2, 3},
       {}},
      {"rofin",
       "TRofinLaser",
       [](TLaserParams& P, int B) {
         P.CfgRofin.Initialize();
         P.CfgRofin.Warning = B + 0;
         P.CfgRofin.Error = B + 1;
         P.CfgRofin.GatePort = B + 4;
         P.CfgRofin.MainsOn = B + 5;
         P.CfgRofin.FaultReset = B + 6;
         P.CfgRofin.StandbyOn = B + 7;
         P.CfgRofin.LaserOn = B + 8; // not read by the class; kept off the others' ports
         P.CfgRofin.StandbyReady = B + 8;
         P.CfgRofin.SystemReady = B + 9;
         P.CfgRofin.DelayAfterMainsOn = 200;
         P.CfgRofin.DelayAfterReset = 100;
         P.CfgRofin.DelayAfterStandby = 150;
       },
       {2, 3, 4, 5, 6, 7},
       {{0, false, true, "warning"}, {1, false, true, "error"}}},
      {"ipg1000",
       "TIPG1000Laser",
       [](TLaserParams& P, int B) {
         P.CfgIPG.IPGType = ltYLSGemHW;
         P.CfgIPG.PowerCtrlPort = B + 7;
         P.CfgIPG.MaxCurrent = 100.0;
         P.CfgIPG.YLS.Wire = {.EmissionStatusPort = B,
                              .LaserOnPort = B + 4,
                              .LaserRequestPort = B + 5,
                              .ProgramStartPort = B + 6,
                              .LaserRequestDelay = 100,
                              .LaserOnDelay = 500,
                              .LaserOnPulse = 300};
       },
       {0, 2, 3, 4, 5, 6},
       {{0, false, false, "emission status"}}},
      {"ylp",
       "TIPGYLPLaser",
       [](TLaserParams& P, int B) {
         P.CfgIPG.IPGType = ltYLP;
         P.CfgIPG.MaxCurrent = 100.0;
         P.CfgIPG.YLP.YLPIndependentEmsOn = true;
         P.CfgIPG.YLP.YLPMO = B + 4;
         P.CfgIPG.YLP.YLPPower5 = B + 5;
         P.CfgIPG.YLP.YLPPower6 = B + 6;
         P.CfgIPG.YLP.YLPPower7 = B + 7;
         P.CfgIPG.YLP.YLPPower8 = B + 8;
         P.CfgIPG.YLP.YLPLock = B + 9;
         P.CfgIPG.YLP.YLPPowerDelay1 = 1;
         P.CfgIPG.YLP.YLPPowerDelay2 = 1;
         P.CfgIPG.YLP.YLPAlarm16 = B + 0;
         P.CfgIPG.YLP.YLPAlarm21 = B + 1;
       },
       {2, 3, 4},
       {{0, true, true, "alarm 16 off"}, {1, false, true, "alarm 21"}}},
  };
  return Rigs;
}

// The record of an I/O laser on the block at Base: the host's defaults, then its ports.
TLaserParams IoParams(const TIoRig& Io, int Base) {
  TLaserParams P;
  InitializeHostDefaults(P, FindLaserClass(Io.Class)->LaserType);
  P.DefParams.Model = "TXT-1000";
  P.DefParams.CtrlPort = Base;
  P.DefParams.AimingPort = Base + 1;
  P.DefParams.PWM.EnablePort1 = Base + 2;
  P.DefParams.PWM.EnablePort2 = Base + 3;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.DefParams.DA.DAPort = Base;
  Io.Configure(P, Base);
  return P;
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
  Input,    // an I/O laser's input off its idle level (an alarm or a status input)
  Count
};
const char* FaultName(TFault F) {
  static const char* Names[] = {"silence", "garbage", "short",  "split", "join",     "delay",
                                "drop",    "pull",    "unplug", "alarm", "badcheck", "input"};
  return Names[static_cast<int>(F)];
}

// A set point the host asked for, and how often it reached the wire.
struct TSetPoint {
  double V;
  std::vector<std::string> Keys;
  double Start;       // when the host call began
  double Close = Inf; // when the host's next set point on this laser began
  int Count = 0;      // requests seen with one of Keys
  int Resends = 0;    // calls that re-apply the present set point: begun meanwhile, or running
                      // when it was asked
  bool Faulted = false;
};

// One laser: its simulator or its block of I/O ports, and what the checks need to know.
struct TRigSlot {
  std::string Name;
  std::string Class;
  const sim::TSimRig* Rig = nullptr; // null for an I/O laser
  const TIoRig* Io = nullptr;        // null for a laser with a simulator
  int IoBase = 0;
  TEmissionOn IsEmissionOn;
  const TSetPointRow* SetPoints = nullptr; // null: set points not followed
  double AlarmBudgetMs = 0;                // 0: no fault of this make raises its alarm
  std::unique_ptr<sim::TSimEndpoint> Sim;
  TNcLaserPtr Laser;
  std::string TcpHost; // empty on a pty

  std::mutex Lock; // guards everything below
  // Times after a stop returned during which nothing may switch on; To is when the host
  // next asked for a switch-on (Inf while open).
  struct TWindow {
    double From;
    double To;
    std::string Why;
  };
  std::vector<TWindow> Windows;
  double LastOnStart = 0;               // when the last call that may switch emission on started
  std::deque<std::string> Events;       // the last host calls, wire requests and I/O events
  std::deque<std::string> FaultLog;     // the last faults, which may lie before Events
  std::vector<hostkit::TIoEvent> Rises; // switch-on outputs that rose, not yet checked
  // Emission-on requests the laser wrote to its link, stamped before the write, not yet
  // checked.
  std::vector<std::pair<double, sim::TBytes>> Written;
  int EmissionOnWritten = 0;
  int EmissionOnSeen = 0; // on the simulator's side of the link, or on the outputs
  int Violations = 0;
  std::string FaultNow; // the fault shown now, empty when none
  TFault FaultKind{};
  bool FaultRaisesAlarm = false;
  double FaultUntil = 0;
  double LastFaultEnd = -Inf;
  const TScriptInput* InputNow = nullptr;
  // The alarm check.
  bool AlarmShown = false;
  long AlarmsRaised = 0;
  long AlarmsCleared = 0;
  double ShowFrom = 0, ShowBy = 0;   // an alarm is due by ShowBy (0: none due)
  double ClearFrom = 0, ClearBy = 0; // the alarm must be gone by ClearBy (0: none due)
  std::string AlarmCause;
  bool AlarmMissed = false; // it did not show: there is no leaving to check
  long AlarmsChecked = 0, ClearsChecked = 0;
  double MaxShowMs = 0, MaxClearMs = 0;
  // The set-point check.
  std::deque<TSetPoint> Pending;
  double LastV = 40.0; // the record's starting diode current
  // A make whose queue waits behind an emission-on: a call that may have queued one began
  // and neither its emission-on went out nor a stop returned since (HoldOpen); when the
  // last such wait ended.
  bool HoldOpen = false;
  double HoldEnd = -Inf;
  // Calls that re-apply the present set point, running now: one begun before a set point
  // may re-apply it all the same, having read it after the set point call stored it.
  int ReapplyingCalls = 0;
  long SetPointsOnce = 0, SetPointsExcused = 0;

  void Note(const std::string& E, double AtMs = 0) {
    char T[32];
    std::snprintf(T, sizeof T, "%9.3f ", AtMs > 0 ? (AtMs - GStart) / 1000.0 : Elapsed());
    Events.push_back(T + E);
    if (Events.size() > 32) {
      Events.pop_front();
    }
  }
  void NoteFault(const std::string& E) {
    Note(E);
    FaultLog.push_back(Events.back());
    if (FaultLog.size() > 6) {
      FaultLog.pop_front();
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
              Elapsed(), Slot.Name.c_str(), What.c_str());
  for (const auto& E : Slot.FaultLog) {
    std::printf("  %s\n", E.c_str());
  }
  for (const auto& E : Slot.Events) {
    std::printf("    %s\n", E.c_str());
  }
  std::fflush(stdout);
}

// ---- Pings and links: the simulators answer for their own reachability ----------------

// The lasers' threads ping while later lasers are still being added.
std::mutex GSlotsLock;

class TSoakProber : public hostkit::TPingProber {
public:
  explicit TSoakProber(const std::vector<std::unique_ptr<TRigSlot>>& Slots) : FSlots(Slots) {}
  hostkit::TPingResult Probe(const std::string& Host, int TimeoutMs) const override {
    {
      std::lock_guard<std::mutex> L(GSlotsLock);
      for (const auto& S : FSlots) {
        if (S->TcpHost == Host && S->Sim && S->Sim->Running() && !S->Sim->Unreachable()) {
          return hostkit::TPingResult::Answered;
        }
      }
    }
    Sleep(std::min(TimeoutMs, 100));
    return hostkit::TPingResult::NoAnswer;
  }
  std::string Describe() const override { return "simulator reachability"; }

private:
  const std::vector<std::unique_ptr<TRigSlot>>& FSlots;
};

// Which laser a link belongs to: "com:N" for serial port N, "tcp:HOST" for a TCP peer.
// Filled before the laser is built, so its constructor's links find their owner.
std::map<std::string, TRigSlot*> GLinkOwners;

// What the lasers write to their links, split into requests as each one's simulator splits
// them: the emission-ons, with the tap's stamp from before the write, go to the laser's
// checks before the simulator can read them.
class TSoakTap : public hostkit::TLinkTap {
public:
  void Opened(const std::string& Link) override {
    std::lock_guard<std::mutex> L(FLock);
    FLinks[Link].Pending.clear();
  }
  void Writing(const std::string& Link, double AtMs, std::span<const std::uint8_t> Bytes) override {
    std::lock_guard<std::mutex> L(FLock);
    TLinkState& S = FLinks[Link];
    if (S.Slot == nullptr) {
      std::lock_guard<std::mutex> G(GSlotsLock);
      const auto It = GLinkOwners.find(Link);
      if (It == GLinkOwners.end() || It->second->Rig == nullptr) {
        return;
      }
      S.Slot = It->second;
      S.Model = sim::RigFamily(*S.Slot->Rig).MakeModel(S.Slot->Rig->Options);
    }
    std::size_t Junk = 0;
    sim::SplitRequests(*S.Model, S.Pending, Bytes, Junk, [&S, AtMs](sim::TBytes Req) {
      if (S.Slot->IsEmissionOn(Req)) {
        std::lock_guard<std::mutex> R(S.Slot->Lock);
        S.Slot->Written.emplace_back(AtMs, std::move(Req));
      }
    });
  }

private:
  struct TLinkState {
    TRigSlot* Slot = nullptr;
    std::unique_ptr<sim::TSimModel> Model; // for its Split only
    sim::TBytes Pending;
  };
  std::mutex FLock;
  std::map<std::string, TLinkState> FLinks;
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
// Reapplies: the call may re-apply the present diode current (EmissionOn, and LaserOn,
// which on some makes runs EmissionOn), so the present set point may go out once more.
void OnCallBegins(TRigSlot& R, const char* Op, bool Reapplies) {
  std::lock_guard<std::mutex> L(R.Lock);
  R.Note(std::string("host ") + Op);
  // The present set point is the open one, or one closed by a set point call that may
  // still be running beside it.
  for (auto& P : R.Pending) {
    if (Reapplies && P.Close > NowMs() - 100.0) {
      ++P.Resends;
    }
  }
  if (Reapplies && R.SetPoints != nullptr && R.SetPoints->HeldBehindEmission) {
    R.HoldOpen = true;
  }
  R.ReapplyingCalls += Reapplies ? 1 : 0;
  // The time last, as near the call as the soak can take it.
  const double Now = NowMs();
  R.LastOnStart = Now;
  for (auto& W : R.Windows) {
    W.To = std::min(W.To, Now);
  }
}

void OnCallEnds(TRigSlot& R, bool Reapplies) {
  std::lock_guard<std::mutex> L(R.Lock);
  R.ReapplyingCalls -= Reapplies ? 1 : 0;
}

// Picks a whole percentage for R's next set point whose requests cannot be mistaken for
// those of a set point still followed, and different from the last one by more than the
// half percent the lasers ignore; starts following it.
double NewSetPoint(TRigSlot& R, std::mt19937& Rng) {
  std::lock_guard<std::mutex> L(R.Lock);
  const double Now = NowMs();
  for (;;) {
    const double V = std::uniform_int_distribution<int>(1, 99)(Rng);
    if (std::fabs(V - R.LastV) <= 0.5) {
      continue;
    }
    TSetPoint P{V, R.SetPoints->Keys(V), Now};
    const bool Clash = std::any_of(R.Pending.begin(), R.Pending.end(), [&](const TSetPoint& Q) {
      return std::any_of(P.Keys.begin(), P.Keys.end(), [&](const std::string& K) {
        return std::find(Q.Keys.begin(), Q.Keys.end(), K) != Q.Keys.end();
      });
    });
    if (Clash) {
      continue;
    }
    for (auto& Q : R.Pending) {
      Q.Close = std::min(Q.Close, Now);
    }
    P.Faulted = !R.FaultNow.empty() || Now < R.LastFaultEnd + 1000.0;
    P.Resends = R.ReapplyingCalls;
    R.Pending.push_back(std::move(P));
    R.LastV = V;
    return V;
  }
}
// A stop that began at Began returned at Returned: opens a window, unless a call that may
// switch emission on began while the stop ran (overlapping calls have no order, so that
// call may rightly come after the stop) or a window is open already. A call that began
// before the stop and still runs is no excuse: the stop must cut it short.
void StopReturned(TRigSlot& R, const char* Op, double Began, double Returned) {
  std::lock_guard<std::mutex> L(R.Lock);
  R.Note(std::string("host ") + Op + " returned");
  if (R.HoldOpen) {
    R.HoldOpen = false;
    R.HoldEnd = Returned;
  }
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
  auto On = [&](const char* N, bool Reapplies, auto&& Fn) {
    OnCallBegins(R, N, Reapplies);
    Call(W, R, N, Fn);
    OnCallEnds(R, Reapplies);
  };
  switch (Op) {
  case TOp::LaserOn:
    On(Name, true, [&] { L.LaserOn(); });
    break;
  case TOp::EmissionOn:
    On(Name, true, [&] { L.EmissionOn(); });
    break;
  case TOp::ExecuteCmd: {
    // 20 to 23 set the diode current: those go through the followed set points below.
    const int Cmd = Pick(0, 19);
    const double Param = Pick(0, 100);
    // 1 LaserOn, 5 EmissionOn, 6 emission off and on, 25 PowerOn (EmissionOn on some).
    const bool Reapplies = Cmd == 1 || Cmd == 5 || Cmd == 6 || Cmd == 25;
    On(Name, Reapplies, [&] { L.ExecuteCmd(Cmd, Param); });
    break;
  }
  case TOp::LaserOff:
    Stop(Name, [&] { L.LaserOff(); });
    break;
  case TOp::EmissionOff:
    Stop(Name, [&] { L.EmissionOff(); });
    break;
  case TOp::DiodeCurrent: {
    // Directly or as numbered command 21; followed to the wire where the make queues it.
    const bool Numbered = Pick(0, 1) == 1;
    const double V = R.SetPoints != nullptr ? NewSetPoint(R, Rng) : Pick(1, 100);
    {
      std::lock_guard<std::mutex> G(R.Lock);
      R.Note("host " + std::string(Numbered ? "ExecuteCmd(21, " : "SetDiodeCurrent(") +
             std::to_string(static_cast<int>(V)) + ")");
    }
    Call(W, R, Name, [&] { Numbered ? (void)L.ExecuteCmd(21, V) : L.SetDiodeCurrent(V); });
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
      OnCallBegins(R, ViaLaserOn ? "LaserOn (stopped)" : "EmissionOn (stopped)", true);
      ViaLaserOn ? L.LaserOn() : L.EmissionOn();
      OnCallEnds(R, true);
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
    std::printf("soak: %s simulator refused \"%s\": %s\n", R.Name.c_str(), Line, E.what());
  }
}

hostkit::TMachineIO* GIO = nullptr;

// Shows fault F on R's simulator, or on its inputs, for DurationMs (the fault thread clears
// it).
void Inject(TRigSlot& R, TFault F, int DurationMs, std::mt19937& Rng) {
  const TScriptInput* In = nullptr;
  bool Alarm = F == TFault::Alarm;
  if (F == TFault::Input) {
    const auto& Ins = R.Io->Inputs;
    In = &Ins[std::uniform_int_distribution<std::size_t>(0, Ins.size() - 1)(Rng)];
    Alarm = In->Alarm;
    if (Alarm) {
      // Long enough that the alarm must show before it goes.
      DurationMs = std::max(DurationMs, static_cast<int>(R.AlarmBudgetMs) + 300);
    }
    GIO->SetInput(R.IoBase + In->Offset, !In->Idle);
  } else {
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
      DurationMs = std::max(DurationMs, static_cast<int>(R.AlarmBudgetMs) + 300);
      SimCommand(R, MakeFaults(R.Name).Alarm->Raise);
      break;
    case TFault::BadCheck:
      SimCommand(R, MakeFaults(R.Name).BadCheck->Raise);
      break;
    case TFault::Input:
    case TFault::Count:
      break;
    }
  }
  ++GFaults[static_cast<int>(F)];
  std::lock_guard<std::mutex> L(R.Lock);
  const double Now = NowMs();
  R.FaultNow = In != nullptr ? std::string("input ") + In->What : FaultName(F);
  R.FaultKind = F;
  R.FaultRaisesAlarm = Alarm && R.AlarmBudgetMs > 0;
  R.InputNow = In;
  R.FaultUntil = Now + DurationMs;
  for (auto& P : R.Pending) {
    P.Faulted = true;
  }
  R.AlarmMissed = false;
  if (R.FaultRaisesAlarm) {
    R.ShowFrom = Now;
    R.ShowBy = Now + R.AlarmBudgetMs;
    R.AlarmCause = R.FaultNow;
  }
  R.NoteFault("fault " + R.FaultNow + " for " + std::to_string(DurationMs) + " ms");
}

void ClearFault(TRigSlot& R) {
  TFault Kind{};
  const TScriptInput* In = nullptr;
  {
    std::lock_guard<std::mutex> L(R.Lock);
    Kind = R.FaultKind;
    In = R.InputNow;
  }
  if (In != nullptr) {
    GIO->SetInput(R.IoBase + In->Offset, In->Idle);
  } else {
    sim::TSimEndpoint& S = *R.Sim;
    const TMakeFaults& Make = MakeFaults(R.Name);
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
  }
  std::lock_guard<std::mutex> L(R.Lock);
  const double Now = NowMs();
  if (R.FaultRaisesAlarm && !R.AlarmMissed) {
    R.ClearFrom = Now;
    R.ClearBy = Now + R.AlarmBudgetMs;
  }
  R.LastFaultEnd = Now;
  R.NoteFault("fault " + R.FaultNow + " cleared");
  R.FaultNow.clear();
  R.FaultRaisesAlarm = false;
  R.InputNow = nullptr;
}

// ---- The checks ---------------------------------------------------------------------------

// Times when this process was starved of the processor (a 5 ms sleep took far longer):
// counted for the summary, a measure of how busy the machine was.
std::atomic<long> GStalls{0};

// A switch-on at AtMs inside a window of R is a violation. Caller holds R.Lock.
void HoldAgainstWindows(TRigSlot& R, double AtMs, const std::string& What) {
  for (const auto& W : R.Windows) {
    if (AtMs > W.From && AtMs < W.To) {
      char B[240];
      std::snprintf(B, sizeof B, "%s %.1f ms after %s returned (t=%.3fs)", What.c_str(),
                    AtMs - W.From, W.Why.c_str(), (W.From - GStart) / 1000.0);
      Violation(R, B);
      return;
    }
  }
}

// Ends the set points of R whose requests had time to go out: each reached the wire
// once, or once more for every switch-on begun meanwhile (it re-applies the present
// value); a fault on the link excuses it. All: the run is over and the queues drained.
void SettleSetPoints(TRigSlot& R, double Now, bool All) {
  // Behind an emission-on the laser holds back, set points go out only after it went out or
  // a stop took it back; one still held at the end is excused, as a fault's would be.
  const bool Held = R.SetPoints != nullptr && R.SetPoints->HeldBehindEmission &&
                    (R.HoldOpen || R.HoldEnd > Now - SetPointDrainMs);
  if (Held && !All) {
    return;
  }
  while (!R.Pending.empty() && (All || R.Pending.front().Close < Now - SetPointDrainMs)) {
    const TSetPoint P = R.Pending.front();
    R.Pending.pop_front();
    if (P.Faulted || (Held && P.Count == 0)) {
      ++R.SetPointsExcused;
      continue;
    }
    if (P.Count >= 1 && P.Count <= 1 + P.Resends) {
      ++R.SetPointsOnce;
      continue;
    }
    char B[200];
    std::snprintf(B, sizeof B,
                  "set point %.0f %% asked at t=%.3fs reached the wire %d times (allowed 1 to %d)",
                  P.V, (P.Start - GStart) / 1000.0, P.Count, 1 + P.Resends);
    Violation(R, B);
  }
}

// Reads what R wrote to its link and what reached its simulator, and what its outputs did,
// since the last look: each switch-on against the windows, each set point counted.
void CheckSlot(TRigSlot& R, bool Final = false) {
  std::vector<sim::TSimRequest> Got;
  if (R.Sim) {
    Got = R.Sim->TakeRequests();
  }
  std::lock_guard<std::mutex> L(R.Lock);
  // Switch-ons are judged on the laser's side of the link, stamped before the write: no
  // slack for a late reader. The tap hands each one over before it is written, so the
  // simulator can never have read more of them than were written.
  for (const auto& [AtMs, Bytes] : R.Written) {
    ++R.EmissionOnWritten;
    R.Note("sent ON  " + sim::HexText(Bytes), AtMs);
    if (R.HoldOpen) {
      R.HoldOpen = false;
      R.HoldEnd = AtMs;
    }
    HoldAgainstWindows(R, AtMs, "emission on was written");
  }
  R.Written.clear();
  for (const auto& Q : Got) {
    const bool On = R.IsEmissionOn(Q.Bytes);
    R.Note(std::string(On ? "read ON  " : "read     ") + sim::HexText(Q.Bytes), Q.TimeMs);
    if (R.SetPoints != nullptr && !R.Pending.empty()) {
      const std::string K = R.SetPoints->Text ? Line(Q.Bytes) : Key(Q.Bytes);
      for (auto& P : R.Pending) {
        if (std::find(P.Keys.begin(), P.Keys.end(), K) != P.Keys.end()) {
          ++P.Count;
        }
      }
    }
    if (On && ++R.EmissionOnSeen > R.EmissionOnWritten) {
      Violation(R, "the simulator read an emission-on the link tap did not see written; the "
                   "check is blind to this make's writes");
    }
  }
  // The I/O timeline is stamped when the output is written, like the link tap.
  for (const auto& E : R.Rises) {
    ++R.EmissionOnSeen;
    HoldAgainstWindows(R, E.TimeMs, "output " + hostkit::ToString(E) + " rose");
  }
  R.Rises.clear();
  const double Now = NowMs();
  SettleSetPoints(R, Now, Final);
  // Windows closed long ago cannot match anything still to come.
  std::erase_if(R.Windows, [Now](const auto& W) { return W.To < Now - 10000.0; });
}

// After the host's alarm poll of R that began at PollMs: is the laser's alarm in the host's
// list, and was it due to show or to leave? The deadlines are held against the poll's
// start, so a poll that came late (another laser's UpdateAlarms took long) is not the
// laser's fault.
void CheckAlarm(TRigSlot& R, bool Shown, double PollMs) {
  // A miss is told with what the simulator holds and what the laser's driver last decoded
  // (a fault that never took, or answers lost or not read). Both are asked outside the
  // slot's lock: the link tap takes it while the laser's driver holds its own locks.
  std::string Why;
  bool Missed = false;
  {
    std::lock_guard<std::mutex> L(R.Lock);
    Missed = R.ShowBy > 0 && !Shown && PollMs > R.ShowBy;
  }
  if (Missed) {
    Why = (R.Sim ? "; simulator: " + R.Sim->Command("state") : std::string()) +
          "; laser's alarm text: \"" + R.Laser->GetAlarmDesc() + "\"";
  }
  std::lock_guard<std::mutex> L(R.Lock);
  const double Now = NowMs();
  if (Shown != R.AlarmShown) {
    ++(Shown ? R.AlarmsRaised : R.AlarmsCleared);
    R.Note(Shown ? "alarm shown" : "alarm gone");
    R.AlarmShown = Shown;
  }
  if (R.ShowBy > 0 && Shown) {
    ++R.AlarmsChecked;
    R.MaxShowMs = std::max(R.MaxShowMs, Now - R.ShowFrom);
    R.ShowBy = 0;
  } else if (R.ShowBy > 0 && PollMs > R.ShowBy) {
    char B[200];
    std::snprintf(B, sizeof B, "the alarm of fault \"%s\" (t=%.3fs) did not show within %.0f ms",
                  R.AlarmCause.c_str(), (R.ShowFrom - GStart) / 1000.0, R.AlarmBudgetMs);
    Violation(R, B + Why);
    R.ShowBy = 0;
    R.AlarmMissed = true;
  }
  if (R.ClearBy > 0 && R.ShowBy == 0 && !Shown) {
    ++R.ClearsChecked;
    R.MaxClearMs = std::max(R.MaxClearMs, Now - R.ClearFrom);
    R.ClearBy = 0;
  } else if (R.ClearBy > 0 && PollMs > R.ClearBy) {
    char B[200];
    std::snprintf(B, sizeof B, "the alarm of fault \"%s\" was still shown %.0f ms after it ended",
                  R.AlarmCause.c_str(), Now - R.ClearFrom);
    Violation(R, B);
    R.ClearBy = 0;
  }
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

// One laser per rig of the simulator table: serial rigs on their own port number, TCP-only
// rigs on their own loopback address. False when a simulator does not start.
bool AddSimLasers(const TOptions& Opt, hostkit::THost& Host,
                  std::vector<std::unique_ptr<TRigSlot>>& Slots) {
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
    S->Name = Rig->Name;
    S->Class = Rig->Class;
    S->Rig = Rig;
    S->IsEmissionOn = Pred->second;
    const auto SetPoints = SetPointTable().find(Rig->Name);
    S->SetPoints = SetPoints == SetPointTable().end() ? nullptr : &SetPoints->second;
    const auto Refresh = StatusRefreshTable().find(Rig->Name);
    if (Refresh != StatusRefreshTable().end() && MakeFaults(Rig->Name).Alarm) {
      S->AlarmBudgetMs = Refresh->second + AlarmPollMs + SchedulingSlackMs;
    }
    const bool Tcp = !sim::RigFamily(*Rig).Pty;
    ++Port;
    sim::TSimOptions Extra;
    if (Rig->Name == "mars") {
      Extra["maxpower"] = std::to_string(MarsMaxPowerW);
    }
    try {
      // An address of this process's own (from its id) on a network per rig: soaks and
      // tests running side by side never meet on a protocol's fixed port.
      S->Sim =
          sim::StartRig(*Rig, Tcp, Tcp ? sim::LoopbackAddress(50 + Port) : std::string(), Extra);
    } catch (const std::exception& E) {
      std::printf("soak: %s: %s\n", Rig->Name.c_str(), E.what());
      return false;
    }
    const sim::TRigLink Link = sim::LinkTo(*S->Sim, Port);
    if (Tcp) {
      S->TcpHost = Link.TcpHost;
    } else {
      Host.SerialPorts->Set(Port, S->Sim->DevicePath());
    }
    {
      std::lock_guard<std::mutex> L(GSlotsLock);
      GLinkOwners[Tcp ? "tcp:" + Link.TcpHost : "com:" + std::to_string(Port)] = S.get();
    }
    TLaserParams P = sim::RigParams(*Rig, Link);
    if (Rig->Name == "ylr") {
      // The host's default ignores the YLR's status answers, alarms included; a machine
      // that wants the laser's alarms says so.
      P.CfgIPG.YLR.Comm.IgnoreCommResult = false;
    }
    S->Laser = FindLaserClass(Rig->Class)->Factory(nullptr, P);
    S->Laser->RegisterAlarms();
    std::printf("soak: %-13s %-20s on %s\n", Rig->Name.c_str(), Rig->Class.c_str(),
                S->Sim->Where().c_str());
    std::lock_guard<std::mutex> L(GSlotsLock);
    Slots.push_back(std::move(S));
  }
  return true;
}

// The I/O lasers' ports, by port number: whose they are.
struct TPortOwners {
  std::array<TRigSlot*, 256> Out{};
  std::array<TRigSlot*, 256> In{};
  std::array<std::set<int>, 256> SwitchOn{}; // per owner's base: its switch-on outputs
};

// One laser per I/O class, each on its own block of ports, its inputs at their idle levels.
void AddIoLasers(const TOptions& Opt, hostkit::THost& Host,
                 std::vector<std::unique_ptr<TRigSlot>>& Slots, TPortOwners& Owners) {
  std::vector<int> Outputs;
  std::vector<int> Inputs;
  int Base = 0;
  for (const TIoRig& Io : IoRigs()) {
    Base += IoBlock;
    if (!Opt.Only.empty() && Io.Name != Opt.Only) {
      continue;
    }
    auto S = std::make_unique<TRigSlot>();
    S->Name = Io.Name;
    S->Class = Io.Class;
    S->Io = &Io;
    S->IoBase = Base;
    S->IsEmissionOn = [](TRequest) { return false; };
    if (StatusRefreshTable().count(Io.Name) != 0) {
      S->AlarmBudgetMs = StatusRefreshTable().at(Io.Name) + AlarmPollMs + SchedulingSlackMs;
    }
    for (int P = Base; P < Base + IoBlock; ++P) {
      Owners.Out[static_cast<std::size_t>(P)] = S.get();
      Outputs.push_back(P);
    }
    for (const int O : Io.SwitchOn) {
      Owners.SwitchOn[static_cast<std::size_t>(Base)].insert(Base + O);
    }
    for (const TScriptInput& I : Io.Inputs) {
      Owners.In[static_cast<std::size_t>(Base + I.Offset)] = S.get();
      Inputs.push_back(Base + I.Offset);
      Host.IO.SetInput(Base + I.Offset, I.Idle);
    }
    std::lock_guard<std::mutex> L(GSlotsLock);
    Slots.push_back(std::move(S));
  }
  Host.IO.SetOutputsExist(Outputs);
  Host.IO.SetInputsExist(Inputs);
  for (auto& S : Slots) {
    if (S->Io != nullptr) {
      S->Laser = FindLaserClass(S->Class)->Factory(nullptr, IoParams(*S->Io, S->IoBase));
      S->Laser->RegisterAlarms();
      std::printf("soak: %-13s %-20s on I/O ports %d..%d\n", S->Name.c_str(), S->Class.c_str(),
                  S->IoBase, S->IoBase + IoBlock - 1);
    }
  }
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
  GIO = &Host.IO;
  Host.Comm = std::make_unique<hostkit::TTapCommFactory>(
      std::make_unique<TSoakComm>(Host.SerialPorts, Slots), std::make_shared<TSoakTap>());
  Host.Install();

  // Every output write and input change of an I/O laser goes to its events; a rise of one
  // of its switch-on outputs is held against its windows by the checks.
  TPortOwners Owners;
  Host.IO.SetListener([&Owners](const hostkit::TIoEvent& E) {
    const bool Out = E.Kind == hostkit::TIoKind::Output;
    if (!Out && E.Kind != hostkit::TIoKind::Input) {
      return;
    }
    TRigSlot* S = (Out ? Owners.Out : Owners.In)[static_cast<std::size_t>(E.Port & 0xFF)];
    if (S == nullptr || (Out && !E.Changed)) {
      return;
    }
    std::lock_guard<std::mutex> L(S->Lock);
    const bool SwitchOn = Out && E.Value != 0.0 &&
                          Owners.SwitchOn[static_cast<std::size_t>(S->IoBase)].count(E.Port) != 0;
    S->Note(std::string(SwitchOn ? "io ON    " : "io       ") + hostkit::ToString(E), E.TimeMs);
    if (SwitchOn) {
      S->Rises.push_back(E);
    }
  });

  // The I/O lasers first: their ports must exist before any laser is built.
  AddIoLasers(Opt, Host, Slots, Owners);
  if (!AddSimLasers(Opt, Host, Slots)) {
    return 1;
  }
  if (Slots.empty()) {
    Usage(("no laser called " + Opt.Only).c_str());
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
  // The host's alarm poll: every laser, every AlarmPollMs.
  {
    TCallSlot& W = Watchdog.NewSlot();
    Threads.emplace_back([&] {
      while (!Done) {
        const double T0 = NowMs();
        for (auto& S : Slots) {
          const double PollMs = NowMs();
          Call(W, *S, "UpdateAlarms (alarm poll)", [&] { S->Laser->UpdateAlarms(); });
          CheckAlarm(*S, Host.Alarms.IsActive(S->Laser->GetAlarmID()), PollMs);
        }
        Sleep(static_cast<int>(std::max(1.0, AlarmPollMs - ElapsedMs(T0))));
      }
    });
  }
  // Faults: now and then one on a laser without one, cleared when its time is up.
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
        // An alarm still due to show or leave is let be.
        std::lock_guard<std::mutex> L(R.Lock);
        Busy = !R.FaultNow.empty() || R.ShowBy > 0 || R.ClearBy > 0;
      }
      // Nor is a simulator still sending answers a split fault queued: they come at the
      // split's pace long after it ended, and an alarm raised meanwhile waits behind them.
      Busy = Busy || (R.Sim && R.Sim->OutputBacklogMs() > 0.0);
      auto F = static_cast<TFault>(
          std::uniform_int_distribution<int>(0, static_cast<int>(TFault::Count) - 1)(Rng));
      const int DurationMs = std::uniform_int_distribution<int>(100, 3000)(Rng);
      if (!Busy && std::uniform_int_distribution<int>(0, 3)(Rng) == 0) {
        if (R.Io != nullptr) {
          // An I/O laser shows only input changes, where it has inputs.
          if (!R.Io->Inputs.empty()) {
            Inject(R, TFault::Input, DurationMs, Rng);
          }
        } else {
          // Faults the rig cannot show become a dropped link.
          const TMakeFaults& Make = MakeFaults(R.Name);
          if ((F == TFault::Unplug && R.Sim->IsTcp()) || (F == TFault::Alarm && !Make.Alarm) ||
              (F == TFault::BadCheck && !Make.BadCheck) || F == TFault::Input) {
            F = TFault::Drop;
          }
          Inject(R, F, DurationMs, Rng);
        }
      }
      Sleep(100);
    }
  });
  // The stall watch.
  Threads.emplace_back([&] {
    while (!Done) {
      const double T0 = NowMs();
      Sleep(5);
      if (ElapsedMs(T0) > 5.0 + StallMs) {
        ++GStalls;
      }
    }
  });
  // The checks.
  std::vector<TSample> Samples;
  Threads.emplace_back([&] {
    double NextSample = NowMs();
    while (!Done) {
      for (auto& S : Slots) {
        CheckSlot(*S);
      }
      Watchdog.Check();
      if (NowMs() >= NextSample) {
        // The checks have what they need of the I/O timeline (the listener above), and a
        // factory host writes its message log to a file: neither is the plug-in's memory.
        Host.IO.ClearTimeline();
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

  // Tear-down: faults off, the set points still followed given time to go out, then every
  // laser destroyed under the same checks (a window that never closes) and within the call
  // bound.
  for (auto& S : Slots) {
    if (!S->FaultNow.empty()) {
      ClearFault(*S);
    }
    std::lock_guard<std::mutex> L(S->Lock);
    for (auto& P : S->Pending) {
      P.Close = std::min(P.Close, NowMs());
    }
  }
  Sleep(static_cast<int>(SetPointDrainMs));
  std::vector<double> DestroyMs;
  for (auto& S : Slots) {
    CheckSlot(*S, true);
    const double T0 = NowMs();
    S->Laser.reset();
    DestroyMs.push_back(ElapsedMs(T0));
    if (DestroyMs.back() > CallBoundMs) {
      std::lock_guard<std::mutex> L(S->Lock);
      Violation(*S, "Destroy took " + std::to_string(DestroyMs.back()) + " ms");
    }
    StopReturned(*S, "Destroy", T0, NowMs());
  }
  Sleep(1000);
  for (auto& S : Slots) {
    CheckSlot(*S, true);
    if (S->Sim) {
      S->Sim->Stop();
    }
  }
  Host.IO.SetListener(nullptr);
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
  std::printf(" (total %ld)\nfaults:", TotalOps);
  long TotalFaults = 0;
  for (int I = 0; I < static_cast<int>(TFault::Count); ++I) {
    std::printf(" %s=%ld", FaultName(static_cast<TFault>(I)), GFaults[I].load());
    TotalFaults += GFaults[I];
  }
  std::printf(" (total %ld)\n", TotalFaults);
  std::printf("per laser: switch-ons written to the link/read by the simulator, or risen on the "
              "outputs; alarms shown/gone, checked to show/leave (longest ms); set points "
              "once/excused by a fault; violations\n");
  long Raised = 0, Cleared = 0, SetOnce = 0, SetExcused = 0;
  for (auto& S : Slots) {
    std::lock_guard<std::mutex> L(S->Lock);
    const std::string On = S->Io != nullptr ? std::to_string(S->EmissionOnSeen)
                                            : std::to_string(S->EmissionOnWritten) + "/" +
                                                  std::to_string(S->EmissionOnSeen);
    std::printf("  %-13s on=%-9s alarms=%ld/%ld checked=%ld(%.0f)/%ld(%.0f) setpoints=%ld/%ld "
                "violations=%d\n",
                S->Name.c_str(), On.c_str(), S->AlarmsRaised, S->AlarmsCleared, S->AlarmsChecked,
                S->MaxShowMs, S->ClearsChecked, S->MaxClearMs, S->SetPointsOnce,
                S->SetPointsExcused, S->Violations);
    Raised += S->AlarmsRaised;
    Cleared += S->AlarmsCleared;
    SetOnce += S->SetPointsOnce;
    SetExcused += S->SetPointsExcused;
  }
  const auto Destroy = bench::Summarize(DestroyMs);
  std::printf("alarms: shown %ld, gone %ld; set points exactly once %ld, excused %ld; destroy: max "
              "%.1f ms\n",
              Raised, Cleared, SetOnce, SetExcused, Destroy.Max);
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
  // A slope that halves in the second half of the run is warm-up still ending; one that
  // holds is a leak.
  if (!Steady.empty()) {
    std::vector<TSample> Late;
    const double Half = (Steady.front().Minutes + Steady.back().Minutes) / 2.0;
    std::copy_if(Steady.begin(), Steady.end(), std::back_inserter(Late),
                 [Half](const TSample& X) { return X.Minutes >= Half; });
    std::printf("rss: %.0f KiB after warm-up, %.0f KiB at the end; second half of it: %+.1f "
                "KiB/min\n",
                Steady.front().RssKiB, Steady.back().RssKiB, Slope(Late, &TSample::RssKiB));
  }
  std::printf("process stalls over %.0f ms: %ld\n", StallMs, GStalls.load());
  std::printf("stops: %ld, violations: %d\n", GCounters.Ops[static_cast<int>(TOp::Stop)].load(),
              GViolations.Count.load());
  bench::Json("soak", "operations", static_cast<double>(TotalOps), "count");
  bench::Json("soak", "faults", static_cast<double>(TotalFaults), "count");
  bench::Json("soak", "alarms_shown", static_cast<double>(Raised), "count");
  bench::Json("soak", "alarms_gone", static_cast<double>(Cleared), "count");
  bench::Json("soak", "setpoints_once", static_cast<double>(SetOnce), "count");
  bench::Json("soak", "violations", GViolations.Count, "count");
  bench::Json("soak", "rss_slope", RssSlope, "KiB/min");
  bench::Json("soak", "fd_slope", FdSlope, "1/min");
  bench::Json("soak", "thread_slope", ThreadSlope, "1/min");
  return GViolations.Count == 0 ? 0 : 1;
}
