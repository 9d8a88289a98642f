// The Mars and NLight demos, on their simulator models over a pty.
#include "apps/nclaser/demo.h"
#include "sim/mars/mars_model.h"
#include "sim/nlight/nlight_model.h"

namespace nclaser::cli {

namespace {

TLaserCommParam CommOn(int Port) {
  TLaserCommParam C{}; // Initialize leaves DebugMode alone
  C.Initialize();
  C.Comm.CommPort = Port;
  return C;
}

TDemoSetup MarsSetup() {
  TDemoSetup S = DemoSetup("mars", "TMarsLaser", eltMars, "Mars-1000");
  auto Sim = StartDemoSim<sim::TSim<sim::TMarsModel>>(S, "", 0);
  S.Config.Params.CfgMars = CommOn(1);
  S.Config.Host.SerialPorts[1] = Sim->DevicePath();
  S.FaultText = "the simulator sets status bit 27 (fault)";
  S.InjectFault = [Sim](hostkit::THost&) {
    Sim->With([](sim::TMarsModel& M) { M.SetAlarmBit(27, true); });
  };
  S.Recover = [Sim](hostkit::THost&) {
    Sim->With([](sim::TMarsModel& M) { M.SetAlarmBit(27, false); });
  };
  return S;
}

TDemoSetup NLightSetup() {
  TDemoSetup S = DemoSetup("nlight", "TNLightLaser", CfgNLight, "NLight-1500");
  auto Sim = StartDemoSim<sim::TSim<sim::TNLightModel>>(S, "", 0);
  S.Config.Params.CfgNLight = CommOn(1);
  S.Config.Host.SerialPorts[1] = Sim->DevicePath();
  UnplugFault(S, Sim);
  return S;
}

const bool GRegistered = [] {
  RegisterDemo({"mars",
                "Mars fiber laser (TMarsLaser) over a serial line (pty) against the Mars "
                "simulator",
                &MarsSetup});
  RegisterDemo({"nlight",
                "NLight fiber laser (TNLightLaser) over a serial line (pty) against "
                "the NLight simulator",
                &NLightSetup});
  return true;
}();

} // namespace

} // namespace nclaser::cli
