// The Mars and NLight demos, on their simulator models over a pty.
#include "apps/nclaser/demo.h"
#include "sim/mars/mars_model.h"
#include "sim/nlight/nlight_model.h"

namespace nclaser::cli {

namespace {

TDemoSetup MarsSetup() {
  auto Sim = StartDemoSim<sim::TSim<sim::TMarsModel>>("", "mars");
  TDemoSetup S = DemoSetup("mars", "mars", Sim, "Mars-1000");
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
  auto Sim = StartDemoSim<sim::TSim<sim::TNLightModel>>("", "nlight");
  TDemoSetup S = DemoSetup("nlight", "nlight", Sim, "NLight-1500");
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
