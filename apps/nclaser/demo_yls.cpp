// The IPG YLS demo: TIPGYLSLaser over TCP against the YLS simulator.
#include <algorithm>

#include "apps/nclaser/demo.h"
#include "sim/yls/yls_model.h"

namespace nclaser::cli {

namespace {

TDemoSetup YlsSetup() {
  auto Sim = StartDemoSim<sim::TSim<sim::TYLSModel>>(sim::LoopbackAddress(47), "yls");
  TDemoSetup S = DemoSetup("yls", "yls", Sim, "YLS-2000");
  auto& P = S.Config.Params;
  P.DefParams.CtrlPort = 0; // this demo wires no control output
  P.CfgIPG.MaxCurrent = 100.0;
  (void)Utf8ToTextBuf("YLS-2000-CT", P.CfgIPG.Model);
  // Emission on ends with the configured pump current.
  S.StartupDone = [Sim] {
    return Sim->With([](sim::TYLSModel& M) { return M.Emission() && M.PumpCurrent() == 4000; });
  };
  S.FaultText = "the simulator reports overheating (Alarms1 bit 1)";
  S.InjectFault = [Sim](hostkit::THost&) {
    Sim->With([](sim::TYLSModel& M) { M.SetAlarmWord(yls::lsAlarms1, 0x2); });
  };
  S.Recover = [Sim](hostkit::THost&) {
    Sim->With([](sim::TYLSModel& M) { M.SetAlarmWord(yls::lsAlarms1, 0); });
  };
  return S;
}

const bool GRegistered = [] {
  RegisterDemo({"yls", "IPG YLS (TIPGYLSLaser) over TCP against the YLS simulator", YlsSetup});
  return true;
}();

} // namespace

} // namespace nclaser::cli
