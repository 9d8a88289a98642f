#include "sim/table.h"

#include <stdexcept>

namespace nclaser::sim {

namespace {
std::vector<TSimFamily>& Families() {
  static std::vector<TSimFamily> F;
  return F;
}
} // namespace

bool RegisterSimFamily(TSimFamily Family) {
  for (auto& F : Families()) {
    if (F.Name == Family.Name) {
      F = std::move(Family);
      return true;
    }
  }
  Families().push_back(std::move(Family));
  return true;
}

const std::vector<TSimFamily>& SimFamilies() {
  return Families();
}

const TSimFamily* FindSimFamily(const std::string& Name) {
  for (const auto& F : Families()) {
    if (F.Name == Name) {
      return &F;
    }
  }
  return nullptr;
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
