#include "apps/nclaser/classes.h"

#include "lasers/factory.h"

namespace nclaser::cli {

const std::vector<TClassRow>& ClassTable() {
  static const std::vector<TClassRow> Rows = {
      {"TCO2Laser", "CfgCO2", eltCO2, "eltCO2"},
      {"TYAGLaser", "DefParams", eltNone, ""},
      {"TDefaultLaser", "CfgOther", CfgOther, "CfgOther"},
      {"TRofinLaser", "CfgRofin", eltRofin, "eltRofin"},
      {"TMeimanLaser", "CfgMeiMan", eltMeiMan, "eltMeiMan"},
      {"TMaxLaser", "DefParams", eltNone, ""},
      {"TLPINGLaser", "DefParams", eltNone, ""},
      {"TOpticalValleyLaser", "DefParams", eltNone, ""},
      {"TIPG500Laser", "CfgIPG", eltIPG, "eltIPG + ltYLRComm, ltYLRNet"},
      {"TIPG1000Laser", "CfgIPG", eltIPG, "eltIPG + ltYLSGemHW, ltYLSAmHW"},
      {"TIPGYLSLaser", "CfgIPG", eltIPG, "eltIPG + ltYLSGemNet, ltYLSAmNet"},
      {"TIPGYLPLaser", "CfgIPG", eltIPG, "eltIPG + ltYLP"},
      {"TRaycusLaser", "CfgRay", eltRay, "eltRay + ltRayCW"},
      {"TRayQCWLaser", "CfgRay", eltRay, "eltRay + ltRayWCW"},
      {"TSPILaser", "CfgSPI", eltSPI, "eltSPI"},
      {"TSPI1000Laser", "CfgSPI", eltSPI, ""},
      {"TJKLaser", "CfgGSI", eltGSI, "eltGSI"},
      {"TMarsLaser", "CfgMars", eltMars, "eltMars"},
      {"TNLightLaser", "CfgNLight", CfgNLight, "CfgNLight"},
      {"TCASLaser", "CfgCAS", eltCAS, "eltCAS"},
      {"TQingHuaLaser", "CfgQingHua", eltQingHua, "eltQingHua"},
  };
  return Rows;
}

const TClassRow* FindClassRow(std::string_view Name) {
  for (const auto& R : ClassTable()) {
    if (Name == R.Name) {
      return &R;
    }
  }
  return nullptr;
}

bool ReadsDefParamsOnly(const TClassRow& Row) {
  return std::string_view(Row.Reads) == "DefParams";
}

std::optional<std::string> DefaultClass(const TLaserParams& Params, std::string* Why) {
  auto None = [&](std::string Text) -> std::optional<std::string> {
    if (Why != nullptr) {
      *Why = std::move(Text);
    }
    return std::nullopt;
  };
  switch (Params.LaserType) {
  case eltCO2:
    return "TCO2Laser";
  case eltIPG:
    switch (Params.CfgIPG.IPGType) {
    case ltYLRComm:
    case ltYLRNet:
      return "TIPG500Laser";
    case ltYLSGemHW:
    case ltYLSAmHW:
      return "TIPG1000Laser";
    case ltYLSGemNet:
    case ltYLSAmNet:
      return "TIPGYLSLaser";
    case ltYLP:
      return "TIPGYLPLaser";
    default:
      return None("CfgIPG.IPGType ltIPGErr selects no class; set CfgIPG.IPGType or Class");
    }
  case eltRay:
    // The Raycus classes read no sub-type; the host chooses by RayType.
    switch (Params.CfgRay.RayType) {
    case ltRayCW:
      return "TRaycusLaser";
    case ltRayWCW:
      return "TRayQCWLaser";
    default:
      return None("CfgRay.RayType ltRayErr selects no class; set CfgRay.RayType or Class");
    }
  case eltGSI:
    return "TJKLaser";
  case eltMeiMan:
    return "TMeimanLaser";
  case eltSPI:
    return "TSPILaser";
  case eltRofin:
    return "TRofinLaser";
  case eltCAS:
    return "TCASLaser";
  case eltMars:
    return "TMarsLaser";
  case eltQingHua:
    return "TQingHuaLaser";
  case CfgNLight:
    return "TNLightLaser";
  case CfgOther:
    return "TDefaultLaser";
  default:
    return None("LaserType " + std::string(LaserTypeName(Params.LaserType)) +
                " has no laser class of its own; name one with Class");
  }
}

const std::vector<std::string_view>& LaserTypeNames() {
  static const std::vector<std::string_view> Names = {
      "eltNone",    "eltCO2", "eltDA",  "eltIPG",   "eltRay", "eltGSI",  "eltMaxSZ",  "eltMeiMan",
      "eltQingHua", "eltQYZ", "eltSPI", "eltRofin", "eltCAS", "eltMars", "CfgNLight", "CfgOther"};
  return Names;
}

const std::vector<std::string_view>& IPGTypeNames() {
  static const std::vector<std::string_view> Names = {"ltIPGErr",    "ltYLRComm",  "ltYLRNet",
                                                      "ltYLSGemNet", "ltYLSGemHW", "ltYLSAmNet",
                                                      "ltYLSAmHW",   "ltYLP"};
  return Names;
}

const std::vector<std::string_view>& RayTypeNames() {
  static const std::vector<std::string_view> Names = {"ltRayErr", "ltRayCW", "ltRayWCW"};
  return Names;
}

std::string_view LaserTypeName(TEnumLaserType T) {
  const auto& N = LaserTypeNames();
  return T < N.size() ? N[T] : std::string_view("?");
}

std::optional<TEnumLaserType> ParseLaserType(std::string_view Name) {
  const auto& N = LaserTypeNames();
  for (std::size_t I = 0; I < N.size(); ++I) {
    if (N[I] == Name) {
      return static_cast<TEnumLaserType>(I);
    }
  }
  return std::nullopt;
}

std::string_view MemberOf(TEnumLaserType T) {
  static const char* const Members[] = {
      "CfgNone",    "CfgCO2", "CfgDA",  "CfgIPG",   "CfgRay", "CfgGSI",  "CfgMaxSZ",  "CfgMeiMan",
      "CfgQingHua", "",       "CfgSPI", "CfgRofin", "CfgCAS", "CfgMars", "CfgNLight", "CfgOther"};
  return T < std::size(Members) ? Members[T] : "";
}

std::string ClassAvailability(std::string_view Name) {
  if (FindLaserClass(Name) != nullptr) {
    return {};
  }
  if (FindClassRow(Name) != nullptr) {
    return "class " + std::string(Name) + " is not available in this build";
  }
  return "unknown laser class " + std::string(Name) + " (nclaser classes lists them)";
}

} // namespace nclaser::cli
