// The Raycus demos: the QCW class with its framed driver and the continuous-wave class
// with its ESC commands, each on its simulator (a pty).
#include "apps/nclaser/demo.h"
#include "sim/raycus/raycus_model.h"

namespace nclaser::cli {

namespace {

// The laser's answers shown, QCW pulses at 1 kHz.
TDemoSetup RaycusSetup(const std::string& Name, const std::shared_ptr<sim::TSimEndpoint>& Sim) {
  TDemoSetup S = DemoSetup(Name, Name, Sim, "Raycus");
  S.Config.Params.CfgRay.Comm.IgnoreCommResult = false;
  S.Config.Params.CfgRay.QCW.PulseFreq = 1000;
  return S;
}

TDemoSetup QCWSetup() {
  auto Sim = StartDemoSim<sim::TSim<sim::TRayQCWModel>>("", "raycus-qcw");
  TDemoSetup S = RaycusSetup("raycus-qcw", Sim);
  S.FaultText = "the simulator reports an interlock fault on module 2";
  S.InjectFault = [Sim](hostkit::THost&) {
    Sim->With([](sim::TRayQCWModel& M) { M.SetModuleState(1, 11, 1); });
  };
  S.Recover = [Sim](hostkit::THost&) {
    Sim->With([](sim::TRayQCWModel& M) { M.ClearModuleStates(); });
  };
  return S;
}

// The continuous-wave class reads no status, so its fault is the unplugged port.
TDemoSetup CWSetup() {
  auto Sim = StartDemoSim<sim::TSim<sim::TRaycusCWModel>>("", "raycus");
  TDemoSetup S = RaycusSetup("raycus", Sim);
  UnplugFault(S, Sim);
  return S;
}

const bool GRegistered = [] {
  RegisterDemo({"raycus-qcw",
                "Raycus QCW laser (TRayQCWLaser) over a serial line (pty) against the QCW "
                "simulator",
                QCWSetup});
  RegisterDemo({"raycus",
                "Raycus CW laser (TRaycusLaser) over a serial line (pty) against the CW "
                "simulator",
                CWSetup});
  return true;
}();

} // namespace

} // namespace nclaser::cli
