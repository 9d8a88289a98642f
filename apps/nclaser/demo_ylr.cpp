// The IPG YLR demos (TCP and pty), on the YLR simulator.
#include <algorithm>

#include "apps/nclaser/demo.h"
#include "sim/ylr/ylr_sim.h"

namespace nclaser::cli {

namespace {

TDemoSetup YlrSetup(bool Tcp) {
  auto Sim = StartDemoSim<sim::TYLRSim>(Tcp ? sim::LoopbackAddress(46) : std::string(), "ylr");
  TDemoSetup S = DemoSetup(Tcp ? "ylr" : "ylr-pty", "ylr", Sim, "YLR-500");
  auto& P = S.Config.Params;
  P.CfgIPG.MaxCurrent = 100.0;
  (void)Utf8ToTextBuf("YLR-500-AC", P.CfgIPG.Model);
  P.CfgIPG.YLR.Comm.IgnoreCommResult = false;
  // The power-on thread's last step sets the configured current, after the aiming beam.
  S.StartupDone = [Sim] {
    const auto C = Sim->Commands();
    const auto Abn = std::find(C.begin(), C.end(), "ABN");
    return std::any_of(Abn, C.end(), [](const std::string& X) { return X.starts_with("SDC"); });
  };
  S.FaultText = "the simulator reports overheating (status bit 1)";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->SetFaultBits(sim::TYLRSim::BitOverheat, true); };
  S.Recover = [Sim](hostkit::THost&) { Sim->SetFaultBits(sim::TYLRSim::BitOverheat, false); };
  return S;
}

const bool GRegistered = [] {
  RegisterDemo({"ylr", "IPG YLR (TIPG500Laser) over TCP against the YLR simulator",
                [] { return YlrSetup(true); }});
  RegisterDemo({"ylr-pty", "IPG YLR (TIPG500Laser) over a serial line (pty) against the simulator",
                [] { return YlrSetup(false); }});
  return true;
}();

} // namespace

} // namespace nclaser::cli
