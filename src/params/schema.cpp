#include "params/schema.h"

#include <limits>
#include <type_traits>

namespace nclaser {

namespace {

constexpr std::string_view KLaserTypeNames[] = {
    "eltNone",    "eltCO2", "eltDA",  "eltIPG",   "eltRay", "eltGSI",  "eltMaxSZ",  "eltMeiMan",
    "eltQingHua", "eltQYZ", "eltSPI", "eltRofin", "eltCAS", "eltMars", "CfgNLight", "CfgOther"};
constexpr std::string_view KIPGTypeNames[] = {"ltIPGErr",    "ltYLRComm",  "ltYLRNet",
                                              "ltYLSGemNet", "ltYLSGemHW", "ltYLSAmNet",
                                              "ltYLSAmHW",   "ltYLP"};
constexpr std::string_view KRayTypeNames[] = {"ltRayErr", "ltRayCW", "ltRayWCW"};

constexpr TEnumInfo KLaserTypeEnum{"TEnumLaserType", KLaserTypeNames};
constexpr TEnumInfo KIPGTypeEnum{"TIPGLaserType", KIPGTypeNames};
constexpr TEnumInfo KRayTypeEnum{"TRayLaserType", KRayTypeNames};

static_assert(std::size(KLaserTypeNames) == CfgOther + 1);
static_assert(std::size(KIPGTypeNames) == ltYLP + 1);
static_assert(std::size(KRayTypeNames) == ltRayWCW + 1);

// --- Fields from pointers to members: the type of the field decides its description. ---

template <class T> struct TMemberOf;
template <class C, class F> struct TMemberOf<F C::*> {
  using Class = C;
  using Field = F;
};

template <auto M> void* At(void* Record) {
  using C = typename TMemberOf<decltype(M)>::Class;
  return &(static_cast<C*>(Record)->*M);
}

template <class E> constexpr const TEnumInfo* EnumOf() {
  if constexpr (std::is_same_v<E, TEnumLaserType>) {
    return &KLaserTypeEnum;
  } else if constexpr (std::is_same_v<E, TIPGLaserType>) {
    return &KIPGTypeEnum;
  } else {
    static_assert(std::is_same_v<E, TRayLaserType>);
    return &KRayTypeEnum;
  }
}

template <auto M> constexpr TFieldInfo Field(std::string_view Name) {
  using F = typename TMemberOf<decltype(M)>::Field;
  TFieldInfo I{Name, &At<M>, nullptr, nullptr, 0, 0, TFieldType::Bool, false};
  if constexpr (std::is_same_v<F, bool>) {
    I.Type = TFieldType::Bool;
  } else if constexpr (std::is_enum_v<F>) {
    I.Type = TFieldType::Enum;
    I.Enum = EnumOf<F>();
  } else if constexpr (std::is_integral_v<F>) {
    I.Type = TFieldType::Integer;
    I.Bits = static_cast<int>(sizeof(F) * 8);
    I.Signed = std::is_signed_v<F>;
  } else if constexpr (std::is_same_v<F, double>) {
    I.Type = TFieldType::Double;
  } else if constexpr (std::is_same_v<F, std::string>) {
    I.Type = TFieldType::String;
  } else if constexpr (std::is_same_v<std::remove_extent_t<F>, char16_t>) {
    I.Type = TFieldType::Text;
    I.Size = std::extent_v<F>;
  } else {
    static_assert(std::is_same_v<std::remove_extent_t<F>, std::uint8_t>, "no such field type");
    I.Type = TFieldType::ShortText;
    I.Size = std::extent_v<F>;
  }
  return I;
}

template <auto M> constexpr TFieldInfo Sub(std::string_view Name, const TRecordInfo& R) {
  return {Name, &At<M>, nullptr, &R, 0, 0, TFieldType::Record, false};
}

#define NC_F(Rec, F) Field<&Rec::F>(#F)
#define NC_SUB(Rec, F, Info) Sub<&Rec::F>(#F, Info)

constexpr TFieldInfo KPwmFields[] = {NC_F(TLaserPWM, DynamicPwm),  NC_F(TLaserPWM, DiodeCurrent),
                                     NC_F(TLaserPWM, EnablePort1), NC_F(TLaserPWM, EnablePort2),
                                     NC_F(TLaserPWM, Frequency),   NC_F(TLaserPWM, MinRatio),
                                     NC_F(TLaserPWM, Ratio)};
constexpr TRecordInfo KPwm{"TLaserPWM", KPwmFields};

constexpr TFieldInfo KDAFields[] = {NC_F(TLaserDA, DAPort), NC_F(TLaserDA, MaxVoltage),
                                    NC_F(TLaserDA, ProofMax)};
constexpr TRecordInfo KDA{"TLaserDA", KDAFields};

constexpr TFieldInfo KDefFields[] = {
    NC_F(TLaserParamsDef, CtrlPort),        NC_F(TLaserParamsDef, AimingPort),
    NC_F(TLaserParamsDef, AimingLowActive), NC_F(TLaserParamsDef, Model),
    NC_F(TLaserParamsDef, Power),           NC_SUB(TLaserParamsDef, PWM, KPwm),
    NC_SUB(TLaserParamsDef, DA, KDA)};
constexpr TRecordInfo KDef{"TLaserParamsDef", KDefFields};

constexpr TFieldInfo KCommFields[] = {
    NC_F(TLaserComm, CommPort), NC_F(TLaserComm, CommSettings), NC_F(TLaserComm, DebugMode),
    NC_F(TLaserComm, IgnoreCommResult), NC_F(TLaserComm, Baudrate)};
constexpr TRecordInfo KComm{"TLaserComm", KCommFields};

constexpr TFieldInfo KNetFields[] = {NC_F(TLaserNet, TcpHost), NC_F(TLaserNet, TcpPort)};
constexpr TRecordInfo KNet{"TLaserNet", KNetFields};

constexpr TFieldInfo KConnCheckFields[] = {NC_F(TLaserConnCheckCfg, ConnCheckTimeIntv),
                                           NC_F(TLaserConnCheckCfg, ConnCheckTimeStart)};
constexpr TRecordInfo KConnCheck{"TLaserConnCheckCfg", KConnCheckFields};

constexpr TFieldInfo KWireFields[] = {
    NC_F(TIPGYLSHardWire, EmissionStatusPort), NC_F(TIPGYLSHardWire, LaserOnPort),
    NC_F(TIPGYLSHardWire, LaserRequestPort),   NC_F(TIPGYLSHardWire, ProgramStartPort),
    NC_F(TIPGYLSHardWire, LaserRequestDelay),  NC_F(TIPGYLSHardWire, LaserOnDelay),
    NC_F(TIPGYLSHardWire, LaserOnPulse)};
constexpr TRecordInfo KWire{"TIPGYLSHardWire", KWireFields};

constexpr TFieldInfo KYLRFields[] = {
    NC_SUB(TIPGYLRLaserParam, Comm, KComm),           NC_SUB(TIPGYLRLaserParam, Net, KNet),
    NC_F(TIPGYLRLaserParam, IgnoreDiodeReply),        NC_F(TIPGYLRLaserParam, DebugMode),
    NC_SUB(TIPGYLRLaserParam, ConnCheck, KConnCheck), NC_F(TIPGYLRLaserParam, GateMode),
    NC_F(TIPGYLRLaserParam, UseOutputLaserOn)};
constexpr TRecordInfo KYLR{"TIPGYLRLaserParam", KYLRFields};

constexpr TFieldInfo KYLSFields[] = {
    NC_SUB(TIPGYLSLaserParam, Wire, KWire), NC_SUB(TIPGYLSLaserParam, Net, KNet),
    NC_F(TIPGYLSLaserParam, DebugMode), NC_SUB(TIPGYLSLaserParam, ConnCheck, KConnCheck)};
constexpr TRecordInfo KYLS{"TIPGYLSLaserParam", KYLSFields};

constexpr TFieldInfo KYLPFields[] = {
    NC_F(TIPGYLPLaserParam, YLPIndependentEmsOn), NC_F(TIPGYLPLaserParam, YLPMO),
    NC_F(TIPGYLPLaserParam, YLPAlarmIgnore),      NC_F(TIPGYLPLaserParam, YLPPower5),
    NC_F(TIPGYLPLaserParam, YLPPower6),           NC_F(TIPGYLPLaserParam, YLPPower7),
    NC_F(TIPGYLPLaserParam, YLPPower8),           NC_F(TIPGYLPLaserParam, YLPPowerDelay1),
    NC_F(TIPGYLPLaserParam, YLPPowerDelay2),      NC_F(TIPGYLPLaserParam, YLPLock),
    NC_F(TIPGYLPLaserParam, YLPAlarm16),          NC_F(TIPGYLPLaserParam, YLPAlarm21)};
constexpr TRecordInfo KYLP{"TIPGYLPLaserParam", KYLPFields};

constexpr TFieldInfo KIPGFields[] = {
    NC_F(TIPGLaserParams, IPGType),     NC_SUB(TIPGLaserParams, YLR, KYLR),
    NC_SUB(TIPGLaserParams, YLS, KYLS), NC_SUB(TIPGLaserParams, YLP, KYLP),
    NC_F(TIPGLaserParams, PulseModel),  NC_F(TIPGLaserParams, QCWPWMDelay),
    NC_F(TIPGLaserParams, PowerCtrl),   NC_F(TIPGLaserParams, PowerCtrlPort),
    NC_F(TIPGLaserParams, Model),       NC_F(TIPGLaserParams, MaxCurrent)};
constexpr TRecordInfo KIPG{"TIPGLaserParams", KIPGFields};

constexpr TFieldInfo KQcwFields[] = {NC_F(TLaserQcwParams, PulseFreq),
                                     NC_F(TLaserQcwParams, PulseRatio),
                                     NC_F(TLaserQcwParams, PulsePower)};
constexpr TRecordInfo KQcw{"TLaserQcwParams", KQcwFields};

constexpr TFieldInfo KRayFields[] = {
    NC_SUB(TRaycusLaserParams, Comm, KComm), NC_SUB(TRaycusLaserParams, ConnCheck, KConnCheck),
    NC_SUB(TRaycusLaserParams, QCW, KQcw),   NC_F(TRaycusLaserParams, RayType),
    NC_F(TRaycusLaserParams, PulseModel),    NC_F(TRaycusLaserParams, DebugMode)};
constexpr TRecordInfo KRay{"TRaycusLaserParams", KRayFields};

constexpr TFieldInfo KCommParamFields[] = {NC_SUB(TLaserCommParam, Comm, KComm)};
constexpr TRecordInfo KCommParam{"TLaserCommParam", KCommParamFields};

constexpr TFieldInfo KSPIFields[] = {NC_SUB(TSPILaserParam, Comm, KComm),
                                     NC_F(TSPILaserParam, Model)};
constexpr TRecordInfo KSPI{"TSPILaserParam", KSPIFields};

constexpr TFieldInfo KGSIFields[] = {NC_SUB(TGSILaserParam, Comm, KComm),
                                     NC_F(TGSILaserParam, Address)};
constexpr TRecordInfo KGSI{"TGSILaserParam", KGSIFields};

constexpr TFieldInfo KRofinFields[] = {NC_F(TRofinLaserParam, FaultReset),
                                       NC_F(TRofinLaserParam, GatePort),
                                       NC_F(TRofinLaserParam, LaserOn),
                                       NC_F(TRofinLaserParam, MainsOn),
                                       NC_F(TRofinLaserParam, StandbyOn),
                                       NC_F(TRofinLaserParam, StandbyReady),
                                       NC_F(TRofinLaserParam, SystemReady),
                                       NC_F(TRofinLaserParam, DelayAfterMainsOn),
                                       NC_F(TRofinLaserParam, DelayAfterReset),
                                       NC_F(TRofinLaserParam, DelayAfterResetOff),
                                       NC_F(TRofinLaserParam, DelayAfterStandby),
                                       NC_F(TRofinLaserParam, Warning),
                                       NC_F(TRofinLaserParam, Error)};
constexpr TRecordInfo KRofin{"TRofinLaserParam", KRofinFields};

constexpr TFieldInfo KCO2Fields[] = {
    NC_F(TCO2LaserParam, DynamicDA),   NC_F(TCO2LaserParam, LaserMode),
    NC_F(TCO2LaserParam, ModeSelect0), NC_F(TCO2LaserParam, ModeSelect1),
    NC_F(TCO2LaserParam, ShutterPort), NC_F(TCO2LaserParam, ShutterStatus),
    NC_F(TCO2LaserParam, ShutterDelay)};
constexpr TRecordInfo KCO2{"TCO2LaserParam", KCO2Fields};

constexpr TFieldInfo KMeimanFields[] = {NC_F(TMeimanLaserParam, FreqDAPort),
                                        NC_F(TMeimanLaserParam, RatioDAPort)};
constexpr TRecordInfo KMeiman{"TMeimanLaserParam", KMeimanFields};

constexpr TFieldInfo KOtherFields[] = {NC_F(TOtherLaserParam, ShutterReadyDelay),
                                       NC_F(TOtherLaserParam, ShutterReady)};
constexpr TRecordInfo KOther{"TOtherLaserParam", KOtherFields};

constexpr TRecordInfo KErr{"TLaserErr", {}};

constexpr TFieldInfo KParamsFields[] = {NC_SUB(TLaserParams, DefParams, KDef),
                                        NC_F(TLaserParams, LaserType)};
constexpr TRecordInfo KParams{"TLaserParams", KParamsFields};

#undef NC_F
#undef NC_SUB

// --- The member table. ---

template <class R> void Init(void* Member) {
  static_cast<R*>(Member)->Initialize();
}

template <auto M> void* MemberAt(TLaserParams& P) {
  return &(P.*M);
}

template <auto M>
constexpr TMemberInfo Member(TEnumLaserType T, const char* Name, const TRecordInfo& R,
                             const TFieldInfo* SubType = nullptr) {
  using F = typename TMemberOf<decltype(M)>::Field;
  void (*I)(void*) = nullptr;
  if constexpr (!std::is_same_v<F, TLaserErr>) {
    I = &Init<F>;
  }
  return {T, Name, &R, &MemberAt<M>, I, SubType};
}

#define NC_M(T, Name, Info, ...)                                                                   \
  Member<&TLaserParams::Name>(T, #Name, Info __VA_OPT__(, ) __VA_ARGS__)

// The Raycus classes read no sub-type themselves: the host picks between them by RayType.
constexpr TMemberInfo KMembers[] = {
    NC_M(eltNone, CfgNone, KErr),
    NC_M(eltCO2, CfgCO2, KCO2),
    NC_M(eltDA, CfgDA, KDA),
    NC_M(eltIPG, CfgIPG, KIPG, &KIPGFields[0]),
    NC_M(eltRay, CfgRay, KRay, &KRayFields[3]),
    NC_M(eltGSI, CfgGSI, KGSI),
    NC_M(eltMaxSZ, CfgMaxSZ, KCommParam),
    NC_M(eltMeiMan, CfgMeiMan, KMeiman),
    NC_M(eltQingHua, CfgQingHua, KCommParam),
    NC_M(eltSPI, CfgSPI, KSPI),
    NC_M(eltRofin, CfgRofin, KRofin),
    NC_M(eltCAS, CfgCAS, KCommParam),
    NC_M(eltMars, CfgMars, KCommParam),
    NC_M(CfgNLight, CfgNLight, KCommParam),
    NC_M(CfgOther, CfgOther, KOther),
};

#undef NC_M

static_assert(KIPGFields[0].Name == "IPGType" && KRayFields[3].Name == "RayType");

} // namespace

std::string_view TEnumInfo::Name(unsigned Ordinal) const {
  return Ordinal < Names.size() ? Names[Ordinal] : std::string_view("?");
}

std::optional<unsigned> TEnumInfo::Find(std::string_view Name) const {
  for (unsigned I = 0; I < Names.size(); ++I) {
    if (Names[I] == Name) {
      return I;
    }
  }
  return std::nullopt;
}

std::string TEnumInfo::List() const {
  std::string All;
  for (const auto& N : Names) {
    All += (All.empty() ? "" : ", ") + std::string(N);
  }
  return All;
}

const TEnumInfo& LaserTypeEnum() {
  return KLaserTypeEnum;
}

const TEnumInfo& IPGTypeEnum() {
  return KIPGTypeEnum;
}

const TEnumInfo& RayTypeEnum() {
  return KRayTypeEnum;
}

std::string_view LaserTypeName(TEnumLaserType T) {
  return KLaserTypeEnum.Name(T);
}

std::optional<TEnumLaserType> ParseLaserType(std::string_view Name) {
  const auto I = KLaserTypeEnum.Find(Name);
  return I ? std::optional<TEnumLaserType>(static_cast<TEnumLaserType>(*I)) : std::nullopt;
}

std::int64_t TFieldInfo::Min() const {
  return Signed ? -(std::int64_t{1} << (Bits - 1)) : 0;
}

std::int64_t TFieldInfo::Max() const {
  return Signed ? (std::int64_t{1} << (Bits - 1)) - 1 : (std::int64_t{1} << Bits) - 1;
}

const TRecordInfo& LaserParamsInfo() {
  return KParams;
}

std::span<const TMemberInfo> Members() {
  return KMembers;
}

const TMemberInfo* MemberOf(TEnumLaserType LaserType) {
  for (const auto& M : KMembers) {
    if (M.LaserType == LaserType) {
      return &M;
    }
  }
  return nullptr;
}

const TMemberInfo* FindMember(std::string_view Name) {
  for (const auto& M : KMembers) {
    if (Name == M.Name) {
      return &M;
    }
  }
  return nullptr;
}

std::optional<unsigned> SubTypeValue(const TLaserParams& Params) {
  const TMemberInfo* M = MemberOf(Params.LaserType);
  if (M == nullptr || M->SubType == nullptr) {
    return std::nullopt;
  }
  // Every sub-type field is a one-byte enumeration; the accessors only locate it.
  auto& P = const_cast<TLaserParams&>(Params);
  return *static_cast<const std::uint8_t*>(M->SubType->Get(M->Get(P)));
}

std::uint32_t SubTypeOf(const TLaserParams& Params) {
  const auto V = SubTypeValue(Params);
  if (!V) {
    return SubTypeAny;
  }
  return *V < 32 ? 1U << *V : 0;
}

void InitializeHostDefaults(TLaserParams& Params, TEnumLaserType LaserType) {
  Params.Initialize();
  Params.DefParams.PWM.Initialize();
  Params.DefParams.DA.Initialize();
  Params.LaserType = LaserType;
  if (const TMemberInfo* M = MemberOf(LaserType); M != nullptr && M->Initialize != nullptr) {
    M->Initialize(M->Get(Params));
  }
}

} // namespace nclaser
