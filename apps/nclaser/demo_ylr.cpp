// The IPG YLR demos (TCP and pty), on the YLR simulator.
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "apps/nclaser/demo.h"
#include "sim/ylr_sim.h"

namespace nclaser::cli {

namespace {

// A loopback address of its own per process, so demos and tests can run side by side.
std::string DemoAddress() {
  const int Pid = static_cast<int>(::getpid());
  return "127.46." + std::to_string(Pid / 250 % 250 + 1) + "." + std::to_string(Pid % 250 + 1);
}

TDemoSetup YlrSetup(bool Tcp) {
  auto Sim = std::make_shared<sim::TYLRSim>();
  std::string Err;
  const std::string Address = DemoAddress();
  if (Tcp ? !Sim->StartTcp(Address, 10001, &Err) : !Sim->StartPty(&Err)) {
    throw std::runtime_error(Err);
  }
  TDemoSetup S;
  TConfig& C = S.Config;
  C.File = Tcp ? "(demo ylr)" : "(demo ylr-pty)";
  C.ClassName = "TIPG500Laser";
  InitializeDefaults(C.Params, eltIPG);
  auto& P = C.Params;
  P.DefParams.Model = "YLR-500";
  P.DefParams.CtrlPort = 3;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.CfgIPG.MaxCurrent = 100.0;
  (void)Utf8ToTextBuf("YLR-500-AC", P.CfgIPG.Model);
  P.CfgIPG.YLR.Comm.IgnoreCommResult = false;
  if (Tcp) {
    P.CfgIPG.IPGType = ltYLRNet;
    (void)Utf8ToTextBuf(Address, P.CfgIPG.YLR.Net.TcpHost);
    P.CfgIPG.YLR.Net.TcpPort = 10001;
  } else {
    P.CfgIPG.IPGType = ltYLRComm;
    P.CfgIPG.YLR.Comm.CommPort = 1;
    C.Host.SerialPorts[1] = Sim->DevicePath();
  }
  S.Stop = [Sim] { Sim->Stop(); };
  // The power-on thread's last step sets the configured current, after the aiming beam.
  S.StartupDone = [Sim] {
    const auto C = Sim->Commands();
    const auto Abn = std::find(C.begin(), C.end(), "ABN");
    return std::any_of(Abn, C.end(), [](const std::string& X) { return X.starts_with("SDC"); });
  };
  S.FaultText = "the simulator reports overheating (status bit 1)";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->SetFaultBits(sim::TYLRSim::BitOverheat, true); };
  S.Recover = [Sim](hostkit::THost&) { Sim->SetFaultBits(sim::TYLRSim::BitOverheat, false); };
  S.Power = 60.0;
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
