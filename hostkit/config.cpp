#include "hostkit/config.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "hostkit/host.h"
#include "lasers/factory.h"
#include "params/schema.h"
#include "params/textbuf.h"

namespace nclaser::hostkit {

EConfigError::EConfigError(std::string File, int Line, std::string Key, std::string Reason)
    : std::runtime_error(File + (Line > 0 ? ":" + std::to_string(Line) : std::string()) + ": " +
                         (Key.empty() ? std::string() : Key + ": ") + Reason),
      FFile(std::move(File)), FLine(Line), FKey(std::move(Key)), FReason(std::move(Reason)) {}

namespace {

struct TProblem {
  int Line;
  std::string Key;
  std::string Reason;
};
using TFail = std::function<void(int Line, std::string Key, std::string Reason)>;

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

// --- A value into a field, by the field's type in the schema. ---

std::string RangeText(const TFieldInfo& F) {
  if (F.Signed) {
    return "a " + std::to_string(F.Bits) + "-bit signed integer";
  }
  return (F.Bits == 8 ? std::string("a byte") : "an unsigned integer") + ", 0 to " +
         std::to_string(F.Max());
}

template <class T> void Put(void* Field, std::int64_t V) {
  *static_cast<T*>(Field) = static_cast<T>(V);
}

void PutInteger(const TFieldInfo& F, void* Field, std::int64_t V) {
  switch (F.Bits) {
  case 8:
    return F.Signed ? Put<std::int8_t>(Field, V) : Put<std::uint8_t>(Field, V);
  case 16:
    return F.Signed ? Put<std::int16_t>(Field, V) : Put<std::uint16_t>(Field, V);
  case 32:
    return F.Signed ? Put<std::int32_t>(Field, V) : Put<std::uint32_t>(Field, V);
  default:
    return Put<std::int64_t>(Field, V);
  }
}

std::optional<std::string> ReadShortText(const TFieldInfo& F, void* Field, const std::string& S) {
  std::u16string U;
  if (!Utf8ToUtf16(S, U)) {
    return "text is not valid UTF-8";
  }
  if (U.size() > F.Size - 1) {
    return "text is longer than " + std::to_string(F.Size - 1) + " characters";
  }
  std::vector<std::uint8_t> Buf(F.Size, 0);
  Buf[0] = static_cast<std::uint8_t>(U.size());
  for (std::size_t I = 0; I < U.size(); ++I) {
    if (U[I] > 0xFF) {
      return "text holds a character beyond U+00FF (8-bit characters only)";
    }
    Buf[I + 1] = static_cast<std::uint8_t>(U[I]);
  }
  std::memcpy(Field, Buf.data(), Buf.size());
  return std::nullopt;
}

std::optional<std::string> ReadValue(const TFieldInfo& F, void* Field, const toml::node& N) {
  switch (F.Type) {
  case TFieldType::Bool:
    if (!N.is_boolean()) {
      return Expected("a boolean (true or false)", N);
    }
    *static_cast<bool*>(Field) = N.as_boolean()->get();
    return std::nullopt;
  case TFieldType::Integer: {
    if (!N.is_integer()) {
      return Expected("an integer", N);
    }
    const std::int64_t V = N.as_integer()->get();
    if (V < F.Min() || V > F.Max()) {
      return "value " + std::to_string(V) + " is out of range (" + RangeText(F) + ")";
    }
    PutInteger(F, Field, V);
    return std::nullopt;
  }
  case TFieldType::Enum: {
    if (!N.is_string()) {
      return Expected("a string naming the value", N);
    }
    const std::string& V = N.as_string()->get();
    const auto I = F.Enum->Find(V);
    if (!I) {
      return "unknown value \"" + V + "\" (one of " + F.Enum->List() + ")";
    }
    *static_cast<std::uint8_t*>(Field) = static_cast<std::uint8_t>(*I); // one-byte enumerations
    return std::nullopt;
  }
  case TFieldType::Double:
    if (N.is_floating_point()) {
      const double V = N.as_floating_point()->get();
      if (!std::isfinite(V)) {
        return "value " +
               std::string(std::isnan(V) ? "nan"
                           : V > 0       ? "inf"
                                         : "-inf") +
               " is out of range (a finite number)";
      }
      *static_cast<double*>(Field) = V;
    } else if (N.is_integer()) {
      *static_cast<double*>(Field) = static_cast<double>(N.as_integer()->get());
    } else {
      return Expected("a number", N);
    }
    return std::nullopt;
  default:
    break;
  }
  if (!N.is_string()) {
    return Expected("a string", N);
  }
  const std::string& S = N.as_string()->get();
  if (F.Type == TFieldType::String) {
    *static_cast<std::string*>(Field) = S;
  } else if (F.Type == TFieldType::ShortText) {
    return ReadShortText(F, Field, S);
  } else if (!Utf8ToTextBuf(S, static_cast<char16_t*>(Field), F.Size)) {
    return "text is longer than " + std::to_string(F.Size - 1) + " UTF-16 code units";
  }
  return std::nullopt;
}

// --- The keys a file may hold: dotted names, each with its reader. ---

using TRead = std::function<void(const toml::node& V, int Line, const std::string& Key)>;

struct TKeys {
  std::map<std::string, TRead, std::less<>> Fields;
  std::set<std::string, std::less<>> Tables;
};

// The host's own keys: those of a type the records know are read like them; the others
// bring their reader.
using TOtherRead = void (*)(const TFail& Fail, const toml::node& V, int Line,
                            const std::string& Key, THostConfig& H);

std::optional<std::vector<int>> PortList(const TFail& Fail, const toml::node& N,
                                         const std::string& Key) {
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

void ReadPingProbePort(const TFail& Fail, const toml::node& V, int Line, const std::string& Key,
                       THostConfig& H) {
  const auto P = V.value<std::int64_t>();
  if (!V.is_integer() || !P || *P < 1 || *P > 65535) {
    Fail(Line, Key, Expected("a TCP port number (1 to 65535)", V));
  } else {
    H.PingProbePort = static_cast<int>(*P);
  }
}

void ReadRealTime(const TFail& Fail, const toml::node& V, int Line, const std::string& Key,
                  THostConfig& H) {
  H.RealTimeGiven = true;
  const std::string Wanted = "\"auto\", \"off\" or a priority from 1 to 99";
  if (V.is_string()) {
    const std::string& Text = V.as_string()->get();
    if (Text == "auto" || Text == "off") {
      H.RealTime.Mode = Text == "auto" ? TRealTimeMode::Auto : TRealTimeMode::Off;
    } else {
      Fail(Line, Key, "expected " + Wanted + ", got \"" + Text + "\"");
    }
  } else if (V.is_integer()) {
    const auto P = V.as_integer()->get();
    if (P < 1 || P > 99) {
      Fail(Line, Key, "priority " + std::to_string(P) + " is out of range (1 to 99)");
    } else {
      H.RealTime.Mode = TRealTimeMode::Fixed;
      H.RealTime.Priority = static_cast<int>(P);
    }
  } else {
    Fail(Line, Key, "expected " + Wanted + ", got " + TypeName(V));
  }
}

void ReadOutputs(const TFail& Fail, const toml::node& V, int, const std::string& Key,
                 THostConfig& H) {
  H.Outputs = PortList(Fail, V, Key);
}

void ReadInputs(const TFail& Fail, const toml::node& V, int, const std::string& Key,
                THostConfig& H) {
  H.Inputs = PortList(Fail, V, Key);
}

void ReadSerialPorts(const TFail& Fail, const toml::node& V, int Line, const std::string& Key,
                     THostConfig& H) {
  const auto* S = V.as_table();
  if (S == nullptr) {
    Fail(Line, Key, Expected("a table of port number = device", V));
    return;
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
}

template <auto M> void* HostAt(void* H) {
  return &(static_cast<THostConfig*>(H)->*M);
}

void* LockMemoryAt(void* H) {
  return &static_cast<THostConfig*>(H)->RealTime.LockMemory;
}

struct THostKey {
  TFieldInfo Field;
  TOtherRead Read;     // for TFieldType::Other
  const char* Type;    // for TFieldType::Other: what the key takes, for the reference
  const char* Default; // for TFieldType::Other
};

constexpr TFieldInfo HostField(std::string_view Name, TFieldType Type,
                               void* (*Get)(void*) = nullptr) {
  return {Name, Get, nullptr, nullptr, 0, 0, Type, false};
}

constexpr TFieldInfo Other(std::string_view Name) {
  return HostField(Name, TFieldType::Other);
}

const THostKey KHostKeys[] = {
    {HostField("PwmPort", TFieldType::Bool, &HostAt<&THostConfig::PwmPort>), nullptr, "", ""},
    {Other("PingProbePort"), &ReadPingProbePort, "integer, 0 to 65535 (0: the laser's own port)",
     "0"},
    {Other("RealTime"), &ReadRealTime, "\"auto\", \"off\" or a SCHED_FIFO priority, 1 to 99",
     "\"auto\""},
    {HostField("LockMemory", TFieldType::Bool, &LockMemoryAt), nullptr, "", ""},
    {Other("Outputs"), &ReadOutputs, "array of port numbers, 0 to 255", "every port"},
    {Other("Inputs"), &ReadInputs, "array of port numbers, 0 to 255", "every port"},
    {Other("SerialPorts"), &ReadSerialPorts, "table: serial port number = device path", "none"},
};

class TLoader {
public:
  explicit TLoader(std::string File) : FFile(std::move(File)) {}

  TConfig Load(std::string_view Text);

private:
  void Fail(int Line, std::string Key, std::string Reason) {
    FProblems.push_back({Line, std::move(Key), std::move(Reason)});
  }
  void AddRecord(const std::string& Prefix, const TRecordInfo& R, void* Record);
  void AddHost(THostConfig& H);
  void Walk(const toml::table& T, const std::string& Prefix);
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
  TKeys FKeys;
  TEnumLaserType FType = eltNone;
  std::vector<TProblem> FProblems;
  TFail FFail = [this](int Line, std::string Key, std::string Reason) {
    Fail(Line, std::move(Key), std::move(Reason));
  };
};

void TLoader::AddRecord(const std::string& Prefix, const TRecordInfo& R, void* Record) {
  FKeys.Tables.insert(Prefix);
  for (const TFieldInfo& F : R.Fields) {
    const std::string Key = Prefix + "." + std::string(F.Name);
    void* Field = F.Get(Record);
    if (F.Type == TFieldType::Record) {
      AddRecord(Key, *F.Record, Field);
      continue;
    }
    FKeys.Fields[Key] = [this, &F, Field](const toml::node& V, int Line, const std::string& K) {
      if (auto Err = ReadValue(F, Field, V)) {
        Fail(Line, K, *Err);
      }
    };
  }
}

void TLoader::AddHost(THostConfig& H) {
  FKeys.Tables.insert("Host");
  for (const THostKey& HK : KHostKeys) {
    const std::string Key = "Host." + std::string(HK.Field.Name);
    if (HK.Read != nullptr) {
      FKeys.Fields[Key] = [this, &HK, &H](const toml::node& V, int Line, const std::string& K) {
        HK.Read(FFail, V, Line, K, H);
      };
    } else {
      FKeys.Fields[Key] = [this, &HK, &H](const toml::node& V, int Line, const std::string& K) {
        if (auto Err = ReadValue(HK.Field, HK.Field.Get(&H), V)) {
          Fail(Line, K, *Err);
        }
      };
    }
  }
}

void TLoader::Walk(const toml::table& T, const std::string& Prefix) {
  for (const auto& [K, V] : T) {
    const std::string Key =
        Prefix.empty() ? std::string(K.str()) : Prefix + "." + std::string(K.str());
    const int Line = static_cast<int>(K.source().begin.line);
    if (Prefix.empty()) {
      if (Key == "LaserType" || Key == "Class") {
        continue; // read before the walk
      }
      if (FindMember(Key) != nullptr && FKeys.Tables.count(Key) == 0) {
        const TMemberInfo* M = MemberOf(FType);
        Fail(Line, Key,
             "member " + Key + " does not belong to LaserType " +
                 std::string(LaserTypeName(FType)) +
                 (M == nullptr ? std::string(" (which has no member)")
                               : " (it selects " + std::string(M->Name) + ")"));
        continue;
      }
    }
    const auto F = FKeys.Fields.find(Key);
    if (F != FKeys.Fields.end()) {
      F->second(V, Line, Key);
    } else if (FKeys.Tables.count(Key) == 0) {
      Fail(Line, Key, "unknown key");
    } else if (const auto* Sub = V.as_table()) {
      Walk(*Sub, Key);
    } else {
      Fail(Line, Key, Expected("a table", V));
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
  const TLaserClassInfo* Class = nullptr;
  if (const auto* N = Root.get("Class")) {
    if (!N->is_string()) {
      Throw({LineOf(*N), "Class", Expected("a string naming a laser class", *N)});
    }
    const std::string Name = N->as_string()->get();
    Class = FindLaserClass(Name);
    if (Class == nullptr) {
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
      Throw({TypeLine, "LaserType",
             "unknown value \"" + N->as_string()->get() + "\" (one of " + LaserTypeEnum().List() +
                 ")"});
    }
  }
  if (Class != nullptr && !Class->ReadsDefParamsOnly()) {
    if (Type && *Type != Class->LaserType) {
      Throw({TypeLine, "LaserType",
             std::string(LaserTypeName(*Type)) + " does not select " + Class->ConfigMember() +
                 ", which " + Class->Name + " reads (use " +
                 std::string(LaserTypeName(Class->LaserType)) + " or leave LaserType out)"});
    }
    Type = Class->LaserType;
  }
  if (!Type && Class == nullptr) {
    Throw({0, "LaserType", "missing: name the LaserType or the Class"});
  }
  FType = Type.value_or(eltNone);

  InitializeHostDefaults(C.Params, FType);
  for (const TFieldInfo& F : LaserParamsInfo().Fields) {
    if (F.Type == TFieldType::Record) {
      AddRecord(std::string(F.Name), *F.Record, F.Get(&C.Params));
    }
  }
  if (const TMemberInfo* M = MemberOf(FType)) {
    AddRecord(M->Name, *M->Record, M->Get(C.Params));
  }
  AddHost(C.Host);
  Walk(Root, "");
  Check();

  if (Class == nullptr) {
    std::string Why;
    auto Name = DefaultClass(C.Params, &Why);
    if (!Name) {
      // The IPG classes read IPGType themselves: a missing one is that key's problem. The
      // Raycus classes leave RayType to the host, so there LaserType is.
      const TMemberInfo* M = MemberOf(FType);
      std::string Key = "LaserType";
      int Line = TypeLine;
      if (FType == eltIPG && M != nullptr && M->SubType != nullptr) {
        Key = std::string(M->Name) + "." + std::string(M->SubType->Name);
        if (const auto* N = Root.at_path(Key).node()) {
          Line = LineOf(*N);
        }
      }
      Throw({Line, Key, Why});
    }
    C.ClassName = *Name;
  }
  return C;
}

} // namespace

std::optional<std::string> DefaultClass(const TLaserParams& Params, std::string* Why) {
  if (const TLaserClassInfo* C = DefaultLaserClass(Params)) {
    return C->Name;
  }
  if (Why != nullptr) {
    if (const auto V = SubTypeValue(Params)) {
      const TMemberInfo* M = MemberOf(Params.LaserType);
      const std::string Key = std::string(M->Name) + "." + std::string(M->SubType->Name);
      *Why = Key + " " + std::string(M->SubType->Enum->Name(*V)) + " selects no class; set " + Key +
             " or Class";
    } else {
      *Why = "LaserType " + std::string(LaserTypeName(Params.LaserType)) +
             " has no laser class of its own; name one with Class";
    }
  }
  return std::nullopt;
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

namespace {

// --- The reference page. ---

std::string TypeText(const TFieldInfo& F) {
  switch (F.Type) {
  case TFieldType::Bool:
    return "boolean";
  case TFieldType::Integer:
    return "integer, " + std::to_string(F.Min()) + " to " + std::to_string(F.Max());
  case TFieldType::Enum:
    return "one of " + F.Enum->List();
  case TFieldType::Double:
    return "number";
  case TFieldType::Text:
  case TFieldType::ShortText:
    return "text, at most " + std::to_string(F.Size - 1) + " characters";
  case TFieldType::String:
    return "text";
  default:
    return "";
  }
}

template <class T> std::int64_t Load(const void* Field) {
  T V{};
  std::memcpy(&V, Field, sizeof(V));
  return static_cast<std::int64_t>(V);
}

std::string ValueText(const TFieldInfo& F, void* Field) {
  switch (F.Type) {
  case TFieldType::Bool:
    return *static_cast<bool*>(Field) ? "true" : "false";
  case TFieldType::Integer: {
    const std::int64_t V = F.Signed ? (F.Bits == 8    ? Load<std::int8_t>(Field)
                                       : F.Bits == 16 ? Load<std::int16_t>(Field)
                                       : F.Bits == 32 ? Load<std::int32_t>(Field)
                                                      : Load<std::int64_t>(Field))
                                    : (F.Bits == 8    ? Load<std::uint8_t>(Field)
                                       : F.Bits == 16 ? Load<std::uint16_t>(Field)
                                                      : Load<std::uint32_t>(Field));
    return std::to_string(V);
  }
  case TFieldType::Enum:
    return std::string(F.Enum->Name(*static_cast<const std::uint8_t*>(Field)));
  case TFieldType::Double: {
    char Buf[64];
    const auto R = std::to_chars(Buf, Buf + sizeof(Buf), *static_cast<const double*>(Field));
    return std::string(Buf, R.ptr);
  }
  case TFieldType::Text:
    return "\"" + TextBufToUtf8(static_cast<const char16_t*>(Field), F.Size) + "\"";
  case TFieldType::String:
    return "\"" + *static_cast<const std::string*>(Field) + "\"";
  case TFieldType::ShortText: {
    const auto* B = static_cast<const unsigned char*>(Field);
    return "\"" +
           std::string(reinterpret_cast<const char*>(B + 1),
                       std::min<std::size_t>(B[0], F.Size - 1)) +
           "\"";
  }
  default:
    return "";
  }
}

void RecordRows(std::string& Out, const std::string& Prefix, const TRecordInfo& R, void* Record) {
  for (const TFieldInfo& F : R.Fields) {
    const std::string Key = Prefix + "." + std::string(F.Name);
    if (F.Type == TFieldType::Record) {
      RecordRows(Out, Key, *F.Record, F.Get(Record));
    } else {
      Out += "| `" + Key + "` | " + TypeText(F) + " | " + ValueText(F, F.Get(Record)) + " |\n";
    }
  }
}

const char* const KTableHead = "| key | type | default |\n|---|---|---|\n";

} // namespace

std::string ConfigReference() {
  std::string Out =
      "# Configuration keys\n\n"
      "Every key of a configuration file, its type and the default the host gives it before\n"
      "the file is applied. Generated by `nclaser classes --reference`; do not edit.\n\n"
      "## Top level\n\n";
  Out += KTableHead;
  Out += "| `Class` | text: a laser class (`nclaser classes`) | the default class of "
         "`LaserType` and its sub-type |\n";
  Out += "| `LaserType` | one of " + LaserTypeEnum().List() +
         " | the `LaserType` of `Class`, else eltNone |\n";
  TLaserParams P;
  InitializeHostDefaults(P, eltNone);
  const auto Classes = LaserClasses();
  std::string Only;
  for (const auto& C : Classes) {
    if (C.ReadsDefParamsOnly()) {
      Only += std::string(Only.empty() ? "" : ", ") + C.Name;
    }
  }
  Out += "\n## DefParams (every class; all that " + Only + " read)\n\n";
  Out += KTableHead;
  for (const TFieldInfo& F : LaserParamsInfo().Fields) {
    if (F.Type == TFieldType::Record) {
      RecordRows(Out, std::string(F.Name), *F.Record, F.Get(&P));
    }
  }
  for (const TMemberInfo& M : Members()) {
    if (M.Record->Fields.empty()) {
      continue;
    }
    std::string Readers;
    for (const auto& C : Classes) {
      if (C.ConfigMember() == M.Name) {
        Readers += std::string(Readers.empty() ? "" : ", ") + C.Name;
      }
    }
    Out += "\n## " + std::string(M.Name) + " (LaserType " +
           std::string(LaserTypeName(M.LaserType)) +
           (Readers.empty() ? std::string("; read by no class") : "; read by " + Readers) + ")\n\n";
    Out += KTableHead;
    InitializeHostDefaults(P, M.LaserType);
    RecordRows(Out, M.Name, *M.Record, M.Get(P));
  }
  Out += "\n## Host (the stand-in host, not part of the laser's record)\n\n";
  Out += KTableHead;
  THostConfig H;
  for (const THostKey& HK : KHostKeys) {
    const std::string Key = "Host." + std::string(HK.Field.Name);
    Out += "| `" + Key + "` | " + (HK.Read != nullptr ? std::string(HK.Type) : TypeText(HK.Field)) +
           " | " +
           (HK.Read != nullptr ? std::string(HK.Default) : ValueText(HK.Field, HK.Field.Get(&H))) +
           " |\n";
  }
  return Out;
}

std::unique_ptr<THost> MakeHost(const THostConfig& Config) {
  THostOptions O;
  O.PwmPort = Config.PwmPort;
  O.PingProbePort = Config.PingProbePort;
  auto H = std::make_unique<THost>(O);
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

} // namespace nclaser::hostkit
