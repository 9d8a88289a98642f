#include "plugin/select.h"

#include "plugin/plugin.h"

namespace nclaser {

namespace {

template <class T> constexpr std::uint32_t Bit(T SubType) {
  return 1U << static_cast<unsigned>(SubType);
}

struct TDefaultRow {
  const char* Class;
  TEnumLaserType LaserType;
  std::uint32_t SubTypes;
};

// One row per default class; a LaserType with sub-types has a row per class.
constexpr TDefaultRow KDefaults[] = {
    {"TCO2Laser", eltCO2, NcSubTypeAny},
    {"TIPG500Laser", eltIPG, Bit(ltYLRComm) | Bit(ltYLRNet)},
    {"TIPG1000Laser", eltIPG, Bit(ltYLSGemHW) | Bit(ltYLSAmHW)},
    {"TIPGYLSLaser", eltIPG, Bit(ltYLSGemNet) | Bit(ltYLSAmNet)},
    {"TIPGYLPLaser", eltIPG, Bit(ltYLP)},
    {"TRaycusLaser", eltRay, Bit(ltRayCW)},
    {"TRayQCWLaser", eltRay, Bit(ltRayWCW)},
    {"TJKLaser", eltGSI, NcSubTypeAny},
    {"TMeimanLaser", eltMeiMan, NcSubTypeAny},
    {"TSPILaser", eltSPI, NcSubTypeAny},
    {"TRofinLaser", eltRofin, NcSubTypeAny},
    {"TCASLaser", eltCAS, NcSubTypeAny},
    {"TMarsLaser", eltMars, NcSubTypeAny},
    {"TQingHuaLaser", eltQingHua, NcSubTypeAny},
    {"TNLightLaser", CfgNLight, NcSubTypeAny},
    {"TDefaultLaser", CfgOther, NcSubTypeAny},
};

} // namespace

std::uint32_t DefaultSubTypes(std::string_view ClassName) {
  for (const auto& R : KDefaults) {
    if (ClassName == R.Class) {
      return R.SubTypes;
    }
  }
  return 0;
}

std::uint32_t SubTypeOf(const TLaserParams& Params) {
  switch (Params.LaserType) {
  case eltIPG:
    return Params.CfgIPG.IPGType < 32 ? Bit(Params.CfgIPG.IPGType) : 0;
  case eltRay:
    // The Raycus classes read no sub-type themselves: the host chooses by RayType.
    return Params.CfgRay.RayType < 32 ? Bit(Params.CfgRay.RayType) : 0;
  default:
    return NcSubTypeAny;
  }
}

const char* DefaultClassName(const TLaserParams& Params) {
  const std::uint32_t Sub = SubTypeOf(Params);
  for (const auto& R : KDefaults) {
    if (R.LaserType == Params.LaserType && (R.SubTypes & Sub) != 0) {
      return R.Class;
    }
  }
  return nullptr;
}

void InitializeHostDefaults(TLaserParams& Params, TEnumLaserType LaserType) {
  Params.Initialize();
  Params.DefParams.PWM.Initialize();
  Params.DefParams.DA.Initialize();
  Params.LaserType = LaserType;
  switch (LaserType) {
  case eltCO2:
    Params.CfgCO2.Initialize();
    break;
  case eltDA:
    Params.CfgDA.Initialize();
    break;
  case eltIPG:
    Params.CfgIPG.Initialize();
    break;
  case eltRay:
    Params.CfgRay.Initialize();
    break;
  case eltGSI:
    Params.CfgGSI.Initialize();
    break;
  case eltMaxSZ:
    Params.CfgMaxSZ.Initialize();
    break;
  case eltMeiMan:
    Params.CfgMeiMan.Initialize();
    break;
  case eltQingHua:
    Params.CfgQingHua.Initialize();
    break;
  case eltSPI:
    Params.CfgSPI.Initialize();
    break;
  case eltRofin:
    Params.CfgRofin.Initialize();
    break;
  case eltCAS:
    Params.CfgCAS.Initialize();
    break;
  case eltMars:
    Params.CfgMars.Initialize();
    break;
  case CfgNLight:
    Params.CfgNLight.Initialize();
    break;
  case CfgOther:
    Params.CfgOther.Initialize();
    break;
  default: // eltNone and eltQYZ: no member defaults
    break;
  }
}

} // namespace nclaser
