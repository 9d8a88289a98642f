// The simulator table: one row per simulated make, read by `nclaser sim`, the demos, the
// benchmarks and the end-to-end tests. A make registers its row from its model's source
// file, with a rig per laser class the simulator serves: the class, its record and how the
// record reaches the simulator on a serial line or over TCP.
//
//   const bool GRegistered = sim::RegisterSimFamily({
//       "xyz", "XYZ framed protocol", /*Pty=*/true, /*TcpAddress=*/"", 0,
//       [](const sim::TSimOptions&) { return std::make_unique<TXyzModel>(); }, "",
//       {{"xyz", "TXyzLaser", eltXyz, {}, [](TLaserParams& P, const sim::TRigLink& L) {
//           P.CfgXyz.Comm.CommPort = L.CommPort;
//         }}}});
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "params/params.h"
#include "sim/endpoint.h"

namespace nclaser::sim {

// Options of `nclaser sim FAMILY --model NAME` and the like: name -> value.
using TSimOptions = std::map<std::string, std::string>;

// Where a laser reaches its simulator: serial port CommPort (the host maps it to the
// simulator's pty) or TcpHost:TcpPort.
struct TRigLink {
  bool Tcp = false;
  int CommPort = 1;
  std::string TcpHost;
  int TcpPort = 0;
};

// One laser class against a simulator: the class, the LaserType of its record, what the
// simulator must be told to speak as this class, and how the record reaches the simulator.
struct TSimRig {
  std::string Name;  // unique across the table: "ylr", "spi1000"
  std::string Class; // the laser class
  TEnumLaserType LaserType = eltNone;
  TSimOptions Options;
  // Fills the make's member for Link, on a record that holds the host's defaults for
  // LaserType; the rest of the record (model, set point, outputs) is the caller's.
  std::function<void(TLaserParams&, const TRigLink&)> Configure;
};

struct TSimFamily {
  std::string Name;       // "ylr", "jk", "yls"
  std::string Summary;    // one line for `nclaser sim --list`
  bool Pty = false;       // offers a pty
  std::string TcpAddress; // the default listening address; empty when there is no TCP side
  int TcpPort = 0;        // the protocol's fixed port
  // Makes a fresh model; throws std::invalid_argument for options it does not take.
  std::function<std::unique_ptr<TSimModel>(const TSimOptions&)> MakeModel;
  // Options the family takes, for help ("model 1000|standard").
  std::string OptionsHelp;
  std::vector<TSimRig> Rigs; // the laser classes this simulator serves
};

// Adds a row (a row of the same name is replaced); returns true so it can initialise a
// namespace-scope constant.
bool RegisterSimFamily(TSimFamily Family);
const std::vector<TSimFamily>& SimFamilies();
const TSimFamily* FindSimFamily(const std::string& Name);

// Starts the family's simulator on a pty (Address empty and no TCP wanted) or on TCP
// (Address empty: the family's default). Throws std::runtime_error when it cannot.
std::unique_ptr<TSimEndpoint> StartSim(const TSimFamily& Family, bool Tcp,
                                       const std::string& Address, const TSimOptions& Options);

// The rig called Name in any row; null when there is none.
const TSimRig* FindRig(const std::string& Name);
// Every rig of the table, in row order.
std::vector<const TSimRig*> AllRigs();
// The row whose rig Rig is.
const TSimFamily& RigFamily(const TSimRig& Rig);

// The record of Rig's laser on Link: the host's defaults for its LaserType, then the rig's
// own settings.
TLaserParams RigParams(const TSimRig& Rig, const TRigLink& Link);
// Starts Rig's simulator (its row with the rig's options, then Extra) on a pty or on TCP at
// Address (empty: the row's default address). Throws std::runtime_error when it cannot.
std::unique_ptr<TSimEndpoint> StartRig(const TSimRig& Rig, bool Tcp, const std::string& Address,
                                       const TSimOptions& Extra = {});
// The link to a running simulator: its TCP address, or serial port CommPort on its pty.
TRigLink LinkTo(const TSimEndpoint& Sim, int CommPort = 1);

// A loopback address 127.Net.X.Y of this process's own (X.Y from the process id), so that
// simulators of programs running side by side never meet on a protocol's fixed port;
// Index >= 0 numbers several addresses of one process instead (X.Y from Index).
std::string LoopbackAddress(int Net, int Index = -1);

} // namespace nclaser::sim
