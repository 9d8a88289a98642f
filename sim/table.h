// The simulator table: one row per simulated make, read by `nclaser sim` and the demos.
// A make registers its row from its model's source file:
//
//   const bool GRegistered = sim::RegisterSimFamily({
//       "jk", "JK/GSI framed protocol with CRC-16", /*Pty=*/true, /*TcpAddress=*/"", 0,
//       [](const sim::TSimOptions&) { return std::make_unique<TJKModel>(); }});
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/endpoint.h"

namespace nclaser::sim {

// Options of `nclaser sim FAMILY --model NAME` and the like: name -> value.
using TSimOptions = std::map<std::string, std::string>;

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

} // namespace nclaser::sim
