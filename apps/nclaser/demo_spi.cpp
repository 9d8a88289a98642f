// The SPI demos (the standard class and the 1000 series), on the SPI simulator (a pty).
#include <memory>
#include <stdexcept>
#include <string>

#include "apps/nclaser/demo.h"
#include "sim/spi/spi_model.h"

namespace nclaser::cli {

namespace {

using TSPISim = sim::TSim<sim::TSPIModel>;

TDemoSetup SpiSetup(bool Series1000) {
  auto Sim = std::make_shared<TSPISim>(Series1000 ? sim::TSPIModel::TLayout::SPI1000
                                                  : sim::TSPIModel::TLayout::Standard);
  std::string Err;
  if (!Sim->StartPty(&Err)) {
    throw std::runtime_error(Err);
  }
  TDemoSetup S;
  TConfig& C = S.Config;
  C.File = Series1000 ? "(demo spi1000)" : "(demo spi)";
  C.ClassName = Series1000 ? "TSPI1000Laser" : "TSPILaser";
  InitializeDefaults(C.Params, eltSPI);
  auto& P = C.Params;
  P.DefParams.Model = Series1000 ? "SPI-1000" : "SPI-500";
  P.DefParams.CtrlPort = 3;
  P.DefParams.PWM.DiodeCurrent = 40.0;
  P.CfgSPI.Comm.Initialize();
  P.CfgSPI.Comm.CommPort = 1;
  (void)Utf8ToTextBuf("115200,n,8,1", P.CfgSPI.Comm.CommSettings);
  C.Host.SerialPorts[1] = Sim->DevicePath();
  S.Stop = [Sim] { Sim->Stop(); };
  S.FaultText = "the simulator raises alarm bit 0x01";
  S.InjectFault = [Sim](hostkit::THost&) {
    Sim->With([](sim::TSPIModel& M) { M.SetAlarmBits(0x01); });
  };
  S.Recover = [Sim](hostkit::THost&) {
    Sim->With([](sim::TSPIModel& M) { M.SetAlarmBits(0x00); });
  };
  S.Power = 60.0;
  return S;
}

const bool GRegistered = [] {
  RegisterDemo({"spi",
                "SPI fiber laser (TSPILaser) over a serial line (pty) against the SPI simulator",
                [] { return SpiSetup(false); }});
  RegisterDemo({"spi1000",
                "SPI 1000 series (TSPI1000Laser) over a serial line (pty) against the SPI "
                "simulator",
                [] { return SpiSetup(true); }});
  return true;
}();

} // namespace

} // namespace nclaser::cli
