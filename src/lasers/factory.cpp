#include "lasers/factory.h"

#include <algorithm>
#include <mutex>

namespace nclaser {

namespace {

struct TRegistry {
  std::mutex Lock;
  std::vector<TLaserClassInfo> Classes;
};

TRegistry& Registry() {
  static TRegistry R;
  return R;
}

} // namespace

void TNcLaserDeleter::operator()(TNcLaser* Laser) const noexcept {
  if (Laser == nullptr) {
    return;
  }
  try {
    Laser->BeforeDestruction();
    Laser->Destroy();
  } catch (...) {
    // Teardown goes on whatever a family's last step did.
  }
  delete Laser;
}

void RegisterLaserClass(TLaserClassInfo Info) {
  auto& R = Registry();
  std::lock_guard<std::mutex> L(R.Lock);
  const auto It = std::find_if(R.Classes.begin(), R.Classes.end(),
                               [&](const TLaserClassInfo& C) { return C.Name == Info.Name; });
  if (It != R.Classes.end()) {
    *It = std::move(Info);
  } else {
    R.Classes.push_back(std::move(Info));
  }
}

const char* TLaserClassInfo::ConfigMember() const {
  const TMemberInfo* M = ReadsDefParamsOnly() ? nullptr : MemberOf(LaserType);
  return M != nullptr ? M->Name : "DefParams";
}

const TLaserClassInfo* FindLaserClass(std::string_view Name) {
  auto& R = Registry();
  std::lock_guard<std::mutex> L(R.Lock);
  const auto It = std::find_if(R.Classes.begin(), R.Classes.end(),
                               [&](const TLaserClassInfo& C) { return C.Name == Name; });
  return It != R.Classes.end() ? &*It : nullptr;
}

std::vector<TLaserClassInfo> LaserClasses() {
  auto& R = Registry();
  std::lock_guard<std::mutex> L(R.Lock);
  auto Out = R.Classes;
  std::sort(Out.begin(), Out.end(),
            [](const TLaserClassInfo& A, const TLaserClassInfo& B) { return A.Name < B.Name; });
  return Out;
}

const TLaserClassInfo* DefaultLaserClass(const TLaserParams& Params) {
  const std::uint32_t Sub = SubTypeOf(Params);
  auto& R = Registry();
  std::lock_guard<std::mutex> L(R.Lock);
  const auto It = std::find_if(R.Classes.begin(), R.Classes.end(), [&](const TLaserClassInfo& C) {
    return C.LaserType == Params.LaserType && (C.DefaultFor & Sub) != 0;
  });
  return It != R.Classes.end() ? &*It : nullptr;
}

} // namespace nclaser
