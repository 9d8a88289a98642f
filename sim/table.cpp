#include "sim/table.h"

#include "sim/registry.h"

#include <stdexcept>

namespace nclaser::sim {

using TTable = TRegistry<TSimFamily>;

bool RegisterSimFamily(TSimFamily Family) {
  TTable::Add(std::move(Family));
  return true;
}

const std::vector<TSimFamily>& SimFamilies() {
  return TTable::All();
}

const TSimFamily* FindSimFamily(const std::string& Name) {
  return TTable::Find(Name);
}

std::unique_ptr<TSimEndpoint> StartSim(const TSimFamily& Family, bool Tcp,
                                       const std::string& Address, const TSimOptions& Options) {
  if (Tcp && Family.TcpAddress.empty()) {
    throw std::runtime_error("the " + Family.Name + " simulator has no TCP side");
  }
  if (!Tcp && !Family.Pty) {
    throw std::runtime_error("the " + Family.Name + " simulator has no pty side");
  }
  std::unique_ptr<TSimModel> Model;
  try {
    Model = Family.MakeModel(Options);
  } catch (const std::invalid_argument& E) {
    throw std::runtime_error(E.what());
  }
  auto Sim = std::make_unique<TSimEndpoint>(std::move(Model));
  std::string Error;
  const bool Ok =
      Tcp ? Sim->StartTcp(Address.empty() ? Family.TcpAddress : Address, Family.TcpPort, &Error)
          : Sim->StartPty(&Error);
  if (!Ok) {
    throw std::runtime_error("the " + Family.Name + " simulator cannot start: " + Error);
  }
  return Sim;
}

} // namespace nclaser::sim
