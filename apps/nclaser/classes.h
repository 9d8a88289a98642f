// The tool's own table of laser classes: which configuration member each reads, which
// LaserType selects it, and the default class for a LaserType and its sub-type.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "params/params.h"

namespace nclaser::cli {

struct TClassRow {
  const char* Name;         // "TIPG500Laser"
  const char* Reads;        // "CfgIPG", or "DefParams" for classes reading nothing else
  TEnumLaserType LaserType; // the LaserType that selects Reads (eltNone for DefParams only)
  const char* DefaultFor;   // when it is a default class: for which LaserType / sub-type
};

// Every laser class of the plug-in, in the order `nclaser classes` prints them.
const std::vector<TClassRow>& ClassTable();
const TClassRow* FindClassRow(std::string_view Name);

// True for the classes that read DefParams only and so accept any LaserType.
bool ReadsDefParamsOnly(const TClassRow& Row);

// The default class for the record's LaserType and sub-type (IPGType, Raycus RayType).
// Empty when that LaserType has no class of its own; Why then says what is missing.
std::optional<std::string> DefaultClass(const TLaserParams& Params, std::string* Why = nullptr);

// Value names of the enumerations, by ordinal.
const std::vector<std::string_view>& LaserTypeNames();
const std::vector<std::string_view>& IPGTypeNames();
const std::vector<std::string_view>& RayTypeNames();
std::string_view LaserTypeName(TEnumLaserType T);
std::optional<TEnumLaserType> ParseLaserType(std::string_view Name);

// The variant member that a LaserType selects ("CfgIPG"); empty for eltQYZ, which has none.
std::string_view MemberOf(TEnumLaserType T);

// "class X is not available in this build" when the class is in the table but not built,
// "unknown laser class X" when it is not a class at all; empty when it can be built.
std::string ClassAvailability(std::string_view Name);

} // namespace nclaser::cli
