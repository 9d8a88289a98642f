// The Raycus demos: the QCW class with its framed driver and the continuous-wave class
// with its ESC commands, each on its simulator (a pty).
#include <memory>
#include <stdexcept>
#include <string>

#include "apps/nclaser/demo.h"
#include "sim/raycus/raycus_model.h"

namespace nclaser::cli {

namespace {

template <class M> std::shared_ptr<sim::TSim<M>> StartOnPty() {
  auto Sim = std::make_shared<sim::TSim<M>>();
  std::string Err;
  if (!Sim->StartPty(&Err)) {
    throw std::runtime_error(Err);
  }
  return Sim;
}

TConfig RaycusConfig(const char* File, const char* Class, TRayLaserType RayType,
                     const std::string& Device) {
  TConfig C;
  C.File = File;
  C.ClassName = Class;
  InitializeDefaults(C.Params, eltRay);
  auto& P = C.Params;
  P.DefParams.Model = "Raycus";
  P.DefParams.CtrlPort = 3;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.CfgRay.RayType = RayType;
  P.CfgRay.Comm.CommPort = 1;
  P.CfgRay.Comm.IgnoreCommResult = false;
  (void)Utf8ToTextBuf("115200,n,8,1", P.CfgRay.Comm.CommSettings);
  (void)Utf8ToTextBuf("QCW", P.CfgRay.PulseModel);
  P.CfgRay.QCW.PulseFreq = 1000;
  C.Host.SerialPorts[1] = Device;
  return C;
}

TDemoSetup QCWSetup() {
  auto Sim = StartOnPty<sim::TRayQCWModel>();
  TDemoSetup S;
  S.Config = RaycusConfig("(demo raycus-qcw)", "TRayQCWLaser", ltRayWCW, Sim->DevicePath());
  S.Stop = [Sim] { Sim->Stop(); };
  S.FaultText = "the simulator reports an interlock fault on module 2";
  S.InjectFault = [Sim](hostkit::THost&) {
    Sim->With([](sim::TRayQCWModel& M) { M.SetModuleState(1, 11, 1); });
  };
  S.Recover = [Sim](hostkit::THost&) {
    Sim->With([](sim::TRayQCWModel& M) { M.ClearModuleStates(); });
  };
  S.Power = 60.0;
  return S;
}

TDemoSetup CWSetup() {
  auto Sim = StartOnPty<sim::TRaycusCWModel>();
  TDemoSetup S;
  S.Config = RaycusConfig("(demo raycus)", "TRaycusLaser", ltRayCW, Sim->DevicePath());
  S.Stop = [Sim] { Sim->Stop(); };
  // The continuous-wave class reads no status: an unplugged port raises nothing, and the
  // thread reopens the port when it is back.
  S.FaultText = "the laser's port is unplugged (this laser raises no alarm)";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->Unplug(); };
  S.Recover = [Sim](hostkit::THost&) { Sim->Replug(); };
  S.RaisesAlarm = false;
  S.Power = 60.0;
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
