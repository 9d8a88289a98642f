// The IPG YLS demo: TIPGYLSLaser over TCP against the YLS simulator.
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "apps/nclaser/demo.h"
#include "sim/endpoint.h"
#include "sim/yls/yls_model.h"

namespace nclaser::cli {

namespace {

using TYLSSim = sim::TSim<sim::TYLSModel>;

// A loopback address of its own per process, so demos and tests can run side by side.
std::string DemoAddress() {
  const int Pid = static_cast<int>(::getpid());
  return "127.47." + std::to_string(Pid / 250 % 250 + 1) + "." + std::to_string(Pid % 250 + 1);
}

TDemoSetup YlsSetup() {
  auto Sim = std::make_shared<TYLSSim>();
  std::string Err;
  const std::string Address = DemoAddress();
  if (!Sim->StartTcp(Address, 5100, &Err)) {
    throw std::runtime_error(Err);
  }
  TDemoSetup S;
  TConfig& C = S.Config;
  C.File = "(demo yls)";
  C.ClassName = "TIPGYLSLaser";
  InitializeDefaults(C.Params, eltIPG);
  auto& P = C.Params;
  P.DefParams.Model = "YLS-2000";
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.CfgIPG.IPGType = ltYLSGemNet;
  P.CfgIPG.MaxCurrent = 100.0;
  (void)Utf8ToTextBuf("YLS-2000-CT", P.CfgIPG.Model);
  (void)Utf8ToTextBuf(Address, P.CfgIPG.YLS.Net.TcpHost);
  P.CfgIPG.YLS.Net.TcpPort = 5100;
  S.Stop = [Sim] { Sim->Stop(); };
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
  S.Power = 60.0;
  return S;
}

const bool GRegistered = [] {
  RegisterDemo({"yls", "IPG YLS (TIPGYLSLaser) over TCP against the YLS simulator", YlsSetup});
  return true;
}();

} // namespace

} // namespace nclaser::cli
