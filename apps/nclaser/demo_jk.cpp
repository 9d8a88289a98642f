// The JK/GSI demo, on the JK/GSI simulator (a pty).
#include "apps/nclaser/demo.h"
#include "sim/jk/jk_sim.h"

namespace nclaser::cli {

namespace {

TDemoSetup JkSetup() {
  sim::TJKSimOptions O;
  O.Address = 1;
  O.ReadyDelayMs = 200;
  auto Sim = StartDemoSim<sim::TJKSim>("", "jk", O);
  TDemoSetup S = DemoSetup("jk", "jk", Sim, "GSI-1500");
  S.FaultText = "the simulator reports alarm code 0x0102";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->ReportAlarm(0x0102); };
  S.Recover = [Sim](hostkit::THost&) { Sim->ReportAlarm(0); };
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
