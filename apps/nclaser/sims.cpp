#include "apps/nclaser/sims.h"

namespace nclaser::cli {

namespace {
std::vector<TSimFamily>& Families() {
  static std::vector<TSimFamily> F;
  return F;
}
} // namespace

void RegisterSim(TSimFamily Family) {
  for (auto& F : Families()) {
    if (F.Name == Family.Name) {
      F = std::move(Family);
      return;
    }
  }
  Families().push_back(std::move(Family));
}

const std::vector<TSimFamily>& SimFamilies() {
  return Families();
}

const TSimFamily* FindSim(const std::string& Name) {
  for (const auto& F : Families()) {
    if (F.Name == Name) {
      return &F;
    }
  }
  return nullptr;
}

} // namespace nclaser::cli
