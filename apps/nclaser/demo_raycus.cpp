// The Raycus demos: the QCW class with its framed driver and the continuous-wave class
// with its ESC commands, each on its simulator (a pty).
#include "apps/nclaser/demo.h"
#include "sim/raycus/raycus_model.h"

namespace nclaser::cli {

namespace {

// Serial port 1 on the simulator's pty, QCW pulses at 1 kHz.
void RaycusConfig(TDemoSetup& S, TRayLaserType RayType, const std::string& Device) {
  auto& P = S.Config.Params;
  P.CfgRay.RayType = RayType;
  P.CfgRay.Comm.CommPort = 1;
  P.CfgRay.Comm.IgnoreCommResult = false;
  (void)Utf8ToTextBuf("115200,n,8,1", P.CfgRay.Comm.CommSettings);
  (void)Utf8ToTextBuf("QCW", P.CfgRay.PulseModel);
  P.CfgRay.QCW.PulseFreq = 1000;
  S.Config.Host.SerialPorts[1] = Device;
}

TDemoSetup QCWSetup() {
  TDemoSetup S = DemoSetup("raycus-qcw", "TRayQCWLaser", eltRay, "Raycus");
  auto Sim = StartDemoSim<sim::TSim<sim::TRayQCWModel>>(S, "", 0);
  RaycusConfig(S, ltRayWCW, Sim->DevicePath());
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
  TDemoSetup S = DemoSetup("raycus", "TRaycusLaser", eltRay, "Raycus");
  auto Sim = StartDemoSim<sim::TSim<sim::TRaycusCWModel>>(S, "", 0);
  RaycusConfig(S, ltRayCW, Sim->DevicePath());
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
