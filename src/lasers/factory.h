// The laser class table: every class by name, with the factory that builds it the way the
// host's class reference does (Create, and Destroy on failure).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/errors.h"
#include "lasers/laser.h"

namespace nclaser {

// Runs the laser's Destroy chain, then frees it.
struct TNcLaserDeleter {
  void operator()(TNcLaser* Laser) const noexcept;
};
using TNcLaserPtr = std::unique_ptr<TNcLaser, TNcLaserDeleter>;

// The host's class reference.
using TNcLaserClass = TNcLaserPtr (*)(TComponent* AOwner, const TLaserParams& AParams);

// Builds T: zeroed fields, then Create. When Create throws, the partly built laser runs
// its Destroy chain (which undoes what was done), is freed, and the exception goes on.
template <class T> TNcLaserPtr NewLaser(TComponent* AOwner, const TLaserParams& AParams) {
  std::unique_ptr<T> L(new T());
  try {
    L->Create(AOwner, AParams);
  } catch (...) {
    try {
      L->BeforeDestruction();
      L->Destroy();
    } catch (...) {
    }
    throw;
  }
  return TNcLaserPtr(L.release());
}

struct TLaserClassInfo {
  std::string Name;         // "TIPG500Laser"
  TNcLaserClass Factory;    // NewLaser<TIPG500Laser>
  std::string ConfigMember; // "CfgIPG", or "DefParams" for classes reading nothing else
  TEnumLaserType LaserType; // the LaserType that selects ConfigMember (eltNone: any)
};

void RegisterLaserClass(TLaserClassInfo Info);
const TLaserClassInfo* FindLaserClass(std::string_view Name);
// Every registered class, sorted by name.
std::vector<TLaserClassInfo> LaserClasses();

// A family registers its classes with one static registrar in its own source file.
struct TLaserClassRegistrar {
  explicit TLaserClassRegistrar(TLaserClassInfo Info) { RegisterLaserClass(std::move(Info)); }
};

} // namespace nclaser
