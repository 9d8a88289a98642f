// The JK/GSI demo, on the JK/GSI simulator (a pty).
#include <memory>
#include <stdexcept>

#include "apps/nclaser/demo.h"
#include "sim/jk_sim.h"

namespace nclaser::cli {

namespace {

TDemoSetup JkSetup() {
  sim::TJKSimOptions O;
  O.Address = 1;
  O.ReadyDelayMs = 200;
  auto Sim = std::make_shared<sim::TJKSim>(O);
  Sim->Start(); // throws std::runtime_error when no pty can be made
  TDemoSetup S;
  TConfig& C = S.Config;
  C.File = "(demo jk)";
  C.ClassName = "TJKLaser";
  InitializeDefaults(C.Params, eltGSI);
  auto& P = C.Params;
  P.DefParams.Model = "GSI-1500";
  P.DefParams.CtrlPort = 3;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.CfgGSI.Comm.Initialize();
  P.CfgGSI.Comm.CommPort = 1;
  P.CfgGSI.Address = 1;
  C.Host.SerialPorts[1] = Sim->DevicePath();
  S.Stop = [Sim] { Sim->Stop(); };
  S.FaultText = "the simulator reports alarm code 0x0102";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->ReportAlarm(0x0102); };
  S.Recover = [Sim](hostkit::THost&) { Sim->ReportAlarm(0); };
  S.Power = 60.0;
  return S;
}

const bool GRegistered = [] {
  RegisterDemo({"jk",
                "JK/GSI fiber laser (TJKLaser) over a serial line (pty) against the "
                "JK/GSI simulator",
                &JkSetup});
  return true;
}();

} // namespace

} // namespace nclaser::cli
