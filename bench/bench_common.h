// Building lasers of the linked families against simulators, for the benchmarks.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/host.h"
#include "hostkit/serial_port.h"
#include "lasers/factory.h"
#include "params/params.h"
#include "sim/raycus/raycus_model.h"
#include "sim/spi/spi_model.h"

namespace nclaser::bench {

enum class TFamily { YlrSerial, YlrTcp, Jk, Spi, Spi1000, YlsTcp, RayQCW, RaycusCW };

inline const char* FamilyName(TFamily F) {
  switch (F) {
  case TFamily::YlrSerial:
    return "ylr_serial";
  case TFamily::YlrTcp:
    return "ylr_tcp";
  case TFamily::Jk:
    return "jk_serial";
  case TFamily::Spi:
    return "spi_serial";
  case TFamily::Spi1000:
    return "spi1000_serial";
  case TFamily::YlsTcp:
    return "yls_tcp";
  case TFamily::RayQCW:
    return "raycus_qcw_serial";
  case TFamily::RaycusCW:
    return "raycus_serial";
  }
  return "?";
}

// The I-th simulator's TCP address (YLR over TCP listens on port 10001 of it, YLS on 5100).
inline std::string TcpAddress(int I) {
  return "127.0.50." + std::to_string(I + 1);
}

// A laser of the family on serial port I + 1 (mapped to Endpoint) or on Endpoint's address.
inline TNcLaserPtr BuildLaser(hostkit::THost& Host, TFamily F, int I, const std::string& Endpoint) {
  TLaserParams P;
  P.Initialize();
  P.DefParams.PWM.Initialize();
  P.DefParams.DA.Initialize();
  P.DefParams.PWM.DiodeCurrent = 0.0; // no set-point traffic while building
  const int Port = I + 1;
  const char* Class = "TJKLaser";
  if (F == TFamily::Jk) {
    P.LaserType = eltGSI;
    P.CfgGSI.Initialize();
    P.CfgGSI.Comm.CommPort = Port;
    Utf8ToTextBuf("9600,n,8,1", P.CfgGSI.Comm.CommSettings);
    P.CfgGSI.Address = 1;
    Host.SerialPorts->Set(Port, Endpoint);
  } else if (F == TFamily::Spi || F == TFamily::Spi1000) {
    Class = F == TFamily::Spi ? "TSPILaser" : "TSPI1000Laser";
    P.LaserType = eltSPI;
    P.CfgSPI.Initialize();
    P.CfgSPI.Comm.CommPort = Port;
    Utf8ToTextBuf("115200,n,8,1", P.CfgSPI.Comm.CommSettings);
    Host.SerialPorts->Set(Port, Endpoint);
  } else if (F == TFamily::YlsTcp) {
    Class = "TIPGYLSLaser";
    P.LaserType = eltIPG;
    P.CfgIPG.Initialize();
    P.CfgIPG.IPGType = ltYLSGemNet;
    Utf8ToTextBuf(Endpoint, P.CfgIPG.YLS.Net.TcpHost);
  } else if (F == TFamily::RayQCW || F == TFamily::RaycusCW) {
    Class = F == TFamily::RayQCW ? "TRayQCWLaser" : "TRaycusLaser";
    P.LaserType = eltRay;
    P.CfgRay.Initialize();
    P.CfgRay.Comm.CommPort = Port;
    Utf8ToTextBuf("115200,n,8,1", P.CfgRay.Comm.CommSettings);
    Utf8ToTextBuf("QCW", P.CfgRay.PulseModel);
    Host.SerialPorts->Set(Port, Endpoint);
  } else {
    Class = "TIPG500Laser";
    P.LaserType = eltIPG;
    P.CfgIPG.Initialize();
    if (F == TFamily::YlrSerial) {
      P.CfgIPG.IPGType = ltYLRComm;
      P.CfgIPG.YLR.Comm.CommPort = Port;
      Host.SerialPorts->Set(Port, Endpoint);
    } else {
      P.CfgIPG.IPGType = ltYLRNet;
      Utf8ToTextBuf(Endpoint, P.CfgIPG.YLR.Net.TcpHost);
    }
  }
  const TLaserClassInfo* Info = FindLaserClass(Class);
  return Info != nullptr ? Info->Factory(nullptr, P) : nullptr;
}

// A simulator of an SPI family on a pty (the layout the class speaks).
inline std::unique_ptr<sim::TSimEndpoint> StartSpiSim(TFamily F) {
  auto S = std::make_unique<sim::TSim<sim::TSPIModel>>(
      F == TFamily::Spi1000 ? sim::TSPIModel::TLayout::SPI1000 : sim::TSPIModel::TLayout::Standard);
  std::string Error;
  if (!S->StartPty(&Error)) {
    throw std::runtime_error("simulator: " + Error);
  }
  return S;
}

inline bool IsSpi(TFamily F) {
  return F == TFamily::Spi || F == TFamily::Spi1000;
}

inline bool IsRaycus(TFamily F) {
  return F == TFamily::RayQCW || F == TFamily::RaycusCW;
}

// A simulator of a Raycus class on a pty.
inline std::unique_ptr<sim::TSimEndpoint> StartRaycusSim(TFamily F) {
  std::unique_ptr<sim::TSimEndpoint> S;
  if (F == TFamily::RayQCW) {
    S = std::make_unique<sim::TSim<sim::TRayQCWModel>>();
  } else {
    S = std::make_unique<sim::TSim<sim::TRaycusCWModel>>();
  }
  std::string Error;
  if (!S->StartPty(&Error)) {
    throw std::runtime_error("simulator: " + Error);
  }
  return S;
}

// The simulators on the shared endpoint.
inline bool OnEndpoint(TFamily F) {
  return IsSpi(F) || IsRaycus(F);
}
inline std::unique_ptr<sim::TSimEndpoint> StartEndpointSim(TFamily F) {
  return IsSpi(F) ? StartSpiSim(F) : StartRaycusSim(F);
}

} // namespace nclaser::bench
