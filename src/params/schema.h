// The records described as data, beside the records themselves: every record of
// TLaserParams with its fields (name, type, how to reach it), the enumerations with their
// value names, and the member table that pairs each LaserType with its member of the
// variant part and that member's defaults. Configuration loaders, listings and the host's
// defaults walk these tables instead of keeping their own copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "params/params.h"

namespace nclaser {

// An enumeration's value names, by ordinal.
struct TEnumInfo {
  std::string_view Type; // "TIPGLaserType"
  std::span<const std::string_view> Names;

  // "?" for an ordinal outside the enumeration.
  std::string_view Name(unsigned Ordinal) const;
  std::optional<unsigned> Find(std::string_view Name) const;
  // "ltIPGErr, ltYLRComm, ...": every name, for refusals.
  std::string List() const;
};

const TEnumInfo& LaserTypeEnum(); // TEnumLaserType
const TEnumInfo& IPGTypeEnum();   // TIPGLaserType
const TEnumInfo& RayTypeEnum();   // TRayLaserType

std::string_view LaserTypeName(TEnumLaserType T);
std::optional<TEnumLaserType> ParseLaserType(std::string_view Name);

enum class TFieldType : std::uint8_t {
  Bool,      // bool
  Integer,   // an integer of Bits bits, Signed or not
  Enum,      // a one-byte enumeration; Enum names its values
  Double,    // double
  Text,      // a fixed buffer of Size UTF-16 code units holding a zero-terminated text
  String,    // a UTF-8 std::string of any length
  ShortText, // Size bytes: a length byte, then up to Size - 1 8-bit characters
  Record,    // a nested record; Record describes it
  Other,     // described by its user (the stand-in host's own settings), not by this file
};

struct TRecordInfo;

struct TFieldInfo {
  std::string_view Name;      // as in the records: "DiodeCurrent"
  void* (*Get)(void* Record); // the field inside a record of its type
  const TEnumInfo* Enum;      // Enum
  const TRecordInfo* Record;  // Record
  std::size_t Size;           // Text, ShortText
  int Bits;                   // Integer
  TFieldType Type;
  bool Signed; // Integer

  // Integer: the range the field holds.
  std::int64_t Min() const;
  std::int64_t Max() const;
};

struct TRecordInfo {
  std::string_view Type; // "TLaserPWM"
  std::span<const TFieldInfo> Fields;
};

// TLaserParams without its variant part: DefParams and LaserType.
const TRecordInfo& LaserParamsInfo();

// A member of the variant part.
struct TMemberInfo {
  TEnumLaserType LaserType; // the value that selects it
  const char* Name;         // "CfgIPG"
  const TRecordInfo* Record;
  void* (*Get)(TLaserParams& Params);
  void (*Initialize)(void* Member); // its defaults; null when the record has none
  // The field of the member that tells its sub-types apart (CfgIPG.IPGType); null when
  // the LaserType alone picks.
  const TFieldInfo* SubType;
};

// One row per member, in LaserType order.
std::span<const TMemberInfo> Members();
// The member LaserType selects; null when it has none (eltQYZ).
const TMemberInfo* MemberOf(TEnumLaserType LaserType);
const TMemberInfo* FindMember(std::string_view Name);

// A record's sub-type as a bit: bit N for sub-type value N of its member (CfgIPG.IPGType,
// CfgRay.RayType), SubTypeAny for a LaserType without sub-types, 0 for a value beyond 31.
constexpr std::uint32_t SubTypeAny = 1U;
template <class E> constexpr std::uint32_t SubTypeBit(E SubType) {
  return 1U << static_cast<unsigned>(SubType);
}
std::uint32_t SubTypeOf(const TLaserParams& Params);
// The value of the record's sub-type field; empty when its LaserType has none.
std::optional<unsigned> SubTypeValue(const TLaserParams& Params);

// The record as a host gives it its defaults: TLaserParams::Initialize, then Initialize of
// DefParams.PWM, DefParams.DA and of the member LaserType selects; LaserType is set.
void InitializeHostDefaults(TLaserParams& Params, TEnumLaserType LaserType);

} // namespace nclaser
