#include "sim/table.h"

#include "sim/registry.h"

#include <unistd.h>

#include <stdexcept>

#include "plugin/select.h"

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

const TSimRig* FindRig(const std::string& Name) {
  for (const TSimRig* R : AllRigs()) {
    if (R->Name == Name) {
      return R;
    }
  }
  return nullptr;
}

std::vector<const TSimRig*> AllRigs() {
  std::vector<const TSimRig*> Out;
  for (const auto& F : SimFamilies()) {
    for (const auto& R : F.Rigs) {
      Out.push_back(&R);
    }
  }
  return Out;
}

const TSimFamily& RigFamily(const TSimRig& Rig) {
  for (const auto& F : SimFamilies()) {
    for (const auto& R : F.Rigs) {
      if (&R == &Rig) {
        return F;
      }
    }
  }
  throw std::invalid_argument("the rig " + Rig.Name + " is not in the simulator table");
}

TLaserParams RigParams(const TSimRig& Rig, const TRigLink& Link) {
  TLaserParams P;
  InitializeHostDefaults(P, Rig.LaserType);
  Rig.Configure(P, Link);
  return P;
}

std::unique_ptr<TSimEndpoint> StartRig(const TSimRig& Rig, bool Tcp, const std::string& Address,
                                       const TSimOptions& Extra) {
  TSimOptions Options = Rig.Options;
  for (const auto& [K, V] : Extra) {
    Options[K] = V;
  }
  return StartSim(RigFamily(Rig), Tcp, Address, Options);
}

TRigLink LinkTo(const TSimEndpoint& Sim, int CommPort) {
  TRigLink L;
  L.CommPort = CommPort;
  if (Sim.IsTcp()) {
    const std::string A = Sim.Address();
    const auto Colon = A.rfind(':');
    L.Tcp = true;
    L.TcpHost = A.substr(0, Colon);
    L.TcpPort = std::stoi(A.substr(Colon + 1));
  }
  return L;
}

std::string LoopbackAddress(int Net, int Index) {
  const int N = Index >= 0 ? Index : static_cast<int>(::getpid());
  return "127." + std::to_string(Net) + "." + std::to_string(N / 250 % 250 + 1) + "." +
         std::to_string(N % 250 + 1);
}

} // namespace nclaser::sim
