#include "apps/nclaser/config.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <sstream>
#include <variant>

#include "apps/nclaser/classes.h"
#include "hostkit/host.h"
#include "plugin/select.h"

namespace nclaser::cli {

EConfigError::EConfigError(std::string File, int Line, std::string Key, std::string Reason)
    : std::runtime_error(File + (Line > 0 ? ":" + std::to_string(Line) : std::string()) + ": " +
                         (Key.empty() ? std::string() : Key + ": ") + Reason),
      FFile(std::move(File)), FLine(Line), FKey(std::move(Key)), FReason(std::move(Reason)) {}

namespace {

// --- The schema: every field of the record by its dotted name, with a setter. ---

struct TProblem {
  int Line;
  std::string Key;
  std::string Reason;
};

using TSetter = std::function<std::optional<std::string>(const toml::node&)>;

struct TSchema {
  std::map<std::string, TSetter, std::less<>> Fields;
  std::set<std::string, std::less<>> Tables;
};

int LineOf(const toml::node& N) {
  return static_cast<int>(N.source().begin.line);
}

std::string TypeName(const toml::node& N) {
  switch (N.type()) {
  case toml::node_type::table:
    return "a table";
  case toml::node_type::array:
    return "an array";
  case toml::node_type::string:
    return "a string";
  case toml::node_type::integer:
    return "an integer";
  case toml::node_type::floating_point:
    return "a floating-point number";
  case toml::node_type::boolean:
    return "a boolean";
  default:
    return "a date or time";
  }
}

std::string Expected(const char* What, const toml::node& N) {
  return std::string("expected ") + What + ", got " + TypeName(N);
}

void Add(TSchema& S, const std::string& P, bool& F) {
  S.Fields[P] = [&F](const toml::node& N) -> std::optional<std::string> {
    if (!N.is_boolean()) {
      return Expected("a boolean (true or false)", N);
    }
    F = N.as_boolean()->get();
    return std::nullopt;
  };
}

void Add(TSchema& S, const std::string& P, std::int32_t& F) {
  S.Fields[P] = [&F](const toml::node& N) -> std::optional<std::string> {
    if (!N.is_integer()) {
      return Expected("an integer", N);
    }
    const std::int64_t V = N.as_integer()->get();
    if (V < std::numeric_limits<std::int32_t>::min() ||
        V > std::numeric_limits<std::int32_t>::max()) {
      return "value " + std::to_string(V) + " is out of range (a 32-bit signed integer)";
    }
    F = static_cast<std::int32_t>(V);
    return std::nullopt;
  };
}

void Add(TSchema& S, const std::string& P, std::uint8_t& F) {
  S.Fields[P] = [&F](const toml::node& N) -> std::optional<std::string> {
    if (!N.is_integer()) {
      return Expected("an integer", N);
    }
    const std::int64_t V = N.as_integer()->get();
    if (V < 0 || V > 255) {
      return "value " + std::to_string(V) + " is out of range (a byte, 0 to 255)";
    }
    F = static_cast<std::uint8_t>(V);
    return std::nullopt;
  };
}

void Add(TSchema& S, const std::string& P, double& F) {
  S.Fields[P] = [&F](const toml::node& N) -> std::optional<std::string> {
    if (N.is_floating_point()) {
      const double V = N.as_floating_point()->get();
      if (!std::isfinite(V)) {
        return "value " +
               std::string(std::isnan(V) ? "nan"
                           : V > 0       ? "inf"
                                         : "-inf") +
               " is out of range (a finite number)";
      }
      F = V;
    } else if (N.is_integer()) {
      F = static_cast<double>(N.as_integer()->get());
    } else {
      return Expected("a number", N);
    }
    return std::nullopt;
  };
}

void Add(TSchema& S, const std::string& P, char16_t (&F)[256]) {
  S.Fields[P] = [&F](const toml::node& N) -> std::optional<std::string> {
    if (!N.is_string()) {
      return Expected("a string", N);
    }
    if (!Utf8ToTextBuf(N.as_string()->get(), F)) {
      return "text is longer than 255 UTF-16 code units";
    }
    return std::nullopt;
  };
}

void Add(TSchema& S, const std::string& P, std::string& F) {
  S.Fields[P] = [&F](const toml::node& N) -> std::optional<std::string> {
    if (!N.is_string()) {
      return Expected("a string", N);
    }
    F = N.as_string()->get();
    return std::nullopt;
  };
}

// The SPI model: a length byte, then up to 43 8-bit characters.
void Add(TSchema& S, const std::string& P, std::uint8_t (&F)[44]) {
  S.Fields[P] = [&F](const toml::node& N) -> std::optional<std::string> {
    if (!N.is_string()) {
      return Expected("a string", N);
    }
    std::u16string U;
    if (!Utf8ToUtf16(N.as_string()->get(), U)) {
      return "text is not valid UTF-8";
    }
    if (U.size() > 43) {
      return "text is longer than 43 characters";
    }
    std::uint8_t Buf[44] = {};
    Buf[0] = static_cast<std::uint8_t>(U.size());
    for (std::size_t I = 0; I < U.size(); ++I) {
      if (U[I] > 0xFF) {
        return "text holds a character beyond U+00FF (8-bit characters only)";
      }
      Buf[I + 1] = static_cast<std::uint8_t>(U[I]);
    }
    std::copy(std::begin(Buf), std::end(Buf), std::begin(F));
    return std::nullopt;
  };
}

template <class E>
void AddEnum(TSchema& S, const std::string& P, E& F, const std::vector<std::string_view>& Names) {
  S.Fields[P] = [&F, &Names](const toml::node& N) -> std::optional<std::string> {
    if (!N.is_string()) {
      return Expected("a string naming the value", N);
    }
    const std::string& V = N.as_string()->get();
    for (std::size_t I = 0; I < Names.size(); ++I) {
      if (Names[I] == V) {
        F = static_cast<E>(I);
        return std::nullopt;
      }
    }
    std::string All;
    for (const auto& Nm : Names) {
      All += (All.empty() ? "" : ", ") + std::string(Nm);
    }
    return "unknown value \"" + V + "\" (one of " + All + ")";
  };
}

#define NC_F(Field) Add(S, P + "." #Field, R.Field)

void Describe(TSchema& S, const std::string& P, TLaserPWM& R) {
  S.Tables.insert(P);
  NC_F(DynamicPwm);
  NC_F(DiodeCurrent);
  NC_F(EnablePort1);
  NC_F(EnablePort2);
  NC_F(Frequency);
  NC_F(MinRatio);
  NC_F(Ratio);
}

void Describe(TSchema& S, const std::string& P, TLaserDA& R) {
  S.Tables.insert(P);
  NC_F(DAPort);
  NC_F(MaxVoltage);
  NC_F(ProofMax);
}

void Describe(TSchema& S, const std::string& P, TLaserParamsDef& R) {
  S.Tables.insert(P);
  NC_F(CtrlPort);
  NC_F(AimingPort);
  NC_F(AimingLowActive);
  NC_F(Model);
  NC_F(Power);
  Describe(S, P + ".PWM", R.PWM);
  Describe(S, P + ".DA", R.DA);
}

void Describe(TSchema& S, const std::string& P, TLaserComm& R) {
  S.Tables.insert(P);
  NC_F(CommPort);
  NC_F(CommSettings);
  NC_F(DebugMode);
  NC_F(IgnoreCommResult);
  NC_F(Baudrate);
}

void Describe(TSchema& S, const std::string& P, TLaserNet& R) {
  S.Tables.insert(P);
  NC_F(TcpHost);
  NC_F(TcpPort);
}

void Describe(TSchema& S, const std::string& P, TLaserConnCheckCfg& R) {
  S.Tables.insert(P);
  NC_F(ConnCheckTimeIntv);
  NC_F(ConnCheckTimeStart);
}

void Describe(TSchema& S, const std::string& P, TIPGYLSHardWire& R) {
  S.Tables.insert(P);
  NC_F(EmissionStatusPort);
  NC_F(LaserOnPort);
  NC_F(LaserRequestPort);
  NC_F(ProgramStartPort);
  NC_F(LaserRequestDelay);
  NC_F(LaserOnDelay);
  NC_F(LaserOnPulse);
}

void Describe(TSchema& S, const std::string& P, TIPGYLRLaserParam& R) {
  S.Tables.insert(P);
  Describe(S, P + ".Comm", R.Comm);
  Describe(S, P + ".Net", R.Net);
  NC_F(IgnoreDiodeReply);
  NC_F(DebugMode);
  Describe(S, P + ".ConnCheck", R.ConnCheck);
  NC_F(GateMode);
  NC_F(UseOutputLaserOn);
}

void Describe(TSchema& S, const std::string& P, TIPGYLSLaserParam& R) {
  S.Tables.insert(P);
  Describe(S, P + ".Wire", R.Wire);
  Describe(S, P + ".Net", R.Net);
  NC_F(DebugMode);
  Describe(S, P + ".ConnCheck", R.ConnCheck);
}

void Describe(TSchema& S, const std::string& P, TIPGYLPLaserParam& R) {
  S.Tables.insert(P);
  NC_F(YLPIndependentEmsOn);
  NC_F(YLPMO);
  NC_F(YLPAlarmIgnore);
  NC_F(YLPPower5);
  NC_F(YLPPower6);
  NC_F(YLPPower7);
  NC_F(YLPPower8);
  NC_F(YLPPowerDelay1);
  NC_F(YLPPowerDelay2);
  NC_F(YLPLock);
  NC_F(YLPAlarm16);
  NC_F(YLPAlarm21);
}

void Describe(TSchema& S, const std::string& P, TIPGLaserParams& R) {
  S.Tables.insert(P);
  AddEnum(S, P + ".IPGType", R.IPGType, IPGTypeNames());
  Describe(S, P + ".YLR", R.YLR);
  Describe(S, P + ".YLS", R.YLS);
  Describe(S, P + ".YLP", R.YLP);
  NC_F(PulseModel);
  NC_F(QCWPWMDelay);
  NC_F(PowerCtrl);
  NC_F(PowerCtrlPort);
  NC_F(Model);
  NC_F(MaxCurrent);
}

void Describe(TSchema& S, const std::string& P, TLaserQcwParams& R) {
  S.Tables.insert(P);
  NC_F(PulseFreq);
  NC_F(PulseRatio);
  NC_F(PulsePower);
}

void Describe(TSchema& S, const std::string& P, TRaycusLaserParams& R) {
  S.Tables.insert(P);
  Describe(S, P + ".Comm", R.Comm);
  Describe(S, P + ".ConnCheck", R.ConnCheck);
  Describe(S, P + ".QCW", R.QCW);
  AddEnum(S, P + ".RayType", R.RayType, RayTypeNames());
  NC_F(PulseModel);
  NC_F(DebugMode);
}

void Describe(TSchema& S, const std::string& P, TLaserCommParam& R) {
  S.Tables.insert(P);
  Describe(S, P + ".Comm", R.Comm);
}

void Describe(TSchema& S, const std::string& P, TSPILaserParam& R) {
  S.Tables.insert(P);
  Describe(S, P + ".Comm", R.Comm);
  NC_F(Model);
}

void Describe(TSchema& S, const std::string& P, TGSILaserParam& R) {
  S.Tables.insert(P);
  Describe(S, P + ".Comm", R.Comm);
  NC_F(Address);
}

void Describe(TSchema& S, const std::string& P, TRofinLaserParam& R) {
  S.Tables.insert(P);
  NC_F(FaultReset);
  NC_F(GatePort);
  NC_F(LaserOn);
  NC_F(MainsOn);
  NC_F(StandbyOn);
  NC_F(StandbyReady);
  NC_F(SystemReady);
  NC_F(DelayAfterMainsOn);
  NC_F(DelayAfterReset);
  NC_F(DelayAfterResetOff);
  NC_F(DelayAfterStandby);
  NC_F(Warning);
  NC_F(Error);
}

void Describe(TSchema& S, const std::string& P, TCO2LaserParam& R) {
  S.Tables.insert(P);
  NC_F(DynamicDA);
  NC_F(LaserMode);
  NC_F(ModeSelect0);
  NC_F(ModeSelect1);
  NC_F(ShutterPort);
  NC_F(ShutterStatus);
  NC_F(ShutterDelay);
}

void Describe(TSchema& S, const std::string& P, TMeimanLaserParam& R) {
  S.Tables.insert(P);
  NC_F(FreqDAPort);
  NC_F(RatioDAPort);
}

void Describe(TSchema& S, const std::string& P, TOtherLaserParam& R) {
  S.Tables.insert(P);
  NC_F(ShutterReadyDelay);
  NC_F(ShutterReady);
}

#undef NC_F

// The selected member only: the others share its storage.
void DescribeMember(TSchema& S, TLaserParams& R) {
  switch (R.LaserType) {
  case eltNone:
    S.Tables.insert("CfgNone");
    break;
  case eltCO2:
    Describe(S, "CfgCO2", R.CfgCO2);
    break;
  case eltDA:
    Describe(S, "CfgDA", R.CfgDA);
    break;
  case eltIPG:
    Describe(S, "CfgIPG", R.CfgIPG);
    break;
  case eltRay:
    Describe(S, "CfgRay", R.CfgRay);
    break;
  case eltGSI:
    Describe(S, "CfgGSI", R.CfgGSI);
    break;
  case eltMaxSZ:
    Describe(S, "CfgMaxSZ", R.CfgMaxSZ);
    break;
  case eltMeiMan:
    Describe(S, "CfgMeiMan", R.CfgMeiMan);
    break;
  case eltQingHua:
    Describe(S, "CfgQingHua", R.CfgQingHua);
    break;
  case eltSPI:
    Describe(S, "CfgSPI", R.CfgSPI);
    break;
  case eltRofin:
    Describe(S, "CfgRofin", R.CfgRofin);
    break;
  case eltCAS:
    Describe(S, "CfgCAS", R.CfgCAS);
    break;
  case eltMars:
    Describe(S, "CfgMars", R.CfgMars);
    break;
  case CfgNLight:
    Describe(S, "CfgNLight", R.CfgNLight);
    break;
  case CfgOther:
    Describe(S, "CfgOther", R.CfgOther);
    break;
  default: // eltQYZ has no member
    break;
  }
}

bool IsMemberName(std::string_view Key) {
  for (const auto& N : LaserTypeNames()) {
    const auto T = ParseLaserType(N);
    if (T && !MemberOf(*T).empty() && MemberOf(*T) == Key) {
      return true;
    }
  }
  return false;
}

class TLoader {
public:
  TLoader(std::string File) : FFile(std::move(File)) {}

  TConfig Load(std::string_view Text);

private:
  void Walk(const toml::table& T, const std::string& Prefix);
  void Fail(int Line, std::string Key, std::string Reason) {
    FProblems.push_back({Line, std::move(Key), std::move(Reason)});
  }
  void LoadHost(const toml::node& N, THostConfig& H);
  std::optional<std::vector<int>> PortList(const toml::node& N, const std::string& Key);
  [[noreturn]] void Throw(const TProblem& P) { throw EConfigError(FFile, P.Line, P.Key, P.Reason); }
  // Throws the first problem in file order, if there is one.
  void Check() {
    if (FProblems.empty()) {
      return;
    }
    const auto It =
        std::min_element(FProblems.begin(), FProblems.end(),
                         [](const TProblem& A, const TProblem& B) { return A.Line < B.Line; });
    Throw(*It);
  }

  std::string FFile;
  TSchema FSchema;
  TEnumLaserType FType = eltNone;
  std::vector<TProblem> FProblems;
};

void TLoader::Walk(const toml::table& T, const std::string& Prefix) {
  for (const auto& [K, V] : T) {
    const std::string Key =
        Prefix.empty() ? std::string(K.str()) : Prefix + "." + std::string(K.str());
    const int Line = static_cast<int>(K.source().begin.line);
    if (Prefix.empty()) {
      if (Key == "LaserType" || Key == "Class" || Key == "Host") {
        continue; // read before the walk
      }
      if (IsMemberName(Key) && FSchema.Tables.count(Key) == 0) {
        Fail(Line, Key,
             "member " + Key + " does not belong to LaserType " +
                 std::string(LaserTypeName(FType)) +
                 (MemberOf(FType).empty() ? std::string(" (which has no member)")
                                          : " (it selects " + std::string(MemberOf(FType)) + ")"));
        continue;
      }
    }
    if (FSchema.Tables.count(Key) != 0) {
      if (const auto* Sub = V.as_table()) {
        Walk(*Sub, Key);
      } else {
        Fail(Line, Key, Expected("a table", V));
      }
      continue;
    }
    const auto F = FSchema.Fields.find(Key);
    if (F == FSchema.Fields.end()) {
      Fail(Line, Key, "unknown key");
      continue;
    }
    if (auto Err = F->second(V)) {
      Fail(Line, Key, *Err);
    }
  }
}

std::optional<std::vector<int>> TLoader::PortList(const toml::node& N, const std::string& Key) {
  const auto* A = N.as_array();
  if (A == nullptr) {
    Fail(LineOf(N), Key, Expected("an array of port numbers", N));
    return std::nullopt;
  }
  std::vector<int> Out;
  for (const auto& E : *A) {
    if (!E.is_integer()) {
      Fail(LineOf(E), Key, Expected("port numbers (integers 0 to 255)", E));
      return std::nullopt;
    }
    const auto V = E.as_integer()->get();
    if (V < 0 || V > 255) {
      Fail(LineOf(E), Key, "port " + std::to_string(V) + " is out of range (0 to 255)");
      return std::nullopt;
    }
    Out.push_back(static_cast<int>(V));
  }
  return Out;
}

void TLoader::LoadHost(const toml::node& N, THostConfig& H) {
  const auto* T = N.as_table();
  if (T == nullptr) {
    Fail(LineOf(N), "Host", Expected("a table", N));
    return;
  }
  for (const auto& [K, V] : *T) {
    const std::string Key = "Host." + std::string(K.str());
    const int Line = static_cast<int>(K.source().begin.line);
    if (K.str() == "PwmPort") {
      if (!V.is_boolean()) {
        Fail(Line, Key, Expected("a boolean (true or false)", V));
      } else {
        H.PwmPort = V.as_boolean()->get();
      }
    } else if (K.str() == "PingProbePort") {
      const auto P = V.value<std::int64_t>();
      if (!V.is_integer() || !P || *P < 1 || *P > 65535) {
        Fail(Line, Key, Expected("a TCP port number (1 to 65535)", V));
      } else {
        H.PingProbePort = static_cast<int>(*P);
      }
    } else if (K.str() == "RealTime") {
      H.RealTimeGiven = true;
      const std::string Wanted = "\"auto\", \"off\" or a priority from 1 to 99";
      if (V.is_string()) {
        const std::string& Text = V.as_string()->get();
        if (Text == "auto" || Text == "off") {
          H.RealTime.Mode =
              Text == "auto" ? hostkit::TRealTimeMode::Auto : hostkit::TRealTimeMode::Off;
        } else {
          Fail(Line, Key, "expected " + Wanted + ", got \"" + Text + "\"");
        }
      } else if (V.is_integer()) {
        const auto P = V.as_integer()->get();
        if (P < 1 || P > 99) {
          Fail(Line, Key, "priority " + std::to_string(P) + " is out of range (1 to 99)");
        } else {
          H.RealTime.Mode = hostkit::TRealTimeMode::Fixed;
          H.RealTime.Priority = static_cast<int>(P);
        }
      } else {
        Fail(Line, Key, "expected " + Wanted + ", got " + TypeName(V));
      }
    } else if (K.str() == "LockMemory") {
      if (!V.is_boolean()) {
        Fail(Line, Key, Expected("a boolean (true or false)", V));
      } else {
        H.RealTime.LockMemory = V.as_boolean()->get();
      }
    } else if (K.str() == "Outputs") {
      H.Outputs = PortList(V, Key);
    } else if (K.str() == "Inputs") {
      H.Inputs = PortList(V, Key);
    } else if (K.str() == "SerialPorts") {
      const auto* S = V.as_table();
      if (S == nullptr) {
        Fail(Line, Key, Expected("a table of port number = device", V));
        continue;
      }
      for (const auto& [PK, PV] : *S) {
        const std::string PKey = Key + "." + std::string(PK.str());
        const int PLine = static_cast<int>(PK.source().begin.line);
        int Port = 0;
        const auto Str = PK.str();
        const auto [Ptr, Ec] = std::from_chars(Str.data(), Str.data() + Str.size(), Port);
        if (Ec != std::errc() || Ptr != Str.data() + Str.size() || Port < 1) {
          Fail(PLine, PKey, "a serial port number (1 or more) is expected as the key");
        } else if (!PV.is_string()) {
          Fail(PLine, PKey, Expected("a device path string", PV));
        } else {
          H.SerialPorts[Port] = PV.as_string()->get();
        }
      }
    } else {
      Fail(Line, Key, "unknown key");
    }
  }
}

TConfig TLoader::Load(std::string_view Text) {
  toml::table Root;
  try {
    Root = toml::parse(Text, FFile);
  } catch (const toml::parse_error& E) {
    throw EConfigError(FFile, static_cast<int>(E.source().begin.line), "",
                       std::string(E.description()));
  }

  TConfig C;
  C.File = FFile;

  // Class and LaserType come first: they decide the defaults and the keys that exist.
  const TClassRow* Row = nullptr;
  if (const auto* N = Root.get("Class")) {
    if (!N->is_string()) {
      Throw({LineOf(*N), "Class", Expected("a string naming a laser class", *N)});
    }
    const std::string Name = N->as_string()->get();
    Row = FindClassRow(Name);
    if (Row == nullptr) {
      Throw({LineOf(*N), "Class",
             "unknown laser class \"" + Name + "\" (nclaser classes lists them)"});
    }
    C.ClassName = Name;
    C.ClassFromFile = true;
  }
  std::optional<TEnumLaserType> Type;
  int TypeLine = 0;
  if (const auto* N = Root.get("LaserType")) {
    TypeLine = LineOf(*N);
    if (!N->is_string()) {
      Throw({TypeLine, "LaserType", Expected("a string naming the value", *N)});
    }
    Type = ParseLaserType(N->as_string()->get());
    if (!Type) {
      std::string All;
      for (const auto& Nm : LaserTypeNames()) {
        All += (All.empty() ? "" : ", ") + std::string(Nm);
      }
      Throw({TypeLine, "LaserType",
             "unknown value \"" + N->as_string()->get() + "\" (one of " + All + ")"});
    }
  }
  if (Row != nullptr && !ReadsDefParamsOnly(*Row)) {
    if (Type && *Type != Row->LaserType) {
      Throw({TypeLine, "LaserType",
             std::string(LaserTypeName(*Type)) + " does not select " + Row->Reads + ", which " +
                 Row->Name + " reads (use " + std::string(LaserTypeName(Row->LaserType)) +
                 " or leave LaserType out)"});
    }
    Type = Row->LaserType;
  }
  if (!Type && Row == nullptr) {
    Throw({0, "LaserType", "missing: name the LaserType or the Class"});
  }
  FType = Type.value_or(eltNone);

  InitializeDefaults(C.Params, FType);
  FSchema = TSchema{};
  Describe(FSchema, "DefParams", C.Params.DefParams);
  DescribeMember(FSchema, C.Params);
  Walk(Root, "");
  if (const auto* H = Root.get("Host")) {
    LoadHost(*H, C.Host);
  }
  Check();

  if (Row == nullptr) {
    std::string Why;
    auto Name = DefaultClass(C.Params, &Why);
    if (!Name) {
      const bool SubType = FType == eltIPG;
      int Line = TypeLine;
      if (SubType) {
        if (const auto* N = Root.at_path("CfgIPG.IPGType").node()) {
          Line = LineOf(*N);
        }
      }
      Throw({Line, SubType ? "CfgIPG.IPGType" : "LaserType", Why});
    }
    C.ClassName = *Name;
  }
  return C;
}

} // namespace

void InitializeDefaults(TLaserParams& Params, TEnumLaserType LaserType) {
  InitializeHostDefaults(Params, LaserType);
}

TConfig LoadConfigText(std::string_view Text, const std::string& Name) {
  return TLoader(Name).Load(Text);
}

TConfig LoadConfigFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    throw EConfigError(Path, 0, "", "cannot read the file");
  }
  std::ostringstream S;
  S << In.rdbuf();
  return LoadConfigText(S.str(), Path);
}

std::vector<std::pair<int, std::string>> MissingSerialDevices(const THostConfig& Config) {
  std::vector<std::pair<int, std::string>> Missing;
  for (const auto& [Port, Device] : Config.SerialPorts) {
    std::error_code Ec;
    if (!std::filesystem::exists(Device, Ec)) {
      Missing.emplace_back(Port, Device);
    }
  }
  return Missing;
}

std::unique_ptr<hostkit::THost> MakeHost(const THostConfig& Config) {
  hostkit::THostOptions O;
  O.PwmPort = Config.PwmPort;
  O.PingProbePort = Config.PingProbePort;
  auto H = std::make_unique<hostkit::THost>(O);
  H->SetRealTime(Config.RealTime);
  if (Config.Outputs) {
    H->IO.SetOutputsExist(*Config.Outputs);
  }
  if (Config.Inputs) {
    H->IO.SetInputsExist(*Config.Inputs);
  }
  for (const auto& [Port, Device] : Config.SerialPorts) {
    H->SerialPorts->Set(Port, Device);
  }
  return H;
}

} // namespace nclaser::cli
