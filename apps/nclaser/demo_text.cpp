// The Mars and NLight demos, on their simulator models over a pty.
#include <memory>
#include <stdexcept>

#include "apps/nclaser/demo.h"
#include "sim/mars/mars_model.h"
#include "sim/nlight/nlight_model.h"
#include "sim/table.h"

namespace nclaser::cli {

namespace {

std::shared_ptr<sim::TSimEndpoint> StartOnPty(const std::string& Family) {
  const sim::TSimFamily* F = sim::FindSimFamily(Family);
  if (F == nullptr) {
    throw std::runtime_error("no " + Family + " simulator in this build");
  }
  return sim::StartSim(*F, false, "", {});
}

TLaserCommParam CommOn(int Port) {
  TLaserCommParam C;
  C.Initialize();
  C.Comm.CommPort = Port;
  return C;
}

TDemoSetup MarsSetup() {
  std::shared_ptr<sim::TSimEndpoint> Sim = StartOnPty("mars");
  TDemoSetup S;
  TConfig& C = S.Config;
  C.File = "(demo mars)";
  C.ClassName = "TMarsLaser";
  InitializeDefaults(C.Params, eltMars);
  C.Params.DefParams.Model = "Mars-1000";
  C.Params.DefParams.CtrlPort = 3;
  C.Params.DefParams.PWM.DiodeCurrent = 40.0;
  C.Params.CfgMars = CommOn(1);
  C.Host.SerialPorts[1] = Sim->DevicePath();
  S.Stop = [Sim] { Sim->Stop(); };
  S.FaultText = "the simulator sets status bit 27 (fault)";
  S.InjectFault = [Sim](hostkit::THost&) {
    Sim->With<sim::TMarsModel>([](sim::TMarsModel& M) { M.SetAlarmBit(27, true); });
  };
  S.Recover = [Sim](hostkit::THost&) {
    Sim->With<sim::TMarsModel>([](sim::TMarsModel& M) { M.SetAlarmBit(27, false); });
  };
  S.Power = 60.0;
  return S;
}

TDemoSetup NLightSetup() {
  std::shared_ptr<sim::TSimEndpoint> Sim = StartOnPty("nlight");
  TDemoSetup S;
  TConfig& C = S.Config;
  C.File = "(demo nlight)";
  C.ClassName = "TNLightLaser";
  InitializeDefaults(C.Params, CfgNLight);
  C.Params.DefParams.Model = "NLight-1500";
  C.Params.DefParams.CtrlPort = 3;
  C.Params.DefParams.PWM.DiodeCurrent = 40.0;
  C.Params.CfgNLight = CommOn(1);
  C.Host.SerialPorts[1] = Sim->DevicePath();
  S.Stop = [Sim] { Sim->Stop(); };
  // The NLight class has no alarm of its own: the demo shows that an unplugged port
  // raises none and that the thread reopens the port when it is back.
  S.FaultText = "the laser's port is unplugged (this laser raises no alarm)";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->Unplug(); };
  S.Recover = [Sim](hostkit::THost&) { Sim->Replug(); };
  S.RaisesAlarm = false;
  S.Power = 60.0;
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
