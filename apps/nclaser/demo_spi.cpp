// The SPI demos (the standard class and the 1000 series), on the SPI simulator (a pty).
#include "apps/nclaser/demo.h"
#include "sim/spi/spi_model.h"

namespace nclaser::cli {

namespace {

TDemoSetup SpiSetup(bool Series1000) {
  TDemoSetup S =
      DemoSetup(Series1000 ? "spi1000" : "spi", Series1000 ? "TSPI1000Laser" : "TSPILaser", eltSPI,
                Series1000 ? "SPI-1000" : "SPI-500");
  auto Sim = StartDemoSim<sim::TSim<sim::TSPIModel>>(
      S, "", 0, Series1000 ? sim::TSPIModel::TLayout::SPI1000 : sim::TSPIModel::TLayout::Standard);
  auto& P = S.Config.Params;
  P.CfgSPI.Comm.Initialize();
  P.CfgSPI.Comm.CommPort = 1;
  (void)Utf8ToTextBuf("115200,n,8,1", P.CfgSPI.Comm.CommSettings);
  S.Config.Host.SerialPorts[1] = Sim->DevicePath();
  S.FaultText = "the simulator raises alarm bit 0x01";
  S.InjectFault = [Sim](hostkit::THost&) {
    Sim->With([](sim::TSPIModel& M) { M.SetAlarmBits(0x01); });
  };
  S.Recover = [Sim](hostkit::THost&) {
    Sim->With([](sim::TSPIModel& M) { M.SetAlarmBits(0x00); });
  };
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
