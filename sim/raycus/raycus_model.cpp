#include "sim/raycus/raycus_model.h"

#include <cstdio>
#include <stdexcept>

#include "params/textbuf.h"
#include "protocols/raycus.h"
#include "sim/table.h"

namespace nclaser::sim {

namespace {

// Both classes: serial at 115200 with QCW pulses; RayType is what picks the class by default.
void RaycusLink(TLaserParams& P, const TRigLink& L, TRayLaserType RayType) {
  P.CfgRay.RayType = RayType;
  P.CfgRay.Comm.CommPort = L.CommPort;
  (void)Utf8ToTextBuf("115200,n,8,1", P.CfgRay.Comm.CommSettings);
  (void)Utf8ToTextBuf("QCW", P.CfgRay.PulseModel);
}

const bool GRegisteredQCW = RegisterSimFamily(
    {"raycus-qcw",
     "Raycus QCW frames with a 16-bit check word and per-module state bytes",
     /*Pty=*/true,
     /*TcpAddress=*/"",
     0,
     [](const TSimOptions& Options) {
       std::string Model = "RFL-QCW150";
       for (const auto& [Name, Value] : Options) {
         if (Name != "model") {
           throw std::invalid_argument("raycus-qcw: unknown option " + Name);
         }
         if (Value.empty() || Value.size() > 10) {
           throw std::invalid_argument("raycus-qcw: model is 1 to 10 characters");
         }
         Model = Value;
       }
       return std::make_unique<TRayQCWModel>(Model);
     },
     "model TEXT (the model the laser reports, e.g. RFL-QCW450)",
     {{"raycus-qcw", "TRayQCWLaser", eltRay, {}, [](TLaserParams& P, const TRigLink& L) {
         RaycusLink(P, L, ltRayWCW);
       }}}});

const bool GRegisteredCW = RegisterSimFamily(
    {"raycus",
     "Raycus continuous-wave ESC commands, answered with \"TS\" texts",
     /*Pty=*/true,
     /*TcpAddress=*/"",
     0,
     [](const TSimOptions& Options) {
       if (!Options.empty()) {
         throw std::invalid_argument("raycus: no options");
       }
       return std::make_unique<TRaycusCWModel>();
     },
     "",
     {{"raycus", "TRaycusLaser", eltRay, {}, [](TLaserParams& P, const TRigLink& L) {
         RaycusLink(P, L, ltRayCW);
       }}}});

} // namespace

// ---- QCW ------------------------------------------------------------------------------

TRayQCWModel::TRayQCWModel(std::string Model, int Modules)
    : FModel(std::move(Model)), FStates(static_cast<std::size_t>(Modules) * 13, 0) {}

TSplit TRayQCWModel::Split(std::span<const std::uint8_t> In) {
  const raycus::TFrameSpan S = raycus::FindFrame(In);
  return {S.Skip, S.Length};
}

TBytes TRayQCWModel::StatusData() const {
  TBytes D(raycus::LaserDataSize, 0x00);
  for (std::size_t I = 0; I < FModel.size() && I < 10; ++I) {
    D[I] = static_cast<std::uint8_t>(FModel[I]);
  }
  const char Id[] = "RC20261206";
  for (std::size_t I = 0; I < 10; ++I) {
    D[10 + I] = static_cast<std::uint8_t>(Id[I]);
  }
  D[20] = 1; // firmware 1.2.0.0.0
  D[21] = 2;
  D[25] = 0x13; // 5000 Hz upper, 0 lower
  D[26] = 0x88;
  D[29] = 1;
  D[30] = 50;
  D[31] = static_cast<std::uint8_t>(FStates.size() / raycus::ModuleStateSize);
  D.insert(D.end(), FStates.begin(), FStates.end());
  if (FShort && D.size() >= raycus::LaserDataSize + raycus::ModuleStateSize) {
    D.resize(D.size() - raycus::ModuleStateSize); // one module short of its count
  }
  return D;
}

TBytes TRayQCWModel::Answer(std::uint8_t Code, const TBytes& Data) const {
  TBytes F = raycus::BuildAnswer(Code, Data);
  if (FBadCheck) {
    ++F[F.size() - 3];
  }
  return F;
}

TBytes TRayQCWModel::Handle(std::span<const std::uint8_t> Request, double /*NowMs*/) {
  if (!raycus::CheckRequest(Request)) {
    ++FBad;
    return {};
  }
  const std::uint8_t Code = Request[6];
  const auto Data = Request.subspan(8, Request.size() - raycus::FrameOverhead);
  const TBytes Accepted{raycus::StatusAccepted};
  switch (Code) {
  case raycus::cmdCheckStatus:
    return Answer(Code, StatusData());
  case raycus::cmdSetLaserData:
    FPulse.assign(Data.begin(), Data.end());
    return Answer(Code, Accepted);
  case raycus::cmdCheckBySuperMode: {
    TBytes Head = StatusData();
    Head.resize(raycus::LaserDataSize);
    TBytes A{FReportedMode};
    const TBytes F = Answer(Code, Head);
    A.insert(A.end(), F.begin(), F.end());
    return A;
  }
  case raycus::cmdLaserOn:
    FLaserOn = true;
    return Answer(Code, Accepted);
  case raycus::cmdLaserOff:
    FLaserOn = false;
    return Answer(Code, Accepted);
  case raycus::cmdResetLaserMode:
    ++FModeResets;
    return Answer(Code, Accepted);
  case raycus::cmdReadErrorRecord:
    return Answer(Code, Accepted);
  default:
    return {};
  }
}

void TRayQCWModel::SetModuleState(int Module, int Index, std::uint8_t Value) {
  const std::size_t At =
      static_cast<std::size_t>(Module) * raycus::ModuleStateSize + static_cast<std::size_t>(Index);
  if (Module < 0 || Index < 0 || Index >= 13 || At >= FStates.size()) {
    throw std::invalid_argument("no such module state byte");
  }
  FStates[At] = Value;
}

void TRayQCWModel::ClearModuleStates() {
  std::fill(FStates.begin(), FStates.end(), 0);
}

TSimCommands TRayQCWModel::Commands() {
  using TWords = const std::vector<std::string>&;
  return {
      {"fault", "M I V", "module M (from 0), state byte I (0..12) set to V (0 clears)",
       [this](TWords W) {
         const auto Modules = FStates.size() / raycus::ModuleStateSize;
         SetModuleState(static_cast<int>(ParseSimBounded(W[1], Modules - 1, "fault MODULE")),
                        static_cast<int>(ParseSimBounded(W[2], 12, "fault INDEX")),
                        static_cast<std::uint8_t>(ParseSimBounded(W[3], 255, "fault VALUE")));
         return std::string();
       }},
      {"clear", "", "every module state byte back to 0",
       [this](TWords) {
         ClearModuleStates();
         return std::string("module states cleared");
       }},
      {"badcheck", OnOffArgs, "answers carry a wrong check word",
       [this](TWords W) {
         FBadCheck = OnOffArg(W, 1);
         return std::string();
       }},
      {"shortstatus", OnOffArgs, "status answers lack the last module's bytes",
       [this](TWords W) {
         FShort = OnOffArg(W, 1);
         return std::string();
       }},
  };
}

std::string TRayQCWModel::StateLine() const {
  int Faults = 0;
  for (const std::uint8_t B : FStates) {
    Faults += B != 0 ? 1 : 0;
  }
  char P[64] = "none";
  if (FPulse.size() == 7) {
    std::snprintf(P, sizeof(P), "mode %u power %u freq %u ratio %u width %u", FPulse[0], FPulse[1],
                  (FPulse[2] << 8U) | FPulse[3], FPulse[4], (FPulse[5] << 8U) | FPulse[6]);
  }
  char B[200];
  std::snprintf(B, sizeof(B), "%s: laser %s, pulse %s, mode resets %d, faulty state bytes %d",
                FModel.c_str(), FLaserOn ? "on" : "off", P, FModeResets, Faults);
  return B;
}

// ---- Continuous wave --------------------------------------------------------------------

TSplit TRaycusCWModel::Split(std::span<const std::uint8_t> In) {
  TSplit S;
  for (;;) {
    while (S.Skip < In.size() && In[S.Skip] != raycus::Esc) {
      ++S.Skip;
    }
    const auto Length = raycus::CwCommandLength(In.subspan(S.Skip));
    if (!Length) {
      return S; // an ESC waiting for its letter
    }
    if (*Length == 0) {
      if (S.Skip < In.size()) {
        ++S.Skip; // an ESC no command starts with
        continue;
      }
      return S;
    }
    if (In.size() - S.Skip >= *Length) {
      S.Length = *Length;
    }
    return S;
  }
}

TBytes TRaycusCWModel::Handle(std::span<const std::uint8_t> Request, double /*NowMs*/) {
  if (Request.back() != raycus::Cr) {
    return {};
  }
  const char Letter = static_cast<char>(Request[1]);
  switch (Letter) {
  case 'O':
    FEmission = true;
    break;
  case 'S':
    FEmission = false;
    break;
  case 'F':
    if (Request[4] != 'D' || Request[6] != 'P') {
      return {};
    }
    FFreq = (Request[2] << 8U) | Request[3];
    FRatio = Request[5];
    FPower = Request[7];
    break;
  case 'C':
    if (Request[2] != 'P') {
      return {};
    }
    FCurrent = Request[3];
    break;
  default:
    return {};
  }
  return ToBytes("TS" + FAnswer.value_or(std::string(1, Letter)) + "\r");
}

TSimCommands TRaycusCWModel::Commands() {
  return {{"answer", "TEXT", "answers carry \"TS\" TEXT instead of the command's letter",
           [this](const std::vector<std::string>& W) {
             FAnswer = W[1];
             return std::string();
           }}};
}

std::string TRaycusCWModel::StateLine() const {
  char B[160];
  std::snprintf(B, sizeof(B), "Raycus CW: emission %s, current %s, pulse freq %d ratio %d power %d",
                FEmission ? "on" : "off",
                FCurrent ? (std::to_string(*FCurrent) + " %").c_str() : "none", FFreq, FRatio,
                FPower);
  return B;
}

} // namespace nclaser::sim
