#include "apps/nclaser/script.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>

#include "hostkit/host.h"
#include "lasers/laser.h"

namespace nclaser::cli {

std::vector<TOpText> SplitScript(std::string_view Text) {
  std::vector<TOpText> Ops;
  int Line = 1;
  std::vector<std::string> Words;
  std::string Word;
  bool Comment = false;
  auto EndWord = [&] {
    if (!Word.empty()) {
      Words.push_back(std::move(Word));
      Word.clear();
    }
  };
  auto EndOp = [&] {
    EndWord();
    if (!Words.empty()) {
      Ops.push_back({std::move(Words), Line});
      Words.clear();
    }
  };
  for (const char C : Text) {
    if (C == '\n') {
      EndOp();
      Comment = false;
      ++Line;
    } else if (Comment) {
      continue;
    } else if (C == '#') {
      Comment = true;
    } else if (C == ';') {
      EndOp();
    } else if (C == ' ' || C == '\t' || C == '\r') {
      EndWord();
    } else {
      Word += C;
    }
  }
  EndOp();
  return Ops;
}

bool SwitchesOn(const TOpText& Op) {
  if (Op.Words.empty()) {
    return false;
  }
  const std::string& N = Op.Words[0];
  if (N == "ExecuteCmd") {
    const std::string Cmd = Op.Words.size() > 1 ? Op.Words[1] : std::string();
    return Cmd != "0" && Cmd != "2" && Cmd != "3" && Cmd != "4";
  }
  return N == "LaserOn" || N == "LaserOnPrepare" || N == "EmissionOn" || N == "PowerOn" ||
         N == "ExecCmd";
}

std::string FormatNumber(double Value) {
  char Buf[64];
  const auto R = std::to_chars(Buf, Buf + sizeof(Buf), Value);
  std::string S(Buf, R.ptr);
  if (std::isfinite(Value) && S.find_first_of(".e") == std::string::npos) {
    S += ".0";
  }
  return S;
}

namespace {

enum class TArg { Bool, Number, Integer, Name, Level };

struct TOpDef {
  std::vector<TArg> Args;
  std::size_t Required; // the leading arguments that must be given
  std::function<void(TScriptRunner&, TNcLaser&, hostkit::THost&,
                     const std::function<void(const std::string&)>&, const std::atomic<bool>*,
                     const std::vector<double>&, const std::vector<std::string>&)>
      Act;
};

const char* ArgName(TArg A) {
  switch (A) {
  case TArg::Bool:
    return "true or false";
  case TArg::Number:
    return "a decimal number";
  case TArg::Integer:
    return "an integer";
  case TArg::Name:
    return "a name";
  default:
    return "0 or 1";
  }
}

bool ParseNumber(const std::string& S, double& Out) {
  const char* B = S.data();
  const char* E = B + S.size();
  if (B != E && *B == '+') {
    ++B;
  }
  const auto R = std::from_chars(B, E, Out);
  return R.ec == std::errc() && R.ptr == E && std::isfinite(Out);
}

bool ParseInteger(const std::string& S, double& Out) {
  long long V = 0;
  const char* B = S.data();
  const char* E = B + S.size();
  if (B != E && *B == '+') {
    ++B;
  }
  const auto R = std::from_chars(B, E, V);
  if (R.ec != std::errc() || R.ptr != E || V < INT32_MIN || V > INT32_MAX) {
    return false;
  }
  Out = static_cast<double>(V);
  return true;
}

using TPrint = std::function<void(const std::string&)>;

#define NC_ACT                                                                                     \
  [](TScriptRunner&, [[maybe_unused]] TNcLaser & L, [[maybe_unused]] hostkit::THost & H,           \
     [[maybe_unused]] const TPrint& P, [[maybe_unused]] const std::atomic<bool>* Stop,             \
     [[maybe_unused]] const std::vector<double>& A,                                                \
     [[maybe_unused]] const std::vector<std::string>& W)

const std::map<std::string, TOpDef, std::less<>>& Ops() {
  static const std::map<std::string, TOpDef, std::less<>> M = [] {
    std::map<std::string, TOpDef, std::less<>> T;
    auto Plain = [&](const char* Name, void (TNcLaser::*Fn)()) {
      T[Name] = {{},
                 0,
                 [Fn](TScriptRunner&, TNcLaser& L, hostkit::THost&, const TPrint&,
                      const std::atomic<bool>*, const std::vector<double>&,
                      const std::vector<std::string>&) { (L.*Fn)(); }};
    };
    Plain("LaserOn", &TNcLaser::LaserOn);
    Plain("LaserOff", &TNcLaser::LaserOff);
    Plain("LaserOnPrepare", &TNcLaser::LaserOnPrepare);
    Plain("EmissionOn", &TNcLaser::EmissionOn);
    Plain("EmissionOff", &TNcLaser::EmissionOff);
    Plain("PowerOn", &TNcLaser::PowerOn);
    Plain("PowerOff", &TNcLaser::PowerOff);
    Plain("UpdateAlarms", &TNcLaser::UpdateAlarms);
    T["Stop"] = {{}, 0, NC_ACT{L.Stop(TNcStopReason::srUser);
  }
};
T["SetAimingOn"] = {{TArg::Bool}, 1, NC_ACT{L.SetAimingOn(A[0] != 0.0);
}
};
T["SetDiodeCurrent"] = {{TArg::Number}, 1, NC_ACT{L.SetDiodeCurrent(A[0]);
}
}
;
T["SetPwmFreq"] = {{TArg::Integer}, 1, NC_ACT{L.SetPwmFreq(static_cast<int>(A[0]));
}
}
;
T["SetPwmRatio"] = {{TArg::Number}, 1, NC_ACT{L.SetPwmRatio(A[0]);
}
}
;
T["SetLaserMode"] = {{TArg::Integer}, 1, NC_ACT{L.SetLaserMode(static_cast<int>(A[0]));
}
}
;
T["DynamicPower"] = {{TArg::Number}, 1, NC_ACT{L.DynamicPower(A[0]);
}
}
;
T["ExecuteCmd"] = {
    {TArg::Integer, TArg::Number}, 1,
    NC_ACT{const int R = L.ExecuteCmd(static_cast<int>(A[0]), A.size() > 1 ? A[1] : 0.0);
P("ExecuteCmd = " + std::to_string(R));
}
}
;
T["ExecCmd"] = {{TArg::Name}, 1, NC_ACT{TVariant V;
L.ExecCmd(W[0], V);
}
}
;
auto Bool = [&](const char* Name, bool (TNcLaser::*Fn)()) {
  T[Name] = {{},
             0,
             [Fn, Name](TScriptRunner&, TNcLaser& L, hostkit::THost&, const TPrint& P,
                        const std::atomic<bool>*, const std::vector<double>&,
                        const std::vector<std::string>&) {
               P(std::string(Name) + " = " + ((L.*Fn)() ? "true" : "false"));
             }};
};
Bool("GetIsLaserOn", &TNcLaser::GetIsLaserOn);
Bool("GetIsEmissionOn", &TNcLaser::GetIsEmissionOn);
Bool("GetIsAimingOn", &TNcLaser::GetIsAimingOn);
Bool("GetIsBusy", &TNcLaser::GetIsBusy);
T["GetDiodeCurrent"] = {{}, 0, NC_ACT{P("GetDiodeCurrent = " + FormatNumber(L.GetDiodeCurrent()));
}
}
;
T["GetPwmFreq"] = {{}, 0, NC_ACT{P("GetPwmFreq = " + std::to_string(L.GetPwmFreq()));
}
}
;
T["GetPwmRatio"] = {{}, 0, NC_ACT{P("GetPwmRatio = " + FormatNumber(L.GetPwmRatio()));
}
}
;
T["GetLaserMode"] = {{}, 0, NC_ACT{P("GetLaserMode = " + std::to_string(L.GetLaserMode()));
}
}
;
T["GetDeviceDesc"] = {{}, 0, NC_ACT{P("GetDeviceDesc = " + L.GetDeviceDesc());
}
}
;
T["GetAlarmDesc"] = {{}, 0, NC_ACT{P("GetAlarmDesc = " + L.GetAlarmDesc());
}
}
;
// Host actions.
T["wait"] = {{TArg::Integer}, 1,
             NC_ACT{const auto Until = std::chrono::steady_clock::now() +
                                       std::chrono::milliseconds(static_cast<long long>(A[0]));
while (std::chrono::steady_clock::now() < Until && (Stop == nullptr || !Stop->load())) {
  const auto Left = Until - std::chrono::steady_clock::now();
  std::this_thread::sleep_for(
      std::min<std::chrono::steady_clock::duration>(Left, std::chrono::milliseconds(10)));
}
}
}
;
T["SetInput"] = {{TArg::Integer, TArg::Level}, 2,
                 NC_ACT{H.IO.SetInput(static_cast<int>(A[0]), A[1] != 0.0);
}
}
;
T["alarms"] = {{}, 0, NC_ACT{const auto Active = H.Alarms.Active();
if (Active.empty()) {
  P("alarms: none");
}
for (const auto& V : Active) {
  P("alarm " + std::to_string(V.ID) + ": " + V.Desc);
}
}
}
;
return T;
}
();
return M;
}

#undef NC_ACT

} // namespace

TScriptRunner::TScriptRunner(TNcLaser& Laser, hostkit::THost& Host,
                             std::function<void(const std::string&)> Print,
                             const std::atomic<bool>* Stop)
    : FLaser(Laser), FHost(Host), FPrint(std::move(Print)), FStop(Stop) {}

const std::vector<std::string>& TScriptRunner::OperationNames() {
  static const std::vector<std::string> Names = [] {
    std::vector<std::string> N;
    for (const auto& [K, V] : Ops()) {
      N.push_back(K);
    }
    return N;
  }();
  return Names;
}

void TScriptRunner::Run(const TOpText& Op) {
  if (Op.Words.empty()) {
    return;
  }
  const std::string& Name = Op.Words[0];
  const std::string Where = "line " + std::to_string(Op.Line) + ": ";
  const auto It = Ops().find(Name);
  if (It == Ops().end()) {
    throw EScriptError(Where + "unknown operation \"" + Name + "\"");
  }
  const TOpDef& D = It->second;
  const std::size_t Given = Op.Words.size() - 1;
  if (Given < D.Required || Given > D.Args.size()) {
    throw EScriptError(Where + Name + " takes " +
                       (D.Required == D.Args.size()
                            ? std::to_string(D.Args.size())
                            : std::to_string(D.Required) + " or " + std::to_string(D.Args.size())) +
                       " argument(s), got " + std::to_string(Given));
  }
  std::vector<double> Nums;
  std::vector<std::string> Names;
  for (std::size_t I = 0; I < Given; ++I) {
    const std::string& W = Op.Words[I + 1];
    double V = 0.0;
    bool Ok = false;
    switch (D.Args[I]) {
    case TArg::Bool:
      Ok = W == "true" || W == "false";
      V = W == "true" ? 1.0 : 0.0;
      break;
    case TArg::Number:
      Ok = ParseNumber(W, V);
      break;
    case TArg::Integer:
      Ok = ParseInteger(W, V);
      break;
    case TArg::Level:
      Ok = W == "0" || W == "1" || W == "true" || W == "false";
      V = (W == "1" || W == "true") ? 1.0 : 0.0;
      break;
    case TArg::Name:
      Ok = true;
      Names.push_back(W);
      break;
    }
    if (!Ok) {
      std::string Msg = Where;
      Msg += Name;
      Msg += ": bad argument \"";
      Msg += W;
      Msg += "\" (expected ";
      Msg += ArgName(D.Args[I]);
      Msg += ")";
      throw EScriptError(Msg);
    }
    Nums.push_back(V);
  }
  if (Name == "wait" && Nums[0] < 0) {
    throw EScriptError(Where + "wait: bad argument \"" + Op.Words[1] + "\" (expected 0 or more)");
  }
  if (Name == "SetInput" && (Nums[0] < 0 || Nums[0] > 255)) {
    throw EScriptError(Where + "SetInput: bad argument \"" + Op.Words[1] +
                       "\" (expected a port 0 to 255)");
  }
  D.Act(*this, FLaser, FHost, FPrint, FStop, Nums, Names);
}

} // namespace nclaser::cli
