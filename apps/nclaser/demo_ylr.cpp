// The IPG YLR demos (TCP and pty) and `nclaser sim ylr`, on the YLR simulator.
#include <unistd.h>

#include <memory>
#include <stdexcept>

#include "apps/nclaser/demo.h"
#include "apps/nclaser/sims.h"
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
  S.FaultText = "the simulator reports overheating (status bit 1)";
  S.InjectFault = [Sim](hostkit::THost&) { Sim->SetFaultBits(sim::TYLRSim::BitOverheat, true); };
  S.Recover = [Sim](hostkit::THost&) { Sim->SetFaultBits(sim::TYLRSim::BitOverheat, false); };
  S.Power = 60.0;
  return S;
}

class TRunningYlr : public TRunningSim {
public:
  std::string Where() const override {
    return FSim.DevicePath().empty() ? FSim.Address() : FSim.DevicePath();
  }
  sim::TYLRSim FSim;
};

const bool GRegistered = [] {
  RegisterDemo({"ylr", "IPG YLR (TIPG500Laser) over TCP against the YLR simulator",
                [] { return YlrSetup(true); }});
  RegisterDemo({"ylr-pty", "IPG YLR (TIPG500Laser) over a serial line (pty) against the simulator",
                [] { return YlrSetup(false); }});
  RegisterSim({"ylr", "IPG YLR ASCII protocol", true, "127.0.0.1:10001",
               [](bool Tcp, const std::string& Address) -> std::unique_ptr<TRunningSim> {
                 auto R = std::make_unique<TRunningYlr>();
                 std::string Err;
                 bool Ok = false;
                 if (Tcp) {
                   std::string Host = Address.empty() ? "127.0.0.1" : Address;
                   int Port = 10001;
                   if (const auto Colon = Host.rfind(':'); Colon != std::string::npos) {
                     Port = std::stoi(Host.substr(Colon + 1));
                     Host = Host.substr(0, Colon);
                   }
                   Ok = R->FSim.StartTcp(Host, Port, &Err);
                 } else {
                   Ok = R->FSim.StartPty(&Err);
                 }
                 if (!Ok) {
                   throw std::runtime_error(Err);
                 }
                 return R;
               }});
  return true;
}();

} // namespace

} // namespace nclaser::cli
