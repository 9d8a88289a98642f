// The laser class table: every class by name, with the factory that builds it the way the
// host's class reference does (Create, and Destroy on failure).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/errors.h"
#include "lasers/laser.h"
#include "params/schema.h"

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

// Everything about a class, in the one row its family registers.
struct TLaserClassInfo {
  std::string Name;      // the class's own name, T...Laser
  TNcLaserClass Factory; // NewLaser<T>
  // The LaserType whose member of the variant part the class reads; eltNone for the
  // classes that read DefParams only and so take any LaserType.
  TEnumLaserType LaserType;
  // The sub-types of LaserType for which the class is the default (SubTypeBit of each,
  // SubTypeAny when the LaserType alone picks it); 0 when the host must name it.
  std::uint32_t DefaultFor;
  // Where listings put the class: families in the order of the documentation.
  int Rank;

  // The member it reads ("CfgIPG"), or "DefParams".
  const char* ConfigMember() const;
  bool ReadsDefParamsOnly() const { return LaserType == eltNone; }
};

void RegisterLaserClass(TLaserClassInfo Info);
const TLaserClassInfo* FindLaserClass(std::string_view Name);
// Every registered class, sorted by name.
std::vector<TLaserClassInfo> LaserClasses();
// The class a record selects by its LaserType and sub-type; null when there is none.
const TLaserClassInfo* DefaultLaserClass(const TLaserParams& Params);

// A family registers its classes with one static registrar in its own source file.
struct TLaserClassRegistrar {
  explicit TLaserClassRegistrar(TLaserClassInfo Info) { RegisterLaserClass(std::move(Info)); }
};

} // namespace nclaser
