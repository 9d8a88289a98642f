#include "apps/nclaser/demo.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "apps/nclaser/stop.h"
#include "host/clock.h"
#include "hostkit/host.h"
#include "hostkit/oprunner.h"
#include "plugin/select.h"
#include "sim/registry.h"

namespace nclaser::cli {

namespace {

using TDemoTable = sim::TRegistry<TDemoFamily>;

// The I/O-only demo: a Rofin laser wired to the virtual machine I/O; the fault is the
// laser's Error input.
TDemoSetup RofinSetup() {
  TDemoSetup S;
  TConfig& C = S.Config;
  C.File = "(demo rofin)";
  InitializeHostDefaults(C.Params, eltRofin);
  C.ClassName = DefaultClassName(C.Params);
  C.Params.DefParams.Model = "Rofin FL";
  C.Params.DefParams.CtrlPort = 1;
  C.Params.DefParams.PWM.EnablePort1 = 2;
  C.Params.DefParams.DA.DAPort = 0;
  auto& R = C.Params.CfgRofin;
  R.MainsOn = 3;
  R.FaultReset = 4;
  R.StandbyOn = 5;
  R.GatePort = 6;
  R.Warning = 10;
  R.Error = 11;
  R.DelayAfterMainsOn = 100;
  R.DelayAfterReset = 50;
  R.DelayAfterStandby = 100;
  S.FaultText = "Error input 11 on";
  S.InjectFault = [](hostkit::THost& H) { H.IO.SetInput(11, true); };
  S.Recover = [](hostkit::THost& H) { H.IO.SetInput(11, false); };
  return S;
}

const bool GRofinRegistered = [] {
  RegisterDemo({"rofin", "Rofin fiber laser on machine I/O (outputs, Error/Warning inputs, DA)",
                &RofinSetup});
  return true;
}();

class TDemoRun {
public:
  TDemoRun(TDemoContext& Ctx) : FCtx(Ctx), FStart(NowMs()) {}

  // The laser's operations run on Runner from here on; a switch-on is dropped once a stop
  // has come.
  void Use(hostkit::TOpRunner* Runner) {
    FRunner = Runner;
    FSeenStops = Runner->Stops();
  }
  void Do(const std::function<void()>& Fn, bool SwitchesOn = false) {
    FRunner->Call(Fn,
                  SwitchesOn ? hostkit::TOpRunner::TOpKind::SwitchesOn
                             : hostkit::TOpRunner::TOpKind::Plain,
                  FSeenStops);
  }

  void Say(const std::string& Text) {
    char Buf[32];
    std::snprintf(Buf, sizeof(Buf), "[%7.3f s] ", ElapsedMs(FStart) / 1000.0);
    FCtx.Out.Line(Buf + Text);
  }
  // Waits, polling the alarms every 250 ms as a host does; stops early when Until holds.
  bool Poll(TNcLaser& L, hostkit::THost& H, int Ms, const std::function<bool()>& Until = {}) {
    const double T0 = NowMs();
    double NextPoll = T0;
    while (!FCtx.Stop.load()) {
      if (NowMs() >= NextPoll) {
        Do([&] { L.UpdateAlarms(); });
        for (const auto& A : FWatch.Poll(H.Alarms)) {
          Say(A);
        }
        NextPoll += 250;
      }
      if (Until && Until()) {
        return true;
      }
      if (ElapsedMs(T0) >= Ms) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Answers(TNcLaser& L) {
    char Buf[160];
    Do([&] {
      std::snprintf(Buf, sizeof(Buf),
                    "           GetIsLaserOn = %s, GetIsEmissionOn = %s, GetDiodeCurrent = %s",
                    L.GetIsLaserOn() ? "true" : "false", L.GetIsEmissionOn() ? "true" : "false",
                    FormatNumberShort(L.GetDiodeCurrent()).c_str());
    });
    FCtx.Out.Line(Buf);
  }
  static std::string FormatNumberShort(double V) {
    char Buf[32];
    std::snprintf(Buf, sizeof(Buf), "%g", V);
    return Buf;
  }

private:
  TDemoContext& FCtx;
  double FStart;
  TAlarmWatch FWatch;
  hostkit::TOpRunner* FRunner = nullptr;
  std::uint32_t FSeenStops = 0;
};

} // namespace

TDemoSetup DemoSetup(const std::string& Name, const std::string& Rig,
                     const std::shared_ptr<sim::TSimEndpoint>& Sim, const char* Model) {
  TDemoSetup S;
  S.Stop = [Sim] { Sim->Stop(); };
  const sim::TSimRig* R = sim::FindRig(Rig);
  if (R == nullptr) {
    throw std::runtime_error("no simulator rig " + Rig);
  }
  TConfig& C = S.Config;
  C.File = "(demo " + Name + ")";
  C.ClassName = R->Class;
  C.Params = sim::RigParams(*R, sim::LinkTo(*Sim));
  C.Params.DefParams.Model = Model;
  C.Params.DefParams.CtrlPort = 3;
  C.Params.DefParams.PWM.DiodeCurrent = 40.0;
  if (!Sim->IsTcp()) {
    C.Host.SerialPorts[1] = Sim->DevicePath();
  }
  return S;
}

void UnplugFault(TDemoSetup& S, const std::shared_ptr<sim::TSimEndpoint>& Sim) {
  S.FaultText = "the laser's port is unplugged (this laser raises no alarm)";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->Unplug(); };
  S.Recover = [Sim](hostkit::THost&) { Sim->Replug(); };
  S.RaisesAlarm = false;
}

void RegisterDemo(TDemoFamily Family) {
  TDemoTable::Add(std::move(Family));
}

const std::vector<TDemoFamily>& DemoFamilies() {
  return TDemoTable::All();
}

const TDemoFamily* FindDemo(const std::string& Name) {
  return TDemoTable::Find(Name);
}

std::string DefaultDemo() {
  return FindDemo("ylr") != nullptr ? "ylr" : "rofin";
}

int RunDemo(const TDemoFamily& Family, TDemoContext& Ctx) {
  TDemoRun Run(Ctx);
  Run.Say("demo " + Family.Name + ": " + Family.Summary);
  TDemoSetup S;
  try {
    S = Family.Prepare();
  } catch (const std::exception& E) {
    Ctx.Out.Line(std::string("nclaser: the simulator did not start: ") + E.what());
    return 1;
  }
  struct TSimGuard {
    std::function<void()>& Stop;
    ~TSimGuard() {
      if (Stop) {
        Stop();
      }
    }
  } SimGuard{S.Stop};

  auto Host = MakeHost(S.Config.Host);
  Host->Install();
  if (!Ctx.Locale.empty()) {
    std::string Why;
    if (!Host->App.LoadLocale(Ctx.Locale, &Why)) {
      Ctx.Out.Line("nclaser: " + Ctx.Locale + ": " + (Why.empty() ? "cannot load" : Why));
      return 2;
    }
  }
  Host->App.SetSink([&](const hostkit::TLogLine& L) {
    if (!L.Debug) {
      Ctx.Out.Log(L);
    }
  });
  Run.Say("build " + S.Config.ClassName);
  TNcLaserPtr Laser;
  try {
    Laser = BuildLaser(S.Config);
  } catch (const EBuildError& E) {
    Host->App.SetSink({});
    Ctx.Out.Line(std::string("nclaser: ") + E.what());
    return 1;
  }
  TNcLaser& L = *Laser;
  // A signal switches emission and laser off at once, whatever operation runs.
  auto Runner = std::make_unique<hostkit::TOpRunner>(L);
  Run.Use(Runner.get());
  std::atomic<bool> Stopped{false};
  auto StopNow = [&] {
    if (!Stopped.exchange(true)) {
      Run.Say("interrupted: EmissionOff, LaserOff");
      Runner->Stop(true);
    }
  };
  auto OnSignal = std::make_unique<TStopAction>(StopNow);
  Run.Answers(L);
  auto Step = [&](const std::string& Title, const std::function<void()>& Fn, int SettleMs,
                  bool SwitchesOn = false) {
    if (Ctx.Stop.load()) {
      return;
    }
    Run.Say(Title);
    Run.Do(Fn, SwitchesOn);
    Run.Poll(L, *Host, SettleMs);
    Run.Answers(L);
  };
  Step(
      "PowerOn", [&] { L.PowerOn(); }, 300, true);
  Step(
      "LaserOn", [&] { L.LaserOn(); }, 500, true);
  Step(
      "EmissionOn", [&] { L.EmissionOn(); }, 700, true);
  if (S.StartupDone && !Ctx.Stop.load()) {
    // A power-on sequence still running would set the configured current again after ours.
    Run.Say(Run.Poll(L, *Host, 5000, S.StartupDone) ? "start-up finished"
                                                    : "start-up not finished within 5 s");
  }
  Step(
      "SetDiodeCurrent " + TDemoRun::FormatNumberShort(S.Power),
      [&] { L.SetDiodeCurrent(S.Power); }, 500);
  if (!Ctx.Stop.load()) {
    Run.Say("inject fault: " + S.FaultText);
    S.InjectFault(*Host);
    if (!S.RaisesAlarm) {
      Run.Poll(L, *Host, 1000);
    } else if (!Run.Poll(L, *Host, 5000, [&] { return Host->Alarms.Count() > 0; })) {
      Run.Say("no alarm within 5 s");
    }
    std::string Desc;
    Run.Do([&] { Desc = L.GetAlarmDesc(); });
    Run.Say("GetAlarmDesc = " + Desc);
    Run.Answers(L);
  }
  if (!Ctx.Stop.load()) {
    Run.Say("recover");
    S.Recover(*Host);
    if (S.RaisesAlarm && !Run.Poll(L, *Host, 5000, [&] { return Host->Alarms.Count() == 0; })) {
      Run.Say("the alarm did not clear within 5 s");
    }
    Run.Poll(L, *Host, 300);
    Run.Answers(L);
  }
  Step(
      "EmissionOff", [&] { L.EmissionOff(); }, 300);
  Step(
      "LaserOff", [&] { L.LaserOff(); }, 300);
  if (Ctx.Stop.load()) {
    StopNow();
  }
  Run.Say("teardown");
  OnSignal.reset(); // waits for a stop in progress
  Runner.reset();   // the running operation ends first
  Laser.reset();
  Host->App.SetSink({});
  Host->Uninstall();
  Run.Say("done");
  return 0;
}

} // namespace nclaser::cli
