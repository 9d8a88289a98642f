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
#include "sim/table.h"

namespace nclaser::bench {

enum class TFamily { YlrSerial, YlrTcp, Jk, Spi, Spi1000, YlsTcp, RayQCW, RaycusCW };

// A benchmarked family: a rig of the simulator table on one of its links.
struct TBenchRig {
  const char* Name; // in the figures
  const char* Rig;
  bool Tcp;
};

inline const TBenchRig& BenchRig(TFamily F) {
  static const TBenchRig Rows[] = {
      {"ylr_serial", "ylr", false},
      {"ylr_tcp", "ylr", true},
      {"jk_serial", "jk", false},
      {"spi_serial", "spi", false},
      {"spi1000_serial", "spi1000", false},
      {"yls_tcp", "yls", true},
      {"raycus_qcw_serial", "raycus-qcw", false},
      {"raycus_serial", "raycus", false},
  };
  return Rows[static_cast<int>(F)];
}

inline const char* FamilyName(TFamily F) {
  return BenchRig(F).Name;
}

inline const sim::TSimRig& RigOf(TFamily F) {
  const sim::TSimRig* R = sim::FindRig(BenchRig(F).Rig);
  if (R == nullptr) {
    throw std::runtime_error(std::string("no simulator rig ") + BenchRig(F).Rig);
  }
  return *R;
}

// The I-th simulator's TCP address.
inline std::string TcpAddress(int I) {
  return sim::LoopbackAddress(50, I);
}

// A laser of the family on serial port I + 1 (mapped to Endpoint) or on Endpoint's address.
inline TNcLaserPtr BuildLaser(hostkit::THost& Host, TFamily F, int I, const std::string& Endpoint) {
  const sim::TSimRig& Rig = RigOf(F);
  const bool Tcp = BenchRig(F).Tcp;
  TLaserParams P = sim::RigParams(Rig, {Tcp, I + 1, Endpoint, sim::RigFamily(Rig).TcpPort});
  P.DefParams.PWM.DiodeCurrent = 0.0; // no set-point traffic while building
  if (!Tcp) {
    Host.SerialPorts->Set(I + 1, Endpoint);
  }
  const TLaserClassInfo* Info = FindLaserClass(Rig.Class);
  return Info != nullptr ? Info->Factory(nullptr, P) : nullptr;
}

// The family's I-th simulator, on a pty or at TcpAddress(I); throws std::runtime_error when
// it cannot start.
inline std::unique_ptr<sim::TSimEndpoint> StartSim(TFamily F, int I = 0) {
  const bool Tcp = BenchRig(F).Tcp;
  return sim::StartRig(RigOf(F), Tcp, Tcp ? TcpAddress(I) : std::string());
}

// What BuildLaser takes: the simulator's pty or its TCP address.
inline std::string EndpointOf(const sim::TSimEndpoint& Sim) {
  return Sim.IsTcp() ? sim::LinkTo(Sim).TcpHost : Sim.DevicePath();
}

} // namespace nclaser::bench
