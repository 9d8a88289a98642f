// The SPI demos (the standard class and the 1000 series), on the SPI simulator (a pty).
#include "apps/nclaser/demo.h"
#include "sim/spi/spi_model.h"

namespace nclaser::cli {

namespace {

TDemoSetup SpiSetup(bool Series1000) {
  auto Sim = StartDemoSim<sim::TSim<sim::TSPIModel>>(
      "", "spi", Series1000 ? sim::TSPIModel::TLayout::SPI1000 : sim::TSPIModel::TLayout::Standard);
  const char* Name = Series1000 ? "spi1000" : "spi";
  TDemoSetup S = DemoSetup(Name, Name, Sim, Series1000 ? "SPI-1000" : "SPI-500");
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
